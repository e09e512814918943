"""The Newick tree: reading, checking, rooting and the sampler's layout.

The tree is held as Biopython's Phylo tree (clades with a name, a branch
length and a list of children) and rooted with Biopython's own rerooting.
Walks over the tree here are iterative, so that a deep (ladder-like) tree
does not run into Python's recursion limit.
"""

import collections
import io
import math
import re

from alncommon.case import ToolError, listing, plural, read_text


def preorder(clade):
    """Clades in pre-order (a clade before its subtrees, first child first)."""
    stack = [clade]
    while stack:
        node = stack.pop()
        yield node
        stack.extend(reversed(node.clades))


def leaves(clade):
    return [node for node in preorder(clade) if not node.clades]


def leaf_names(clade):
    return [leaf.name for leaf in leaves(clade)]


def describe(node):
    """A short name of a node for messages."""
    if not node.clades:
        return f"leaf {node.name!r}"
    names = leaf_names(node)
    shown = ", ".join(repr(name) for name in names[:3])
    if len(names) > 3:
        shown += f", ... ({len(names)} leaves)"
    label = f" {node.name!r}" if node.name else ""
    return f"internal node{label} above {shown}"


# ---------------------------------------------------------------------------
# Reading
# ---------------------------------------------------------------------------

# A branch length as Newick writes it; Biopython would silently take any other
# text after a colon (nan, a typo) as a node name.
_NUMBER = re.compile(r"[+-]?(\d+\.?\d*|\.\d+)([eE][+-]?\d+)?")
_LENGTH_TOKEN = re.compile(r"\s*([^\s,;()\[\]]*)")


def check_length_tokens(text, path):
    """Every ':' outside quotes and comments must be followed by a decimal number."""
    position, size = 0, len(text)
    while position < size:
        character = text[position]
        if character == "'":
            position = _end_of_quoted_label(text, position) + 1
        elif character == "[":
            closing = text.find("]", position)
            position = size if closing < 0 else closing + 1
        elif character == ":":
            match = _LENGTH_TOKEN.match(text, position + 1)
            if not _NUMBER.fullmatch(match.group(1)):
                line = text.count("\n", 0, position) + 1
                raise ToolError(f"tree {path} line {line}: branch length {match.group(1)!r} is not a number")
            position = match.end()
        else:
            position += 1


def _end_of_quoted_label(text, opening):
    """Index of the quote closing the label opened at `opening` ('' stands for a quote)."""
    position = opening + 1
    while position < len(text):
        if text[position] == "'":
            if text[position + 1 : position + 2] != "'":
                return position
            position += 1
        position += 1
    return len(text)


def read_tree(path):
    """Read a single Newick tree with Biopython."""
    text = read_text(path, "tree file")
    check_length_tokens(text, path)
    from Bio import Phylo

    try:
        trees = list(Phylo.parse(io.StringIO(text), "newick"))
    except Exception as error:  # NewickError and the parser's ValueErrors
        raise ToolError(f"cannot read Newick tree {path}: {error}") from None
    if not trees:
        raise ToolError(f"tree file {path} holds no tree")
    if len(trees) > 1:
        raise ToolError(f"tree file {path} holds {len(trees)} trees; give exactly one")
    return trees[0]


# ---------------------------------------------------------------------------
# Checks
# ---------------------------------------------------------------------------


def check_tree(tree, path, missing_length=None):
    """Check names, branch lengths and shape; returns warnings.

    Fills absent branch lengths with `missing_length` when it is given.  The
    root's own length is dropped: the sampler has no branch above the root.
    """
    root = tree.root
    tips = leaves(root)
    unnamed = [number for number, leaf in enumerate(tips, start=1) if not leaf.name]
    if unnamed:
        raise ToolError(
            f"tree {path}: leaves without a name (leaf number {', '.join(map(str, unnamed))} counting from the left)"
        )
    counts = collections.Counter(leaf.name for leaf in tips)
    duplicated = [name for name in counts if counts[name] > 1]
    if duplicated:
        raise ToolError(f"tree {path}: duplicated leaf names {listing(duplicated)}")
    if len(tips) < 2:
        raise ToolError(f"tree {path} has a single leaf; the sampler needs at least two")
    root.branch_length = None
    warnings = _check_lengths(root, path, missing_length)
    _check_shape(root, path)
    return warnings


def _check_lengths(root, path, missing_length):
    branches = [node for node in preorder(root) if node is not root]
    missing = [node for node in branches if node.branch_length is None]
    if missing and missing_length is None:
        raise ToolError(
            f"tree {path}: {plural(len(missing), 'branch')} without a length, above "
            + "; ".join(describe(node) for node in missing[:5])
            + ("; ..." if len(missing) > 5 else "")
            + " (give every branch a length, or set one with --missing-length)"
        )
    for node in missing:
        node.branch_length = missing_length
    for node in branches:
        if not math.isfinite(node.branch_length) or node.branch_length < 0:
            raise ToolError(
                f"tree {path}: branch above {describe(node)} has length {node.branch_length!r};"
                " lengths must be finite and at least 0"
            )
        node.branch_length = float(node.branch_length) + 0.0  # no negative zero in the output
    if all(node.branch_length == 0 for node in branches):
        # Zero-length branches carry no event, so on such a tree no column
        # could differ from its root; nor has it a longest path to halve.
        raise ToolError(
            f"tree {path}: every branch has length 0, so no event can happen on it (and --midpoint has"
            " no middle to find); give the branches their lengths"
        )
    if missing:
        return [f"{plural(len(missing), 'branch')} without a length in {path} set to {missing_length!r}"]
    return []


