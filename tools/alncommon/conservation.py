"""The conserved call, shared by alnsummarize (one case) and alnmerge (a genome of windows).

Rate-state labels mean nothing across windows (each window has its own
three states, and its slowest state may be fast by another window's
measure), so the call is made on the rates themselves.  In every kept draw
a column is in some rate state with a mutation and a deletion rate; the
column counts as conserved in that draw when its state's mutation rate is
below rho times a reference mutation rate and its deletion rate is not above
the reference deletion rate (an indel hotspot with few substitutions is not
conserved).  P(conserved) of a column is the share of kept draws in which it
is.  The reference is the column-weighted mean rate: of the case for one
alignment, of every window together for a genome, so that a call means the
same in every window.  --conserved-by deletion swaps the roles of the two
rates; --conserved-by total asks for a total rate below rho times the
reference total.

The kept draws are stored per window as rate_paths.tsv: per draw the rates
of each rate state and the rate-state path, run-length coded (a path of
1,000 columns holds a few dozen runs), which is all the merge needs to make
the genome-wide call without rereading the chains.

Elements are maximal runs of P(conserved) >= threshold over consecutive
reference positions, runs with fewer than min_gap positions between them
joined, elements shorter than min_length positions dropped.

A column where no sequence but the reference is aligned (every other value
absent) says nothing about how the sequences evolved: its rates are what the
prior and the neighbouring columns make of them, and the prior puts most of
its mass near 0, so such a column would look conserved.  It is never called
conserved: stretches of a genome that no other species aligns to (a tenth of
some fungal chromosomes) are not conserved elements.  Nor do such columns
count towards the reference rates: where nothing tells a rate, it can be
anything the prior allows (a mean mutation rate of 18 over a window that
holds only the reference), and a few such windows would move the yardstick
of every other.
"""

import os

import numpy as np

from .case import ToolError, parse_float, parse_int, read_lines

RHO = 0.3
THRESHOLD = 0.5
MIN_GAP = 5
MIN_LENGTH = 10
CONSERVATION_KEYS = ("mutation", "deletion", "total")
PATHS_FILE = "rate_paths.tsv"
PATHS_HEADER = ("seed", "iteration", "deletion_rates", "mutation_rates", "path")


class Draw:
    """One kept draw: the rates of each rate state (sampled labels) and the path as runs."""

    __slots__ = ("seed", "iteration", "deletion", "mutation", "starts", "states")

    def __init__(self, seed, iteration, deletion, mutation, starts, states):
        self.seed, self.iteration = seed, iteration
        self.deletion, self.mutation = np.asarray(deletion, dtype=float), np.asarray(mutation, dtype=float)
        self.starts, self.states = np.asarray(starts, dtype=np.int64), np.asarray(states, dtype=np.int64)

    @classmethod
    def from_path(cls, seed, iteration, deletion, mutation, path):
        """A draw from the rate state of every column."""
        starts = np.concatenate(([0], np.flatnonzero(np.diff(path)) + 1))
        return cls(seed, iteration, deletion, mutation, starts, path[starts])

    def lengths(self, n_columns):
        return np.diff(np.append(self.starts, n_columns))

    def column_values(self, per_state, n_columns):
        """A per-state quantity laid out over the columns."""
        return np.repeat(np.asarray(per_state)[self.states], self.lengths(n_columns))


def conserved_states(deletion, mutation, reference, rho=RHO, by="mutation"):
    """Per rate state, whether it is conserved against `reference` (mutation, deletion)."""
    reference_mutation, reference_deletion = reference
    if by == "mutation":
        return (mutation < rho * reference_mutation) & (deletion <= reference_deletion)
    if by == "deletion":
        return (deletion < rho * reference_deletion) & (mutation <= reference_mutation)
    return deletion + mutation < rho * (reference_deletion + reference_mutation)


class ColumnSums:
    """Running sums over draws of the columns' rates, for the mean rates and the reference."""

    def __init__(self, n_columns):
        self.n_columns = n_columns
        self.draws = 0
        self.mutation = np.zeros(n_columns)
        self.deletion = np.zeros(n_columns)

    def add(self, draw):
        self.draws += 1
        self.mutation += draw.column_values(draw.mutation, self.n_columns)
        self.deletion += draw.column_values(draw.deletion, self.n_columns)

    def means(self):
        """(mean mutation rate, mean deletion rate) of every column."""
        return self.mutation / self.draws, self.deletion / self.draws


def column_weighted_reference(column_mutation, column_deletion, callable_columns=None):
    """The reference rates of one case: the mean over its columns of the columns' mean rates, over the
    columns that may be called when there are any (see reference_only_columns)."""
    if callable_columns is not None and np.any(callable_columns):
        column_mutation, column_deletion = column_mutation[callable_columns], column_deletion[callable_columns]
    return float(np.mean(column_mutation)), float(np.mean(column_deletion))


def p_conserved(draws, n_columns, reference, rho=RHO, by="mutation"):
    """P(conserved) of every column: the share of the draws in which its state is conserved."""
    counts = np.zeros(n_columns)
    for draw in draws:
        counts += draw.column_values(conserved_states(draw.deletion, draw.mutation, reference, rho, by), n_columns)
    return counts / max(len(draws), 1)


