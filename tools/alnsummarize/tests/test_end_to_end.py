"""The executable on hand-made traces, and the whole path: simulate, sample, summarise."""

import os
import subprocess
import sys

import numpy as np
import pytest

from conftest import SCRIPT
from trace_files import Iteration, read_tsv, write

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


def test_executable_writes_every_file_and_plot(case):
    case.modelled_data(40)
    rng = np.random.default_rng(31)
    for seed in (3, 4):
        iterations = []
        for _ in range(60):
            mutation = tuple(float(m) for m in rng.permutation([0.1, 1.0, 10.0]) * rng.uniform(0.9, 1.1, 3))
            # Columns 0-9 sit in the slowest state: a conserved run.
            states = [int(np.argmin(mutation))] * 10 + [int(s) for s in rng.integers(0, 3, 30)]
            cut = int(rng.integers(2, 39))
            iterations.append(Iteration(states, mutation=mutation, from_tos=[(0, cut - 1), (cut, 39)],
                                        log_probability=float(-500 + rng.standard_normal()),
                                        ancestors=[[int(v) for v in rng.integers(0, 5, 3)] for _ in range(40)]))
        case.write_run(seed, iterations)
    done = summarise(case.root, case.name, (3, 4), case.out)
    assert done.returncode == 0, done.stderr
    assert "relabelling reordered the rate states in" in done.stdout
    assert "warning: effective sample size below 100" in done.stderr
    for name in TABLES + PLOTS:
        assert os.path.getsize(case.output(name)) > 0, name
    for name in PLOTS:
        check_image(case.output(name))


def test_executable_reports_errors_with_status_one(case):
    done = summarise(case.root, case.name, (9,), case.out)
    assert done.returncode == 1
    assert done.stderr.startswith("alnsummarize: error: no run of seed 9")


# ---------------------------------------------------------------------------
# Simulate a case, run two chains with --ancestors, summarise.
# ---------------------------------------------------------------------------

SAMPLER = os.environ.get("ALNSAMPLER", "")
SIMULATOR = os.environ.get("ALNSIMULATE", "")
needs_programs = pytest.mark.skipif(
    not (SAMPLER and os.access(SAMPLER, os.X_OK) and SIMULATOR and os.access(SIMULATOR, os.X_OK)),
    reason="ALNSAMPLER and ALNSIMULATE must name the alnsampler (with --ancestors) and alnsimulate"
    " executables; CTest sets them once both targets are built",
)

TREE = ["0 1 0.08", "0 2 0.12", "1 3 0.05", "1 4 0.1", "2 5 0.2", "2 6 0.15",
        "3 7 0.07", "3 8 0.09", "4 9 0.11", "4 10 0.06"]
LEAF_MAP = ["5 0", "6 1", "7 2", "8 3", "9 4", "10 5"]
PARAMETERS = {
    "gammas.txt": ["0.02"],
    "etas.txt": ["0.5"],
    "betas.txt": ["0.7 0.1 0.1 0.1", "0.1 0.7 0.1 0.1", "0.1 0.1 0.7 0.1", "0.1 0.1 0.1 0.7"],
    "thetas.txt": ["0.3 0.2 0.2 0.3"],
    "deletion_rates.txt": ["0.05 0.2 0.6"],
    "insertion_rates.txt": ["0 0 0"],
    "mutation_rates.txt": ["0.05 0.3 1.5"],
}
COLUMNS = 300
ITERATIONS = 200


def run_program(command, cwd):
    done = subprocess.run(command, cwd=cwd, capture_output=True, text=True, timeout=600, check=False)
    assert done.returncode == 0, f"{' '.join(command)}\n{done.stdout}\n{done.stderr}"
    return done


@needs_programs
def test_simulated_root_sequence_is_recovered(tmp_path):
    for name, lines in PARAMETERS.items():
        write(str(tmp_path / "parameters" / name), lines)
    write(str(tmp_path / "tree" / "tree.txt"), TREE)
    write(str(tmp_path / "tree" / "map_from_leave_label_to_seq_id.txt"), LEAF_MAP)
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
    for name in PLOTS:
        check_image(os.path.join(out, name))
