"""The genome workflow end to end on a small simulated MAF: locally, through the SLURM profile with
stand-in scheduler commands, and reruns that redo only what is missing."""

import collections
import filecmp
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

pytestmark = pytest.mark.skipif(not os.access(SAMPLER, os.X_OK), reason=f"no sampler at {SAMPLER} (set ALNSAMPLER)")

CONFIG = f"""alignments:
  chr7:
    maf: region.maf
    tree: region.nwk
window: 300
iterations: 30
thin: 3
chains: 2
alnsampler: {SAMPLER}
"""

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
    os.makedirs(path)
    subprocess.run([sys.executable, os.path.join(REPOSITORY, "bench", "make_maf.py"), "--length", "900",
                    "--block-mean", "200", "--extra-leaf", "--chrom", "chr7", "--maf", "region.maf",
                    "--tree", "region.nwk"], cwd=path, check=True, capture_output=True)
    with open(os.path.join(path, "config.yaml"), "w") as handle:
        handle.write(CONFIG)


def snakemake(folder, *extra, env=None, fails=False):
    """Run the workflow; returns {rule: jobs run}, counted from Snakemake's log (its output if it must fail)."""
    done = subprocess.run([sys.executable, "-m", "snakemake", "--snakefile", SNAKEFILE, "--configfile", "config.yaml",
                           *extra], cwd=folder, env=env, capture_output=True, text=True, timeout=900, check=False)
    assert (done.returncode != 0) == fails, done.stdout + done.stderr
    return done.stdout + done.stderr if fails else \
        collections.Counter(re.findall(r"^(?:local)?(?:rule|checkpoint) (\w+):$", done.stderr, re.M))


def read(*path):
    with open(os.path.join(*path)) as handle:
        return handle.read()


def read_rows(*path):
    lines = read(*path).splitlines()
    return [dict(zip(lines[0].split("\t"), line.split("\t"))) for line in lines[1:]]


def check_genome_files(folder):
    """The merged tracks cover every window's modelled positions, sorted, in genome coordinates."""
    windows = read_rows(folder, "data", "chr7_windows.tsv")  # three: each test counts 3 summarise jobs
    columns = [row for window in windows for row in read_rows(folder, "data", window["case"], "columns.tsv")]
    assert {row["chromosome"] for row in columns} == {"chr7"}
    expected = [int(row["reference_position"]) for row in columns]
    wig = read(folder, "genome", "rate_states.wig").splitlines()
    assert [line for line in wig if not line[0].isdigit()][1:] == ["variableStep chrom=chr7 span=1"]
    assert [int(line.split()[0]) for line in wig if line[0].isdigit()] == expected == sorted(set(expected))
    bed = [line.split("\t") for line in read(folder, "genome", "conserved.bed").splitlines()]
    starts = [int(fields[1]) for fields in bed]
    assert bed and {fields[0] for fields in bed} == {"chr7"} and starts == sorted(starts)
    assert all(int(fields[2]) > int(fields[1]) for fields in bed)
    merged = read_rows(folder, "genome", "windows.tsv")
    assert [(row["case"], row["first_position"], row["last_position"]) for row in merged] == \
        [(row["case"], row["first_position"], row["last_position"]) for row in windows]
    report = read(folder, "genome", "report.txt")
    for row in merged:
        assert (f"    {row['case']}  chr7:" in report) == (row["converged"] == "no")


@pytest.fixture(scope="module")
def local_run(tmp_path_factory):
    folder = str(tmp_path_factory.mktemp("local") / "run")
    make_run_folder(folder)
    return folder, snakemake(folder, "--cores", "2")


def test_local_run_from_maf_to_genome_tracks(local_run):
    folder, jobs = local_run
    assert jobs == {"all": 1, "prepare": 1, "sample": 6, "summarise": 3, "merge": 1}
    check_genome_files(folder)
    assert "pruned to the alignment's species, without 'xx'" in read(folder, "logs", "prepare", "chr7.log")
    assert snakemake(folder, "--cores", "2") == {}


def test_reruns_redo_only_what_is_missing(local_run):
    folder, _ = local_run
    results = os.path.join(folder, "results", "chr7_w00002")
    for name in os.listdir(results):
        if name.startswith("4_"):
            os.remove(os.path.join(results, name))
    assert snakemake(folder, "--cores", "2") == {"all": 1, "sample": 1, "summarise": 1, "merge": 1}
    # A chain killed after 10 of its iterations: the job continues it from
    # its checkpoint, to the same traces as one uninterrupted run.
    subprocess.run([SAMPLER, "-s", "5", "-r", "./", "-t", "chr7_w00001/", "-n", "10", "--thin", "3"], cwd=folder,
                   check=True)
    assert snakemake(folder, "--cores", "2", "--config", "chains=3") == \
        {"all": 1, "sample": 3, "summarise": 3, "merge": 1}
    log = read(folder, "logs", "sample", "chr7_w00001", "5.log")
    assert log.splitlines()[0].endswith("--resume") and "starting it again" not in log
    copy = os.path.join(folder, "copy")
    shutil.copytree(os.path.join(folder, "data", "chr7_w00001"), os.path.join(copy, "data", "w"))
    os.makedirs(os.path.join(copy, "results", "w"))
    subprocess.run([SAMPLER, "-s", "5", "-r", copy, "-t", "w/", "-n", "30", "--thin", "3"], check=True)
    for name in ("5_post_para.txt", "5_post_dist_k.txt", "5_map_column_to_rate_state_30.txt"):
        assert filecmp.cmp(os.path.join(folder, "results", "chr7_w00001", name),
                           os.path.join(copy, "results", "w", name), shallow=False), name


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
    assert jobs == {"all": 1, "prepare": 1, "sample": 6, "summarise": 3, "merge": 1}
    check_genome_files(folder)
    submitted = [(jobs_dir / name).read_text() for name in os.listdir(jobs_dir) if name.endswith(".options")]
    assert len(submitted) == 11  # every job but the local rule all
    sampling = [options for options in submitted if "--job-name=aln-sample " in options]
    # 30 iterations of a 300-column window: 5 minutes and a margin; 200 MB and 15 for its columns.
    assert len(sampling) == 6 and all("--cpus-per-task=1 --mem=215M --time=6 " in options for options in sampling)


@pytest.mark.parametrize("config, fragment", [
    (CONFIG + "iteration: 5\n", "unknown settings iteration"),
    ("window: 300\n", "no alignments; give a configuration file with --configfile"),
    (CONFIG + "k_max: 9\nmin_columns: 5\n", "min_columns 5 must exceed k_max 9"),
    (CONFIG.replace("window: 300", "window: 3"), "window 3 is below min_columns 5"),
    (CONFIG.replace("chr7:", "chr 7:"), "alignment name 'chr 7'"),
])
def test_configuration_faults_are_named(tmp_path, config, fragment):
    (tmp_path / "config.yaml").write_text(config)
    output = snakemake(tmp_path, "--cores", "1", "--dry-run", fails=True)
    assert fragment in output, output
