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
    status, out, err = result
    assert status == 1, (out, err)
    assert out == ""
    assert err.startswith("alnsummarize: error: ")
    for fragment in fragments:
        assert fragment in err, err


def replace_line(path, number, text):
    with open(path) as handle:
        lines = handle.read().splitlines()
    lines[number - 1] = text
    write(path, lines)


def test_missing_seed(case, run):
    good_run(case)
    assert_error(run(seeds=(3, 4)), "no run of seed 4: " + case.result(4, "_post_para.txt") + " does not exist")


def test_missing_results_folder(case, run):
    case.name = "other/"
    assert_error(run(), "results folder", "other/ does not exist")


def test_run_without_iterations(case, run):
    good_run(case)
    write(case.result(3, "_post_para.txt"), [])
    assert_error(run(), "seed 3: " + case.result(3, "_post_para.txt") + " holds no iteration")


def test_burnin_that_leaves_nothing(case, run):
    good_run(case, n=4)
    assert_error(run(burnin="4"), "seed 3: a burn-in of 4 iterations leaves none of its 4 iterations")


@pytest.mark.parametrize("value", ["-0.1", "1.5", "abc", "nan", "inf"])
def test_burnin_out_of_range(case, run, value):
    good_run(case)
    status, out, err = run(burnin=value)
    assert status == 2
    assert "argument --burnin" in err and repr(value) in err


def test_duplicated_seed_and_bad_case(case, run):
    good_run(case)
    status, _, err = run(seeds=(3, 3))
    assert status == 2 and "seed 3 is given twice" in err
    case.name = "../elsewhere/"
    status, _, err = run()
    assert status == 2 and "--case '../elsewhere/'" in err


FAULTS = [
    # (file suffix, line number, replacement, message fragments)
    ("_post_para.txt", 2, "abc", ["_post_para.txt line 2: 'abc' is not a number"]),
    ("_post_para.txt", 2, "1 2", ["_post_para.txt line 2: expected one number, found 2"]),
    ("_post_dist_k.txt", 3, "0 -1", ["_post_dist_k.txt line 3: 2 numbers, expected 4 as on line 1"]),
    ("_mutations_2.txt", 3, "nan", ["_mutations_2.txt line 3: 'nan' is not a finite number"]),
    ("_deletions_1.txt", 1, "0.5", ["_deletions_1.txt: the first line must be '#event_rate'"]),
    ("_map_column_to_rate_state_4.txt", 2, "3", ["_map_column_to_rate_state_4.txt line 2: 3 is outside 0..2"]),
    ("_map_column_to_rate_state_4.txt", 2, "1.0", ["_map_column_to_rate_state_4.txt line 2: '1.0' is not a whole"]),
    ("_from_tos_2.txt", 1, "0 0\n2 2", ["_from_tos_2.txt line 2: segment 2..2 does not continue",
                                       "expected a segment from column 1"]),
    ("_from_tos_3.txt", 1, "0 3", ["_from_tos_3.txt covers 4 columns, but the first file of seed 3 covers 3"]),
]


@pytest.mark.parametrize("suffix,line,text,fragments", FAULTS)
def test_faulty_trace_lines(case, run, suffix, line, text, fragments):
    good_run(case)
    replace_line(case.result(3, suffix), line, text)
    assert_error(run(), case.result(3, ""), *fragments)


def test_missing_iteration_file(case, run):
    good_run(case)
    os.remove(case.result(3, "_mutations_2.txt"))
    assert_error(run(), f"trace {case.result(3, '_mutations_2.txt')} does not exist")


def test_short_post_dist_k(case, run):
    good_run(case)
    write(case.result(3, "_post_dist_k.txt"), ["0 -1 -2 -3"] * 3)
    assert_error(run(), "_post_dist_k.txt holds 3 rows but", "_post_para.txt holds 4 iterations")


def test_rate_state_path_of_another_length(case, run):
    good_run(case)
    write(case.result(3, "_map_column_to_rate_state_3.txt"), ["0", "1"])
    assert_error(run(), "_map_column_to_rate_state_3.txt holds 2 columns, but the segments of seed 3 cover 3")


