#!/usr/bin/python3
"""Prepare an alignment and a Newick tree as an alnsampler test case.

alnsampler reads a test case from ROOT/data/NAME/ and writes its traces to
ROOT/results/NAME/.  This command turns a DNA/RNA alignment (FASTA, PHYLIP,
NEXUS, Clustal or Stockholm) and a Newick tree into the three input files the
sampler expects, plus two small tables that map the sampler's numbers back to
the user's own names and coordinates:

  ROOT/data/NAME/tree.txt                           parent child length
  ROOT/data/NAME/map_from_leave_label_to_seq_id.txt leaf_label seq_id
  ROOT/data/NAME/data.txt                           one line per alignment column
  ROOT/data/NAME/columns.tsv                        modelled column -> positions
  ROOT/data/NAME/sequences.tsv                      seq_id -> name, leaf label

The sampler needs a rooted, full binary tree whose labels follow a fixed
breadth-first layout (see label_tree), and sequence 0 is the reference that
decides which columns are modelled.
"""

import argparse
import collections
import io
import math
import os
import re
import shlex
import sys

PROGRAM = "alnprepare"

DATA_FILE = "data.txt"
TREE_FILE = "tree.txt"
LEAF_MAP_FILE = "map_from_leave_label_to_seq_id.txt"
COLUMNS_FILE = "columns.tsv"
SEQUENCES_FILE = "sequences.tsv"
CASE_FILES = (TREE_FILE, LEAF_MAP_FILE, DATA_FILE, COLUMNS_FILE, SEQUENCES_FILE)

# The sampler's default number of segments (-k 4) needs at least five columns.
SAMPLER_DEFAULT_K_MAX = 4

# Cell values of the sampler: 0 empty, 1..4 residues, 5 absent.
EMPTY, ABSENT = 0, 5
RESIDUE_VALUES = {"A": 1, "C": 2, "G": 3, "T": 4, "U": 4}
GAP_CHARACTERS = "-."
# Unknown or ambiguous positions take no part in the column (absent).
AMBIGUITY_CHARACTERS = "RYSWKMBDHV"
MISSING_CHARACTERS = "N?X" + AMBIGUITY_CHARACTERS
# Letters that occur in amino-acid codes but in no nucleotide code.
PROTEIN_ONLY_CHARACTERS = "EFILPQJOZ*"

# User-facing format name -> Biopython format name.
ALIGNMENT_FORMATS = {
    "fasta": "fasta",
    "phylip": "phylip-relaxed",
    "phylip-strict": "phylip",
    "nexus": "nexus",
    "clustal": "clustal",
    "stockholm": "stockholm",
}


class PrepareError(Exception):
    """A fault in the user's input or output location; the message is shown as is."""


def _value_table():
    """str.translate table from every accepted character to its one-digit value."""
    table = {}
    for residue, value in RESIDUE_VALUES.items():
        table[residue] = str(value)
    for gap in GAP_CHARACTERS:
        table[gap] = str(EMPTY)
    for missing in MISSING_CHARACTERS:
        table[missing] = str(ABSENT)
    for character in list(table):
        table[character.lower()] = table[character]
    return str.maketrans(table)


VALUE_TABLE = _value_table()


def code_character(character):
    """Sampler value of one alignment character; PrepareError for a non-nucleotide one."""
    coded = character.translate(VALUE_TABLE)
    if len(character) != 1 or coded == character:
        raise PrepareError(f"{character!r} is not a nucleotide, gap or missing-data code")
    return int(coded)


def _plural(count, word):
    if count == 1:
        return f"{count} {word}"
    return f"{count} {word}es" if word.endswith("ch") else f"{count} {word}s"


def _listing(items, limit=8):
    """Quoted, comma-separated names, shortened after `limit` entries."""
    quoted = [repr(str(item)) for item in items]
    if len(quoted) > limit:
        return ", ".join(quoted[:limit]) + f", ... ({len(quoted)} in all)"
    return ", ".join(quoted)


