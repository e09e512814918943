"""The test case behind the runs: column positions, the reference's name, node titles."""

import os

import numpy as np

from alncommon.case import (COLUMNS_FILE, LEAF_MAP_FILE, TREE_FILE, ToolError, content_lines, parse_float, parse_int,
                            read_columns, read_lines, read_sequence_names)
from alncommon.case import read_chromosome
from alncommon.conservation import reference_only_columns


class Positions:
    """Alignment position and reference coordinate (both from 1) of each modelled column, and whether
    only the reference is aligned there (None when the alignment file is not at hand)."""

    def __init__(self, alignment, reference, source, from_columns_file):
        self.alignment = alignment
        self.reference = reference
        self.source = source
        self.from_columns_file = from_columns_file
        self.reference_only = None

    def callable_columns(self):
        """The columns the conserved call may call (None: all)."""
        return None if self.reference_only is None else ~self.reference_only


def read_positions(data_dir, data_file, n_columns):
    columns_path = os.path.join(data_dir, COLUMNS_FILE)
    data_path = os.path.join(data_dir, data_file)
    if os.path.exists(columns_path):
        positions = _positions_from_columns_file(columns_path, n_columns)
    else:
        positions = _positions_from_data(data_path, n_columns)
    positions.reference_only = reference_only_columns(data_path, n_columns)
    return positions


def _positions_from_columns_file(path, n_columns):
    alignment, reference = read_columns(path)
    if len(alignment) != n_columns:
        raise ToolError(f"{path} lists {len(alignment)} modelled columns but the traces have {n_columns}")
    return Positions(np.array(alignment), np.array(reference), path, True)


def _positions_from_data(path, n_columns):
    """Rows of the alignment file whose first value is a residue (1..4), numbered from 1."""
    rows = []
    for number, line in enumerate(read_lines(path, f"alignment file (no {COLUMNS_FILE} beside it)"), start=1):
        fields = line.split()
        if fields and fields[0] in ("1", "2", "3", "4"):
            rows.append(number)
    if len(rows) != n_columns:
        raise ToolError(
            f"{path} has {len(rows)} modelled rows (first value 1..4) but the traces have"
            f" {n_columns} columns: was the run made on another data file (see --data-file)?"
        )
    positions = np.array(rows)
    return Positions(positions, positions.copy(), path, False)


def reference_name(data_dir, case):
    """The tracks' chromosome: the one columns.tsv names (a case cut from a genome
    alignment), else the name of sequence 0 from sequences.tsv, else the case folder's name."""
    return read_chromosome(data_dir) or read_sequence_names(data_dir).get("0") or case.rstrip("/").split("/")[-1]


def input_column_count(data_dir, data_file, positions):
    """Columns of the input alignment: the lines of the data file (one per column, modelled
    or not), or, without it, up to the last modelled column."""
    path = os.path.join(data_dir, data_file)
    last = int(positions.alignment.max())
    if not os.path.exists(path):
        return last
    count = len(read_lines(path, "alignment file"))
    if count < last:
        raise ToolError(f"{path} has {count} lines, but a modelled column lies at alignment position {last}"
                        f" ({positions.source})")
    return count


class CaseTree:
    """The case's tree as the runs read it: branches below every node, and leaf names."""

    def __init__(self, path, children, leaf_names):
        self.path, self.children, self.leaf_names = path, children, leaf_names

    def below(self, label):
        """Names of the leaves below a node, left to right; refuses a node reached twice."""
        below, seen = [], set()
        stack = [label]
        while stack:
            node = stack.pop()
            if node in seen:
                raise ToolError(f"{self.path}: node {node} is reached twice below node {label}: not a tree")
            seen.add(node)
            if node in self.children:
                stack.extend(child for child, _ in reversed(self.children[node]))
            else:
                below.append(self.leaf_names(node))
        return below

    def newick(self):
        """The tree in Newick, internal nodes named node_LABEL as in ancestors.fasta."""
        pieces, stack = [], [("node", 0, "")]
        while stack:
            kind, node, length = stack.pop()
            if kind == "text":
                pieces.append(node)
                continue
            suffix = f":{length}" if length else ""
            if node not in self.children:
                pieces.append(newick_name(self.leaf_names(node)) + suffix)
                continue
            stack.append(("text", f")node_{node}{suffix}", ""))
            for position, (child, child_length) in enumerate(reversed(self.children[node])):
                if position:
                    stack.append(("text", ",", ""))
                stack.append(("node", child, child_length))
            stack.append(("text", "(", ""))
        return "".join(pieces) + ";\n"


NEWICK_SPECIAL = set(" \t()[]':;,")


def newick_name(name):
    """A name as Newick reads it back: quoted, quotes doubled, when it holds a special character."""
    return "'" + name.replace("'", "''") + "'" if NEWICK_SPECIAL & set(name) else name


def read_case_tree(data_dir, n_internal):
    """The case's tree, checked against the ancestors files; None without tree.txt and the leaf map."""
    tree_path = os.path.join(data_dir, TREE_FILE)
    map_path = os.path.join(data_dir, LEAF_MAP_FILE)
    if not (os.path.exists(tree_path) and os.path.exists(map_path)):
        return None
    children = {}
    for number, fields in content_lines(tree_path, "tree file"):
        if len(fields) != 3:
            raise ToolError(f"{tree_path} line {number}: expected 'parent child length'")
        parent = parse_int(fields[0], tree_path, number, 0, 10**9)
        child = parse_int(fields[1], tree_path, number, 0, 10**9)
        parse_float(fields[2], tree_path, number)
        children.setdefault(parent, []).append((child, fields[2]))
    if not children:
        raise ToolError(f"{tree_path} holds no branch")
    if max(children) + 1 != n_internal:
        raise ToolError(
            f"{tree_path} has {max(children) + 1} internal nodes but the ancestors files hold"
            f" {n_internal} values per column"
        )
    seq_ids = {}
    for number, fields in content_lines(map_path, "leaf map"):
        seq_ids[parse_int(fields[0], map_path, number, 0, 10**9)] = fields[1] if len(fields) > 1 else "?"
    names = read_sequence_names(data_dir)

    def leaf_name(label):
        seq_id = seq_ids.get(label, "?")
        return names.get(seq_id, f"seq{seq_id}")

    return CaseTree(tree_path, children, leaf_name)


def internal_node_names(tree, n_internal):
    """A FASTA title for every internal node: its label and, with the tree, the sequences below it."""
    titles = [f"node_{label}" + (" root" if label == 0 else "") for label in range(n_internal)]
    if tree is None:
        return titles
    return [title + " ancestor of " + ",".join(tree.below(label)) for label, title in enumerate(titles)]
