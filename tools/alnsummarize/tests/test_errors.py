"""Every input fault ends with status 1 (2 for the command line) and a message naming the file."""

import os
import time

import pytest

from trace_files import Iteration, write


def good_run(case, seed=3, n=4, columns=3, ancestors=False):
    case.modelled_data(columns)
    case.write_run(seed, [Iteration([i % 3 for i in range(columns)],
                                    ancestors=[[1, 2]] * columns if ancestors else None) for _ in range(n)])


def assert_error(result, *fragments):
    out, err = result
    assert out == "" and err.startswith("alnsummarize: error: ") and all(f in err for f in fragments), (out, err)


def replace_line(path, number, text):
    with open(path) as handle:
        lines = handle.read().splitlines()
    lines[number - 1] = text
    write(path, lines)


@pytest.mark.parametrize("arguments,fragment", [
    ({"burnin": "-0.1"}, "argument --burnin: '-0.1'"),
    ({"burnin": "1.5"}, "argument --burnin: '1.5'"),
    ({"burnin": "abc"}, "argument --burnin: 'abc'"),
    ({"burnin": "nan"}, "argument --burnin: 'nan'"),
    ({"seeds": (3, 3)}, "seed 3 is given twice"),
    ({"extra": ("--threshold", "1")}, "argument --threshold: '1' is out of range"),
    ({"extra": ("--conserved-by", "speed")}, "argument --conserved-by: invalid choice: 'speed'"),
])
def test_command_line_faults(case, run, arguments, fragment):
    good_run(case)
    assert fragment in run(*arguments.pop("extra", ()), status=2, **arguments)[1]


# (trace file of seed 3; a (line, replacement), or None to remove the file, or the lines that replace it;
# message fragments)
FAULTS = [
    ("_post_para.txt", (2, "abc"), ["_post_para.txt line 2: 'abc' is not a number"]),
    ("_post_para.txt", (2, "1 2"), ["_post_para.txt line 2: expected one number, found 2"]),
    ("_post_dist_k.txt", (3, "0 -1"), ["_post_dist_k.txt line 3: 2 numbers, expected 4 as on line 1"]),
    ("_mutations_2.txt", (3, "nan"), ["_mutations_2.txt line 3: 'nan' is not a finite number"]),
    ("_deletions_1.txt", (1, "0.5"), ["_deletions_1.txt: the first line must be '#event_rate'"]),
    ("_deletions_2.txt", (2, "-0.5"), ["_deletions_2.txt line 2: rate -0.5 is negative"]),
    ("_map_column_to_rate_state_4.txt", (2, "3"), ["_map_column_to_rate_state_4.txt line 2: 3 is outside 0..2"]),
    ("_map_column_to_rate_state_4.txt", (2, "1.0"), ["_map_column_to_rate_state_4.txt line 2: '1.0' is not a whole"]),
    ("_from_tos_2.txt", (1, "0 0\n2 2"), ["_from_tos_2.txt line 2: segment 2..2 does not continue",
                                         "expected a segment from column 1"]),
    ("_from_tos_3.txt", (1, "0 3"), ["_from_tos_3.txt covers 4 columns, but the first file of seed 3 covers 3"]),
    ("_ancestors_2.txt", (3, "1 2 3"), ["_ancestors_2.txt line 3: 3 values, expected one per internal node (2)"]),
    ("_ancestors_2.txt", (3, "1 6"), ["_ancestors_2.txt line 3: 6 is outside 0..5"]),
    ("_ancestors_4.txt", None, ["ancestors file ", "_ancestors_4.txt does not exist"]),
    ("_mutations_2.txt", None, ["trace ", "_mutations_2.txt does not exist"]),
    # Without its first files a run is not thinned when the second iteration's are there.
    ("_from_tos_1.txt", None, ["trace ", "_from_tos_1.txt does not exist"]),
    ("_map_column_to_rate_state_3.txt", ["0", "1"],
     ["_map_column_to_rate_state_3.txt holds 2 columns, but the segments of seed 3 cover 3"]),
    ("_post_dist_k.txt", ["0 -1 -2 -3"] * 3, ["_post_dist_k.txt holds 3 rows but", "_post_para.txt holds 4 iterations"]),
    ("_post_para.txt", [], ["seed 3: ", "_post_para.txt holds no iteration"]),
]