def test_chains_of_different_cases_or_settings(case, run):
    good_run(case, seed=3, columns=3)
    case.write_run(4, [Iteration([0, 0, 0, 0])] * 4)
    assert_error(run(seeds=(3, 4)), "seed 4 has 4 modelled columns but seed 3 has 3")
    case.write_run(4, [Iteration([0, 0, 0], log_marginals=(0.0, -1.0))] * 4)
    assert_error(run(seeds=(3, 4)), "seed 4 has 2 segments at most (k_max) but seed 3 has 4")


def test_alignment_that_does_not_match_the_traces(case, run):
    good_run(case, columns=3)
    case.write_data([[1, 1], [0, 1], [2, 2]])
    assert_error(run(), os.path.join(case.data_dir, "data.txt") + " has 2 modelled rows (first value 1..4)",
                 "traces have 3 columns", "--data-file")
    os.remove(os.path.join(case.data_dir, "data.txt"))
    assert_error(run(), "alignment file (no columns.tsv beside it)", "data.txt does not exist")


def test_faulty_columns_tsv(case, run):
    good_run(case, columns=3)
    case.write_columns([(1, 1), (2, 2)])
    assert_error(run(), "columns.tsv lists 2 modelled columns but the traces have 3")
    write(os.path.join(case.data_dir, "columns.tsv"), ["column alignment_position reference_position"])
    assert_error(run(), "columns.tsv: the first line must be the header")
    case.write_columns([(1, 1), (2, 2), (3, 3)])
    replace_line(os.path.join(case.data_dir, "columns.tsv"), 3, "5\t2\t2")
    assert_error(run(), "columns.tsv line 3: column 5, expected 1")


def test_faulty_ancestors(case, run):
    good_run(case, ancestors=True)
    replace_line(case.result(3, "_ancestors_2.txt"), 3, "1 2 3")
    assert_error(run(), "_ancestors_2.txt line 3: 3 values, expected one per internal node (2)")
    replace_line(case.result(3, "_ancestors_2.txt"), 3, "1 6")
    assert_error(run(), "_ancestors_2.txt line 3: 6 is outside 0..5")
    replace_line(case.result(3, "_ancestors_2.txt"), 3, "1 2")
    os.remove(case.result(3, "_ancestors_4.txt"))
    assert_error(run(), "ancestors file " + case.result(3, "_ancestors_4.txt") + " does not exist")


def test_tree_that_does_not_match_the_ancestors(case, run):
    good_run(case, ancestors=True)
    write(os.path.join(case.data_dir, "tree.txt"), ["0 1 0.1", "0 2 0.1"])
    write(os.path.join(case.data_dir, "map_from_leave_label_to_seq_id.txt"), ["1 0", "2 1"])
    assert_error(run(), "tree.txt has 1 internal nodes but the ancestors files hold 2 values per column")


def test_chains_with_and_without_ancestors_warn(case, run):
    good_run(case, seed=3, ancestors=True)
    good_run(case, seed=4, ancestors=False)
    status, out, err = run(seeds=(3, 4))
    assert status == 0
    assert "warning: seed 4 has no ancestors files: the ancestral summaries are left out" in err
    assert "ancestral sequences: none" in out
    assert not os.path.exists(case.output("ancestors.fasta"))


def test_ancestors_left_by_an_earlier_run_are_ignored(case, run):
    good_run(case, ancestors=True)
    stale = case.result(3, "_ancestors_1.txt")
    earlier = time.time() - 3600
    os.utime(stale, (earlier, earlier))
    status, out, err = run()
    assert status == 0
    assert f"warning: {stale} is older than" in err and "left by an earlier run, so ignored" in err
    assert "ancestral sequences: none" in out


def test_output_folder_that_cannot_be_made(case, run):
    good_run(case)
    write(case.out, ["a file"])
    assert_error(run(), f"cannot create output folder {case.out}")