def _read_text(path, what):
    try:
        with open(path, encoding="utf-8") as handle:
            return handle.read()
    except FileNotFoundError:
        raise PrepareError(f"{what} file {path} does not exist") from None
    except IsADirectoryError:
        raise PrepareError(f"{what} file {path} is a directory") from None
    except UnicodeDecodeError as error:
        raise PrepareError(f"{what} file {path} is not text: {error}") from None
    except OSError as error:
        raise PrepareError(f"cannot read {what} file {path}: {error.strerror}") from None


# ---------------------------------------------------------------------------
# Alignment
# ---------------------------------------------------------------------------


class Alignment:
    """Sequence names and their aligned rows (upper case), in file order."""

    def __init__(self, names, rows):
        self.names = names
        self.rows = rows

    @property
    def n_columns(self):
        return len(self.rows[0]) if self.rows else 0


def read_alignment(path, format_name):
    """Read an alignment with Biopython; checks names, lengths and the alphabet."""
    text = _read_text(path, "alignment")
    if format_name == "fasta":
        _check_fasta_start(text, path)
    from Bio import SeqIO

    try:
        records = list(SeqIO.parse(io.StringIO(text), ALIGNMENT_FORMATS[format_name]))
    except Exception as error:  # Biopython's readers raise many kinds of errors
        raise PrepareError(
            f"cannot read alignment {path} as {format_name}: {error}{_format_hint(format_name)}"
        ) from None
    if not records:
        raise PrepareError(
            f"alignment {path} holds no sequence when read as {format_name}"
            " (choose the format with --format)"
        )
    alignment = Alignment(
        [record.id for record in records], [str(record.seq).upper() for record in records]
    )
    _check_names(alignment, path)
    _check_lengths(alignment, path)
    _check_alphabet(alignment, path, format_name)
    return alignment


def _check_fasta_start(text, path):
    for number, line in enumerate(text.splitlines(), start=1):
        if line.strip():
            if not line.startswith(">"):
                raise PrepareError(
                    f"alignment {path} line {number} does not start with '>': not FASTA"
                    " (choose the format with --format)"
                )
            return


def _check_names(alignment, path):
    counts = collections.Counter(alignment.names)
    duplicated = [name for name in counts if counts[name] > 1]
    if duplicated:
        raise PrepareError(f"alignment {path}: duplicated sequence names {_listing(duplicated)}")
    for name in alignment.names:
        if not name:
            raise PrepareError(f"alignment {path}: a sequence has an empty name")
        if "\t" in name or "\n" in name:
            raise PrepareError(f"alignment {path}: sequence name {name!r} holds a tab or line end")
    if len(alignment.names) < 2:
        raise PrepareError(
            f"alignment {path} holds a single sequence ({alignment.names[0]!r});"
            " the sampler needs at least two"
        )


def _check_lengths(alignment, path):
    expected = len(alignment.rows[0])
    uneven = [
        f"{name!r} has {len(row)}"
        for name, row in zip(alignment.names, alignment.rows)
        if len(row) != expected
    ]
    if uneven:
        shown = ", ".join(uneven[:8]) + (", ..." if len(uneven) > 8 else "")
        raise PrepareError(
            f"alignment {path}: sequences of unequal length: the first sequence"
            f" {alignment.names[0]!r} has {expected} columns, {shown}"
        )
    if expected == 0:
        raise PrepareError(f"alignment {path} has no columns")


def _check_alphabet(alignment, path, format_name):
    accepted = set(RESIDUE_VALUES) | set(GAP_CHARACTERS) | set(MISSING_CHARACTERS)
    for name, row in zip(alignment.names, alignment.rows):
        foreign = set(row) - accepted
        if foreign:
            position = min(row.index(character) for character in foreign)
            _reject_character(path, format_name, name, row[position], position)
    # Amino-acid rows made only of letters shared with the nucleotide codes
    # (A C D G H K M N R S T V W Y) slip through the test above; real DNA holds
    # far more plain bases than ambiguity codes.
    text = "".join(alignment.rows)
    bases = sum(text.count(base) for base in RESIDUE_VALUES)
    ambiguous = sum(text.count(code) for code in AMBIGUITY_CHARACTERS)
    if ambiguous > bases:
        raise PrepareError(
            f"alignment {path} holds {ambiguous} ambiguity codes ({AMBIGUITY_CHARACTERS})"
            f" but only {bases} plain bases (ACGTU): it looks like a protein alignment;"
            f" {PROGRAM} handles DNA and RNA only"
        )
    if bases == 0:
        raise PrepareError(f"alignment {path} holds no nucleotide A, C, G, T or U at all")


