"""Cutting a long alignment into windows, each its own test case.

One exact segmentation costs O(k_max L^2) in the number L of modelled
columns, so a chromosome is sampled as consecutive windows of at most W
modelled columns, NAME_w00001, NAME_w00002, ...  A window holds the
alignment's columns from its first modelled column up to the next window's
first one, so that every column of the alignment (modelled or not) is in
exactly one window and the windows' reference spans follow one another
without a hole.  A last window too short for the sampler joins the window
before it.
"""

import os

from alncommon.case import ToolError, plural, tsv_text

WINDOWS_HEADER = ("case", "chromosome", "first_position", "last_position", "modelled_columns", "chromosome_size")


def window_bounds(n_modelled, width, min_columns):
    """[(first, last)] modelled-column indices (from 0, inclusive) of the windows.

    Windows of `width` columns in order; a last one of fewer than
    `min_columns` is merged into the one before (which then holds up to
    width + min_columns - 1 columns).
    """
    bounds = [(first, min(first + width, n_modelled) - 1) for first in range(0, n_modelled, width)]
    if len(bounds) > 1 and bounds[-1][1] - bounds[-1][0] + 1 < min_columns:
        bounds[-2:] = [(bounds[-2][0], bounds[-1][1])]
    return bounds


def window_names(case, count):
    """NAME_w00001/ ... : the case folder of every window (wider numbers past 99999)."""
    digits = max(5, len(str(count)))
    stem = case.rstrip("/")
    return [f"{stem}_w{number:0{digits}d}/" for number in range(1, count + 1)]


class Window:
    """One window: its case name, data lines and modelled columns (positions within the window)."""

    def __init__(self, case, data_lines, columns, first_position, last_position):
        self.case = case
        self.data_lines = data_lines
        self.columns = columns
        self.n_modelled = len(columns)
        self.first_position = first_position
        self.last_position = last_position


def split(case, data_lines, columns, width, min_columns):
    """The windows of a prepared alignment.

    `columns` are (alignment position, reference coordinate) of the modelled
    columns, from 1; within a window the alignment position counts from its
    own first line, as in its data.txt.
    """
    if width < min_columns:
        raise ToolError(f"--window {width}: a window needs at least --min-columns {min_columns} modelled columns")
    if len(columns) < min_columns:
        raise ToolError(f"only {plural(len(columns), 'modelled column')}: fewer than --min-columns {min_columns},"
                        " the smallest case the sampler is to run")
    bounds = window_bounds(len(columns), width, min_columns)
    names = window_names(case, len(bounds))
    windows = []
    for index, ((first, last), name) in enumerate(zip(bounds, names)):
        begin = 0 if index == 0 else columns[first][0] - 1  # line index where the window's data starts
        end = columns[bounds[index + 1][0]][0] - 1 if index + 1 < len(bounds) else len(data_lines)
        own = [(position - begin, coordinate) for position, coordinate in columns[first:last + 1]]
        last_position = columns[bounds[index + 1][0]][1] - 1 if index + 1 < len(bounds) else columns[last][1]
        windows.append(Window(name, data_lines[begin:end], own, columns[first][1], last_position))
    return windows


def windows_table_path(root_dir, case):
    """ROOT/data/NAME_windows.tsv, beside the window cases."""
    return os.path.join(root_dir, "data", case.rstrip("/") + "_windows.tsv")


def windows_text(windows, chromosome, size):
    """The windows table; `chromosome` and its `size` (the reference sequence's length) are those of every
    window, or None when each window carries its own (a genome alignment of several chromosomes)."""
    return tsv_text(WINDOWS_HEADER, ((window.case.rstrip("/"), chromosome or window.chromosome,
                                      window.first_position, window.last_position, window.n_modelled,
                                      size or window.chromosome_size) for window in windows))
