"""Layout of the Tracer logs, the tracks and their coordinates."""

import math
import re

import pytest

from trace_files import Iteration

TRACER_HEADER = ["state", "log_probability", "segments", "deletion_rate_0", "deletion_rate_1", "deletion_rate_2",
                 "mutation_rate_0", "mutation_rate_1", "mutation_rate_2"]


def tracer_rows(text):
    """The samples of a Tracer log, checked for what Tracer needs: one header row, tabs, numbers."""
    assert text.endswith("\n") and "\r" not in text
    header, *rows = [line.split("\t") for line in text[:-1].split("\n")]
    assert header == TRACER_HEADER and rows
    for row in rows:
        assert len(row) == len(header) and re.fullmatch(r"[0-9]+", row[0])
        assert all(field == field.strip() and math.isfinite(float(field)) for field in row[1:])
    return rows


def test_tracer_logs_of_two_chains_of_different_lengths(case, run):
    case.modelled_data(3)
    chain_3 = [Iteration([0, 1, 2], log_probability=-1000.5 - i, deletion=(0.01, 0.02, 1.5e-07),
                         mutation=(0.000123457, 1.0 + i, 20.0), from_tos=[(0, 1), (2, 2)][: 1 + i % 2]
                         if i % 2 else [(0, 2)]) for i in range(6)]
    chain_4 = [Iteration([0, 1, 2], log_probability=-2000.25 - i) for i in range(4)]
    case.write_run(3, chain_3)
    case.write_run(4, chain_4)
    run(seeds=(3, 4), burnin="0.5")
    rows = tracer_rows(case.read_output("trace.log"))
    # Three kept draws of seed 3, then two of seed 4, numbered 1..5: Tracer
    # needs states that count up evenly.
    assert [row[:3] for row in rows] == [["1", "-1003.5", "2"], ["2", "-1004.5", "1"], ["3", "-1005.5", "2"],
                                         ["4", "-2002.25", "1"], ["5", "-2003.25", "1"]]
    assert rows[0][3:] == ["0.01", "0.02", "1.5e-07", "0.000123457", "4", "20"]
    for seed, length in ((3, 6), (4, 4)):
        rows = tracer_rows(case.read_output(f"trace_{seed}.log"))
        assert [int(row[0]) for row in rows] == list(range(1, length + 1))


def states_with_slowest_probabilities(quarters):
    """Four iterations whose columns sit in state 0 the given number of times out of 4."""
    return [Iteration([0 if i < q else 2 for q in quarters]) for i in range(4)]


def test_tracks_follow_the_reference_coordinates_of_columns_tsv(case, run):
    # Modelled columns at alignment positions 2 3 5 6 7 9; reference
    # coordinate 4 is a reference N (counted, not modelled).
    case.write_columns([(2, 1), (3, 2), (5, 3), (6, 5), (7, 6), (9, 7)])
    case.write_text("sequences.tsv", "seq_id\tname\tleaf_label\n0\thuman\t3\n1\tchimp\t4\n")
    case.write_run(3, states_with_slowest_probabilities([4, 3, 4, 4, 4, 2]))
    run()
    rows = case.table("columns.tsv")
    assert [(row["alignment_position"], row["reference_position"]) for row in rows] == [
        ("2", "1"), ("3", "2"), ("5", "3"), ("6", "5"), ("7", "6"), ("9", "7")]
    wig = case.read_output("rate_states.wig").splitlines()
    assert wig[0].startswith("track type=wiggle_0 ") and wig[1] == "variableStep chrom=human span=1"
    assert wig[2:] == ["1 1", "2 0.75", "3 1", "5 1", "6 1", "7 0.5"]
    # State 0 alone is below 0.3 x the mean mutation rate 1.3375 (deletion at most 0.13375): P(conserved)
    # is its probability.
    assert case.read_output("conservation.wig").splitlines()[2:] == wig[2:]
    # Elements (BED: from 0, end excluded) at P >= 0.5: the unmodelled coordinate 4 splits 1-3 from 5-7,
    # which join across it (fewer than --min-gap 5 positions between) but stay below --min-length 10.
    assert case.read_output("conserved.bed") == ""
    for options, bed in ((["--min-gap", "0", "--min-length", "1"], "human\t0\t3\tmutation=0.925;deletion=0.0925\t917\n"
                          "human\t4\t7\tmutation=1.75;deletion=0.175\t833\n"),
                         (["--min-gap", "2", "--min-length", "7"], "human\t0\t7\tmutation=1.34;deletion=0.134\t875\n"),
                         (["--threshold", "0.8", "--min-gap", "0", "--min-length", "1"],
                          "human\t0\t1\tmutation=0.1;deletion=0.01\t1000\nhuman\t2\t3\tmutation=0.1;deletion=0.01"
                          "\t1000\nhuman\t4\t6\tmutation=0.1;deletion=0.01\t1000\n")):
        run(*options)
        assert case.read_output("conserved.bed") == bed, options
    assert case.read_output("mutation_rate.wig").splitlines()[1:3] == ["variableStep chrom=human span=1", "1 0.1"]


