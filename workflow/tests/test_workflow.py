"""The genome workflow end to end on a small simulated MAF and a hand-made one of two chromosomes:
locally, through the SLURM profile with stand-in scheduler commands, and reruns that redo only what
is missing."""

import collections
import filecmp
import gzip
import os
import re
import shutil
import subprocess
import sys

import pytest

REPOSITORY = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
SNAKEFILE = os.path.join(REPOSITORY, "workflow", "Snakefile")
PROFILE = os.path.join(REPOSITORY, "workflow", "profiles", "slurm")
SAMPLER = os.environ.get("ALNSAMPLER") or os.path.join(REPOSITORY, "build", "src", "driver", "alnsampler")

sys.path.insert(0, os.path.join(REPOSITORY, "tools", "alnprepare", "tests"))
from test_maf import GENOME_MAF  # noqa: E402

pytestmark = pytest.mark.skipif(not os.access(SAMPLER, os.X_OK), reason=f"no sampler at {SAMPLER} (set ALNSAMPLER)")

CONFIG = f"""alignments:
  chr7:
    maf: region.maf
    tree: region.nwk
  genome:
    maf: genome.maf.gz
    tree: genome.nwk
window: 100
k_max: 2
iterations: 30
thin: 3
chains: 2
windows_per_job: 4
min_length: 2
alnsampler: {SAMPLER}
"""
JOBS = {"all": 1, "prepare": 2, "sample": 4, "merge": 1}  # chr7: 9 windows in 3 batches; genome: 2 windows

# Stand-ins for SLURM's commands: sbatch runs the job script (its last
# argument) in the background, as a scheduler would, and keeps its options
# and exit status where sacct finds them.
SBATCH = """#!/bin/bash
count=$(ls "$FAKE_SLURM" | grep -c '[.]options$')
id=$((count + 1))
echo "$*" > "$FAKE_SLURM/$id.options"
( bash "${@: -1}" > "$FAKE_SLURM/$id.out" 2>&1; echo $? > "$FAKE_SLURM/$id.status" ) > /dev/null 2>&1 &
echo "$id"
"""
SACCT = """#!/bin/bash
status="$FAKE_SLURM/$2.status"
if [ ! -e "$status" ]; then echo RUNNING; elif [ "$(cat "$status")" = 0 ]; then echo COMPLETED; else echo FAILED; fi
"""


def make_run_folder(path):
    """A simulated region (chr7) and the hand-made MAF of alnprepare's tests (chrA, chrB; overlapping
    blocks, minus strands, gzip)."""
    os.makedirs(path)
    subprocess.run([sys.executable, os.path.join(REPOSITORY, "bench", "make_maf.py"), "--length", "900",
                    "--block-mean", "200", "--extra-leaf", "--chrom", "chr7", "--maf", "region.maf",
                    "--tree", "region.nwk"], cwd=path, check=True, capture_output=True)
    with gzip.open(os.path.join(path, "genome.maf.gz"), "wt") as handle:
        handle.write(GENOME_MAF)
    with open(os.path.join(path, "genome.nwk"), "w") as handle:
        handle.write("((hg:1,mm:2):1,(cf:1,dog:1):1);\n")
    with open(os.path.join(path, "config.yaml"), "w") as handle:
        handle.write(CONFIG)


def snakemake(folder, *extra, env=None, fails=False):
    """Run the workflow; returns {rule: jobs run}, counted from Snakemake's log (its output if it must fail)."""
    done = subprocess.run([sys.executable, "-m", "snakemake", "--snakefile", SNAKEFILE, "--configfile", "config.yaml",
                           *extra], cwd=folder, env=env, capture_output=True, text=True, timeout=900, check=False)
    assert (done.returncode != 0) == fails, done.stdout + done.stderr
    return done.stdout + done.stderr if fails else \
        collections.Counter(re.findall(r"^(?:local)?(?:rule|checkpoint) (\w+):$", done.stderr + done.stdout, re.M))


def read(*path):
    with open(os.path.join(*path)) as handle:
        return handle.read()


def read_rows(*path):
    lines = read(*path).splitlines()
    return [dict(zip(lines[0].split("\t"), line.split("\t"))) for line in lines[1:]]


