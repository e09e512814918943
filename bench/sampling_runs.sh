#!/usr/bin/env bash
# Times complete sampler runs: seconds per iteration and peak memory.
#   bench/sampling_runs.sh [BUILD_DIR] [ITERATIONS]
# Prints a table: case, options, modelled columns, leaves, wall and CPU
# seconds per iteration (start-up included), peak MB.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
build="${1:-$here/../build}"
iterations="${2:-5}"
sampler="$build/src/driver/alnsampler"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

run_case() {  # name leaves columns [extra arguments]
  local name=$1 leaves=$2 columns=$3
  shift 3
  local report="$work/$name.time"
  /usr/bin/time -v "$sampler" -r "$work/" -t "$name/" -n "$iterations" "$@" 2>"$report" >/dev/null
  local wall cpu peak
  wall=$(awk -F': ' '/Elapsed \(wall clock\)/ {n = split($2, t, ":"); s = 0; for (i = 1; i <= n; i++) s = s * 60 + t[i]; print s}' "$report")
  # CPU time (user + system) is steadier than wall time on a shared machine,
  # but adds up the threads of a --threads run.
  cpu=$(awk -F': ' '/User time|System time/ {s += $2} END {print s}' "$report")
  peak=$(awk -F': ' '/Maximum resident set size/ {printf "%.0f", $2 / 1024}' "$report")
  awk -v n="$name" -v o="$*" -v c="$columns" -v l="$leaves" -v w="$wall" -v s="$cpu" -v i="$iterations" -v p="$peak" \
    'BEGIN { printf "| %s | %s | %s | %s | %.3f | %.3f | %s |\n", n, o, c, l, w / i, s / i, p }'
}

mkdir -p "$work/data" "$work/results"
cp -r "$here/../data/test_case_23_6sp" "$work/data/"
mkdir -p "$work/results/test_case_23_6sp"
columns=$(awk '$1 >= 1 && $1 <= 4' "$here/../data/test_case_23_6sp/data.txt" | wc -l)
echo "| case | options | modelled columns | leaves | wall s per iteration | CPU s per iteration | peak MB |"
echo "|---|---|---|---|---|---|---|"
run_case test_case_23_6sp 6 "$columns"
for shape in "6 2000" "6 8000" "32 2000"; do
  set -- $shape
  name="gen_${1}x${2}"
  "$here/make_case.py" "$work" "$name" "$1" "$2"
  run_case "$name" "$1" "$2"
done
# Shaped like a real 18S rRNA alignment: 29 leaves, 2,520 columns of which
# about 70% are modelled (the reference keeps its gaps), about 30% gaps.
"$here/make_case.py" "$work" rrna_29x2520 29 2520 1 1
columns=$(awk '$1 >= 1 && $1 <= 4' "$work/data/rrna_29x2520/data.txt" | wc -l)
for threads in 1 2; do run_case rrna_29x2520 29 "$columns" --threads "$threads"; done