def _format_hint(format_name):
    if format_name == "phylip":
        return " (if the names fill a fixed field of 10 characters, use --format phylip-strict)"
    return ""


def _reject_character(path, format_name, name, character, position):
    where = f"alignment {path}: sequence {name!r} holds {character!r} at alignment position {position + 1}"
    hint = _format_hint(format_name)
    if character in PROTEIN_ONLY_CHARACTERS:
        raise PrepareError(
            f"{where}, an amino-acid code: protein alignments are not supported,"
            f" {PROGRAM} handles DNA and RNA only{hint}"
        )
    raise PrepareError(
        f"{where}, which is neither a nucleotide (A C G T U), a gap (- .) nor a"
        f" missing-data code (N ? X {' '.join(AMBIGUITY_CHARACTERS)}){hint}"
    )


def sequence_order(alignment, reference):
    """Alignment row indices in sequence-id order: the reference, then the others in file order."""
    if reference is None:
        reference_index = 0
    elif reference in alignment.names:
        reference_index = alignment.names.index(reference)
    else:
        raise PrepareError(
            f"--reference {reference!r}: no sequence of that name in the alignment"
            f" (names: {_listing(alignment.names)})"
        )
    return [reference_index] + [i for i in range(len(alignment.names)) if i != reference_index]


def encode_rows(alignment, order):
    """The sampler's data lines: one per alignment column, one value per sequence id."""
    coded = [alignment.rows[index].translate(VALUE_TABLE) for index in order]
    return [" ".join(column) for column in zip(*coded)]


def modelled_columns(reference_row):
    """(alignment position, reference coordinate) of every column where the reference holds a base.

    Both count from 1.  The reference coordinate counts every non-gap character
    of the reference, ambiguity codes included, so it is the position within
    the reference's own ungapped sequence.
    """
    result = []
    coordinate = 0
    for position, character in enumerate(reference_row, start=1):
        if character not in GAP_CHARACTERS:
            coordinate += 1
        if character in RESIDUE_VALUES:
            result.append((position, coordinate))
    return result


# ---------------------------------------------------------------------------
# Tree
# ---------------------------------------------------------------------------


class Node:
    """A tree node: leaves carry names; every node but the root has a branch length."""

    __slots__ = ("name", "length", "children")

    def __init__(self, name=None, length=None, children=None):
        self.name = name
        self.length = length
        self.children = children if children is not None else []

    def is_leaf(self):
        return not self.children


def preorder(root):
    """Nodes in pre-order (a node before its subtrees, first child first)."""
    stack = [root]
    while stack:
        node = stack.pop()
        yield node
        stack.extend(reversed(node.children))


def leaf_names(node):
    return [leaf.name for leaf in preorder(node) if leaf.is_leaf()]


def describe(node):
    """A short name of a node for messages."""
    if node.is_leaf():
        return f"leaf {node.name!r}"
    leaves = leaf_names(node)
    shown = ", ".join(repr(name) for name in leaves[:3])
    if len(leaves) > 3:
        shown += f", ... ({len(leaves)} leaves)"
    label = f" {node.name!r}" if node.name else ""
    return f"internal node{label} above {shown}"


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
                raise PrepareError(
                    f"tree {path} line {line}: branch length {match.group(1)!r} is not a number"
                )
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
    """Read a single Newick tree with Biopython and copy it into Nodes."""
    text = _read_text(path, "tree")
    check_length_tokens(text, path)
    from Bio import Phylo

    try:
        trees = list(Phylo.parse(io.StringIO(text), "newick"))
    except Exception as error:  # NewickError and the parser's ValueErrors
        raise PrepareError(f"cannot read Newick tree {path}: {error}") from None
    if not trees:
        raise PrepareError(f"tree file {path} holds no tree")
    if len(trees) > 1:
        raise PrepareError(f"tree file {path} holds {len(trees)} trees; give exactly one")
    return _copy_clades(trees[0].root)


