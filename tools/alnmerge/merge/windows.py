"""The windows of one or several genome alignments and each window's summary, checked complete.

A windows table (alnprepare --window) lists per window its case,
chromosome, reference span and modelled columns; alnsummarize --out wrote,
per window, rates.tsv, segments.tsv, summary.tsv, columns.tsv,
rate_paths.tsv and warnings.txt.  Every window is checked against the table
before anything is written: its columns (as many as the table says, at
increasing positions inside its span, on its chromosome), its kept draws (as
many as its summary.tsv says, every path covering its columns), finite
rates, and a table without holes (consecutive windows of one preparation
follow one another).  A window that fails is named with the file and line.
"""

import math
import os
import re

import numpy as np

from alncommon.case import ToolError, listing, parse_float, parse_int, read_lines
from alncommon.conservation import PATHS_FILE, ColumnSums, read_paths, reference_only_columns

WINDOWS_HEADER = ("case", "chromosome", "first_position", "last_position", "modelled_columns")
SIZE_FIELD = "chromosome_size"
SUMMARY_FILES = ("rates.tsv", "segments.tsv", "summary.tsv", "columns.tsv", PATHS_FILE)
WARNINGS_FILE = "warnings.txt"
WARNING_PREFIX = "alnsummarize: warning: "
# A rate state that holds no column in most kept draws has the prior's rates,
# which say nothing about convergence (alnsummarize leaves them out too).
EMPTY_STATE_SHARE = 0.5
MAX_POSITION = 10**12
# columns.tsv gives the mean rates with 6 significant digits.
RATE_TOLERANCE = 1e-5


class Window:
    """One window: where it lies, and its summary once read."""

    def __init__(self, case, chromosome, first, last, columns, size, source):
        self.case = case
        self.chromosome = chromosome
        self.first = first
        self.last = last
        self.columns = columns
        self.size = size  # the chromosome's length when the table gives it
        self.source = source  # "windows table line N"
        self.folder = None
        self.rates = []  # (name, mean, ess, rhat)
        self.p_k_max = math.nan
        self.kept_draws = 0
        self.warnings = None  # None: the summary has no warnings.txt
        self.empty_states = set()  # rate states holding no column in most kept draws
        self.rate_sums = (0.0, 0.0)  # the callable columns' mean mutation and deletion rates, summed
        self.callable_columns = 0  # columns where a sequence other than the reference is aligned
        self.means = (math.nan, math.nan, math.nan)  # mean P(conserved), mutation and deletion rate
        self.data_path = None  # the case's alignment file
        self.reference_only = None  # columns where only the reference is aligned (None: not known)

    def where(self):
        return f"{self.chromosome}:{self.first}-{self.last}"

    def fault(self, message):
        return ToolError(f"window {self.case} ({self.where()}) is incomplete: {message}")


def _table(path, what, required):
    """(header index, [(line number, fields)]) of a tab-separated table with a header."""
    lines = read_lines(path, what)
    if not lines:
        raise ToolError(f"{what} {path} is empty")
    header = lines[0].split("\t")
    missing = [name for name in required if name not in header]
    if missing:
        raise ToolError(f"{path}: the header lacks {listing(missing)} (found {listing(header)})")
    rows = []
    for number, line in enumerate(lines[1:], start=2):
        if not line.strip():
            continue
        fields = line.split("\t")
        if len(fields) != len(header):
            raise ToolError(f"{path} line {number}: {len(fields)} tab-separated fields, expected {len(header)}")
        rows.append((number, fields))
    return {name: index for index, name in enumerate(header)}, rows


def read_windows_table(path):
    index, rows = _table(path, "windows table", WINDOWS_HEADER)
    windows = []
    for number, fields in rows:
        def field(name):
            return fields[index[name]]
        first = parse_int(field("first_position"), path, number, 1, MAX_POSITION)
        last = parse_int(field("last_position"), path, number, first, MAX_POSITION)
        columns = parse_int(field("modelled_columns"), path, number, 1, MAX_POSITION)
        size = parse_int(field(SIZE_FIELD), path, number, last, MAX_POSITION) if SIZE_FIELD in index else None
        if not field("case") or not field("chromosome"):
            raise ToolError(f"{path} line {number}: a window needs a case and a chromosome")
        windows.append(Window(field("case").rstrip("/"), field("chromosome"), first, last, columns, size,
                              f"{path} line {number}"))
    if not windows:
        raise ToolError(f"windows table {path} lists no window")
    return windows