def test_without_columns_tsv_positions_are_data_rows(case, run):
    case.write_data([[1, 1], [0, 1], [5, 2], [2, 2], [3, 0], [0, 0]])
    case.write_run(3, states_with_slowest_probabilities([4, 4, 0]))
    run()
    rows = case.table("columns.tsv")
    assert [(row["alignment_position"], row["reference_position"]) for row in rows] == [
        ("1", "1"), ("4", "4"), ("5", "5")]
    wig = case.read_output("rate_states.wig").splitlines()
    assert wig[1] == "variableStep chrom=case span=1"
    assert wig[2:] == ["1 1", "4 1", "5 0"]
    # Line 2 and 3 are not modelled, so lines 1 and 4 make two runs.
    run("--min-gap", "0", "--min-length", "1")
    assert [line.split("\t")[:3] for line in case.read_output("conserved.bed").splitlines()] == \
        [["case", "0", "1"], ["case", "3", "4"]]
    case.write_data([[0, 1], [4, 4], [4, 4], [0, 0], [1, 1]], name="other.txt")
    run("--data-file", "other.txt")
    assert [row["alignment_position"] for row in case.table("columns.tsv")] == ["2", "3", "5"]
    # Where no other sequence is aligned (line 1: the second sequence absent) nothing can be called
    # conserved, however high P: only line 4 is left.
    case.write_data([[1, 5], [0, 1], [5, 2], [2, 2], [3, 0], [0, 0]])
    run("--min-gap", "0", "--min-length", "1")
    assert [line.split("\t")[:3] for line in case.read_output("conserved.bed").splitlines()] == [["case", "3", "4"]]
    assert ("1 of 3 columns hold only the reference (no other sequence aligned), which tells nothing of how the"
            " sequences evolved: never called conserved, nor counted in the mean rates (1 of them at P >= 0.5)") in case.read_output("report.txt")


def test_summary_tsv_holds_one_row_per_quantity_and_the_warnings(case, run):
    # Two of four draws use all 4 segments; sampled state 1 holds no column, so it becomes state 2.
    case.modelled_data(4)
    case.write_run(3, [Iteration([0, 2, 2, 0], mutation=(0.1, 1.0 + i, 10.0),
                                 from_tos=[(0, 3)] if i < 2 else [(c, c) for c in range(4)]) for i in range(4)])
    _, err = run()
    rows = [line.split("\t") for line in case.read_output("summary.tsv").splitlines()]
    assert rows[0] == ["quantity", "value"] and all(len(row) == 2 for row in rows)
    values = dict(rows[1:])
    assert len(values) == len(rows) - 1, "quantities are unique"
    expected = {"chains": "1", "kept_draws": "4", "conserved_by": "mutation", "k_max": "4", "p_k_max": "0.5",
                "burnin_seed_3": "0", "thin_seed_3": "1", "state_2_occupancy": "0", "mutation_rate_1_mean": "10",
                "mean_column_mutation_rate": "5.05"}
    assert {name: values[name] for name in expected} == expected
    warnings = case.read_output("warnings.txt").splitlines()
    # State 2 empty, P(k = k_max), the rates of states 0 and 1 constant.
    assert values["warnings"] == "3" and err.splitlines() == warnings
    assert [f"alnsummarize: warning: {values[f'warning_{n}']}" for n in range(1, 4)] == warnings
    # A rate that never moved is named, its ESS and R-hat undefined rather than measured.
    assert "deletion_rate_0, deletion_rate_1, mutation_rate_0, mutation_rate_1 never changed" in warnings[2]
    assert [(row["ess"], row["rhat"]) for row in case.table("rates.tsv")][:2] == [("nan", "nan")] * 2


@pytest.mark.parametrize("positions,expected_bins,expected", [
    # Each position its own bin; unmodelled positions 3 and 4 stay blank.
    ([1, 2, 5], 5, [1.0, 2.0, math.nan, math.nan, 5.0]),
    # Beyond 1500 positions, 1000 bins of three positions each: the mean is the middle one;
    # the unmodelled stretch 1201..1500 is 100 blank bins.
    ([p for p in range(1, 3001) if not 1200 < p <= 1500], 1000,
     [3.0 * b + 2 if not 400 <= b < 500 else math.nan for b in range(1000)]),
])
def test_rate_state_panel_bins(positions, expected_bins, expected):
    import numpy as np

    from summarize.plots import binned

    edges, means = binned(positions, [float(p) for p in positions])
    assert len(edges) == expected_bins + 1 and edges[0] == 0.5 and edges[-1] == positions[-1] + 0.5
    assert np.allclose(means[:, 0], expected, equal_nan=True)