def _copy_clades(clade_root):
    root = Node(clade_root.name, clade_root.branch_length)
    stack = [(clade_root, root)]
    while stack:
        clade, node = stack.pop()
        for child_clade in clade.clades:
            child = Node(child_clade.name, child_clade.branch_length)
            node.children.append(child)
            stack.append((child_clade, child))
    return root


def check_tree(root, path, missing_length=None):
    """Check names, branch lengths and shape; returns warnings.

    Fills absent branch lengths with `missing_length` when it is given.  The
    root's own length is dropped: the sampler has no branch above the root.
    """
    warnings = []
    leaves = [node for node in preorder(root) if node.is_leaf()]
    unnamed = [number for number, leaf in enumerate(leaves, start=1) if not leaf.name]
    if unnamed:
        raise PrepareError(
            f"tree {path}: leaves without a name (leaf number {', '.join(map(str, unnamed))}"
            " counting from the left)"
        )
    counts = collections.Counter(leaf.name for leaf in leaves)
    duplicated = [name for name in counts if counts[name] > 1]
    if duplicated:
        raise PrepareError(f"tree {path}: duplicated leaf names {_listing(duplicated)}")
    if len(leaves) < 2:
        raise PrepareError(f"tree {path} has a single leaf; the sampler needs at least two")
    root.length = None
    warnings += _check_lengths_of_tree(root, path, missing_length)
    _check_shape(root, path)
    return warnings


def _check_lengths_of_tree(root, path, missing_length):
    branches = [node for node in preorder(root) if node is not root]
    missing = [node for node in branches if node.length is None]
    if missing and missing_length is None:
        raise PrepareError(
            f"tree {path}: {_plural(len(missing), 'branch')} without a length, above "
            + "; ".join(describe(node) for node in missing[:5])
            + ("; ..." if len(missing) > 5 else "")
            + " (give every branch a length, or set one with --missing-length)"
        )
    for node in missing:
        node.length = missing_length
    for node in branches:
        if not math.isfinite(node.length) or node.length < 0:
            raise PrepareError(
                f"tree {path}: branch above {describe(node)} has length {node.length!r};"
                " lengths must be finite and at least 0"
            )
        node.length = float(node.length) + 0.0  # no negative zero in the output
    if missing:
        return [f"{_plural(len(missing), 'branch')} without a length in {path} set to {missing_length!r}"]
    return []


def _check_shape(root, path):
    bad = []
    for node in preorder(root):
        count = len(node.children)
        if count == 1:
            bad.append(f"{describe(node)} has a single child")
        elif count > 3 or (count == 3 and node is not root):
            bad.append(f"{describe(node)} has {count} children")
    if bad:
        raise PrepareError(
            f"tree {path} is not binary: " + "; ".join(bad[:5])
            + ("; ..." if len(bad) > 5 else "")
            + " (the sampler needs every internal node to have exactly two children;"
            " resolve polytomies, e.g. with branches of length 0)"
        )


def is_rooted(root):
    return len(root.children) == 2


# Rerooting works on the unrooted tree: neighbour lists of node indices.  A
# node's list starts with its old parent, then its children in order, so that
# subtrees hanging the old way round keep their child order.


