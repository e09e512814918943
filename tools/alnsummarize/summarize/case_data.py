"""The test case behind the runs: column positions, the reference's name, node titles."""

import os

import numpy as np

from alncommon.case import (COLUMNS_FILE, LEAF_MAP_FILE, TREE_FILE, ToolError, content_lines, parse_int, read_columns,
                            read_lines, read_sequence_names)
from alncommon.case import read_chromosome


class Positions:
    """Alignment position and reference coordinate (both from 1) of each modelled column."""

    def __init__(self, alignment, reference, source, from_columns_file):
        self.alignment = alignment
        self.reference = reference
        self.source = source
        self.from_columns_file = from_columns_file


def read_positions(data_dir, data_file, n_columns):
    columns_path = os.path.join(data_dir, COLUMNS_FILE)
    if os.path.exists(columns_path):
        return _positions_from_columns_file(columns_path, n_columns)
    return _positions_from_data(os.path.join(data_dir, data_file), n_columns)


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


def internal_node_names(data_dir, n_internal):
    """A FASTA title for every internal node: its label and the sequences below it."""
    tree_path = os.path.join(data_dir, TREE_FILE)
    map_path = os.path.join(data_dir, LEAF_MAP_FILE)
    titles = [f"node_{label}" + (" root" if label == 0 else "") for label in range(n_internal)]
    if not (os.path.exists(tree_path) and os.path.exists(map_path)):
        return titles
    children = {}
    for number, fields in content_lines(tree_path, "tree file"):
        if len(fields) != 3:
            raise ToolError(f"{tree_path} line {number}: expected 'parent child length'")
        parent = parse_int(fields[0], tree_path, number, 0, 10**9)
        children.setdefault(parent, []).append(parse_int(fields[1], tree_path, number, 0, 10**9))
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
    for label in range(n_internal):
        below, seen = [], set()
        stack = [label]
        while stack:
            node = stack.pop()
            if node in seen:
                raise ToolError(f"{tree_path}: node {node} is reached twice below node {label}: not a tree")
            seen.add(node)
            if node in children:
                stack.extend(reversed(children[node]))
            else:
                seq_id = seq_ids.get(node, "?")
                below.append(names.get(seq_id, f"seq{seq_id}"))
        titles[label] += " ancestor of " + ",".join(below)
    return titles
