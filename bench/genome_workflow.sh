#!/usr/bin/env bash
# The genome workflow on a MAF region: wall and CPU time of the whole run with
# --cores 2 (CPU of every process of the run, from /usr/bin/time), the CPU of
# the sampler and of the summaries (each call timed through a wrapper), and
# what is left: Snakemake's own start-up and bookkeeping, preparing and
# merging; per step (prepare, sample, merge) the jobs, their summed wall
# seconds and the largest memory, from Snakemake's benchmark files.
#
#   bash bench/genome_workflow.sh [LENGTH] [WINDOW] [ITERATIONS] [CHAINS] [FOLDER] [WINDOWS_PER_JOB] [THIN]
#
# Defaults: a simulated five-species region (bench/make_maf.py) of 1000000
# reference positions, windows of 1000 columns, 1500 iterations, 2 chains, 10
# windows per job, thin 5, in /tmp/alnsampler-genome-bench (made afresh).
# MAF=FILE TREE=FILE use a real alignment instead of a simulated one (LENGTH
# is then ignored). The sampler is build/src/driver/alnsampler unless
# ALNSAMPLER names another.
set -euo pipefail
repository=$(cd "$(dirname "$0")/.." && pwd)
length=${1:-1000000}
window=${2:-1000}
iterations=${3:-1500}
chains=${4:-2}
folder=${5:-/tmp/alnsampler-genome-bench}
per_job=${6:-10}
thin=${7:-5}
sampler=${ALNSAMPLER:-$repository/build/src/driver/alnsampler}

rm -rf "$folder"
mkdir -p "$folder"
if [ -n "${MAF:-}" ]; then
  cp "$MAF" "$folder/region.maf${MAF##*.maf}"
  cp "$TREE" "$folder/region.nwk"
  maf=region.maf${MAF##*.maf}
fi
cd "$folder"
if [ -z "${MAF:-}" ]; then
  /usr/bin/python3 "$repository/bench/make_maf.py" --length "$length" --maf region.maf --tree region.nwk
  maf=region.maf
fi
for tool in sampler summarize; do
  real=$sampler
  [ "$tool" = summarize ] && real=$repository/tools/alnsummarize/alnsummarize
  printf '#!/bin/bash\nexec /usr/bin/time -a -o %s -f "%%U %%S" %s "$@"\n' "$folder/cpu_$tool.txt" "$real" > "$tool.sh"
  chmod +x "$tool.sh"
done
cat > config.yaml <<EOF2
alignments:
  chr1:
    maf: $maf
    tree: region.nwk
window: $window
iterations: $iterations
thin: $thin
chains: $chains
windows_per_job: $per_job
alnsampler: $folder/sampler.sh
alnsummarize: $folder/summarize.sh
EOF2
/usr/bin/time -f "%e %U %S" -o time.txt \
  snakemake --snakefile "$repository/workflow/Snakefile" --configfile config.yaml --cores 2 > snakemake.log 2>&1

/usr/bin/python3 - "$length" <<'EOF2'
import glob
import sys

wall, user, system = map(float, open("time.txt").read().split()[-3:])
def cpu(path):
    return sum(float(a) + float(b) for a, b in (line.split() for line in open(path) if len(line.split()) == 2))
sampling, summaries = cpu("cpu_sampler.txt"), cpu("cpu_summarize.txt")
total = user + system
table = open("data/chr1_windows.tsv").read().splitlines()[1:]
positions = sum(int(line.split("\t")[3]) - int(line.split("\t")[2]) + 1 for line in table)
jobs = len(glob.glob("benchmarks/sample/**/*.tsv", recursive=True))
print(f"{len(table)} windows ({positions} reference positions) in {jobs} sampling jobs;"
      f" whole run: {wall:.0f} s wall, {total:.0f} s CPU")
print(f"CPU: sampler {sampling:.0f} s ({100 * sampling / total:.1f}%), summaries {summaries:.0f} s"
      f" ({100 * summaries / total:.1f}%), the rest (Snakemake, prepare, merge) {total - sampling - summaries:.0f} s"
      f" ({100 * (total - sampling - summaries) / total:.1f}%)")
scale = 1e6 / positions
print(f"scaled to 1 Mb: {wall * scale / 3600:.1f} h wall on 2 cores, {total * scale / 3600:.1f} CPU hours")
print(f"{'step':<10} {'jobs':>6} {'wall s':>9} {'s/job':>7} {'max MB':>7}")
for step in ("prepare", "sample", "merge"):
    files = glob.glob(f"benchmarks/{step}/**/*.tsv", recursive=True) + glob.glob(f"benchmarks/{step}.tsv")
    rows = []
    for path in files:
        lines = open(path).read().splitlines()
        rows.append(dict(zip(lines[0].split("\t"), lines[1].split("\t"))))
    seconds = sum(float(row["s"]) for row in rows)
    memory = max((float(row["max_rss"]) for row in rows if row["max_rss"] not in ("", "-", "NA")), default=0)
    print(f"{step:<10} {len(rows):>6} {seconds:>9.1f} {seconds / max(len(rows), 1):>7.2f} {memory:>7.0f}")
EOF2
