"""The windows of one or several genome alignments and each window's summary.

A windows table (alnprepare --window) lists per window its case, chromosome,
reference span and modelled columns; alnsummarize --out wrote, per window,
rates.tsv, segments.tsv, rate_states.wig, conserved.bed and warnings.txt.
Everything is read and checked here before anything is written.
"""

import math
import os
import re

from alncommon.case import ToolError, listing, parse_float, parse_int, read_lines

WINDOWS_HEADER = ("case", "chromosome", "first_position", "last_position", "modelled_columns")
SUMMARY_FILES = ("rates.tsv", "segments.tsv", "rate_states.wig", "conserved.bed")
WARNINGS_FILE = "warnings.txt"
SUMMARY_TABLE = "summary.tsv"
WARNING_PREFIX = "alnsummarize: warning: "
# A rate state that holds no column in most kept draws has the prior's rates,
# which say nothing about convergence (alnsummarize leaves them out too).
EMPTY_STATE_SHARE = 0.5
MAX_POSITION = 10**12


class Window:
    """One window: where it lies, and its summary once read."""

    def __init__(self, case, chromosome, first, last, columns, source):
        self.case = case
        self.chromosome = chromosome
        self.first = first
        self.last = last
        self.columns = columns
        self.source = source  # "windows table line N"
        self.rates = []  # (name, mean, ess, rhat)
        self.p_k_max = math.nan
        self.wig = []  # (position, value text)
        self.bed = []  # (start, end, score)
        self.warnings = None  # None: the summary has no warnings.txt
        self.empty_states = set()  # rate states holding no column in most kept draws

    def where(self):
        return f"{self.chromosome}:{self.first}-{self.last}"


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
        if not field("case") or not field("chromosome"):
            raise ToolError(f"{path} line {number}: a window needs a case and a chromosome")
        windows.append(Window(field("case").rstrip("/"), field("chromosome"), first, last, columns,
                              f"{path} line {number}"))
    if not windows:
        raise ToolError(f"windows table {path} lists no window")
    return windows


def check_layout(windows):
    """Windows of one chromosome must not overlap, nor one case be listed twice."""
    seen = {}
    for window in windows:
        if window.case in seen:
            raise ToolError(f"case {window.case!r} is listed twice ({seen[window.case].source} and {window.source})")
        seen[window.case] = window
    ordered = sorted(windows, key=lambda window: (window.chromosome, window.first))
    for before, after in zip(ordered, ordered[1:]):
        if before.chromosome == after.chromosome and after.first <= before.last:
            raise ToolError(f"windows {before.case} ({before.where()}) and {after.case} ({after.where()}) overlap")
    return ordered


def summary_dir(root_dir, window, summary_name):
    return os.path.join(root_dir, "results", window.case, summary_name)


def read_summary(window, folder):
    """Fill the window's rates, P(k = k_max), track lines and warnings from its summary folder."""
    missing = [name for name in SUMMARY_FILES if not os.path.exists(os.path.join(folder, name))]
    if missing:
        raise ToolError(f"the summary of window {window.case} in {folder} lacks {listing(missing)}"
                        " (run alnsummarize --out on it first)")
    window.rates = _read_rates(os.path.join(folder, "rates.tsv"))
    window.p_k_max = _read_p_k_max(os.path.join(folder, "segments.tsv"))
    window.wig = _read_wig(os.path.join(folder, "rate_states.wig"), window)
    window.bed = _read_bed(os.path.join(folder, "conserved.bed"), window)
    warnings = os.path.join(folder, WARNINGS_FILE)
    if os.path.exists(warnings):
        window.warnings = [line.strip().removeprefix(WARNING_PREFIX)
                           for line in read_lines(warnings, "warnings file") if line.strip()]
    table = os.path.join(folder, SUMMARY_TABLE)
    if os.path.exists(table):
        window.empty_states = _empty_states(table)


def _empty_states(path):
    """Rate states whose occupancy (share of kept draws holding a column) is below one half."""
    index, rows = _table(path, "summary table", ("quantity", "value"))
    empty = set()
    for number, fields in rows:
        match = re.fullmatch(r"state_(\d+)_occupancy", fields[index["quantity"]])
        if match and _number(fields[index["value"]], path, number) < EMPTY_STATE_SHARE:
            empty.add(int(match[1]))
    return empty


def _number(text, path, number):
    """A float of a summary table; 'nan' stands for an undefined diagnostic."""
    return math.nan if text == "nan" else parse_float(text, path, number)


def _read_rates(path):
    index, rows = _table(path, "rates table", ("rate", "mean", "ess", "rhat"))
    if not rows:
        raise ToolError(f"rates table {path} lists no rate")
    return [(fields[index["rate"]], _number(fields[index["mean"]], path, number),
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


def _check_chromosome(chromosome, window, path, number):
    if chromosome != window.chromosome:
        raise ToolError(f"{path} line {number}: chromosome {chromosome!r}, but the windows table puts {window.case}"
                        f" on {window.chromosome!r} (was the summary made before its case named its chromosome?)")


def _check_position(position, window, path, number):
    if not window.first <= position <= window.last:
        raise ToolError(f"{path} line {number}: position {position} lies outside window {window.case}"
                        f" ({window.where()}): the summary is not in this window's genome coordinates")


def _read_wig(path, window):
    """(position, value text) of a variableStep track on the window's chromosome, in order."""
    values = []
    chromosome = None
    for number, line in enumerate(read_lines(path, "wiggle track"), start=1):
        fields = line.split()
        if not fields or fields[0] in ("track", "browser") or line.startswith("#"):
            continue
        if fields[0] == "variableStep":
            settings = dict(field.split("=", 1) for field in fields[1:] if "=" in field)
            if settings.get("span", "1") != "1":
                raise ToolError(f"{path} line {number}: span {settings['span']}, expected 1")
            chromosome = settings.get("chrom")
            _check_chromosome(chromosome, window, path, number)
            continue
        if chromosome is None or len(fields) != 2:
            raise ToolError(f"{path} line {number}: expected 'position value' after a variableStep line")
        position = parse_int(fields[0], path, number, 1, MAX_POSITION)
        _check_position(position, window, path, number)
        value = parse_float(fields[1], path, number)
        if not 0 <= value <= 1:
            raise ToolError(f"{path} line {number}: probability {fields[1]!r} is outside 0..1")
        if values and position <= values[-1][0]:
            raise ToolError(f"{path} line {number}: position {position} does not follow {values[-1][0]}")
        values.append((position, fields[1]))
    return values


def _read_bed(path, window):
    runs = []
    for number, line in enumerate(read_lines(path, "BED track"), start=1):
        fields = line.split("\t")
        if not line.strip() or fields[0] in ("track", "browser") or line.startswith("#"):
            continue
        if len(fields) < 5:
            raise ToolError(f"{path} line {number}: expected chrom, start, end, name and score")
        _check_chromosome(fields[0], window, path, number)
        start = parse_int(fields[1], path, number, 0, MAX_POSITION)
        end = parse_int(fields[2], path, number, start + 1, MAX_POSITION)
        _check_position(start + 1, window, path, number)
        _check_position(end, window, path, number)
        runs.append((start, end, parse_int(fields[4], path, number, 0, 1000)))
    return runs
