"""Posterior summaries of hand-made traces whose answers are counted by hand."""

import pytest

from trace_files import Iteration

SLOW, MIDDLE = (0.1, 1.0, 10.0), (1.0, 10.0, 0.1)


def floats(row, *names):
    return [float(row[name]) for name in names]


STATES = ("p_state0", "p_state1", "p_state2")


def test_rate_state_and_segment_start_probabilities(case, run):
    case.modelled_data(5)
    case.write_run(3, [
        Iteration([0, 0, 1, 2, 2], from_tos=[(0, 1), (2, 4)]),
        Iteration([0, 1, 1, 2, 0], from_tos=[(0, 4)]),
        Iteration([0, 2, 1, 1, 0], from_tos=[(0, 2), (3, 3), (4, 4)]),
        Iteration([1, 0, 1, 2, 0], from_tos=[(0, 1), (2, 4)]),
    ])
    status, out, err = run()
    assert status == 0, err
    rows = case.table("columns.tsv")
    assert [floats(row, *STATES) for row in rows] == [
        [0.75, 0.25, 0], [0.5, 0.25, 0.25], [0, 1, 0], [0, 0.25, 0.75], [0.75, 0, 0.25]]
    assert [float(row["p_segment_start"]) for row in rows] == [1, 0, 0.5, 0.25, 0.25]
    assert "p_root_A" not in rows[0]
    assert "ancestral sequences: none" in out


def test_burnin_drops_leading_iterations_of_each_chain(case, run):
    case.modelled_data(2)
    case.write_run(3, [Iteration([2, 2])] * 3 + [Iteration([0, 1])])
    case.write_run(4, [Iteration([2, 2])] * 2 + [Iteration([1, 1])] * 2)
    # A fraction of each chain, or a whole number of iterations: 3 of 4 dropped.
    for burnin in ("0.75", "3"):
        assert run(seeds=(3, 4), burnin=burnin)[0] == 0
        assert [floats(row, *STATES) for row in case.table("columns.tsv")] == [[0.5, 0.5, 0], [0, 1, 0]]
    status, out, _ = run(seeds=(3, 4), burnin="0.25")
    assert "burn-in 1, kept 3" in out
    assert floats(case.table("columns.tsv")[0], *STATES) == pytest.approx([1 / 6, 2 / 6, 0.5], abs=1e-6)


def test_number_of_segments_sampled_and_conditional(case, run):
    case.modelled_data(4)
    log3 = 1.0986122886681098
    case.write_run(3, [
        Iteration([0] * 4, from_tos=[(0, 3)], log_marginals=(-5.0, -5.0 + log3, -1e9)),
        Iteration([0] * 4, from_tos=[(0, 1), (2, 3)], log_marginals=(0.0, log3, -1e9)),
        Iteration([0] * 4, from_tos=[(0, 1), (2, 3)], log_marginals=(0.0, -1e9, -1e9)),
        Iteration([0] * 4, from_tos=[(0, 1), (2, 2), (3, 3)], log_marginals=(-1e9, -1e9, 7.0)),
    ])
    assert run()[0] == 0
    rows = case.table("segments.tsv")
    assert [int(row["segments"]) for row in rows] == [1, 2, 3]
    assert [float(row["probability"]) for row in rows] == [0.25, 0.5, 0.25]
    # Normalised rows: (1/4, 3/4, 0) twice, (1, 0, 0), (0, 0, 1); printed with 6 digits.
    expected = [(0.25 + 0.25 + 1) / 4, (0.75 + 0.75) / 4, 1 / 4]
    assert [float(row["conditional_mean"]) for row in rows] == pytest.approx(expected, abs=2e-6)


def test_rates_summaries_pool_the_kept_draws_of_every_chain(case, run):
    case.modelled_data(2)
    mutation_0 = [0.1, 0.2, 0.3, 0.4, 0.5, 0.6, 0.7, 0.8, 0.9]
    case.write_run(3, [Iteration([0, 1], mutation=(m, 5.0, 50.0)) for m in mutation_0[:4]])
    case.write_run(4, [Iteration([0, 1], mutation=(m, 5.0, 50.0)) for m in mutation_0[4:]])
    assert run(seeds=(3, 4))[0] == 0
    row = {row["rate"]: row for row in case.table("rates.tsv")}["mutation_rate_0"]
    assert floats(row, "mean", "median") == [pytest.approx(0.5), 0.5]
    # Linear interpolation between order statistics: 2.5% of 8 steps above 0.1.
    assert floats(row, "lower_95", "upper_95") == [pytest.approx(0.12), pytest.approx(0.88)]


def test_relabelling_sorts_states_by_mutation_rate(case, run):
    case.modelled_data(3)
    case.write_run(3, [
        Iteration([0, 1, 2], mutation=SLOW, deletion=(0.01, 0.02, 0.03)),
        # Sampled state 2 is the slowest, then 0, then 1: 2 -> 0, 0 -> 1, 1 -> 2.
        Iteration([0, 1, 2], mutation=MIDDLE, deletion=(0.01, 0.02, 0.03)),
    ])
    status, out, err = run()
    assert status == 0, err
    assert "relabelling reordered the rate states in 1 of 2 (50.0%)" in out
    rows = case.table("columns.tsv")
    assert [floats(row, *STATES) for row in rows] == [[0.5, 0.5, 0], [0, 0.5, 0.5], [0.5, 0, 0.5]]
    rates = {row["rate"]: float(row["mean"]) for row in case.table("rates.tsv")}
    assert [rates[f"mutation_rate_{s}"] for s in range(3)] == pytest.approx([0.1, 1.0, 10.0])
    # The deletion rates follow their states: iteration 2 reads 0.03, 0.01, 0.02.
    assert [rates[f"deletion_rate_{s}"] for s in range(3)] == pytest.approx([0.02, 0.015, 0.025])
    trace = case.read_output("trace.log").splitlines()
    assert trace[2].split("\t")[3:] == ["0.03", "0.01", "0.02", "0.1", "1", "10"]
    wig = case.read_output("rate_states.wig").splitlines()[2:]
    assert wig == ["1 0.5", "2 0", "3 0.5"]