class _Unrooted:
    def __init__(self, root):
        self.nodes = list(preorder(root))
        index = {id(node): i for i, node in enumerate(self.nodes)}
        self.neighbours = [[] for _ in self.nodes]
        for i, node in enumerate(self.nodes):
            for child in node.children:
                j = index[id(child)]
                self.neighbours[i].append([j, child.length])
                self.neighbours[j].append([i, child.length])
        if len(root.children) == 2:
            self._dissolve_root(index[id(root.children[0])], index[id(root.children[1])])

    def _dissolve_root(self, left, right):
        """Join the two sides of a two-child root into one branch; node 0 drops out."""
        length = self.nodes[left].length + self.nodes[right].length
        self.neighbours[left][0] = [right, length]
        self.neighbours[right][0] = [left, length]
        self.neighbours[0] = []

    def leaves(self):
        return [i for i, node in enumerate(self.nodes) if node.is_leaf()]

    def hang(self, u, v, length_u, length_v):
        """A rooted copy with the root on branch u-v: u's side first, at length_u."""
        root = Node()
        queue = collections.deque()
        for near, far, length in ((u, v, length_u), (v, u, length_v)):
            queue.append((near, far, self._attach(root, near, length)))
        while queue:
            i, came_from, node = queue.popleft()
            for j, length in self.neighbours[i]:
                if j != came_from:
                    queue.append((j, i, self._attach(node, j, length)))
        return root

    def _attach(self, parent, i, length):
        child = Node(self.nodes[i].name, length)
        parent.children.append(child)
        return child

    def walk(self, start):
        """Depth-first from `start`: (visit order, predecessor, distance) per node."""
        order, predecessor, distance = [], {start: None}, {start: 0.0}
        stack = [start]
        while stack:
            i = stack.pop()
            order.append(i)
            for j, length in reversed(self.neighbours[i]):
                if j not in predecessor:
                    predecessor[j] = i
                    distance[j] = distance[i] + length
                    stack.append(j)
        return order, predecessor, distance

    def length(self, i, j):
        return next(length for k, length in self.neighbours[i] if k == j)


def root_on_outgroup(root, outgroup, path):
    """Root on the middle of the branch above the outgroup clade, outgroup first.

    A tree already rooted between the outgroup and the rest keeps its root.
    """
    names = set(leaf_names(root))
    unknown = [name for name in outgroup if name not in names]
    if unknown:
        raise PrepareError(f"--outgroup: {_listing(unknown)} not among the leaves of tree {path}")
    wanted = set(outgroup)
    if wanted == names:
        raise PrepareError("--outgroup names every leaf of the tree; leave some out")
    if is_rooted(root):
        for side, other in ((0, 1), (1, 0)):
            if set(leaf_names(root.children[side])) == wanted:
                root.children = [root.children[side], root.children[other]]
                return root, "kept its root, which already separates the outgroup"
    tree = _Unrooted(root)
    start = next(i for i in tree.leaves() if tree.nodes[i].name not in wanted)
    order, predecessor, _ = tree.walk(start)
    inside, below = collections.Counter(), collections.Counter()
    for i in reversed(order):
        if tree.nodes[i].is_leaf() and i != start:
            below[i] += 1
            inside[i] += tree.nodes[i].name in wanted
        if predecessor[i] is not None:
            below[predecessor[i]] += below[i]
            inside[predecessor[i]] += inside[i]
    clade = next((i for i in order[1:] if inside[i] == below[i] == len(wanted)), None)
    if clade is None:
        raise PrepareError(
            f"--outgroup {_listing(outgroup)} is not a clade of tree {path}:"
            " no branch separates exactly these leaves from the others"
        )
    length = tree.length(clade, predecessor[clade])
    half = length / 2
    return tree.hang(clade, predecessor[clade], half, length - half), (
        f"rooted on the middle of the branch above the outgroup {_listing(outgroup)}"
    )


def root_at_midpoint(root):
    """Root at the middle of the longest leaf-to-leaf path (first one found on ties)."""
    tree = _Unrooted(root)
    leaves = tree.leaves()
    _, _, distance = tree.walk(leaves[0])
    first_end = _farthest(leaves, distance)
    _, predecessor, distance = tree.walk(first_end)
    second_end = _farthest(leaves, distance)
    path = [second_end]
    while predecessor[path[-1]] is not None:
        path.append(predecessor[path[-1]])
    path.reverse()
    half = distance[second_end] / 2
    for u, v in zip(path, path[1:]):
        if distance[v] >= half:
            length = tree.length(u, v)
            near = min(max(half - distance[u], 0.0), length)
            return tree.hang(u, v, near, length - near), "rooted at the midpoint"
    raise AssertionError("the longest path has no middle")


