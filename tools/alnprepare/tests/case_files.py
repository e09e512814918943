"""A reader of prepared cases and a checker of the sampler's input rules, written from those rules, not
from alnprepare's code. A tree is nested tuples: a leaf (name, length), an inner node (children, length)."""

import collections
import os


def read_table(path):
    with open(path, encoding="utf-8") as handle:
        return [line.split() for line in handle.read().splitlines()]


def read_tsv(path):
    with open(path, encoding="utf-8") as handle:
        lines = handle.read().splitlines()
    return [dict(zip(lines[0].split("\t"), line.split("\t"))) for line in lines[1:]]


def read_leaf_map(data_dir):
    return [(int(label), int(seq)) for label, seq in read_table(os.path.join(data_dir, "map_from_leave_label_to_seq_id.txt"))]


def check_sampler_rules(data_dir):
    """Assert every rule the sampler puts on tree.txt, the leaf map and data.txt."""
    tree_rows = read_table(os.path.join(data_dir, "tree.txt"))
    assert all(len(row) == 3 for row in tree_rows)
    parents, children = [int(row[0]) for row in tree_rows], [int(row[1]) for row in tree_rows]
    assert all(0 <= float(row[2]) < float("inf") for row in tree_rows)
    branches = len(tree_rows)
    assert branches >= 2 and branches % 2 == 0
    assert sorted(children) == list(range(1, branches + 1)), "a node has two parents, or a label is missing"
    # Rebuild as the sampler does: a queue of internal nodes, two rows each,
    # internal labels first.
    last_internal = max(parents)
    assert set(parents) == set(range(last_internal + 1)), "internal labels must come first"
    queue, row = collections.deque([0]), 0
    while queue:
        parent = queue.popleft()
        for _ in range(2):
            assert parents[row] == parent, f"row {row + 1}: parents out of breadth-first order"
            if children[row] <= last_internal:
                queue.append(children[row])
            row += 1
    assert row == branches, "rows left over after the tree was built"
    leaves = set(range(last_internal + 1, branches + 1))

    map_rows = read_leaf_map(data_dir)
    leaf_map = dict(map_rows)
    assert len(leaf_map) == len(map_rows), "a leaf label is listed twice"
    assert set(leaf_map) == leaves
    assert sorted(leaf_map.values()) == list(range(len(leaves)))

    data_rows = read_table(os.path.join(data_dir, "data.txt"))
    assert data_rows, "data.txt is empty"
    for number, values in enumerate(data_rows, start=1):
        assert len(values) == len(leaves) and all(v in "012345" and len(v) == 1 for v in values), f"data.txt line {number}"
    return leaf_map


def read_nested_tree(data_dir):
    """The prepared tree, leaves named from sequences.tsv through the leaf map."""
    leaf_map = dict(read_leaf_map(data_dir))
    names = {int(row["seq_id"]): row["name"] for row in read_tsv(os.path.join(data_dir, "sequences.tsv"))}
    below, length_of = collections.defaultdict(list), {0: None}
    for parent, child, length in read_table(os.path.join(data_dir, "tree.txt")):
        below[int(parent)].append(int(child))
        length_of[int(child)] = float(length)

    def build(label):
        if label in leaf_map:
            return (names[leaf_map[label]], length_of[label])
        return (tuple(build(child) for child in below[label]), length_of[label])

    return build(0)


def is_inner(node):
    return isinstance(node[0], tuple)


def to_newick(node):
    content, length = node
    text = "(" + ",".join(to_newick(child) for child in content) + ")" if is_inner(node) else content
    return text if length is None else f"{text}:{length!r}"


def leaves_of(node):
    return frozenset().union(*map(leaves_of, node[0])) if is_inner(node) else frozenset([node[0]])


def splits(node):
    """Unrooted view: {leaf set on the side without the smallest name: total branch length}."""
    everything = leaves_of(node)
    result = collections.defaultdict(float)

    def visit(current):
        for child in current[0] if is_inner(current) else ():
            side = leaves_of(child)
            result[side if min(everything) not in side else everything - side] += child[1]
            visit(child)

    visit(node)
    return dict(result)


def root_to_leaf_depth(node):
    own = node[1] or 0.0
    return own + max(map(root_to_leaf_depth, node[0])) if is_inner(node) else own
