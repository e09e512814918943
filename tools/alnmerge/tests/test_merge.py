"""Merging hand-made window summaries whose genome files are known."""

import os

import pytest

from merge import command

def write(path, text):
    with open(path, "w") as handle:
        handle.write(text)


def rates(rhat=1.0, ess=500.0):
    """deletion_rate_0 carries the diagnostics under test; mutation_rate_0 never moved (nan)."""
    return ("rate\tmean\tmedian\tlower_95\tupper_95\tess\trhat\n"
            f"deletion_rate_0\t0.5\t0.5\t0.1\t0.9\t{ess}\t{rhat}\nmutation_rate_0\t2\t2\t2\t2\tnan\tnan\n")


# case: (chromosome, first, last, columns, wig {position: value}, bed [(start, end, score)], rates, P(k = k_max),
#        warnings or None for no warnings.txt)
WINDOWS = {
    "a_w00001": ("chrA", 1, 10, 4, {2: "0.9", 5: "0.8", 9: "0.7", 10: "0.6"}, [(8, 10, 650)], rates(), 0.01, []),
    "a_w00002": ("chrA", 11, 20, 3, {11: "0.55", 12: "0.6", 20: "0.1"}, [(10, 12, 575)], rates(rhat=1.2), 0.2,
                 ["R-hat above 1.05 for deletion_rate_0"]),
    "b_w00001": ("chrB", 100, 130, 2, {100: "0", 130: "1"}, [(129, 130, 1000)], rates(ess=40), 0.0, None),
}


def make_inputs(root):
    """Two windows tables (chrB's first, so that sorting shows) and a summary folder per window."""
    tables = []
    for stem in ("b", "a"):
        path = os.path.join(root, "data", f"{stem}_windows.tsv")
        os.makedirs(os.path.dirname(path), exist_ok=True)
        rows = [f"{case}\t{w[0]}\t{w[1]}\t{w[2]}\t{w[3]}\n" for case, w in WINDOWS.items() if case.startswith(stem)]
        write(path, "case\tchromosome\tfirst_position\tlast_position\tmodelled_columns\n" + "".join(rows))
        tables.append(path)
    for case, (chrom, _, _, _, wig, bed, rate_text, p_k_max, warnings) in WINDOWS.items():
        folder = os.path.join(root, "results", case, "summary")
        os.makedirs(folder)
        files = {
            "rates.tsv": rate_text,
            "segments.tsv": f"segments\tprobability\tconditional_mean\n1\t{1 - p_k_max}\t0.5\n2\t{p_k_max}\t0.5\n",
            "rate_states.wig": f'track type=wiggle_0 name="{case}"\nvariableStep chrom={chrom} span=1\n'
                               + "".join(f"{position} {value}\n" for position, value in wig.items()),
            "conserved.bed": "".join(f"{chrom}\t{start}\t{end}\tconserved\t{score}\n" for start, end, score in bed),
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


def test_genome_files_are_sorted_joined_and_complete(merge):
    out, _ = merge()
    wig = merge.read("rate_states.wig").splitlines()
    assert [line for line in wig if not line.startswith("track")] == [
        "variableStep chrom=chrA span=1", "2 0.9", "5 0.8", "9 0.7", "10 0.6", "11 0.55", "12 0.6", "20 0.1",
        "variableStep chrom=chrB span=1", "100 0", "130 1"]
    assert sum(line.startswith("track") for line in wig) == 2
    # The run 9-10 of the first window goes on as 11-12 in the second: one
    # interval, scored (650 * 2 + 575 * 2) / 4.
    assert merge.read("conserved.bed") == "chrA\t8\t12\tconserved\t612\nchrB\t129\t130\tconserved\t1000\n"
    lines = merge.read("windows.tsv").splitlines()
    rows = [dict(zip(lines[0].split("\t"), line.split("\t"))) for line in lines[1:]]
    assert [(row["case"], row["converged"], row["p_k_max"], row["warnings"]) for row in rows] == [
        ("a_w00001", "yes", "0.01", ""),
        ("a_w00002", "no", "0.2", "R-hat above 1.05 for deletion_rate_0"),
        ("b_w00001", "no", "0", "")]
    assert rows[1]["deletion_rate_0_rhat"] == "1.2" and rows[2]["mutation_rate_0_ess"] == "nan"
    report = merge.read("report.txt")
    assert out.strip() == report.strip()
    assert "did not converge: 2 of 3 windows" in report
    assert "a_w00002  chrA:11-20  max R-hat 1.2 (deletion_rate_0)" in report
    assert "b_w00001  chrB:100-130  max R-hat 1 (deletion_rate_0)  min ESS 40 (deletion_rate_0)" in report
    assert "P(k = k_max) above 0.05: 1 window" in report and "a_w00002  chrA:11-20  P = 0.2" in report
    assert "1 window summary without warnings.txt (b_w00001)" in report


def test_thresholds_and_empty_states_decide_convergence(merge):
    assert "did not converge: 0 of 3 windows" in merge("--max-rhat", "1.3", "--min-ess", "10")[0]
    # State 0 of b_w00001 holds no column in most draws: its rates (ESS 40) are the prior's.
    write(merge.path("results", "b_w00001", "summary", "summary.tsv"),
          "quantity\tvalue\nstate_0_occupancy\t0.3\nstate_1_occupancy\t1\n")
    out, _ = merge()
    assert "did not converge: 1 of 3 windows" in out and "b_w00001  chrB" not in out, out


@pytest.mark.parametrize("case, name, old, new, fragment", [
    ("a_w00002", "rate_states.wig", "20 0.1", "21 0.1", "position 21 lies outside window a_w00002 (chrA:11-20)"),
    ("a_w00002", "rate_states.wig", "chrom=chrA", "chrom=seq0", "chromosome 'seq0', but the windows table puts"),
    ("a_w00002", "rate_states.wig", "12 0.6", "12 1.5", "probability '1.5' is outside 0..1"),
    ("a_w00001", "rate_states.wig", "5 0.8", "1 0.8", "position 1 does not follow 2"),
    ("a_w00001", "conserved.bed", "\t8\t10", "\t8\t11", "position 11 lies outside window a_w00001"),
    ("b_w00001", "rates.tsv", "\t40\t", "\tmany\t", "'many' is not a number"),
    ("b_w00001", "segments.tsv", "probability", "p", "the header lacks 'probability'"),
])
def test_faulty_summaries_are_refused_before_anything_is_written(merge, case, name, old, new, fragment):
    path = merge.path("results", case, "summary", name)
    with open(path) as handle:
        text = handle.read()
    write(path, text.replace(old, new))
    assert fragment in merge(status=1)[1]
    assert not os.path.exists(merge.path("genome"))


def test_missing_summaries_and_overlapping_windows_are_refused(merge):
    os.remove(merge.path("results", "a_w00001", "summary", "segments.tsv"))
    assert "summary of window a_w00001 in" in merge(status=1)[1]
    assert "case 'b_w00001' is listed twice" in merge(tables=merge.tables + merge.tables[:1], status=1)[1]
    with open(merge.tables[1], "a") as handle:
        handle.write("c_w00001\tchrA\t20\t30\t5\n")
    assert "windows a_w00002 (chrA:11-20) and c_w00001 (chrA:20-30) overlap" in merge(status=1)[1]