def reference_only_columns(path, n_columns):
    """Per modelled column of an alignment file (a line whose first value is a residue, 1..4), whether
    every other sequence is absent there (5); None when there is no such file to tell."""
    if not os.path.exists(path):
        return None
    alone = []
    for line in read_lines(path, "alignment file"):
        fields = line.split(None, 1)
        if fields and fields[0] in ("1", "2", "3", "4"):
            alone.append(len(fields) == 1 or set(fields[1].split()) <= {"5"})
    if len(alone) != n_columns:
        raise ToolError(f"{path} has {len(alone)} modelled rows (first value 1..4) but the runs have {n_columns}"
                        " columns: was the run made on another data file?")
    return np.array(alone, dtype=bool)


def elements(positions, probability, mutation, deletion, threshold=THRESHOLD, min_gap=MIN_GAP,
             min_length=MIN_LENGTH, callable_columns=None):
    """The conserved elements: (first, last position (from 1, included), mean P, mean mutation rate, mean
    deletion rate), the means over the element's modelled columns. Only callable columns (all by default;
    see reference_only_columns) start or extend a run."""
    positions = np.asarray(positions, dtype=np.int64)
    inside = np.asarray(probability) >= threshold
    if callable_columns is not None:
        inside &= np.asarray(callable_columns, dtype=bool)
    if not inside.any():
        return []
    breaks = np.ones(len(positions), dtype=bool)
    breaks[1:] = (~inside[:-1]) | (np.diff(positions) != 1)
    run_starts = np.flatnonzero(inside & breaks)
    ends = np.ones(len(positions), dtype=bool)
    ends[:-1] = (~inside[1:]) | (np.diff(positions) != 1)
    run_ends = np.flatnonzero(inside & ends)
    joined = [[run_starts[0], run_ends[0]]]
    for start, end in zip(run_starts[1:], run_ends[1:]):
        if positions[start] - positions[joined[-1][1]] - 1 < min_gap:
            joined[-1][1] = end
        else:
            joined.append([start, end])
    sums = [np.concatenate(([0.0], np.cumsum(values, dtype=float))) for values in (probability, mutation, deletion)]
    result = []
    for start, end in joined:
        first, last = int(positions[start]), int(positions[end])
        if last - first + 1 < min_length:
            continue
        count = end - start + 1
        result.append((first, last, *(float((total[end + 1] - total[start]) / count) for total in sums)))
    return result


def element_bed_lines(chromosome, found):
    """BED lines of elements: start from 0, end excluded, name with the mean rates, score 1000 x mean P."""
    return [f"{chromosome}\t{first - 1}\t{last}\tmutation={mutation:.3g};deletion={deletion:.3g}"
            f"\t{int(round(1000 * p))}\n" for first, last, p, mutation, deletion in found]


def _numbers(values):
    return ",".join(repr(float(value)) for value in values)


def paths_text(draws):
    """rate_paths.tsv: one line per kept draw."""
    lines = ["\t".join(PATHS_HEADER) + "\n"]
    for draw in draws:
        path = ",".join(f"{start}:{state}" for start, state in zip(draw.starts, draw.states))
        lines.append(f"{draw.seed}\t{draw.iteration}\t{_numbers(draw.deletion)}\t{_numbers(draw.mutation)}\t{path}\n")
    return "".join(lines)


def _rates(text, path, number):
    values = [parse_float(value, path, number) for value in text.split(",")]
    if any(value < 0 for value in values):
        raise ToolError(f"{path} line {number}: a negative rate in {text[:60]!r}")
    return values


def _path(text, path, number, n_columns, n_states):
    """(run starts, states) of a path 'start:state,start:state,...', checked."""
    pieces = text.replace(":", ",").split(",")
    try:
        values = np.array(pieces, dtype=np.int64)
    except ValueError:
        values = None
    if values is None or len(values) % 2:
        raise ToolError(f"{path} line {number}: the path {text[:60]!r} is not a list of 'column:state' runs")
    starts, states = values[0::2], values[1::2]
    for what, numbers, high in (("column", starts, n_columns - 1), ("state", states, n_states - 1)):
        outside = np.flatnonzero((numbers < 0) | (numbers > high))
        if len(outside):
            raise ToolError(f"{path} line {number}: {what} {numbers[outside[0]]} is outside 0..{high}")
    if starts[0] != 0 or np.any(np.diff(starts) <= 0):
        raise ToolError(f"{path} line {number}: the path's runs must start at column 0 and go forward")
    return starts, states


def read_paths(path, n_columns):
    """The draws of a rate_paths.tsv over `n_columns` columns, every line checked."""
    lines = read_lines(path, "rate paths table")
    if not lines or tuple(lines[0].split("\t")) != PATHS_HEADER:
        raise ToolError(f"{path}: the first line must be the header {chr(9).join(PATHS_HEADER)!r}")
    draws = []
    for number, line in enumerate(lines[1:], start=2):
        fields = line.split("\t")
        if len(fields) != len(PATHS_HEADER):
            raise ToolError(f"{path} line {number}: expected {len(PATHS_HEADER)} tab-separated fields,"
                            f" found {len(fields)}")
        deletion, mutation = _rates(fields[2], path, number), _rates(fields[3], path, number)
        if len(deletion) != len(mutation):
            raise ToolError(f"{path} line {number}: {len(deletion)} deletion rates but {len(mutation)} mutation rates")
        starts, states = _path(fields[4], path, number, n_columns, len(deletion))
        draws.append(Draw(parse_int(fields[0], path, number, 0, 2**32 - 1),
                          parse_int(fields[1], path, number, 1, 10**12), deletion, mutation, starts, states))
    if not draws:
        raise ToolError(f"{path} holds no draw")
    return draws