def _stem_and_number(case):
    match = re.fullmatch(r"(.*)_w(\d+)", case)
    return (match[1], int(match[2])) if match else (case, None)


def check_layout(windows):
    """No case listed twice, no overlap, and no hole among the windows of one preparation and chromosome:
    alnprepare cuts a chromosome into windows numbered 1, 2, ... whose spans follow one another."""
    seen = {}
    for window in windows:
        if window.case in seen:
            raise ToolError(f"case {window.case!r} is listed twice ({seen[window.case].source} and {window.source})")
        seen[window.case] = window
    ordered = sorted(windows, key=lambda window: (window.chromosome, window.first))
    for before, after in zip(ordered, ordered[1:]):
        if before.chromosome == after.chromosome and after.first <= before.last:
            raise ToolError(f"windows {before.case} ({before.where()}) and {after.case} ({after.where()}) overlap")
    previous = {}
    for window in ordered:
        stem, number = _stem_and_number(window.case)
        if number is None:
            continue
        key = (stem, window.chromosome)
        before = previous.get(key)
        expected = 1 if before is None else _stem_and_number(before.case)[1] + 1
        if number != expected:
            raise ToolError(f"window {stem}_w{expected:05d} of {window.chromosome} is missing: {window.source} lists"
                            f" {window.case} after {before.case if before else 'no window'} (a row of the windows"
                            " table was lost, or the tables come from different preparations)")
        if before is not None and before.last + 1 != window.first:
            raise ToolError(f"no window covers {window.chromosome}:{before.last + 1}-{window.first - 1} between"
                            f" {before.case} and {window.case} ({window.source}): the windows table has a hole")
        previous[key] = window
    return ordered


def summary_dir(root_dir, window, summary_name):
    return os.path.join(root_dir, "results", window.case, summary_name)


def read_summary(window, folder, root_dir):
    """Check the window's summary against the table and its case, and read its diagnostics and rate sums
    (first pass)."""
    window.folder = folder
    window.data_path = os.path.join(root_dir, "data", window.case, "data.txt")
    missing = [name for name in SUMMARY_FILES if not os.path.exists(os.path.join(folder, name))]
    if missing:
        raise window.fault(f"{folder} lacks {listing(missing)} (run alnsummarize --out on it first)")
    window.rates = _read_rates(os.path.join(folder, "rates.tsv"), window)
    window.p_k_max = _read_p_k_max(os.path.join(folder, "segments.tsv"))
    window.kept_draws, window.empty_states = _read_summary_table(os.path.join(folder, "summary.tsv"))
    warnings = os.path.join(folder, WARNINGS_FILE)
    if os.path.exists(warnings):
        window.warnings = [line.strip().removeprefix(WARNING_PREFIX)
                           for line in read_lines(warnings, "warnings file") if line.strip()]
    positions, mutation, deletion = read_columns(window)
    check_case_positions(window, root_dir, positions)
    sums = column_sums(window)
    mean_mutation, mean_deletion = sums.means()
    for name, listed, exact in (("mutation", mutation, mean_mutation), ("deletion", deletion, mean_deletion)):
        far = np.flatnonzero(~np.isclose(listed, exact, rtol=RATE_TOLERANCE, atol=1e-12))
        if len(far):
            path = os.path.join(folder, "columns.tsv")
            raise window.fault(f"{path} line {far[0] + 2}: {name}_rate {listed[far[0]]!r}"
                               f" is not the mean of {PATHS_FILE} ({exact[far[0]]!r}): the files come from different"
                               " summaries")
    reference_only = reference_only_columns(window.data_path, window.columns)
    callable_columns = np.ones(window.columns, dtype=bool) if reference_only is None else ~reference_only
    window.callable_columns = int(callable_columns.sum())
    window.reference_only = None if reference_only is None else window.columns - window.callable_columns
    window.rate_sums = (float(mean_mutation[callable_columns].sum()), float(mean_deletion[callable_columns].sum()))


