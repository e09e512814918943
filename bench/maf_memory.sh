#!/usr/bin/env bash
# Peak memory and time of alnprepare on a MAF genome alignment (read block by
# block in two passes, so memory should stay bounded by a window whatever the
# file's size), with the windows and chromosomes it wrote.
#
#   bash bench/maf_memory.sh ALIGNMENT.maf[.gz] TREE.nwk [WINDOW] [FOLDER] [alnprepare options...]
#
# Defaults: windows of 1000 columns, in /tmp/alnsampler-maf-bench (made
# afresh). The real alignments measured in the top README come from Debian's
# maffilter-examples (apt-get download maffilter-examples; dpkg -x):
# Gorilla/Compara.epo_5_catarrhini_hsap-projected.chr22.subset.nogap.cleaned_aln.maf.gz
# (with the tree "(((Hsap:0.0066,Ptro:0.0068):0.0022,Ggor:0.0087):0.0065,Ppyg:0.017);")
# and Ztritici/tba_refIPO323.maf.gz (with --reference Ztritici_IPO323).
set -euo pipefail
repository=$(cd "$(dirname "$0")/.." && pwd)
maf=$(realpath "$1")
tree=$(realpath "$2")
window=${3:-1000}
folder=${4:-/tmp/alnsampler-maf-bench}
shift $(( $# < 4 ? $# : 4 ))
rm -rf "$folder"
mkdir -p "$folder"
cd "$folder"
/usr/bin/time -f "%e %U %S %M" -o time.txt /usr/bin/python3 "$repository/tools/alnprepare/alnprepare" \
  --alignment "$maf" --format maf --tree "$tree" --root-dir ./ --case genome/ --window "$window" "$@" > report.txt
read -r wall user system peak < time.txt
windows=$(($(wc -l < data/genome_windows.tsv) - 1))
chromosomes=$(tail -n +2 data/genome_windows.tsv | cut -f2 | sort -u | wc -l)
echo "$(basename "$maf"): $windows windows on $chromosomes chromosomes; peak memory $((peak / 1024)) MB;" \
  "$wall s wall, $(awk "BEGIN {print $user + $system}") s CPU; $(du -sh data | cut -f1) of case files"
grep -E "^  (genome alignment|overlaps|block order|modelled columns)" report.txt