def test_no_relabel_keeps_the_sampled_labels(case, run):
    case.modelled_data(3)
    case.write_run(3, [Iteration([0, 1, 2], mutation=SLOW), Iteration([0, 1, 2], mutation=MIDDLE),
                       Iteration([0, 1, 2], mutation=MIDDLE)])
    status, out, _ = run("--no-relabel")
    assert status == 0
    assert "out of mutation-rate order (not relabelled) in 2 of 3" in out
    assert [floats(row, *STATES) for row in case.table("columns.tsv")] == [[1, 0, 0], [0, 1, 0], [0, 0, 1]]
    rates = {row["rate"]: float(row["mean"]) for row in case.table("rates.tsv")}
    assert rates["mutation_rate_0"] == pytest.approx((0.1 + 1 + 1) / 3)
    assert "rate state 0 (sampled labels, not relabelled)" in case.read_output("rate_states.wig")


def test_ties_in_mutation_rate_keep_the_sampled_order(sm):
    import numpy as np

    orders = sm.relabel_orders(np.array([[2.0, 1.0, 1.0], [1.0, 1.0, 1.0]]))
    assert orders.tolist() == [[1, 2, 0], [0, 1, 2]]
    assert sm.count_reordered(orders) == 1
    assert sm.new_labels(orders[0]).tolist() == [2, 0, 1]


def test_root_and_ancestor_posteriors(case, run):
    case.modelled_data(3)
    # Two internal nodes; root values per column over four iterations:
    # column 0: A A A C, column 1: gap gap T T (tie: gap comes first), column 2: G always.
    # Node 1 is C, but absent (5: all leaves below it missing, written N) in column 1.
    roots = [(1, 0, 3), (1, 0, 3), (1, 4, 3), (2, 4, 3)]
    ancestors = [[[r[c], 5 if c == 1 else 2] for c in range(3)] for r in roots]
    case.write_run(3, [Iteration([0, 0, 0], ancestors=values) for values in ancestors[:2]])
    case.write_run(4, [Iteration([0, 0, 0], ancestors=values) for values in ancestors[2:]])
    status, out, err = run(seeds=(3, 4))
    assert status == 0, err
    assert "ancestral sequences: summarised" in out
    rows = case.table("columns.tsv")
    root = ("p_root_gap", "p_root_A", "p_root_C", "p_root_G", "p_root_T")
    assert [floats(row, *root) for row in rows] == [[0, 0.75, 0.25, 0, 0], [0.5, 0, 0, 0, 0.5], [0, 0, 0, 1, 0]]
    assert [row["root_most_probable"] for row in rows] == ["A", "-", "G"]
    fasta = case.read_output("ancestors.fasta").splitlines()
    assert fasta == [">node_0 root", "A-G", ">node_1", "CNC"]
    table = case.table("ancestors.tsv")
    assert [(row["node"], row["column"], row["most_probable"]) for row in table] == [
        ("0", "0", "A"), ("0", "1", "-"), ("0", "2", "G"), ("1", "0", "C"), ("1", "1", "N"), ("1", "2", "C")]
    assert floats(table[3], "p_gap", "p_A", "p_C", "p_G", "p_T", "p_absent") == [0, 0, 1, 0, 0, 0]
    assert floats(table[4], "p_gap", "p_absent") == [0, 1]


def test_ancestor_titles_name_the_sequences_below(case, run):
    case.modelled_data(2)
    # Root 0 over node 1 and leaf 2; node 1 over leaves 3 and 4; leaves listed left to right.
    case.write_text("tree.txt", "0 1 0.1\n0 2 0.2\n1 3 0.1\n1 4 0.1\n")
    case.write_text("map_from_leave_label_to_seq_id.txt", "2 0\n3 1\n4 2\n")
    case.write_text("sequences.tsv", "seq_id\tname\tleaf_label\n0\thuman\t2\n1\tchimp\t3\n2\tgorilla\t4\n")
    case.write_run(3, [Iteration([0, 0], ancestors=[[1, 2], [3, 4]])])
    assert run()[0] == 0
    titles = [line for line in case.read_output("ancestors.fasta").splitlines() if line.startswith(">")]
    assert titles == [">node_0 root ancestor of chimp,gorilla,human", ">node_1 ancestor of chimp,gorilla"]


def test_long_sequences_wrap_at_sixty(case, run):
    case.modelled_data(130)
    case.write_run(3, [Iteration([0] * 130, ancestors=[[4]] * 130)])
    assert run()[0] == 0
    assert [len(line) for line in case.read_output("ancestors.fasta").splitlines()] == [12, 60, 60, 10]