def column_sums(window):
    """The window's kept draws summed over columns, checked against its summary.tsv."""
    path = os.path.join(window.folder, PATHS_FILE)
    draws = read_paths(path, window.columns)
    if len(draws) != window.kept_draws:
        raise window.fault(f"{path} holds {len(draws)} draws, its summary.tsv {window.kept_draws} kept draws")
    sums = ColumnSums(window.columns)
    for draw in draws:
        sums.add(draw)
    return sums


def check_case_positions(window, root_dir, positions):
    """The summary's positions must be those of the window's case (ROOT/data/CASE/columns.tsv, when there)."""
    path = os.path.join(root_dir, "data", window.case, "columns.tsv")
    if not os.path.exists(path):
        return
    index, rows = _table(path, "columns table", ("reference_position",))
    case_positions = [int(fields[index["reference_position"]]) if fields[index["reference_position"]].isdigit()
                      else -1 for _, fields in rows]
    if case_positions != positions.tolist():
        differ = next((i for i, (a, b) in enumerate(zip(case_positions, positions)) if a != b),
                      min(len(case_positions), len(positions)))
        raise window.fault(f"the summary's columns.tsv line {differ + 2} does not match {path}: the summary was made"
                           " from another version of the case")


def read_columns(window):
    """(reference positions, mean mutation rates, mean deletion rates) of the window's columns.tsv, checked
    against the windows table."""
    path = os.path.join(window.folder, "columns.tsv")
    index, rows = _table(path, "columns table", ("reference_position", "mutation_rate", "deletion_rate"))
    if len(rows) != window.columns:
        raise window.fault(f"{path} lists {len(rows)} columns, the windows table {window.columns}")
    positions = np.empty(len(rows), dtype=np.int64)
    rates = np.empty((2, len(rows)))
    chromosome = index.get("chromosome")
    for row, (number, fields) in enumerate(rows):
        position = parse_int(fields[index["reference_position"]], path, number, window.first, window.last)
        if row and position <= positions[row - 1]:
            raise ToolError(f"{path} line {number}: position {position} does not follow {positions[row - 1]}")
        if chromosome is not None and fields[chromosome] != window.chromosome:
            raise ToolError(f"{path} line {number}: chromosome {fields[chromosome]!r}, but the windows table puts"
                            f" {window.case} on {window.chromosome!r}")
        positions[row] = position
        for kind, name in enumerate(("mutation_rate", "deletion_rate")):
            rates[kind, row] = _rate(fields[index[name]], path, number)
    return positions, rates[0], rates[1]


def _rate(text, path, number):
    value = parse_float(text, path, number)
    if value < 0:
        raise ToolError(f"{path} line {number}: rate {text!r} is negative")
    return value


def _read_summary_table(path):
    """(kept draws, rate states whose occupancy is below one half) from summary.tsv."""
    index, rows = _table(path, "summary table", ("quantity", "value"))
    kept, empty = None, set()
    for number, fields in rows:
        quantity, value = fields[index["quantity"]], fields[index["value"]]
        if quantity == "kept_draws":
            kept = parse_int(value, path, number, 1, 10**12)
        match = re.fullmatch(r"state_(\d+)_occupancy", quantity)
        if match and parse_float(value, path, number) < EMPTY_STATE_SHARE:
            empty.add(int(match[1]))
    if kept is None:
        raise ToolError(f"{path} has no kept_draws row")
    return kept, empty


def _number(text, path, number):
    """A diagnostic of a summary table; 'nan' stands for an undefined one."""
    return math.nan if text == "nan" else parse_float(text, path, number)


def _read_rates(path, window):
    index, rows = _table(path, "rates table", ("rate", "mean", "ess", "rhat"))
    if not rows:
        raise window.fault(f"rates table {path} lists no rate")
    return [(fields[index["rate"]], parse_float(fields[index["mean"]], path, number),
             _number(fields[index["ess"]], path, number), _number(fields[index["rhat"]], path, number))
            for number, fields in rows]


def _read_p_k_max(path):
    """P(k = k_max): the probability of the last row (the largest number of segments)."""
    index, rows = _table(path, "segments table", ("segments", "probability"))
    if not rows:
        raise ToolError(f"segments table {path} lists no number of segments")
    number, fields = rows[-1]
    value = parse_float(fields[index["probability"]], path, number)
    if not 0 <= value <= 1:
        raise ToolError(f"{path} line {number}: probability {value!r} is outside 0..1")
    return value
