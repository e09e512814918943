#!/usr/bin/env bash
# Cost of checkpoints in complete runs.
#   bench/checkpoint_overhead.sh [BUILD_DIR] [ITERATIONS]
# Runs the default case and the 18S-shaped case ITERATIONS times each way,
# alternating: with the default interval (a run this short writes only the
# start-up and the final checkpoint) and with a checkpoint after every
# iteration (--checkpoint-seconds 0). The difference of the fastest wall times,
# divided by the extra checkpoints, is the cost of one checkpoint in a real
# run; with the default 60 s interval a run spends cost / 60 s on them. For the
# 20,000-column case an iteration takes seconds and the difference drowns in
# the noise: build/bench/checkpoint_bench times one checkpoint of that shape.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
build="${1:-$here/../build}"
iterations="${2:-40}"
sampler="$build/src/driver/alnsampler"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

wall() {  # seconds of one run: name [options]
  local name=$1
  shift
  local start end
  start=$(date +%s.%N)
  "$sampler" -r "$work/" -t "$name/" -n "$iterations" "$@" >/dev/null
  end=$(date +%s.%N)
  echo "$end - $start" | bc
}

measure() {  # name columns leaves
  local name=$1 columns=$2 leaves=$3 best_default=999999 best_every=999999 t
  for _ in 1 2 3; do
    t=$(wall "$name")
    best_default=$(echo "if ($t < $best_default) $t else $best_default" | bc)
    t=$(wall "$name" --checkpoint-seconds 0)
    best_every=$(echo "if ($t < $best_every) $t else $best_every" | bc)
  done
  local bytes
  bytes=$(stat -c %s "$work/results/$name/3_checkpoint.bin")
  awk -v n="$name" -v c="$columns" -v l="$leaves" -v b="$bytes" -v d="$best_default" -v e="$best_every" \
    -v i="$iterations" 'BEGIN {
      cost = (e - d) / (i - 1) * 1000
      printf "| %s | %s | %s | %d | %.3f | %.1f | %.3f%% |\n", n, c, l, b, d / i, cost, cost / 600
    }'
}

mkdir -p "$work/data" "$work/results/test_case_23_6sp"
cp -r "$here/../data/test_case_23_6sp" "$work/data/"
"$here/make_case.py" "$work" rrna_29x2520 29 2520 1 1
echo "| case | modelled columns | leaves | checkpoint bytes | s per iteration | ms per checkpoint | share at 60 s |"
echo "|---|---|---|---|---|---|---|"
measure test_case_23_6sp "$(awk '$1 >= 1 && $1 <= 4' "$work/data/test_case_23_6sp/data.txt" | wc -l)" 6
measure rrna_29x2520 "$(awk '$1 >= 1 && $1 <= 4' "$work/data/rrna_29x2520/data.txt" | wc -l)" 29
