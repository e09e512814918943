"""The executable: its error status, and the whole path: simulate, sample, summarise, plot."""

import os
import subprocess
import sys

import pytest

from conftest import SCRIPT
from trace_files import read_tsv, write

PLOTS = ("traces.png", "segments.png", "rate_states.png", "root_confidence.png")
TABLES = ("columns.tsv", "segments.tsv", "rates.tsv", "ancestors.fasta", "ancestors.tsv", "trace.log",
          "rate_states.wig", "conserved.bed", "report.txt")


def summarise(root, case, seeds, out, *extra):
    command = [sys.executable, SCRIPT, "--root-dir", root, "--case", case, "--out", out,
               "--seeds", *[str(seed) for seed in seeds], *extra]
    return subprocess.run(command, capture_output=True, text=True, timeout=300, check=False)


def check_image(path):
    """A PNG file that decodes to a picture with more than one colour."""
    import matplotlib.image

    with open(path, "rb") as handle:
        assert handle.read(8) == b"\x89PNG\r\n\x1a\n", path
    pixels = matplotlib.image.imread(path)
    assert pixels.shape[0] > 100 and pixels.shape[1] > 100, path
    assert float(pixels[..., :3].std()) > 0.01, f"{path} is blank"


def test_executable_reports_errors_with_status_one(case):
    done = summarise(case.root, case.name, (9,), case.out)
    assert done.returncode == 1
    assert done.stderr.startswith("alnsummarize: error: no run of seed 9")


# The whole path: simulate a case, run two chains with --ancestors, summarise.

SAMPLER = os.environ.get("ALNSAMPLER", "")
SIMULATOR = os.environ.get("ALNSIMULATE", "")
needs_programs = pytest.mark.skipif(
    not (SAMPLER and os.access(SAMPLER, os.X_OK) and SIMULATOR and os.access(SIMULATOR, os.X_OK)),
    reason="ALNSAMPLER and ALNSIMULATE must name the alnsampler (with --ancestors) and alnsimulate"
    " executables; CTest sets them once both targets are built",
)

# A six-leaf tree, three rate states, one segment.
FILES = {
    "tree/tree.txt": "0 1 0.08\n0 2 0.12\n1 3 0.05\n1 4 0.1\n2 5 0.2\n2 6 0.15\n3 7 0.07\n3 8 0.09\n4 9 0.11\n4 10 0.06",
    "tree/map_from_leave_label_to_seq_id.txt": "5 0\n6 1\n7 2\n8 3\n9 4\n10 5",
    "parameters/gammas.txt": "0.02",
    "parameters/etas.txt": "0.5",
    "parameters/betas.txt": "0.7 0.1 0.1 0.1\n0.1 0.7 0.1 0.1\n0.1 0.1 0.7 0.1\n0.1 0.1 0.1 0.7",
    "parameters/thetas.txt": "0.3 0.2 0.2 0.3",
    "parameters/deletion_rates.txt": "0.05 0.2 0.6",
    "parameters/insertion_rates.txt": "0 0 0",
    "parameters/mutation_rates.txt": "0.05 0.3 1.5",
}
COLUMNS, ITERATIONS = 300, 200


def run_program(command, cwd):
    done = subprocess.run(command, cwd=cwd, capture_output=True, text=True, timeout=600, check=False)
    assert done.returncode == 0, f"{' '.join(command)}\n{done.stdout}\n{done.stderr}"


@needs_programs
def test_simulated_root_sequence_is_recovered(tmp_path):
    for name, text in FILES.items():
        write(str(tmp_path / name), text.split("\n"))
    root = str(tmp_path / "root") + "/"
    case_dir = os.path.join(root, "data", "sim") + "/"
    run_program([SIMULATOR, "-p", "parameters/", "-T", "tree/", "-o", case_dir, "-c", str(COLUMNS), "-s", "11"],
                tmp_path)
    os.makedirs(os.path.join(root, "results", "sim"))
    for seed in (3, 4):
        run_program([SAMPLER, "-r", root, "-t", "sim/", "-s", str(seed), "-n", str(ITERATIONS), "--ancestors"],
                    tmp_path)
    out = str(tmp_path / "summary")
    done = summarise(root, "sim/", (3, 4), out, "--burnin", "0.5")
    assert done.returncode == 0, done.stderr
    assert "ancestral sequences: summarised" in done.stdout

    with open(os.path.join(case_dir, "truth", "modelled_columns.txt")) as handle:
        modelled = [int(line) for line in handle.read().split()]
    with open(os.path.join(case_dir, "truth", "values.txt")) as handle:
        true_roots = [line.split()[0] for line in handle.read().splitlines()]
    rows = read_tsv(os.path.join(out, "columns.tsv"))
    assert len(rows) == len(modelled)
    assert [int(row["alignment_position"]) for row in rows] == [line + 1 for line in modelled]
    agree = sum("-ACGT"[int(true_roots[line])] == row["root_most_probable"] for line, row in zip(modelled, rows))
    assert agree >= 0.75 * len(rows), f"root agrees in {agree} of {len(rows)} columns"
    for name in TABLES:
        assert os.path.getsize(os.path.join(out, name)) > 0, name
    for name in PLOTS:
        check_image(os.path.join(out, name))
