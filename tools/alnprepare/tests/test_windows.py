"""Windows: consecutive cases that hold every modelled column once, with continuous reference spans."""

import os
import random

import pytest

from case_files import check_sampler_rules, read_tsv
from prepare.windows import window_bounds

TREE = "((a:1,b:2):0.5,c:3);"


@pytest.mark.parametrize("n, width, min_columns, expected", [
    (10, 5, 3, [(0, 4), (5, 9)]),
    (11, 5, 3, [(0, 4), (5, 10)]),              # a last window of 1 joins the one before
    (13, 5, 3, [(0, 4), (5, 9), (10, 12)]),     # 3 columns are enough
    (4, 5, 3, [(0, 3)]),
    (7, 2, 2, [(0, 1), (2, 3), (4, 6)]),
])
def test_window_bounds(n, width, min_columns, expected):
    assert window_bounds(n, width, min_columns) == expected


def random_fasta(length, seed):
    """Three sequences; the reference has gaps and Ns, so positions and coordinates jump."""
    generator = random.Random(seed)
    rows = ["".join(generator.choice("ACGT" * 6 + "-N") for _ in range(length)) for _ in range(3)]
    return "".join(f">{name}\n{row}\n" for name, row in zip("abc", rows))


def positions(ws, case):
    return [(int(row["alignment_position"]), int(row["reference_position"])) for row in ws.table("columns.tsv", case)]


@pytest.mark.parametrize("length, width, min_columns", [(157, 20, 7), (160, 25, 4), (40, 100, 5)])
def test_windows_cut_the_whole_case_into_consecutive_pieces(ws, length, width, min_columns):
    fasta = random_fasta(length, seed=length)
    ws.run(fasta, TREE, case="whole/")
    ws.run(fasta, TREE, "--window", str(width), "--min-columns", str(min_columns), case="cut/")
    whole_columns = positions(ws, "whole")
    table = read_tsv(os.path.join(ws.root, "data", "cut_windows.tsv"))
    assert [row["case"] for row in table] == [f"cut_w{number:05d}" for number in range(1, len(table) + 1)]
    lines, columns, sizes = [], [], []
    for window in table:
        check_sampler_rules(ws.data_dir(window["case"]))
        assert os.path.isdir(os.path.join(ws.root, "results", window["case"]))
        own = [(position + len(lines), reference) for position, reference in positions(ws, window["case"])]
        assert len(own) == int(window["modelled_columns"]) and window["chromosome"] == "a"
        assert own[0][1] == int(window["first_position"]) and own[-1][1] <= int(window["last_position"])
        columns += own
        sizes.append(len(own))
        lines += ws.table("data.txt", window["case"])
    # Every column once, in order, at its own position and coordinate.
    assert lines == ws.table("data.txt", "whole") and columns == whole_columns
    spans = [(int(row["first_position"]), int(row["last_position"])) for row in table]
    assert all(after[0] == before[1] + 1 for before, after in zip(spans, spans[1:]))
    assert spans[-1][1] == whole_columns[-1][1]
    n = len(whole_columns)
    assert sizes == [last - first + 1 for first, last in window_bounds(n, width, min_columns)]
    assert all(size <= width or index == len(sizes) - 1 for index, size in enumerate(sizes))
    assert min(sizes) >= min(min_columns, n)


def test_existing_windows_are_kept_unless_forced_and_stale_ones_are_named(ws):
    fasta = random_fasta(120, seed=1)
    ws.run(fasta, TREE, "--window", "20", case="cut/")
    before = len(ws.table("cut_windows.tsv", ""))
    ws.fails(ws.run(fasta, TREE, "--window", "40", case="cut/", status=1),
             "already holds windows of an earlier preparation (cut_w00001/")
    assert len(ws.table("cut_windows.tsv", "")) == before
    _, err = ws.run(fasta, TREE, "--window", "40", "--force", case="cut/")
    after = len(ws.table("cut_windows.tsv", ""))
    assert f"{before - after} window cases of an earlier preparation (cut_w{after + 1:05d}," in err


@pytest.mark.parametrize("extra, status, fragment", [
    (["--window", "4", "--min-columns", "5"], 1, "--window 4: a window needs at least --min-columns 5"),
    (["--window", "60", "--min-columns", "50"], 1, "fewer than --min-columns 50"),
    (["--min-columns", "5"], 2, "--min-columns applies with --window only"),
    (["--window", "1"], 2, "--window 1: give a number of modelled columns of at least 2"),
])
def test_window_option_faults(ws, extra, status, fragment):
    assert fragment in ws.run(random_fasta(30, seed=2), TREE, *extra, status=status)[1]