def covered(intervals):
    """The 1-based positions that BED-style intervals (start from 0, end excluded) cover, in order."""
    return [position for start, end in intervals for position in range(start + 1, end + 1)]


def check_genome_files(folder):
    """Every track covers exactly the modelled reference positions, base by base, chromosomes sorted."""
    import pyBigWig

    windows = read_rows(folder, "data", "chr7_windows.tsv") + read_rows(folder, "data", "genome_windows.tsv")
    expected = collections.defaultdict(list)
    for window in windows:
        for row in read_rows(folder, "data", window["case"], "columns.tsv"):
            expected[row["chromosome"]].append(int(row["reference_position"]))
    # The hand-made MAF: chrA 11..20 after trimming; chrB 1..4 and, turned around, 6..10.
    assert expected["chrA"] == [*range(11, 21)] and expected["chrB"] == [1, 2, 3, 4, 6, 7, 8, 9, 10]
    for track in ("conservation", "mutation_rate", "deletion_rate"):
        lines = read(folder, "genome", f"{track}.bedGraph").splitlines()
        assert lines[0].startswith("track type=bedGraph")
        rows = [line.split("\t") for line in lines[1:]]
        assert [chromosome for chromosome, *_ in rows] == sorted(chromosome for chromosome, *_ in rows)
        big = pyBigWig.open(os.path.join(folder, "genome", f"{track}.bw"))
        assert big.chroms() == {"chr7": 10**9, "chrA": 40, "chrB": 30}
        for chromosome, positions in expected.items():
            assert covered((int(start), int(end)) for name, start, end, _ in rows if name == chromosome) == positions
            assert covered((start, end) for start, end, _ in big.intervals(chromosome)) == positions
    bed = [line.split("\t") for line in read(folder, "genome", "conserved.bed").splitlines()]
    assert all(int(end) - int(start) >= 2 for _, start, end, *_ in bed)
    merged = read_rows(folder, "genome", "windows.tsv")
    assert sorted(row["case"] for row in merged) == sorted(row["case"] for row in windows)
    report = read(folder, "genome", "report.txt")
    assert len(report.splitlines()) <= 25 and "on 3 chromosomes (chr7, chrA, chrB)" in report


@pytest.fixture(scope="module")
def local_run(tmp_path_factory):
    folder = str(tmp_path_factory.mktemp("local") / "run")
    make_run_folder(folder)
    return folder, snakemake(folder, "--cores", "2")


def test_local_run_from_maf_to_genome_tracks(local_run):
    folder, jobs = local_run
    assert jobs == JOBS
    check_genome_files(folder)
    assert "pruned to the alignment's species, without 'xx'" in read(folder, "logs", "prepare", "chr7.log")
    assert snakemake(folder, "--cores", "2") == {}


def test_reruns_redo_only_what_is_missing(local_run):
    folder, _ = local_run
    # A lost summary file: its batch runs again, its chains found complete on their files.
    os.remove(os.path.join(folder, "results", "chr7_w00002", "summary", "rate_paths.tsv"))
    assert snakemake(folder, "--cores", "2") == {"all": 1, "sample": 1, "merge": 1}
    assert "chr7_w00002 seed 4: complete" in read(folder, "logs", "sample", "chr7", "b00001.log")
    # A chain killed after 10 of its iterations: the job continues it from its checkpoint, to the same
    # traces as one uninterrupted run; every other chain is complete and left alone.
    subprocess.run([SAMPLER, "-s", "5", "-r", "./", "-t", "chr7_w00001/", "-n", "10", "-k", "2", "--thin", "3",
                    "--marginal-rate-moves", "1"],
                   cwd=folder, check=True)
    assert snakemake(folder, "--cores", "2", "--config", "chains=3") == {"all": 1, "sample": 4, "merge": 1}
    log = read(folder, "logs", "sample", "chr7", "b00001.log")
    assert "chr7_w00001 seed 5: resumed" in log and "starting it again" not in log
    copy = os.path.join(folder, "copy")
    shutil.copytree(os.path.join(folder, "data", "chr7_w00001"), os.path.join(copy, "data", "w"))
    os.makedirs(os.path.join(copy, "results", "w"))
    subprocess.run([SAMPLER, "-s", "5", "-r", copy, "-t", "w/", "-n", "30", "-k", "2", "--thin", "3",
                    "--marginal-rate-moves", "1"], check=True)
    for name in ("5_post_para.txt", "5_post_dist_k.txt", "5_map_column_to_rate_state_30.txt"):
        assert filecmp.cmp(os.path.join(folder, "results", "chr7_w00001", name),
                           os.path.join(copy, "results", "w", name), shallow=False), name
    # R5: after a killed Snakemake the folder stays locked; the recovery the README gives works.
    os.remove(os.path.join(folder, "genome", "report.txt"))
    os.makedirs(os.path.join(folder, ".snakemake", "locks"), exist_ok=True)
    with open(os.path.join(folder, ".snakemake", "locks", "0.output.lock"), "w") as handle:
        handle.write("genome/report.txt\n")
    assert "Directory cannot be locked" in snakemake(folder, "--cores", "2", "--config", "chains=3", fails=True)
    snakemake(folder, "--cores", "2", "--config", "chains=3", "--unlock")
    assert snakemake(folder, "--cores", "2", "--config", "chains=3", "--rerun-incomplete") == {"all": 1, "merge": 1}