# The branch lengths the sampler accepts: 0, or 1e-100 to 1e100 with every
# positive length of the tree within a factor 1e12 of the others.
SMALLEST_LENGTH, LARGEST_LENGTH, LENGTH_SPREAD = 1e-100, 1e100, 1e12


def check_sampler_lengths(tree, path):
    """Refuse, naming the branch, a tree (as written, after rooting and pruning) whose lengths the sampler
    would refuse."""
    branches = [node for node in preorder(tree.root) if node is not tree.root]
    positive = [node for node in branches if node.branch_length > 0]
    for node in positive:
        if not SMALLEST_LENGTH <= node.branch_length <= LARGEST_LENGTH:
            raise ToolError(f"tree {path}: branch above {describe(node)} has length {node.branch_length!r}; the"
                            f" sampler takes lengths of 0 or {SMALLEST_LENGTH:g} to {LARGEST_LENGTH:g}")
    if not positive:
        raise ToolError(f"tree {path}: every branch of the tree as written has length 0, so no event can happen"
                        " on it")
    shortest = min(positive, key=lambda node: node.branch_length)
    longest = max(positive, key=lambda node: node.branch_length)
    if longest.branch_length > LENGTH_SPREAD * shortest.branch_length:
        raise ToolError(f"tree {path}: the branch above {describe(longest)} ({longest.branch_length!r}) is more than"
                        f" {LENGTH_SPREAD:g} times the one above {describe(shortest)} ({shortest.branch_length!r});"
                        " the sampler needs the positive lengths of a tree within that factor of each other")


def _check_shape(root, path):
    bad = []
    for node in preorder(root):
        count = len(node.clades)
        if count == 1:
            bad.append(f"{describe(node)} has a single child")
        elif count > 3 or (count == 3 and node is not root):
            bad.append(f"{describe(node)} has {count} children")
    if bad:
        raise ToolError(
            f"tree {path} is not binary: " + "; ".join(bad[:5])
            + ("; ..." if len(bad) > 5 else "")
            + " (the sampler needs every internal node to have exactly two children;"
            " resolve polytomies, e.g. with branches of length 0)"
        )


def match_leaves(names_in_tree, names, tree_path, alignment_path, extra_leaves=False):
    """Fail, naming them, on leaves without a sequence and sequences without a leaf.

    With `extra_leaves`, leaves without a sequence are allowed (the tree is
    pruned to the alignment afterwards)."""
    in_tree, in_alignment = set(names_in_tree), set(names)
    leaves_only = [name for name in names_in_tree if name not in in_alignment]
    if extra_leaves and not any(name not in in_tree for name in names):
        return
    sequences_only = [name for name in names if name not in in_tree]
    if not leaves_only and not sequences_only:
        return
    parts = []
    if leaves_only:
        parts.append(f"leaves of {tree_path} without a sequence in {alignment_path}: {listing(leaves_only)}")
    if sequences_only:
        parts.append(f"sequences of {alignment_path} without a leaf in {tree_path}: {listing(sequences_only)}")
    message = "; ".join(parts)
    near = _near_misses(leaves_only, sequences_only)
    if near:
        message += f" (names differ only in case or '_' against ' ': {', '.join(near)})"
    raise ToolError(message)


def _near_misses(leaves_only, sequences_only):
    def folded(name):
        return name.replace("_", " ").casefold()

    by_fold = {folded(name): name for name in sequences_only}
    return [f"{leaf!r} ~ {by_fold[folded(leaf)]!r}" for leaf in leaves_only if folded(leaf) in by_fold]


def prune_to(tree, names):
    """Remove the leaves not in `names`; returns their names, in tree order.

    Biopython's pruning removes a leaf and merges a parent left with one
    child into that child, adding the lengths of the two branches, so the
    path lengths between the remaining leaves stay as they were.  A root left
    with one child gives way to it.  Pruned after rooting, the root stays on
    the path where the rooting put it.
    """
    wanted = set(names)
    removed = [leaf for leaf in leaves(tree.root) if leaf.name not in wanted]
    for leaf in removed:
        tree.prune(leaf)
    return [leaf.name for leaf in removed]


# ---------------------------------------------------------------------------
# Rooting
# ---------------------------------------------------------------------------


def root_tree(tree, path, outgroup=None, midpoint=False):
    """Root the tree in place; returns a note on how it was rooted."""
    if outgroup:
        return root_on_outgroup(tree, outgroup, path)
    if midpoint:
        return root_at_midpoint(tree)
    if len(tree.root.clades) != 2:
        raise ToolError(
            f"tree {path} is unrooted: its root has three children ("
            + "; ".join(describe(child) for child in tree.root.clades)
            + "); root it with --outgroup NAME or --midpoint"
        )
    return "rooted as given"


