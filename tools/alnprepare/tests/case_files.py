"""An independent reader of a prepared test case and a checker of the sampler's input rules.

Written from the sampler's reading rules, not from alnprepare's code, so that
the tests compare two separate accounts of the format.
"""

import collections
import os


def read_table(path):
    with open(path, encoding="utf-8") as handle:
        return [line.split() for line in handle.read().splitlines()]


def read_tsv(path):
    with open(path, encoding="utf-8") as handle:
        lines = handle.read().splitlines()
    header = lines[0].split("\t")
    return [dict(zip(header, line.split("\t"))) for line in lines[1:]]


def check_sampler_rules(data_dir):
    """Assert every rule the sampler puts on tree.txt, the leaf map and data.txt."""
    tree_rows = read_table(os.path.join(data_dir, "tree.txt"))
    parents = [int(row[0]) for row in tree_rows]
    children = [int(row[1]) for row in tree_rows]
    lengths = [float(row[2]) for row in tree_rows]
    assert all(len(row) == 3 for row in tree_rows)
    branches = len(tree_rows)
    assert branches >= 2 and branches % 2 == 0
    assert sorted(set(parents) | set(children)) == list(range(branches + 1))
    assert sorted(children) == list(range(1, branches + 1)), "a node has two parents"
    assert parents[0] == 0, "the root 0 must be the parent of the first row"
    assert all(length >= 0 and length != float("inf") for length in lengths)

    # Rebuild as the sampler does: a queue of internal nodes, two rows each.
    last_internal = max(parents)
    queue = collections.deque([0])
    row = 0
    while queue:
        parent = queue.popleft()
        for _ in range(2):
            assert parents[row] == parent, f"row {row + 1}: parents out of breadth-first order"
            if children[row] <= last_internal:
                queue.append(children[row])
            row += 1
    assert row == branches, "rows left over after the tree was built"
    internal = set(parents)
    assert internal == set(range(last_internal + 1)), "internal labels must come first"
    leaves = set(range(last_internal + 1, branches + 1))
    assert leaves == set(children) - internal

    map_rows = [list(map(int, row)) for row in read_table(os.path.join(data_dir, "map_from_leave_label_to_seq_id.txt"))]
    assert all(len(row) == 2 for row in map_rows)
    leaf_map = dict(map_rows)
    assert len(leaf_map) == len(map_rows), "a leaf label is listed twice"
    assert set(leaf_map) == leaves
    assert sorted(leaf_map.values()) == list(range(len(leaves)))

    data_rows = read_table(os.path.join(data_dir, "data.txt"))
    assert data_rows, "data.txt is empty"
    for number, values in enumerate(data_rows, start=1):
        assert len(values) == len(leaves), f"data.txt line {number}: wrong number of values"
        assert all(value in "012345" and len(value) == 1 for value in values), f"data.txt line {number}"
    return leaf_map


def read_nested_tree(data_dir):
    """The prepared tree as nested tuples: a leaf is (name, length), an inner node (children, length).

    Names come from sequences.tsv through the leaf map; the root has length None.
    """
    tree_rows = read_table(os.path.join(data_dir, "tree.txt"))
    leaf_map = {int(label): int(seq) for label, seq in read_table(os.path.join(data_dir, "map_from_leave_label_to_seq_id.txt"))}
    names = {int(row["seq_id"]): row["name"] for row in read_tsv(os.path.join(data_dir, "sequences.tsv"))}
    below = collections.defaultdict(list)
    length_of = {0: None}
    for parent, child, length in tree_rows:
        below[int(parent)].append(int(child))
        length_of[int(child)] = float(length)

    def build(label):
        if label in leaf_map:
            return (names[leaf_map[label]], length_of[label])
        return (tuple(build(child) for child in below[label]), length_of[label])

    return build(0)


def to_newick(node):
    content, length = node
    text = "(" + ",".join(to_newick(child) for child in content) + ")" if isinstance(content, tuple) else content
    return text if length is None else f"{text}:{length!r}"


def leaves_of(node):
    content, _ = node
    if isinstance(content, tuple):
        return frozenset().union(*(leaves_of(child) for child in content))
    return frozenset([content])


def splits(node):
    """Unrooted view: {leaf set on the side without the smallest name: total branch length}."""
    everything = leaves_of(node)
    anchor = min(everything)
    result = collections.defaultdict(float)

    def visit(current, is_root):
        content, length = current
        if not is_root:
            side = leaves_of(current)
            result[side if anchor not in side else everything - side] += length
        if isinstance(content, tuple):
            for child in content:
                visit(child, False)

    visit(node, True)
    return dict(result)


def root_to_leaf_depth(node):
    content, length = node
    own = length or 0.0
    if isinstance(content, tuple):
        return own + max(root_to_leaf_depth(child) for child in content)
    return own
