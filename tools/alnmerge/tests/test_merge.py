"""Merging hand-made window summaries whose genome files are known."""

import os

import pytest

from merge import command

# Every window: state 0 (mutation 0.1, deletion 0.1), state 1 (1.0, 0.1), state 2 (0.05, 5: an indel
# hotspot), two kept draws. Column means sum to mutation 3.5 and deletion 10.7 over 9 columns: the
# genome-wide reference is (0.3889, 1.189), so state 0 alone is conserved (0.1 < 0.3 x 0.3889); by its
# own mean (0.25) window a_w00002 would not call it so.
DELETION, MUTATION = "0.1,0.1,5.0", "0.1,1.0,0.05"
# case: (chromosome, first, last, size or None, positions, paths of the two draws, rates table, P(k = k_max),
#        warnings or None for no warnings.txt)
WINDOWS = {
    "a_w00001": ("chrA", 1, 10, 50, [2, 5, 9, 10], ["0:0,2:1", "0:0,1:1,3:2"], (1.0, 500.0), 0.01, []),
    "a_w00002": ("chrA", 11, 20, 50, [11, 12, 20], ["0:0", "0:0,2:1"], (1.2, 500.0), 0.2,
                 ["R-hat above 1.05 for deletion_rate_0"]),
    "b_w00001": ("chrB", 100, 130, None, [100, 130], ["0:2", "0:1,1:2"], (1.0, 40.0), 0.0, None),
}
P = {"a_w00001": [1, 0.5, 0, 0], "a_w00002": [1, 1, 0.5], "b_w00001": [0, 0]}


def write(path, text):
    with open(path, "w") as handle:
        handle.write(text)


def column_means(paths, n, rates):
    values = [float(rate) for rate in rates.split(",")]
    per_draw = []
    for path in paths:
        runs = [tuple(map(int, run.split(":"))) for run in path.split(",")]
        ends = [start for start, _ in runs[1:]] + [n]
        states = [state for (start, state), end in zip(runs, ends) for _ in range(end - start)]
        per_draw.append([values[state] for state in states])
    return [sum(column) / len(paths) for column in zip(*per_draw)]


def make_inputs(root):
    """Two windows tables (chrB's first, so that sorting shows) and a summary folder per window."""
    tables = []
    for stem in ("b", "a"):
        path = os.path.join(root, "data", f"{stem}_windows.tsv")
        os.makedirs(os.path.dirname(path), exist_ok=True)
        rows = [f"{case}\t{w[0]}\t{w[1]}\t{w[2]}\t{len(w[4])}\t{w[3] or ''}\n" for case, w in WINDOWS.items()
                if case.startswith(stem)]
        header = "case\tchromosome\tfirst_position\tlast_position\tmodelled_columns"
        write(path, header + ("\tchromosome_size\n" if stem == "a" else "\n")
              + "".join(row if stem == "a" else row.rsplit("\t", 1)[0] + "\n" for row in rows))
        tables.append(path)
    for case, (chrom, _, _, _, positions, paths, (rhat, ess), p_k_max, warnings) in WINDOWS.items():
        folder = os.path.join(root, "results", case, "summary")
        os.makedirs(folder)
        mutation, deletion = (column_means(paths, len(positions), rates) for rates in (MUTATION, DELETION))
        files = {
            "rates.tsv": "rate\tmean\tmedian\tlower_95\tupper_95\tess\trhat\n"
                         f"deletion_rate_0\t0.5\t0.5\t0.1\t0.9\t{ess}\t{rhat}\nmutation_rate_0\t2\t2\t2\t2\tnan\tnan\n",
            "segments.tsv": f"segments\tprobability\tconditional_mean\n1\t{1 - p_k_max}\t0.5\n2\t{p_k_max}\t0.5\n",
            "summary.tsv": "quantity\tvalue\nkept_draws\t2\nstate_0_occupancy\t1\n",
            "columns.tsv": "column\treference_position\tmutation_rate\tdeletion_rate\tchromosome\n" + "".join(
                f"{c}\t{p}\t{m:.6g}\t{d:.6g}\t{chrom}\n"
                for c, (p, m, d) in enumerate(zip(positions, mutation, deletion))),
            "rate_paths.tsv": "seed\titeration\tdeletion_rates\tmutation_rates\tpath\n" + "".join(
                f"3\t{i + 1}\t{DELETION}\t{MUTATION}\t{path}\n" for i, path in enumerate(paths)),
        }
        if warnings is not None:
            files["warnings.txt"] = "".join(f"alnsummarize: warning: {line}\n" for line in warnings)
        for name, text in files.items():
            write(os.path.join(folder, name), text)
    return tables