def root_on_branch(tree, clade, clade_side=None, clade_first=True):
    """Root on the branch above `clade`, seen unrooted (a two-child root is one branch).

    `clade_side` is the part of that branch that stays above the clade
    (default: half).  Biopython's rerooting with a zero outgroup branch puts
    the whole branch on the other side; it is then shared out here.
    """
    tree.root_with_outgroup(clade, outgroup_branch_length=0.0)
    other = next(child for child in tree.root.clades if child is not clade)
    length = other.branch_length
    near = length / 2 if clade_side is None else min(max(clade_side, 0.0), length)
    clade.branch_length, other.branch_length = near, length - near
    tree.root.clades = [clade, other] if clade_first else [other, clade]


def root_on_outgroup(tree, outgroup, path):
    """Root on the middle of the branch above the outgroup clade, outgroup first.

    A tree already rooted between the outgroup and the rest keeps its root.
    """
    names = set(leaf_names(tree.root))
    unknown = [name for name in outgroup if name not in names]
    if unknown:
        raise ToolError(f"--outgroup: {listing(unknown)} not among the leaves of tree {path}")
    wanted = set(outgroup)
    if wanted == names:
        raise ToolError("--outgroup names every leaf of the tree; leave some out")
    root = tree.root
    if len(root.clades) == 2:
        for side, other in ((0, 1), (1, 0)):
            if set(leaf_names(root.clades[side])) == wanted:
                root.clades = [root.clades[side], root.clades[other]]
                return "kept its root, which already separates the outgroup"
    clade, is_outgroup = _split_clade(root, wanted)
    if clade is None:
        raise ToolError(
            f"--outgroup {listing(outgroup)} is not a clade of tree {path}:"
            " no branch separates exactly these leaves from the others"
        )
    root_on_branch(tree, clade, clade_first=is_outgroup)
    return f"rooted on the middle of the branch above the outgroup {listing(outgroup)}"


def _split_clade(root, wanted):
    """(clade, True) for a clade holding exactly the wanted leaves, (clade, False) for
    one holding exactly the others, (None, None) when no branch separates them."""
    order = list(preorder(root))
    inside, below = collections.Counter(), collections.Counter()
    parent = {id(child): node for node in order for child in node.clades}
    for node in reversed(order):
        if not node.clades:
            below[id(node)] = 1
            inside[id(node)] = node.name in wanted
        if node is not root:
            below[id(parent[id(node)])] += below[id(node)]
            inside[id(parent[id(node)])] += inside[id(node)]
    others = below[id(root)] - len(wanted)
    for node in order[1:]:
        if inside[id(node)] == below[id(node)] == len(wanted):
            return node, True
        if inside[id(node)] == 0 and below[id(node)] == others:
            return node, False
    return None, None


def root_at_midpoint(tree):
    """Root at the middle of the longest leaf-to-leaf path.

    Two sweeps find that path's ends (the leaf farthest from any leaf is an
    end; the leaf farthest from it is the other).  Every longest path of a
    tree has the same middle, so ties do not matter.  The side of the first
    end comes first.
    """
    first_end = _farthest_leaf(tree, leaves(tree.root)[0])
    second_end = _farthest_leaf(tree, first_end)
    depth = tree.depths()
    half = depth[second_end] / 2
    for node in tree.get_path(second_end):
        if depth[node] >= half:
            root_on_branch(tree, node, depth[node] - half, clade_first=False)
            return "rooted at the midpoint"
    raise AssertionError("the longest path has no middle")


def _farthest_leaf(tree, start):
    """Roots the tree at `start` (length 0 above it) and returns the leaf farthest from it."""
    tree.root_with_outgroup(start, outgroup_branch_length=0.0)
    depth = tree.depths()
    best = None
    for leaf in leaves(tree.root):
        if best is None or depth[leaf] > depth[best]:
            best = leaf
    return best


# ---------------------------------------------------------------------------
# The sampler's layout
# ---------------------------------------------------------------------------


def label_tree(root):
    """The sampler's branch rows and the label of every leaf.

    The root is label 0.  Internal nodes are labelled in breadth-first order,
    so they take 0 .. (internal nodes - 1), and leaves follow in the order
    breadth-first search meets them, so every leaf label lies above every
    internal one.  Rows come in pairs, one per internal node in the same
    breadth-first order, left child first: exactly the order in which the
    sampler rebuilds the tree from a queue.
    Returns ([(parent, child, length)], {leaf name: label}).
    """
    internal = [root]
    labels = {id(root): 0}
    found = []
    for node in internal:  # the list grows while it is walked: a queue
        for child in node.clades:
            if child.clades:
                labels[id(child)] = len(internal)
                internal.append(child)
            else:
                found.append(child)
    for offset, leaf in enumerate(found):
        labels[id(leaf)] = len(internal) + offset
    rows = [(labels[id(node)], labels[id(child)], child.branch_length) for node in internal for child in node.clades]
    return rows, {leaf.name: labels[id(leaf)] for leaf in found}