def test_cluster_submission_through_the_slurm_profile(tmp_path):
    folder = str(tmp_path / "run")
    make_run_folder(folder)
    bin_dir, jobs_dir = tmp_path / "bin", tmp_path / "jobs"
    for made in (bin_dir, jobs_dir):
        made.mkdir()
    for name, text in (("sbatch", SBATCH), ("sacct", SACCT), ("scancel", "#!/bin/bash\n")):
        (bin_dir / name).write_text(text)
        (bin_dir / name).chmod(0o755)
    # CI=true makes Snakemake poll its cluster jobs every second instead of ten.
    env = dict(os.environ, PATH=f"{bin_dir}{os.pathsep}{os.environ['PATH']}", FAKE_SLURM=str(jobs_dir), CI="true")
    jobs = snakemake(folder, "--profile", PROFILE, "--latency-wait", "10", "--max-status-checks-per-second", "10",
                     env=env)
    assert jobs == JOBS
    check_genome_files(folder)
    submitted = [(jobs_dir / name).read_text() for name in os.listdir(jobs_dir) if name.endswith(".options")]
    assert len(submitted) == 7  # every job but the local rule all
    sampling = [options for options in submitted if "--job-name=aln-sample " in options]
    # 2 chains x 4 windows x 30 iterations of 100 columns: 5 minutes and a margin; 200 MB and 5 for the columns.
    assert len(sampling) == 4 and all("--cpus-per-task=1 --mem=205M --time=6 " in options for options in sampling)


@pytest.mark.parametrize("config, fragment", [
    (CONFIG + "iteration: 5\n", "unknown settings iteration"),
    ("window: 300\n", "no alignments; give a configuration file with --configfile"),
    (CONFIG.replace("k_max: 2", "k_max: 9") + "min_columns: 5\n", "min_columns 5 must exceed k_max 9"),
    (CONFIG.replace("window: 100", "window: 2"), "window 2 is below min_columns 3"),
    (CONFIG + "rho: 1.5\n", "rho 1.5 must lie in (0, 1]"),
    (CONFIG + "conserved_by: speed\n", "conserved_by is 'speed'; give one of mutation, deletion, total"),
    (CONFIG.replace("chr7:", "chr 7:"), "alignment name 'chr 7'"),
])
def test_configuration_faults_are_named(tmp_path, config, fragment):
    (tmp_path / "config.yaml").write_text(config)
    output = snakemake(tmp_path, "--cores", "1", "--dry-run", fails=True)
    assert fragment in output, output


def test_the_shipped_example_configuration_runs_as_it_stands(tmp_path):
    shutil.copy(os.path.join(REPOSITORY, "workflow", "config.yaml"), tmp_path / "config.yaml")
    assert snakemake(tmp_path, "--cores", "1", "--dry-run") == {"prepare": 1, "merge": 1, "all": 1}