class Merge:
    """Window summaries in a temporary folder, and alnmerge run in-process on them."""

    def __init__(self, root, capsys):
        self.root, self.capsys, self.tables = root, capsys, make_inputs(root)

    def path(self, *names):
        return os.path.join(self.root, *names)

    def __call__(self, *extra, tables=None, status=0):
        self.capsys.readouterr()
        try:
            code = command.main(["--root-dir", self.root, "--windows", *(tables or self.tables),
                                 "--out", os.path.join(self.root, "genome"), *extra])
        except SystemExit as exit_:
            code = exit_.code
        captured = self.capsys.readouterr()
        assert code == status, captured.err
        return captured.out, captured.err

    def read(self, name):
        with open(self.path("genome", name)) as handle:
            return handle.read()


@pytest.fixture
def merge(tmp_path, capsys):
    return Merge(str(tmp_path), capsys)


def test_genome_tracks_use_the_genome_wide_reference_sorted_in_genome_coordinates(merge):
    import pyBigWig

    out, _ = merge("--min-length", "1")
    # bedGraph: from 0, end excluded, equal neighbours joined; chromosomes sorted although chrB's table came first.
    expected = [("chrA", 1, 2, 1.0), ("chrA", 4, 5, 0.5), ("chrA", 8, 10, 0.0), ("chrA", 10, 12, 1.0),
                ("chrA", 19, 20, 0.5), ("chrB", 99, 100, 0.0), ("chrB", 129, 130, 0.0)]
    lines = merge.read("conservation.bedGraph").splitlines()
    assert lines[0].startswith("track type=bedGraph name=\"P(conserved)\"") and "reference mutation 0.3889" in lines[0]
    assert [(c, int(s), int(e), float(v)) for c, s, e, v in (line.split("\t") for line in lines[1:])] == expected
    big = pyBigWig.open(merge.path("genome", "conservation.bw"))
    assert big.chroms() == {"chrA": 50, "chrB": 130}
    assert [(c, *interval) for c in ("chrA", "chrB") for interval in big.intervals(c)] == expected
    deletion = pyBigWig.open(merge.path("genome", "deletion_rate.bw"))
    assert deletion.intervals("chrB") == ((99, 100, pytest.approx(2.55)), (129, 130, 5.0))
    # Elements: 2 and 5 join (2 positions between, under --min-gap 5); 11-12 and 20 stay apart.
    assert merge.read("conserved.bed") == ("chrA\t1\t5\tmutation=0.325;deletion=0.1\t750\n"
                                           "chrA\t10\t12\tmutation=0.1;deletion=0.1\t1000\n"
                                           "chrA\t19\t20\tmutation=0.55;deletion=0.1\t500\n")
    report = merge.read("report.txt")
    assert out.strip() == report.strip() and len(report.splitlines()) < 25
    for fragment in ("3 windows on 2 chromosomes (chrA, chrB), 9 modelled columns", "mutation 0.388889, deletion"
                     " 1.18889", "elements: 3 in conserved.bed, 7 positions; length 1 to 4",
                     "converged: 1 of 3 windows", "P(k = k_max) above 0.05: 1 window; 1 window with warnings",
                     "a_w00002           chrA:11-20                     1.2 deletion_rate_0     500",
                     "b_w00001           chrB:100-130                     1 deletion_rate_0      40",
                     "1 window summaries without warnings.txt (b_w00001"):
        assert fragment in report, fragment
    assert os.path.getsize(merge.path("genome", "genome.png")) > 10000
    # An element across the windows' edge: 2-5 and 11-12 join with --min-gap 6.
    merge("--min-length", "1", "--min-gap", "6")
    assert merge.read("conserved.bed").splitlines()[0] == "chrA\t1\t12\tmutation=0.396;deletion=0.508\t583"
    rows = [line.split("\t") for line in merge.read("windows.tsv").splitlines()]
    table = [dict(zip(rows[0], row)) for row in rows[1:]]
    assert [(row["case"], row["converged"], row["mean_p_conserved"]) for row in table] == [
        ("a_w00001", "yes", "0.375"), ("a_w00002", "no", "0.833333"), ("b_w00001", "no", "0")]


