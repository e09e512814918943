"""The genome-wide tracks: P(conserved), mutation and deletion rate per reference position, and the
conserved elements, made from every window's kept draws against the genome-wide reference rates.

Chromosomes come in the order of `sort -k1,1` (plain text order), and
positions in increasing order within each, the order genome browsers and
bedtools expect.  Each track is written as bedGraph (with a track line;
start from 0, end excluded, neighbouring positions of equal value joined)
and as bigWig (through pyBigWig).  Elements are found along each chromosome
as a whole, so an element that crosses a window edge is one element.
"""

import itertools
import os

import numpy as np

from alncommon.case import ToolError
from alncommon.conservation import element_bed_lines, elements, p_conserved

TRACKS = (
    ("conservation", "P(conserved)", "posterior probability that the column's rate state is conserved"),
    ("mutation_rate", "mutation rate", "posterior mean mutation rate of the column's rate state"),
    ("deletion_rate", "deletion rate", "posterior mean deletion rate of the column's rate state"),
)


def by_chromosome(windows):
    """[(chromosome, its windows in order)]; `windows` are sorted by chromosome and position."""
    return [(chromosome, list(group)) for chromosome, group in itertools.groupby(windows, lambda w: w.chromosome)]


def chromosome_sizes(windows):
    """(chromosome, length) in sorted order: the length the windows table gives, else the last position."""
    return [(chromosome, max(window.size or window.last for window in group))
            for chromosome, group in by_chromosome(windows)]


def intervals(positions, values):
    """(starts from 0, ends excluded, values) of runs of consecutive positions holding the same value."""
    breaks = np.ones(len(positions), dtype=bool)
    breaks[1:] = (np.diff(positions) != 1) | (np.diff(values) != 0)
    firsts = np.flatnonzero(breaks)
    lasts = np.append(firsts[1:], len(positions)) - 1
    return positions[firsts] - 1, positions[lasts], values[firsts]


class TrackWriter:
    """The three tracks as bedGraph and bigWig files, fed window by window in genome order."""

    def __init__(self, out_dir, sizes, description):
        import pyBigWig

        self.paths = []
        self.texts = {}
        self.big = {}
        for name, title, meaning in TRACKS:
            self.texts[name] = self._open(os.path.join(out_dir, f"{name}.bedGraph"))
            self.texts[name].write(f'track type=bedGraph name="{title}" description="{meaning}, {description}"\n')
            path = os.path.join(out_dir, f"{name}.bw")
            self.big[name] = pyBigWig.open(path, "w")
            if self.big[name] is None:
                raise ToolError(f"cannot write {path}")
            self.big[name].addHeader(sizes)

    def _open(self, path):
        try:
            return open(path, "w", encoding="utf-8", newline="\n")
        except OSError as error:
            raise ToolError(f"cannot write {path}: {error.strerror}") from None

    def add(self, chromosome, positions, tracks):
        for name, values in tracks.items():
            starts, ends, shown = intervals(positions, values)
            self.texts[name].write("".join(f"{chromosome}\t{start}\t{end}\t{value:.6g}\n"
                                           for start, end, value in zip(starts.tolist(), ends.tolist(),
                                                                        shown.tolist())))
            self.big[name].addEntries([chromosome] * len(starts), starts.tolist(), ends=ends.tolist(),
                                      values=[float(value) for value in shown])

    def close(self):
        for handle in self.texts.values():
            handle.close()
        for big in self.big.values():
            big.close()


class ElementFinder:
    """Elements along one chromosome, fed window by window; keeps only what a later window may extend."""

    def __init__(self, calling):
        self.calling = calling  # (threshold, min gap, min length)
        self.parts = []
        self.found = []

    def add(self, positions, probability, mutation, deletion, callable_columns=None):
        if callable_columns is None:
            callable_columns = np.ones(len(positions), dtype=bool)
        self.parts.append((positions, probability, mutation, deletion, callable_columns))
        joined = [np.concatenate(values) for values in zip(*self.parts)]
        threshold, min_gap, _ = self.calling
        runs = elements(*joined[:4], threshold, min_gap, 1, joined[4])
        keep_from = None
        # The last run goes on when a run of the next window can join it: when fewer than min_gap positions
        # (or, with min_gap 0, none) lie between it and the next window's first position.
        if runs and runs[-1][1] + max(min_gap, 1) > joined[0][-1]:
            keep_from = int(np.searchsorted(joined[0], runs[-1][0]))
            runs = runs[:-1]
        self.found += [run for run in runs if run[1] - run[0] + 1 >= self.calling[2]]
        self.parts = [] if keep_from is None else [tuple(values[keep_from:] for values in joined)]

    def finish(self):
        if self.parts:
            joined = [np.concatenate(values) for values in zip(*self.parts)]
            self.found += elements(*joined[:4], *self.calling, joined[4])
        self.parts = []
        return self.found


def write_tracks(out_dir, windows, reference, options, read_window):
    """Second pass: per window, its positions, kept draws and callable columns (read_window(window) ->
    (positions, draws, the columns that may be called conserved, or None for all)), the three tracks against
    the genome-wide `reference`, and the elements; returns {chromosome: elements}."""
    description = (f"genome-wide reference mutation {reference[0]:.4g}, deletion {reference[1]:.4g},"
                   f" rho {options.rho:g}, by {options.conserved_by}")
    writer = TrackWriter(out_dir, chromosome_sizes(windows), description)
    found = {}
    try:
        for chromosome, group in by_chromosome(windows):
            finder = ElementFinder((options.threshold, options.min_gap, options.min_length))
            for window in group:
                positions, draws, callable_columns = read_window(window)
                probability = p_conserved(draws, window.columns, reference, options.rho, options.conserved_by)
                mutation = np.mean([draw.column_values(draw.mutation, window.columns) for draw in draws], axis=0)
                deletion = np.mean([draw.column_values(draw.deletion, window.columns) for draw in draws], axis=0)
                writer.add(chromosome, positions, {"conservation": probability, "mutation_rate": mutation,
                                                   "deletion_rate": deletion})
                finder.add(positions, probability, mutation, deletion, callable_columns)
                window.means = (float(probability.mean()), float(mutation.mean()), float(deletion.mean()))
            found[chromosome] = finder.finish()
    finally:
        writer.close()
    return found


def bed_text(found):
    return "".join(line for chromosome, elements_found in found.items()
                   for line in element_bed_lines(chromosome, elements_found))