def _farthest(leaves, distance):
    best = None
    for leaf in leaves:
        if best is None or distance[leaf] > distance[best]:
            best = leaf
    return best


def root_tree(root, path, outgroup=None, midpoint=False):
    """The rooted binary tree and a note on how it was rooted."""
    if outgroup:
        return root_on_outgroup(root, outgroup, path)
    if midpoint:
        return root_at_midpoint(root)
    if not is_rooted(root):
        raise PrepareError(
            f"tree {path} is unrooted: its root has three children ("
            + "; ".join(describe(child) for child in root.children)
            + "); root it with --outgroup NAME or --midpoint"
        )
    return root, "rooted as given"


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
    leaves = []
    for node in internal:  # the list grows while it is walked: a queue
        for child in node.children:
            if child.is_leaf():
                leaves.append(child)
            else:
                labels[id(child)] = len(internal)
                internal.append(child)
    for offset, leaf in enumerate(leaves):
        labels[id(leaf)] = len(internal) + offset
    rows = [
        (labels[id(node)], labels[id(child)], child.length)
        for node in internal
        for child in node.children
    ]
    return rows, {leaf.name: labels[id(leaf)] for leaf in leaves}


def match_leaves(leaf_labels, names, tree_path, alignment_path):
    """Fail, naming them, on leaves without a sequence and sequences without a leaf."""
    in_tree = set(leaf_labels)
    in_alignment = set(names)
    leaves_only = [name for name in leaf_labels if name not in in_alignment]
    sequences_only = [name for name in names if name not in in_tree]
    if not leaves_only and not sequences_only:
        return
    parts = []
    if leaves_only:
        parts.append(f"leaves of {tree_path} without a sequence in {alignment_path}: {_listing(leaves_only)}")
    if sequences_only:
        parts.append(f"sequences of {alignment_path} without a leaf in {tree_path}: {_listing(sequences_only)}")
    message = "; ".join(parts)
    near = _near_misses(leaves_only, sequences_only)
    if near:
        message += f" (names differ only in case or '_' against ' ': {', '.join(near)})"
    raise PrepareError(message)


def _near_misses(leaves_only, sequences_only):
    def folded(name):
        return name.replace("_", " ").casefold()

    by_fold = {folded(name): name for name in sequences_only}
    return [f"{leaf!r} ~ {by_fold[folded(leaf)]!r}" for leaf in leaves_only if folded(leaf) in by_fold]


# ---------------------------------------------------------------------------
# Test case folders
# ---------------------------------------------------------------------------


def with_slash(text):
    return text if text.endswith("/") else text + "/"


def check_case_name(case):
    """The case folder must be a relative path inside data/ and results/."""
    parts = [part for part in case.split("/") if part not in ("", ".")]
    if not parts or case.startswith("/") or ".." in parts:
        raise PrepareError(
            f"--case {case!r}: give a folder name relative to ROOT/data/ and ROOT/results/,"
            " such as my_case/"
        )
    return "/".join(parts) + "/"


def prepare_folders(root_dir, case, force):
    """Create ROOT/data/CASE/ and ROOT/results/CASE/; returns (data folder, results folder, warnings)."""
    data_dir = os.path.join(root_dir, "data", case)
    results_dir = os.path.join(root_dir, "results", case)
    existing = [name for name in CASE_FILES if os.path.lexists(os.path.join(data_dir, name))]
    if existing and not force:
        raise PrepareError(
            f"{data_dir} already holds {', '.join(existing)}; use --force to overwrite"
        )
    for folder in (data_dir, results_dir):
        try:
            os.makedirs(folder, exist_ok=True)
        except OSError as error:
            raise PrepareError(f"cannot create folder {folder}: {error.strerror}") from None
    warnings = []
    earlier = os.listdir(results_dir)
    if earlier:
        warnings.append(
            f"{results_dir} already holds {_plural(len(earlier), 'file')} from earlier runs;"
            " the sampler overwrites those of the same seed"
        )
    return data_dir, results_dir, warnings


