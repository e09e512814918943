#!/usr/bin/env bash
# Milliseconds per iteration of two sampler binaries side by side (say the
# build of an older commit and the current one), one run of each per line,
# in turn: windows of W = 250, 1,000 and 4,000 columns of a simulated
# five-species MAF region (bench/make_maf.py) and an 18S rRNA alignment of 29
# taxa (1,764 modelled columns; the MrBayes benchmark alignment that Debian's
# beast2-mcmc-examples ships, with a neighbour-joining tree from Biopython),
# each with -k 1, 4 and 8; then --threads 1 and 2 of the second binary on the
# rRNA case and the 4,000-column window.
#
#   bash bench/recursion_speed.sh OLD_ALNSAMPLER [NEW_ALNSAMPLER]
#
# NEW_ALNSAMPLER defaults to build/src/driver/alnsampler; RRNA_NEXUS names the
# rRNA alignment (default: Debian's path of testHKY501.nex.gz). Times are CPU
# seconds (user + system) of the whole run divided by its iterations, start-up
# included (the iteration counts make it small), and wall seconds likewise;
# on a shared machine CPU time is the steadier figure.
set -euo pipefail
repository=$(cd "$(dirname "$0")/.." && pwd)
old=$(realpath "$1")
new=$(realpath "${2:-$repository/build/src/driver/alnsampler}")
nexus=${RRNA_NEXUS:-/usr/share/doc/beast2-mcmc/examples/benchmark/mrbayes/testHKY501.nex.gz}
python=/usr/bin/python3
folder=$(mktemp -d)
trap 'rm -rf "$folder"' EXIT
cd "$folder"

"$python" "$repository/bench/make_maf.py" --length 20000 --maf region.maf --tree region.nwk > /dev/null
for width in 250 1000 4000; do
  "$python" "$repository/tools/alnprepare/alnprepare" --alignment region.maf --format maf --tree region.nwk \
    --root-dir ./ --case "w$width/" --window "$width" > /dev/null
done
zcat -f "$nexus" > rrna.nex
"$python" - <<'PYTHON'
from Bio import AlignIO, Phylo
from Bio.Phylo.TreeConstruction import DistanceCalculator, DistanceTreeConstructor
alignment = AlignIO.read("rrna.nex", "nexus")
tree = DistanceTreeConstructor(DistanceCalculator("identity"), "nj").build_tree(alignment)
for clade in tree.find_clades():
    if clade.branch_length is not None and clade.branch_length < 0:
        clade.branch_length = 0.0
    if not clade.is_terminal():
        clade.name = None
Phylo.write(tree, "rrna.nwk", "newick")
PYTHON
"$python" "$repository/tools/alnprepare/alnprepare" --alignment rrna.nex --format nexus --tree rrna.nwk --midpoint \
  --root-dir ./ --case rrna18s29/ > /dev/null 2>&1

# cpu_and_wall BINARY CASE ITERATIONS [OPTIONS...]: "cpu_ms wall_ms" per iteration.
cpu_and_wall() {
  local binary=$1 case_name=$2 iterations=$3
  shift 3
  /usr/bin/time -f '%U %S %e' -o time.txt "$binary" -r ./ -t "$case_name/" -n "$iterations" -s 3 --thin 10 "$@" > /dev/null
  awk -v n="$iterations" '{ printf "%.2f %.2f", 1000 * ($1 + $2) / n, 1000 * $3 / n }' time.txt
}

columns() { echo $(($(wc -l < "data/$1/columns.tsv") - 1)); }

echo "| case | columns | -k | old CPU ms/it | new CPU ms/it | new/old CPU | old wall ms/it | new wall ms/it |"
echo "|---|---|---|---|---|---|---|---|"
for entry in "w250_w00002 400" "w1000_w00002 60" "w4000_w00002 6" "rrna18s29 20"; do
  set -- $entry
  for k in 1 4 8; do
    read -r old_cpu old_wall <<< "$(cpu_and_wall "$old" "$1" "$2" -k "$k")"
    read -r new_cpu new_wall <<< "$(cpu_and_wall "$new" "$1" "$2" -k "$k")"
    awk -v c="$1" -v l="$(columns "$1")" -v k="$k" -v oc="$old_cpu" -v nc="$new_cpu" -v ow="$old_wall" -v nw="$new_wall" \
      'BEGIN { printf "| %s | %s | %s | %.2f | %.2f | %.2f | %.2f | %.2f |\n", c, l, k, oc, nc, nc / oc, ow, nw }'
  done
done

echo
echo "| case | -k | new wall ms/it, 1 thread | 2 threads | speed-up |"
echo "|---|---|---|---|---|"
for entry in "rrna18s29 20" "w4000_w00002 6"; do
  set -- $entry
  for k in 4 8; do
    read -r _ one <<< "$(cpu_and_wall "$new" "$1" "$2" -k "$k" --threads 1)"
    read -r _ two <<< "$(cpu_and_wall "$new" "$1" "$2" -k "$k" --threads 2)"
    awk -v c="$1" -v k="$k" -v a="$one" -v b="$two" 'BEGIN { printf "| %s | %s | %.2f | %.2f | %.2f |\n", c, k, a, b, a / b }'
  done
done
