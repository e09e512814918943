"""The executable: its error status, and the whole path: simulate, sample, summarise, plot."""

import os
import subprocess
import sys

import pytest

from alncommon.sampler_outputs import ITERATION_FILES, RUN_FILES, read_checkpoint_head
from conftest import SCRIPT

ALNPREPARE = os.path.join(os.path.dirname(os.path.dirname(SCRIPT)), "alnprepare", "alnprepare")
from trace_files import read_tsv, write

PLOTS = ("traces.png", "segments.png", "rate_states.png", "root_confidence.png")
TABLES = ("columns.tsv", "segments.tsv", "rates.tsv", "ancestors.fasta", "ancestors.tsv", "ancestors.nwk", "trace.log",
          "rate_states.wig", "mutation_rate.wig", "deletion_rate.wig", "conserved.bed", "summary.tsv", "report.txt")


def summarise(root, case, seeds, out, *extra):
    command = [sys.executable, SCRIPT, "--root-dir", root, "--case", case, "--out", out,
               "--seeds", *[str(seed) for seed in seeds], *extra]
    return subprocess.run(command, capture_output=True, text=True, timeout=300, check=False)


def check_image(path):
    """A PNG file that decodes to a picture with more than one colour."""
    import matplotlib.image

    pixels = matplotlib.image.imread(path, format="png")
    assert pixels.shape[0] > 100 and pixels.shape[1] > 100, path
    assert float(pixels[..., :3].std()) > 0.01, f"{path} is blank"


def test_executable_reports_errors_with_status_one(case):
    done = summarise(case.root, case.name, (9,), case.out)
    assert done.returncode == 1 and done.stderr.startswith("alnsummarize: error: no run of seed 9"), done.stderr


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
NEWICK = "(((s2:0.07,s3:0.09):0.05,(s4:0.11,s5:0.06):0.1):0.08,(s0:0.2,s1:0.15):0.12);\n"  # the same tree
COLUMNS, ITERATIONS = 300, 200
# A "gene" missing from the two sister sequences 4 and 5 at the alignment's end: gaps in the
# alignment, coded absent by alnprepare's default (terminal gaps are missing data).
ABSENT_FROM, ABSENT_SEQUENCES = 200, (4, 5)


def run_program(command, cwd):
    done = subprocess.run(command, cwd=cwd, capture_output=True, text=True, timeout=600, check=False)
    assert done.returncode == 0, f"{' '.join(command)}\n{done.stdout}\n{done.stderr}"


def alignment_files(tmp_path, case_dir):
    """FASTA of the simulated case, the gene stretch written as gaps, and the tree in Newick."""
    rows = [line.split() for line in (case_dir / "data.txt").read_text().splitlines()]
    fasta = ""
    for seq_id in range(len(rows[0])):
        letters = ["-ACGTN"[int(row[seq_id])] for row in rows]
        if seq_id in ABSENT_SEQUENCES:
            letters[ABSENT_FROM:] = "-" * (len(rows) - ABSENT_FROM)
        fasta += f">s{seq_id}\n{''.join(letters)}\n"
    (tmp_path / "aln.fasta").write_text(fasta)
    (tmp_path / "tree.nwk").write_text(NEWICK)


@needs_programs
def test_simulated_case_from_alignment_to_answers(tmp_path):
    for name, text in FILES.items():
        write(str(tmp_path / name), text.split("\n"))
    simulated = tmp_path / "simulated"
    run_program([SIMULATOR, "-p", "parameters/", "-T", "tree/", "-o", str(simulated), "-c", str(COLUMNS), "-s", "11"],
                tmp_path)
    alignment_files(tmp_path, simulated)
    root = str(tmp_path / "root") + "/"
    stretch_deletion = {}
    # The default coding, two chains (the first stopped halfway and resumed, the second thinned),
    # then the gaps kept as gaps, one chain.
    halfway = ["-n", str(ITERATIONS // 2)]
    for case, coding, chains in (("gene/", [], ((3, [halfway, ["--resume"]]), (4, [["--thin", "2"]]))),
                                 ("gaps/", ["--terminal-gaps", "gap"], ((3, [[]]),))):
        run_program([sys.executable, ALNPREPARE, "--alignment", "aln.fasta", "--tree", "tree.nwk", "--root-dir", root,
                     "--case", case, *coding], tmp_path)
        for seed, runs in chains:
            for extra in runs:
                run_program([SAMPLER, "-r", root, "-t", case, "-s", str(seed), "-n", str(ITERATIONS), "--ancestors",
                             *extra], tmp_path)
        out = str(tmp_path / case)
        done = summarise(root, case, [seed for seed, _ in chains], out)
        assert done.returncode == 0, done.stderr
        rows = read_tsv(os.path.join(out, "columns.tsv"))
        stretch = [float(row["deletion_rate"]) for row in rows if int(row["alignment_position"]) > ABSENT_FROM]
        stretch_deletion[case] = sum(stretch) / len(stretch)
    # A run leaves exactly the files of the sampler's table of outputs, and its checkpoint's head names it.
    gaps = os.path.join(root, "results", "gaps")
    expected = {f"3{run_file.part}" for run_file in RUN_FILES.values()} | {"3_checkpoint.bin"}
    expected |= {f"3{track.part}{i}.txt" for track in ITERATION_FILES.values() for i in range(1, ITERATIONS + 1)}
    assert {name for name in os.listdir(gaps) if name.startswith("3_")} == expected
    head = read_checkpoint_head(os.path.join(gaps, "3_checkpoint.bin"))
    assert (head.iteration, head.seed, head.thin) == (ITERATIONS, 3, 1)
    # Read as deletions, the missing gene makes its stretch fast-evolving; coded absent, it does not.
    assert stretch_deletion["gaps/"] > 2 * stretch_deletion["gene/"], stretch_deletion

    out = str(tmp_path / "gene/")
    report = (tmp_path / "gene" / "report.txt").read_text()
    assert "thinned run (--thin 2): per-iteration files of iterations 2, 4, ... only" in report
    true_roots = [line.split()[0] for line in (simulated / "truth" / "values.txt").read_text().splitlines()]
    rows = read_tsv(os.path.join(out, "columns.tsv"))
    agree = sum("-ACGT"[int(true_roots[int(row["alignment_position"]) - 1])] == row["root_most_probable"]
                for row in rows)
    assert agree >= 0.75 * len(rows), f"root agrees in {agree} of {len(rows)} columns"
    fasta = (tmp_path / "gene" / "ancestors.fasta").read_text().split(">")[1:]
    assert all(len("".join(record.splitlines()[1:])) == COLUMNS for record in fasta)
    for name in TABLES:
        assert os.path.getsize(os.path.join(out, name)) > 0, name
    for name in PLOTS:
        check_image(os.path.join(out, name))