def write_lines(path, lines):
    try:
        with open(path, "w", encoding="utf-8", newline="\n") as handle:
            for line in lines:
                handle.write(line)
                handle.write("\n")
    except OSError as error:
        raise PrepareError(f"cannot write {path}: {error.strerror}") from None


def write_case(data_dir, rows, leaf_labels, names, order, data_lines, columns):
    """Write the sampler's three inputs and the two look-up tables."""
    seq_ids = {names[index]: seq_id for seq_id, index in enumerate(order)}
    write_lines(
        os.path.join(data_dir, TREE_FILE),
        (f"{parent} {child} {length!r}" for parent, child, length in rows),
    )
    write_lines(
        os.path.join(data_dir, LEAF_MAP_FILE),
        (f"{label} {seq_ids[name]}" for name, label in sorted(leaf_labels.items(), key=lambda item: item[1])),
    )
    write_lines(os.path.join(data_dir, DATA_FILE), data_lines)
    write_lines(
        os.path.join(data_dir, COLUMNS_FILE),
        ["column\talignment_position\treference_position"]
        + [f"{column}\t{position}\t{coordinate}" for column, (position, coordinate) in enumerate(columns)],
    )
    write_lines(
        os.path.join(data_dir, SEQUENCES_FILE),
        ["seq_id\tname\tleaf_label"]
        + [f"{seq_id}\t{names[index]}\t{leaf_labels[names[index]]}" for seq_id, index in enumerate(order)],
    )


def sampler_command(root_dir, case, n_modelled):
    """The alnsampler command that runs the new case, with -k lowered for short alignments."""
    words = ["alnsampler", "-r", shlex.quote(with_slash(root_dir)), "-t", shlex.quote(case)]
    if n_modelled <= SAMPLER_DEFAULT_K_MAX:
        words += ["-k", str(n_modelled - 1)]
    return " ".join(words)


# ---------------------------------------------------------------------------
# Command line
# ---------------------------------------------------------------------------


def build_parser():
    parser = argparse.ArgumentParser(
        prog=PROGRAM,
        description=(
            "Turn a DNA/RNA alignment and a Newick tree into an alnsampler test case:"
            " ROOT/data/NAME/ gets tree.txt, map_from_leave_label_to_seq_id.txt, data.txt,"
            " columns.tsv and sequences.tsv, and ROOT/results/NAME/ is created."
        ),
        epilog=(
            "Coding: A C G T U (any case) become 1 2 3 4 4; '-' and '.' become 0 (gap);"
            " N ? X and the ambiguity codes R Y S W K M B D H V become 5 (missing data)."
            " Any other character is an error. Sequence 0 is the reference: only columns"
            " where it holds A, C, G, T or U are modelled; data.txt keeps every column."
            " Exit status: 0 done, 1 bad input or output folder, 2 bad command line."
        ),
    )
    parser.add_argument("--alignment", required=True, metavar="FILE", help="the alignment")
    parser.add_argument(
        "--format", default="fasta", choices=list(ALIGNMENT_FORMATS),
        help="alignment format (default fasta; phylip: relaxed, names end at the first"
        " blank; phylip-strict: names in the first 10 characters)",
    )
    parser.add_argument("--tree", required=True, metavar="FILE", help="the tree, in Newick format")
    rooting = parser.add_mutually_exclusive_group()
    rooting.add_argument(
        "--outgroup", metavar="NAME[,NAME...]",
        help="root on the middle of the branch above this leaf (or the clade of these leaves)",
    )
    rooting.add_argument(
        "--midpoint", action="store_true",
        help="root at the middle of the longest leaf-to-leaf path",
    )
    parser.add_argument("--root-dir", required=True, metavar="ROOT/", help="folder holding data/ and results/")
    parser.add_argument("--case", required=True, metavar="NAME/", help="test case folder name")
    parser.add_argument(
        "--reference", metavar="SEQNAME",
        help="sequence that decides the modelled columns (default: the first one)",
    )
    parser.add_argument(
        "--missing-length", type=float, metavar="LENGTH",
        help="length given to branches the tree leaves without one (default: such a tree is an error)",
    )
    parser.add_argument("--force", action="store_true", help="overwrite the files of an existing case")
    return parser


