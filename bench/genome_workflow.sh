#!/usr/bin/env bash
# The genome workflow on a simulated five-species MAF region (bench/make_maf.py):
# wall and CPU time of the whole run with --cores 2 (CPU: every process of the
# run, from /usr/bin/time), and per step (prepare, sample, summarise, merge)
# the jobs, their summed wall seconds and the largest memory, from Snakemake's
# benchmark files; figures scaled to a 1 Mb region.
#
#   bash bench/genome_workflow.sh [LENGTH] [WINDOW] [ITERATIONS] [CHAINS] [FOLDER]
#
# Defaults: 1000000 reference positions, windows of 1000 columns, 1000
# iterations, 2 chains, in /tmp/alnsampler-genome-bench (made afresh). The
# sampler is build/src/driver/alnsampler unless ALNSAMPLER names another.
set -euo pipefail
repository=$(cd "$(dirname "$0")/.." && pwd)
length=${1:-1000000}
window=${2:-1000}
iterations=${3:-1000}
chains=${4:-2}
folder=${5:-/tmp/alnsampler-genome-bench}
sampler=${ALNSAMPLER:-$repository/build/src/driver/alnsampler}

rm -rf "$folder"
mkdir -p "$folder"
cd "$folder"
/usr/bin/python3 "$repository/bench/make_maf.py" --length "$length" --maf region.maf --tree region.nwk
cat > config.yaml <<EOF
alignments:
  chr1:
    maf: region.maf
    tree: region.nwk
window: $window
iterations: $iterations
chains: $chains
alnsampler: $sampler
EOF
/usr/bin/time -f "%e %U %S" -o time.txt \
  snakemake --snakefile "$repository/workflow/Snakefile" --configfile config.yaml --cores 2 > snakemake.log 2>&1

/usr/bin/python3 - "$length" <<'EOF'
import glob
import sys

length = int(sys.argv[1])
wall, user, system = map(float, open("time.txt").read().split()[-3:])
scale = 1e6 / length
windows = len(open("data/chr1_windows.tsv").read().splitlines()) - 1
print(f"{windows} windows; whole run: {wall:.0f} s wall ({wall / 60:.1f} min), {user + system:.0f} s CPU")
print(f"scaled to 1 Mb: {wall * scale / 60:.0f} min wall, {(user + system) * scale / 3600:.1f} CPU hours")
print(f"{'step':<10} {'jobs':>6} {'wall s':>9} {'s/job':>7} {'max MB':>7}")
for step in ("prepare", "sample", "summarise", "merge"):
    files = glob.glob(f"benchmarks/{step}/**/*.tsv", recursive=True) + glob.glob(f"benchmarks/{step}.tsv")
    rows = []
    for path in files:
        with open(path) as handle:
            lines = handle.read().splitlines()
        rows.append(dict(zip(lines[0].split("\t"), lines[1].split("\t"))))
    seconds = sum(float(row["s"]) for row in rows)
    memory = max((float(row["max_rss"]) for row in rows if row["max_rss"] not in ("", "-", "NA")), default=0)
    per_job = seconds / len(rows) if rows else 0
    print(f"{step:<10} {len(rows):>6} {seconds:>9.1f} {per_job:>7.2f} {memory:>7.0f}")
EOF
