"""Tree rooting and the sampler's row layout, on random trees and on known ones."""

import random
import re

import pytest

from case_files import check_sampler_rules, is_inner, leaves_of, read_nested_tree, root_to_leaf_depth, splits, \
    to_newick


def random_length(rng):
    # Zero, whole, plain or tiny: lengths whose text must round-trip exactly.
    return rng.choice([0.0, float(rng.randrange(1, 4)), rng.uniform(0.0, 2.0), rng.uniform(1e-9, 1e-5)])


def random_tree(rng, n_leaves, rooted):
    """Nested tuples (see case_files) joining random pairs until 2 (rooted) or 3 subtrees remain."""
    names = [f"s{i}" for i in range(n_leaves)]
    rng.shuffle(names)
    pool = [(name, random_length(rng)) for name in names]
    while len(pool) > (2 if rooted or n_leaves < 3 else 3):
        first = pool.pop(rng.randrange(len(pool)))
        second = pool.pop(rng.randrange(len(pool)))
        pool.insert(rng.randrange(len(pool) + 1), ((first, second), random_length(rng)))
    return (tuple(pool), None)


def prepare(ws, tree, *extra):
    """Runs alnprepare on the tree (nested tuples or Newick text); returns the prepared tree."""
    newick = tree if isinstance(tree, str) else to_newick(tree) + ";"
    ws.run("".join(f">{name}\nACGTACGT\n" for name in re.findall(r"([a-z]\w*)(?=[:,)])", newick)), newick, *extra)
    check_sampler_rules(ws.data_dir())
    return read_nested_tree(ws.data_dir())


RANDOM_CASES = list(enumerate([2, 3, 4, 5, 7, 10, 16, 23, 31, 50, 50, 50]))


@pytest.mark.parametrize("seed,n_leaves", RANDOM_CASES)
def test_rooted_tree_round_trips_exactly(ws, seed, n_leaves):
    tree = random_tree(random.Random(seed), n_leaves, rooted=True)
    assert prepare(ws, tree) == tree


@pytest.mark.parametrize("seed,n_leaves", [case for case in RANDOM_CASES if case[1] >= 3])
@pytest.mark.parametrize("clade", [False, True])
def test_unrooted_tree_on_an_outgroup_keeps_splits(ws, seed, n_leaves, clade):
    rng = random.Random(1000 + seed)
    tree = random_tree(rng, n_leaves, rooted=False)
    inner = [child for child in tree[0] if is_inner(child)]
    outgroup = sorted(leaves_of(inner[0])) if clade and inner else [rng.choice(sorted(leaves_of(tree)))]
    rebuilt = prepare(ws, tree, "--outgroup", ",".join(outgroup))
    assert splits(rebuilt) == splits(tree)
    assert leaves_of(rebuilt[0][0]) == frozenset(outgroup)
    if len(outgroup) == 1:
        assert rebuilt[0][0][1] == rebuilt[0][1][1], "the root sits in the middle of the outgroup's branch"


def longest_path(tree):
    """Brute force over every pair of leaves: the sum of the splits that separate them."""
    cuts, leaves = splits(tree).items(), leaves_of(tree)
    return max(sum(length for side, length in cuts if (a in side) != (b in side)) for a in leaves for b in leaves)


@pytest.mark.parametrize("seed,n_leaves", RANDOM_CASES)
@pytest.mark.parametrize("rooted", [True, False])
def test_midpoint_root_halves_the_longest_path(ws, seed, n_leaves, rooted):
    tree = random_tree(random.Random(3000 + seed), n_leaves, rooted=rooted)
    rebuilt = prepare(ws, tree, "--midpoint")
    expected, got = splits(tree), splits(rebuilt)
    assert got.keys() == expected.keys()
    for side, length in expected.items():
        assert got[side] == pytest.approx(length, rel=1e-12, abs=1e-15)
    left, right = (root_to_leaf_depth(child) for child in rebuilt[0])
    assert left == pytest.approx(right, rel=1e-9, abs=1e-15)
    assert left + right == pytest.approx(longest_path(tree), rel=1e-9, abs=1e-15)


@pytest.mark.parametrize("newick,extra,expected", [
    # An outgroup already at the root keeps it; another one moves it.
    ("((a:1,b:2):0.5,c:0.25);", ["--outgroup", "c"], "(c:0.25,(a:1.0,b:2.0):0.5);"),
    ("((a:1,b:2):0.5,(c:0.25,d:4):0.5);", ["--outgroup", "d"], "(d:2.0,((a:1.0,b:2.0):1.0,c:0.25):2.0);"),
    # The longest path a..d (4) has its middle on the node above a and b: a zero branch.
    ("((a:2,b:1):0,c:1,d:2);", ["--midpoint"], "(d:2.0,((a:2.0,b:1.0):0.0,c:1.0):0.0);"),
    ("((a:1,b):0.5,c);", ["--missing-length", "0.25"], "((a:1.0,b:0.25):0.5,c:0.25);"),
])
def test_rooting_of_known_trees(ws, newick, extra, expected):
    assert to_newick(prepare(ws, newick, *extra)) + ";" == expected


def test_labels_and_rows_of_a_known_tree(ws):
    # Internal nodes in breadth-first order: root, (a,(b,c)), (d,e), (b,c).
    prepare(ws, "((a:1,(b:2,c:3):4):5,(d:6,e:7):8);")
    with open(ws.data_dir() + "/tree.txt") as handle:
        assert handle.read() == "0 1 5.0\n0 2 8.0\n1 4 1.0\n1 3 4.0\n2 5 6.0\n2 6 7.0\n3 7 2.0\n3 8 3.0\n"
    with open(ws.data_dir() + "/map_from_leave_label_to_seq_id.txt") as handle:
        assert handle.read() == "4 0\n5 3\n6 4\n7 1\n8 2\n"
