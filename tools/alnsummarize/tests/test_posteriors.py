"""Posterior summaries of hand-made traces whose answers are counted by hand."""

import pytest

from trace_files import Iteration


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
    run()
    rows = case.table("columns.tsv")
    assert [floats(row, *STATES) for row in rows] == [
        [0.75, 0.25, 0], [0.5, 0.25, 0.25], [0, 1, 0], [0, 0.25, 0.75], [0.75, 0, 0.25]]
    assert [float(row["p_segment_start"]) for row in rows] == [1, 0, 0.5, 0.25, 0.25]
    assert "p_root_A" not in rows[0]


def test_burnin_drops_leading_iterations_of_each_chain(case, run):
    case.modelled_data(2)
    case.write_run(3, [Iteration([2, 2])] * 3 + [Iteration([0, 1])])
    case.write_run(4, [Iteration([2, 2])] * 2 + [Iteration([1, 1])] * 2)
    # A fraction of each chain, or a whole number of iterations: 3 of 4 dropped.
    for burnin in ("0.75", "3"):
        run("--no-relabel", seeds=(3, 4), burnin=burnin)
        assert [floats(row, *STATES) for row in case.table("columns.tsv")] == [[0.5, 0.5, 0], [0, 1, 0]]
    run("--no-relabel", seeds=(3, 4), burnin="0.25")
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
    run()
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
    run(seeds=(3, 4))
    row = {row["rate"]: row for row in case.table("rates.tsv")}["mutation_rate_0"]
    assert floats(row, "mean", "median") == [pytest.approx(0.5), 0.5]
    # Linear interpolation between order statistics: 2.5% of 8 steps above 0.1.
    assert floats(row, "lower_95", "upper_95") == [pytest.approx(0.12), pytest.approx(0.88)]


# Three states: A (mutation 0.1, deletion 4), B (1, 0.01), C (10, 0.5). Iteration 1 samples them as
# labels A B C, iteration 2 as B C A; the columns are in A B C, then in B C A.
DISAGREEING = [Iteration([0, 1, 2], mutation=(0.1, 1.0, 10.0), deletion=(4.0, 0.01, 0.5)),
               Iteration([0, 1, 2], mutation=(1.0, 10.0, 0.1), deletion=(0.01, 0.5, 4.0))]


# (--conserved-by, labels 0 1 2, draws relabelled, per column P(label 0..2), orderings the warning points at)
@pytest.mark.parametrize("key,labels,reordered,probabilities,other_views", [
    ("mutation", "ABC", 1, [[0.5, 0.5, 0], [0, 0.5, 0.5], [0.5, 0, 0.5]], ["deletion", "total"]),
    ("deletion", "BCA", 1, [[0.5, 0, 0.5], [0.5, 0.5, 0], [0, 0.5, 0.5]], ["mutation"]),
    ("total", "BAC", 2, [[0.5, 0.5, 0], [0.5, 0, 0.5], [0, 0.5, 0.5]], ["mutation"]),
])
def test_relabelling_by_each_rate_and_the_warning_when_orderings_disagree(case, run, key, labels, reordered,
                                                                         probabilities, other_views):
    rates = {"A": (0.1, 4.0), "B": (1.0, 0.01), "C": (10.0, 0.5)}
    case.modelled_data(3)
    case.write_run(3, DISAGREEING)
    out, err = run("--conserved-by", key)
    assert f"kept 2 draws; rate states relabelled into {key}-rate order in {reordered} of them" in out
    assert [floats(row, *STATES) for row in case.table("columns.tsv")] == probabilities
    means = {row["rate"]: float(row["mean"]) for row in case.table("rates.tsv")}
    for label, state in enumerate(labels):
        assert (means[f"mutation_rate_{label}"], means[f"deletion_rate_{label}"]) == pytest.approx(rates[state])
    views = [view for view in ("mutation", "deletion", "total") if f"(--conserved-by {view})" in err]
    assert views == other_views and f"follow --conserved-by {key}" in err
    # Every column's mean rates (those of its state in each draw) do not depend on labels.
    assert sum((floats(row, "deletion_rate", "mutation_rate", "total_rate") for row in case.table("columns.tsv")),
               []) == pytest.approx([2.005, 0.55, 2.555, 0.255, 5.5, 5.755, 2.25, 5.05, 7.3])
    assert case.read_output("mutation_rate.wig").splitlines()[2:] == ["1 0.55", "2 5.5", "3 5.05"]
    assert case.read_output("deletion_rate.wig").splitlines()[2:] == ["1 2.005", "2 0.255", "3 2.25"]


