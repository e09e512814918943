"""Tree rooting and the sampler's row layout, on random trees."""

import io
import random

import pytest
from Bio import Phylo

from case_files import check_sampler_rules, leaves_of, read_nested_tree, root_to_leaf_depth, splits, to_newick


def random_length(rng):
    kind = rng.randrange(4)
    if kind == 0:
        return 0.0
    if kind == 1:
        return float(rng.randrange(1, 4))
    if kind == 2:
        return rng.uniform(0.0, 2.0)
    return rng.uniform(1e-9, 1e-5)


def random_tree(rng, n_leaves, rooted):
    """Nested tuples (see case_files) joining random pairs until 2 (rooted) or 3 subtrees remain."""
    names = [f"s{i}" for i in range(n_leaves)]
    rng.shuffle(names)
    pool = [(name, random_length(rng)) for name in names]
    top = 2 if rooted or n_leaves < 3 else 3
    while len(pool) > top:
        first = pool.pop(rng.randrange(len(pool)))
        second = pool.pop(rng.randrange(len(pool)))
        pool.insert(rng.randrange(len(pool) + 1), ((first, second), random_length(rng)))
    return (tuple(pool), None)


def fasta_for(names, n_columns=6):
    return "".join(f">{name}\n{'ACGT' * 2}{'A' * (n_columns - 8) if n_columns > 8 else ''}\n" for name in names)


def parsed_nested(newick):
    """The input tree as Biopython reads it, in the nested form of case_files."""

    def convert(clade, is_root):
        length = None if is_root else clade.branch_length
        if clade.clades:
            return (tuple(convert(child, False) for child in clade.clades), length)
        return (clade.name, length)

    return convert(Phylo.read(io.StringIO(newick), "newick").root, True)


RANDOM_CASES = [(seed, n) for seed, n in enumerate([2, 3, 4, 5, 7, 10, 16, 23, 31, 50, 50, 50])]


@pytest.mark.parametrize("seed,n_leaves", RANDOM_CASES)
def test_rooted_tree_round_trips_exactly(ws, seed, n_leaves):
    rng = random.Random(seed)
    tree = random_tree(rng, n_leaves, rooted=True)
    newick = to_newick(tree) + ";"
    status, _, err = ws.run(fasta_for(sorted(leaves_of(tree))), newick)
    assert status == 0, err
    check_sampler_rules(ws.data_dir())
    rebuilt = read_nested_tree(ws.data_dir())
    assert rebuilt == parsed_nested(newick)
    assert to_newick(rebuilt) + ";" == newick


@pytest.mark.parametrize("seed,n_leaves", [case for case in RANDOM_CASES if case[1] >= 3])
def test_unrooted_tree_on_outgroup_keeps_splits(ws, seed, n_leaves):
    rng = random.Random(1000 + seed)
    tree = random_tree(rng, n_leaves, rooted=False)
    outgroup = rng.choice(sorted(leaves_of(tree)))
    status, _, err = ws.run(fasta_for(sorted(leaves_of(tree))), to_newick(tree) + ";", "--outgroup", outgroup)
    assert status == 0, err
    check_sampler_rules(ws.data_dir())
    rebuilt = read_nested_tree(ws.data_dir())
    assert splits(rebuilt) == splits(tree)
    first, second = rebuilt[0]
    assert first[0] == outgroup
    assert first[1] == second[1], "the root sits in the middle of the outgroup's branch"


@pytest.mark.parametrize("seed,n_leaves", [case for case in RANDOM_CASES if case[1] >= 4])
def test_outgroup_clade_of_several_leaves(ws, seed, n_leaves):
    rng = random.Random(2000 + seed)
    tree = random_tree(rng, n_leaves, rooted=False)
    clade = next(child for child in tree[0] if isinstance(child[0], tuple))
    outgroup = sorted(leaves_of(clade))
    status, _, err = ws.run(fasta_for(sorted(leaves_of(tree))), to_newick(tree) + ";", "--outgroup", ",".join(outgroup))
    assert status == 0, err
    rebuilt = read_nested_tree(ws.data_dir())
    assert leaves_of(rebuilt[0][0]) == frozenset(outgroup)
    assert splits(rebuilt) == splits(tree)


