#!/usr/bin/env bash
# Time per iteration against the window size W, on windows of a simulated
# five-species MAF region (bench/make_maf.py): for each W, alnprepare --window W,
# then alnsampler on the second window (a full one) with the workflow's default
# --thin 10, wall seconds per iteration (start-up included) and peak memory.
#
#   bash bench/window_sizes.sh [ITERATIONS] [W ...]
#
# Defaults: 100 iterations; W = 250 500 1000 2000 4000. The sampler is
# build/src/driver/alnsampler unless ALNSAMPLER names another.
set -euo pipefail
repository=$(cd "$(dirname "$0")/.." && pwd)
iterations=${1:-100}
shift || true
sizes=("$@")
[ ${#sizes[@]} -gt 0 ] || sizes=(250 500 1000 2000 4000)
sampler=${ALNSAMPLER:-$repository/build/src/driver/alnsampler}
folder=$(mktemp -d)
trap 'rm -rf "$folder"' EXIT
cd "$folder"
/usr/bin/python3 "$repository/bench/make_maf.py" --length 20000 --maf region.maf --tree region.nwk > /dev/null

printf '%8s %12s %14s %8s\n' W columns "s/iteration" "peak MB"
for width in "${sizes[@]}"; do
  /usr/bin/python3 "$repository/tools/alnprepare/alnprepare" --alignment region.maf --format maf --tree region.nwk \
    --root-dir ./ --case "w$width/" --window "$width" > /dev/null
  case_name="w${width}_w00002"
  columns=$(($(wc -l < "data/$case_name/columns.tsv") - 1))
  start=$(date +%s.%N)
  /usr/bin/time -f %M -o memory.txt "$sampler" -r ./ -t "$case_name/" -n "$iterations" -s 3 --thin 10
  end=$(date +%s.%N)
  awk -v w="$width" -v c="$columns" -v s="$start" -v e="$end" -v n="$iterations" -v kb="$(cat memory.txt)" \
    'BEGIN { printf "%8s %12s %14.4f %8.0f\n", w, c, (e - s) / n, kb / 1024 }'
done