def test_no_relabel_keeps_the_sampled_labels(case, run):
    case.modelled_data(3)
    case.write_run(3, DISAGREEING)
    out, _ = run("--no-relabel")
    assert "the sampled rate states were out of mutation-rate order in 1 of them (50%; not relabelled)" in out
    assert [floats(row, *STATES) for row in case.table("columns.tsv")] == [[1, 0, 0], [0, 1, 0], [0, 0, 1]]
    assert {row["rate"]: row["mean"] for row in case.table("rates.tsv")}["mutation_rate_0"] == "0.55"


def test_root_and_ancestor_posteriors(case, run):
    # Lines 2 and 4 of data.txt are not modelled: the three columns are input columns 1, 3 and 5.
    case.write_data([[1, 1], [0, 1], [2, 2], [5, 1], [3, 3]])
    # Two internal nodes; root values per column over four iterations:
    # column 0: A A A C, column 1: gap gap T T (tie: gap comes first), column 2: G always.
    # Node 1 is C, but absent (5: all leaves below it missing, written N) in column 1.
    roots = [(1, 0, 3), (1, 0, 3), (1, 4, 3), (2, 4, 3)]
    ancestors = [[[r[c], 5 if c == 1 else 2] for c in range(3)] for r in roots]
    case.write_run(3, [Iteration([0, 0, 0], ancestors=values) for values in ancestors[:2]])
    case.write_run(4, [Iteration([0, 0, 0], ancestors=values) for values in ancestors[2:]])
    run(seeds=(3, 4))
    rows = case.table("columns.tsv")
    root = ("p_root_gap", "p_root_A", "p_root_C", "p_root_G", "p_root_T")
    assert [floats(row, *root) for row in rows] == [[0, 0.75, 0.25, 0, 0], [0.5, 0, 0, 0, 0.5], [0, 0, 0, 1, 0]]
    assert [row["root_most_probable"] for row in rows] == ["A", "-", "G"]
    # One character per input column (N where nothing is modelled); the modelled columns round trip.
    full = case.read_output("ancestors.fasta").splitlines()
    assert full == [">node_0 root", "AN-NG", ">node_1", "CNNNC"]
    run("--modelled-only", seeds=(3, 4))
    modelled = [int(row["alignment_position"]) - 1 for row in rows]
    assert case.read_output("ancestors.fasta").splitlines() == [
        line if line.startswith(">") else "".join(line[p] for p in modelled) for line in full]
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
    case.write_text("sequences.tsv", "seq_id\tname\tleaf_label\n0\thuman\t2\n1\tchimp\t3\n2\tG. gorilla\t4\n")
    case.write_run(3, [Iteration([0, 0], ancestors=[[1, 2], [3, 4]])])
    run()
    titles = [line for line in case.read_output("ancestors.fasta").splitlines() if line.startswith(">")]
    assert titles == [">node_0 root ancestor of chimp,G. gorilla,human", ">node_1 ancestor of chimp,G. gorilla"]
    # The tree with the titles' node labels; a name with a blank is quoted.
    assert case.read_output("ancestors.nwk") == "((chimp:0.1,'G. gorilla':0.1)node_1:0.1,human:0.2)node_0;\n"