@pytest.mark.parametrize("seed,n_leaves", RANDOM_CASES)
@pytest.mark.parametrize("rooted", [True, False])
def test_midpoint_root_halves_the_longest_path(ws, seed, n_leaves, rooted):
    rng = random.Random(3000 + seed)
    tree = random_tree(rng, n_leaves, rooted=rooted)
    status, _, err = ws.run(fasta_for(sorted(leaves_of(tree))), to_newick(tree) + ";", "--midpoint")
    assert status == 0, err
    check_sampler_rules(ws.data_dir())
    rebuilt = read_nested_tree(ws.data_dir())
    expected = splits(tree)
    got = splits(rebuilt)
    assert got.keys() == expected.keys()
    for side, length in expected.items():
        assert got[side] == pytest.approx(length, rel=1e-12, abs=1e-15)
    left, right = (root_to_leaf_depth(child) for child in rebuilt[0])
    assert left == pytest.approx(right, rel=1e-9, abs=1e-15)
    assert left + right == pytest.approx(longest_path(tree), rel=1e-9, abs=1e-15)


def longest_path(tree):
    """Brute force over every pair of leaves."""
    distances = {}

    def depths(node, depth):
        content, length = node
        here = depth + (length or 0.0)
        if isinstance(content, tuple):
            for child in content:
                depths(child, here)
        else:
            distances[content] = here

    depths(tree, 0.0)
    best = 0.0
    for a in distances:
        for b in distances:
            if a < b:
                best = max(best, _distance(tree, a, b))
    return best


def _distance(tree, a, b):
    def path_to(node, name):
        content, length = node
        if isinstance(content, tuple):
            for child in content:
                found = path_to(child, name)
                if found is not None:
                    return [node] + found
            return None
        return [node] if content == name else None

    path_a, path_b = path_to(tree, a), path_to(tree, b)
    shared = 0
    while shared < min(len(path_a), len(path_b)) and path_a[shared] is path_b[shared]:
        shared += 1
    return sum(node[1] for node in path_a[shared:]) + sum(node[1] for node in path_b[shared:])


def test_rooted_tree_with_outgroup_already_at_the_root_is_kept(ws):
    newick = "((a:1,b:2):0.5,c:0.25);"
    status, out, err = ws.run(fasta_for("abc"), newick, "--outgroup", "c")
    assert status == 0, err
    assert "kept its root" in out
    assert to_newick(read_nested_tree(ws.data_dir())) + ";" == "(c:0.25,(a:1.0,b:2.0):0.5);"


def test_rooted_tree_is_rerooted_on_a_new_outgroup(ws):
    status, out, err = ws.run(fasta_for("abcd"), "((a:1,b:2):0.5,(c:0.25,d:4):0.5);", "--outgroup", "d")
    assert status == 0, err
    assert to_newick(read_nested_tree(ws.data_dir())) + ";" == "(d:2.0,((a:1.0,b:2.0):1.0,c:0.25):2.0);"


def test_labels_and_rows_of_a_known_tree(ws):
    # Internal nodes in breadth-first order: root, (a,(b,c)), (d,e), (b,c).
    status, _, err = ws.run(fasta_for("abcde"), "((a:1,(b:2,c:3):4):5,(d:6,e:7):8);")
    assert status == 0, err
    with open(ws.data_dir() + "/tree.txt") as handle:
        assert handle.read() == "0 1 5.0\n0 2 8.0\n1 4 1.0\n1 3 4.0\n2 5 6.0\n2 6 7.0\n3 7 2.0\n3 8 3.0\n"
    with open(ws.data_dir() + "/map_from_leave_label_to_seq_id.txt") as handle:
        assert handle.read() == "4 0\n5 3\n6 4\n7 1\n8 2\n"


def test_midpoint_on_a_node_gives_a_zero_branch(ws):
    # The longest path a..d has length 4 and its middle is the node above a and b.
    status, _, err = ws.run(fasta_for("abcd"), "((a:2,b:1):0,c:1,d:2);", "--midpoint")
    assert status == 0, err
    rebuilt = read_nested_tree(ws.data_dir())
    assert sorted(child[1] for child in rebuilt[0])[0] == 0.0
    assert [root_to_leaf_depth(child) for child in rebuilt[0]] == [2.0, 2.0]


def test_lengths_are_written_to_round_trip(ws, ap):
    lengths = [0.1, 1 / 3, 1e-300, 123456789.125, 0.0]
    newick = "(((a:%r,b:%r):%r,c:%r):%r,d:1);" % tuple(lengths)
    status, _, err = ws.run(fasta_for("abcd"), newick)
    assert status == 0, err
    with open(ws.data_dir() + "/tree.txt") as handle:
        written = sorted(float(line.split()[2]) for line in handle)
    assert written == sorted(lengths + [1.0])