@pytest.mark.parametrize("suffix,change,fragments", FAULTS)
def test_faulty_missing_or_short_traces(case, run, suffix, change, fragments):
    good_run(case, ancestors=True)
    path = case.result(3, suffix)
    if change is None:
        os.remove(path)
    elif isinstance(change, tuple):
        replace_line(path, *change)
    else:
        write(path, change)
    assert_error(run(status=1), case.result(3, ""), *fragments)


def test_missing_seed_or_nothing_left_after_burnin(case, run):
    good_run(case)
    assert_error(run(seeds=(3, 4), status=1), f"no run of seed 4: {case.result(4, '_post_para.txt')} does not exist")
    assert_error(run(burnin="4", status=1), "seed 3: a burn-in of 4 iterations leaves none of its 4 iterations")


def test_missing_or_misplaced_folders(case, run):
    good_run(case)
    write(case.out, ["a file"])
    assert_error(run(status=1), f"cannot create output folder {case.out}")
    case.name = "other/"
    assert_error(run(status=1), "results folder", "other/ does not exist")
    case.name = "../elsewhere/"
    assert "--case '../elsewhere/'" in run(status=2)[1]


def test_chains_of_different_cases_or_settings(case, run):
    good_run(case, seed=3, columns=3)
    case.write_run(4, [Iteration([0, 0, 0, 0])] * 4)
    assert_error(run(seeds=(3, 4), status=1), "seed 4 has 4 modelled columns but seed 3 has 3")
    case.write_run(4, [Iteration([0, 0, 0], log_marginals=(0.0, -1.0))] * 4)
    assert_error(run(seeds=(3, 4), status=1), "seed 4 has 2 segments at most (k_max) but seed 3 has 4")


def test_alignment_or_tree_that_does_not_match_the_traces(case, run):
    good_run(case, columns=3, ancestors=True)
    case.write_columns([(1, 1), (2, 2)])
    assert_error(run(status=1), "columns.tsv lists 2 modelled columns but the traces have 3")
    case.write_text("columns.tsv", "column alignment_position reference_position\n")
    assert_error(run(status=1), "columns.tsv: the first line must be the header")
    case.write_columns([(1, 1), (2, 2), (3, 3)])
    replace_line(os.path.join(case.data_dir, "columns.tsv"), 3, "5\t2\t2")
    assert_error(run(status=1), "columns.tsv line 3: column 5, expected 1")
    os.remove(os.path.join(case.data_dir, "columns.tsv"))
    case.write_data([[1, 1], [0, 1], [2, 2]])
    assert_error(run(status=1), os.path.join(case.data_dir, "data.txt") + " has 2 modelled rows (first value 1..4)",
                 "traces have 3 columns", "--data-file")
    case.modelled_data(3)
    case.write_text("tree.txt", "0 1 0.1\n0 2 0.1\n")
    case.write_text("map_from_leave_label_to_seq_id.txt", "1 0\n2 1\n")
    assert_error(run(status=1), "tree.txt has 1 internal nodes but the ancestors files hold 2 values per column")
    case.write_text("tree.txt", "0 1 0.1\n1 0 0.1\n")
    assert_error(run(status=1), "tree.txt: node 0 is reached twice below node 0: not a tree")
    case.write_text("tree.txt", "\n")
    assert_error(run(status=1), "tree.txt holds no branch")
    os.remove(os.path.join(case.data_dir, "data.txt"))
    assert_error(run(status=1), "alignment file (no columns.tsv beside it)", "data.txt does not exist")


def test_chains_with_stale_or_no_ancestors_warn_and_leave_them_out(case, run):
    good_run(case, seed=3, ancestors=True)
    good_run(case, seed=4, ancestors=False)
    out, err = run(seeds=(3, 4))
    assert "warning: seed 4 has no ancestors files: the ancestral summaries are left out" in err
    assert "ancestral sequences: none" in out
    assert not os.path.exists(os.path.join(case.out, "ancestors.fasta"))

    stale = case.result(3, "_ancestors_1.txt")
    os.utime(stale, (time.time() - 3600, time.time() - 3600))
    out, err = run()
    assert f"warning: {stale} is older than" in err and "left by an earlier run, so ignored" in err
    assert "ancestral sequences: none" in out
