#!/usr/bin/env bash
# Peak memory of a sampler run against the number of modelled columns: a
# synthetic six-leaf case of L columns (bench/make_case.py), one iteration
# and two (so that what an iteration adds shows), peak resident memory from
# /usr/bin/time -v.
#
#   bash bench/memory_columns.sh [BUILD_DIR] [L ...]
#
# Defaults: build/, L = 20000.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
build="${1:-$here/../build}"
shift || true
sizes=("$@")
[ ${#sizes[@]} -gt 0 ] || sizes=(20000)
sampler="$build/src/driver/alnsampler"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

printf '%8s %12s %10s %10s\n' L iterations "peak MB" "seconds"
for columns in "${sizes[@]}"; do
  name="gen_6x$columns"
  "$here/make_case.py" "$work" "$name" 6 "$columns"
  for iterations in 1 2; do
    /usr/bin/time -v "$sampler" -r "$work/" -t "$name/" -n "$iterations" 2>"$work/time.txt" >/dev/null
    awk -F': ' -v l="$columns" -v n="$iterations" '
      /Maximum resident set size/ { peak = $2 / 1024 }
      /Elapsed \(wall clock\)/ { k = split($2, t, ":"); s = 0; for (i = 1; i <= k; i++) s = s * 60 + t[i] }
      END { printf "%8s %12s %10.1f %10.1f\n", l, n, peak, s }' "$work/time.txt"
  done
done