def test_columns_where_only_the_reference_is_aligned_are_never_called(merge):
    # a_w00002's modelled rows (first value 1..4): position 11 has only the reference, 12 a gap in another
    # sequence (aligned), 20 a residue; the unmodelled row is skipped. b_w00001 has nothing else aligned.
    for case, text in (("a_w00002", "1 5 5\n0 1 1\n2 0 5\n3 5 3\n"), ("b_w00001", "1 5\n2 5\n")):
        os.makedirs(merge.path("data", case))
        write(merge.path("data", case, "data.txt"), text)
    merge("--min-length", "1")
    assert merge.read("conserved.bed").splitlines()[1] == "chrA\t11\t12\tmutation=0.1;deletion=0.1\t1000"
    report = merge.read("report.txt")
    assert ("3 of 9 columns hold only the reference (no other sequence aligned; 1 window wholly): never called"
            " conserved") in report
    # The reference rates are the means over the other 6 columns: mutation (2.175 + 0.1 + 0.55) / 6.
    assert "with another sequence aligned): mutation 0.470833, deletion 0.508333" in report
    write(merge.path("data", "a_w00002", "data.txt"), "1 5 5\n2 5 5\n3 5 5\n")
    os.makedirs(merge.path("data", "a_w00001"))
    write(merge.path("data", "a_w00001", "data.txt"), "1 5\n2 5\n3 5\n4 5\n")
    _, err = merge(status=1)
    assert "no window has a column where a sequence other than the reference is aligned" in err
    write(merge.path("data", "b_w00001", "data.txt"), "1 5\n")
    _, err = merge(status=1)
    assert "data/b_w00001/data.txt has 1 modelled rows (first value 1..4) but the runs have 2 columns" in err


def change(merge, case, name, old, new):
    path = merge.path("results", case, "summary", name)
    with open(path) as handle:
        text = handle.read()
    assert old in text, (name, old)
    write(path, text.replace(old, new))


@pytest.mark.parametrize("case, name, old, new, fragment", [
    # R4: every window checked complete against the windows table; nothing written otherwise.
    ("a_w00001", "columns.tsv", "3\t10\t0.525\t2.55\tchrA\n", "", "lists 3 columns, the windows table 4"),
    ("a_w00002", "columns.tsv", "20\t", "21\t", "21 is outside 11..20"),
    ("a_w00001", "columns.tsv", "1\t5\t", "1\t1\t", "position 1 does not follow 2"),
    ("a_w00002", "columns.tsv", "chrA\n", "seq0\n", "chromosome 'seq0', but the windows table puts"),
    ("a_w00001", "columns.tsv", "\t0.55\t", "\t0.56\t", "mutation_rate 0.56 is not the mean of rate_paths.tsv"),
    ("b_w00001", "rates.tsv", "\t0.5\t0.5\t", "\tnan\t0.5\t", "'nan' is not a finite number"),
    ("b_w00001", "rates.tsv", "\t40.0\t", "\tmany\t", "'many' is not a number"),
    ("a_w00001", "rate_paths.tsv", "2:1\n", "4:1\n", "column 4 is outside 0..3"),
    ("a_w00001", "rate_paths.tsv", "3\t2\t0.1,0.1,5.0\t0.1,1.0,0.05\t0:0,1:1,3:2\n", "",
     "holds 1 draws, its summary.tsv 2 kept draws"),
    ("a_w00002", "rate_paths.tsv", "0.05", "inf", "'inf' is not a finite number"),
    ("b_w00001", "segments.tsv", "probability", "p", "the header lacks 'probability'"),
    ("b_w00001", "summary.tsv", "kept_draws", "kept", "has no kept_draws row"),
])
def test_incomplete_windows_are_named_and_nothing_is_written(merge, case, name, old, new, fragment):
    change(merge, case, name, old, new)
    assert fragment in merge(status=1)[1]
    assert not os.path.exists(merge.path("genome"))


def test_missing_summaries_holes_and_overlapping_windows_are_refused(merge):
    # The summary of another version of the case: positions differ from the case's own columns.tsv.
    os.makedirs(merge.path("data", "a_w00002"))
    write(merge.path("data", "a_w00002", "columns.tsv"), "column\treference_position\n0\t11\n1\t13\n2\t20\n")
    assert "summary's columns.tsv line 3 does not match" in merge(status=1)[1]
    os.remove(merge.path("data", "a_w00002", "columns.tsv"))
    os.remove(merge.path("results", "a_w00001", "summary", "rate_paths.tsv"))
    assert "window a_w00001 (chrA:1-10) is incomplete:" in merge(status=1)[1]
    assert "case 'b_w00001' is listed twice" in merge(tables=merge.tables + merge.tables[:1], status=1)[1]
    text = open(merge.tables[1]).read()
    write(merge.tables[1], text.replace("a_w00001\tchrA\t1\t10\t4\t50\n", ""))  # a row deleted
    assert "window a_w00001 of chrA is missing" in merge(status=1)[1]
    write(merge.tables[1], text.replace("\t1\t10\t", "\t1\t9\t"))
    assert "no window covers chrA:10-10 between a_w00001 and a_w00002" in merge(status=1)[1]
    write(merge.tables[1], text + "c_w00001\tchrA\t20\t30\t5\t50\n")
    assert "windows a_w00002 (chrA:11-20) and c_w00001 (chrA:20-30) overlap" in merge(status=1)[1]