def parse_arguments(argv):
    parser = build_parser()
    arguments = parser.parse_args(argv)
    if arguments.missing_length is not None and not (
        math.isfinite(arguments.missing_length) and arguments.missing_length >= 0
    ):
        parser.error(f"--missing-length {arguments.missing_length!r}: must be finite and at least 0")
    if not arguments.root_dir:
        parser.error("--root-dir: give a folder, such as ./")
    if arguments.outgroup is not None:
        arguments.outgroup = [name.strip() for name in arguments.outgroup.split(",") if name.strip()]
        if not arguments.outgroup:
            parser.error("--outgroup needs a leaf name")
    return arguments


def prepare(arguments):
    """Check everything, then write the case; returns the report lines and warnings."""
    case = check_case_name(arguments.case)
    alignment = read_alignment(arguments.alignment, arguments.format)
    order = sequence_order(alignment, arguments.reference)
    reference_name = alignment.names[order[0]]
    columns = modelled_columns(alignment.rows[order[0]])
    if len(columns) < 2:
        raise PrepareError(
            f"reference {reference_name!r} holds A, C, G, T or U in {_plural(len(columns), 'column')}"
            " only; the sampler needs at least 2 modelled columns (pick another with --reference)"
        )
    tree = read_tree(arguments.tree)
    warnings = check_tree(tree, arguments.tree, arguments.missing_length)
    match_leaves(leaf_names(tree), alignment.names, arguments.tree, arguments.alignment)
    tree, rooting = root_tree(tree, arguments.tree, arguments.outgroup, arguments.midpoint)
    rows, leaf_labels = label_tree(tree)
    data_dir, _, folder_warnings = prepare_folders(arguments.root_dir, case, arguments.force)
    warnings += folder_warnings
    write_case(data_dir, rows, leaf_labels, alignment.names, order, encode_rows(alignment, order), columns)
    if len(columns) <= SAMPLER_DEFAULT_K_MAX:
        warnings.append(
            f"only {len(columns)} modelled columns: the sampler's default -k {SAMPLER_DEFAULT_K_MAX}"
            f" needs {SAMPLER_DEFAULT_K_MAX + 1}, so the command below lowers it"
        )
    return report(alignment, reference_name, columns, rows, rooting, data_dir, arguments, case), warnings


def report(alignment, reference_name, columns, rows, rooting, data_dir, arguments, case):
    cells = len(alignment.names) * alignment.n_columns
    text = "".join(alignment.rows)
    gaps = sum(text.count(gap) for gap in GAP_CHARACTERS)
    absent = sum(text.count(code) for code in MISSING_CHARACTERS)
    return [
        f"{PROGRAM}: wrote {data_dir}",
        f"  sequences         {len(alignment.names)} (reference {reference_name!r})",
        f"  columns           {alignment.n_columns}",
        f"  modelled columns  {len(columns)} (the reference holds A, C, G, T or U)",
        f"  gap fraction      {gaps / cells:.4f} (cells '-' or '.')",
        f"  absent fraction   {absent / cells:.4f} (cells N, ?, X or ambiguity codes)",
        f"  tree              {len(rows) // 2 + 1} leaves, {len(rows)} branches, {rooting}",
        "run next:",
        f"  {sampler_command(arguments.root_dir, case, len(columns))}",
    ]


def main(argv=None):
    arguments = parse_arguments(argv)
    try:
        lines, warnings = prepare(arguments)
    except PrepareError as error:
        print(f"{PROGRAM}: error: {error}", file=sys.stderr)
        return 1
    for warning in warnings:
        print(f"{PROGRAM}: warning: {warning}", file=sys.stderr)
    print("\n".join(lines))
    return 0


if __name__ == "__main__":
    sys.exit(main())
