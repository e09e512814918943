"""The command line of alnmerge: read and check every window's summary, then write the genome files."""

import argparse
import math
import os

from alncommon.case import ToolError, run_tool, write_text
from alncommon.conservation import (CONSERVATION_KEYS, MIN_GAP, MIN_LENGTH, PATHS_FILE, RHO, THRESHOLD, read_paths,
                                    reference_only_columns)

from . import plots, tables, tracks
from .windows import check_layout, read_columns, read_summary, read_windows_table, summary_dir

PROGRAM = "alnmerge"
GENOME_FILES = ("conserved.bed", "conservation.bw", "mutation_rate.bw", "deletion_rate.bw", "conservation.bedGraph",
                "mutation_rate.bedGraph", "deletion_rate.bedGraph", "windows.tsv", "genome.png", "report.txt")


def build_parser():
    parser = argparse.ArgumentParser(
        prog=PROGRAM,
        description=(
            "Merge the alnsummarize outputs of window cases (alnprepare --window) into genome-wide"
            " files: P(conserved), mutation and deletion rate per reference position against the"
            " genome-wide reference rates (bigWig and bedGraph, sorted as genome browsers and bedtools"
            " expect), the conserved elements (conserved.bed), windows.tsv, genome.png and report.txt."
        ),
        epilog="Exit status: 0 done, 1 bad input or output folder, 2 bad command line.",
    )
    parser.add_argument("--root-dir", required=True, metavar="ROOT/", help="folder holding data/ and results/")
    parser.add_argument("--windows", required=True, nargs="+", metavar="TABLE",
                        help="windows tables written by alnprepare --window (ROOT/data/NAME_windows.tsv)")
    parser.add_argument("--summary", default="summary", metavar="NAME",
                        help="folder of each window's summary inside ROOT/results/CASE/ (alnsummarize --out;"
                        " default summary)")
    parser.add_argument("--out", required=True, metavar="DIR", help="output folder (created if missing)")
    parser.add_argument("--rho", type=float, default=RHO, metavar="R",
                        help="a column is conserved in a draw when its state's mutation rate is below R times the"
                        " genome-wide mean and its deletion rate at most that mean (default 0.3)")
    parser.add_argument("--conserved-by", choices=CONSERVATION_KEYS, default="mutation",
                        help="the rate the conserved call tests (default mutation; see alnsummarize)")
    parser.add_argument("--threshold", type=float, default=THRESHOLD, metavar="P",
                        help="elements are runs of P(conserved) >= P (default 0.5)")
    parser.add_argument("--min-gap", type=int, default=MIN_GAP, metavar="N",
                        help="runs with fewer than N positions between them are joined (default 5)")
    parser.add_argument("--min-length", type=int, default=MIN_LENGTH, metavar="N",
                        help="elements shorter than N positions are dropped (default 10)")
    parser.add_argument("--max-rhat", type=float, default=1.05, metavar="R",
                        help="a window converged when every rate's split R-hat is at most R (default 1.05)")
    parser.add_argument("--min-ess", type=float, default=100.0, metavar="N",
                        help="... and every rate's effective sample size at least N (default 100)")
    parser.add_argument("--max-p-kmax", type=float, default=0.05, metavar="P",
                        help="list windows whose P(k = k_max) exceeds P (default 0.05)")
    parser.add_argument("--no-plots", action="store_true", help="leave out genome.png")
    return parser


def parse_arguments(argv):
    parser = build_parser()
    arguments = parser.parse_args(argv)
    for name in ("max_rhat", "min_ess", "max_p_kmax"):
        value = getattr(arguments, name)
        if not math.isfinite(value) or value < 0:
            parser.error(f"--{name.replace('_', '-')} {value!r}: give a finite number of at least 0")
    if not 0 < arguments.rho <= 1:
        parser.error(f"--rho {arguments.rho!r}: give a factor 0 < R <= 1")
    if not 0 <= arguments.threshold < 1:
        parser.error(f"--threshold {arguments.threshold!r}: give a probability 0 <= P < 1")
    for name in ("min_gap", "min_length"):
        if getattr(arguments, name) < 0:
            parser.error(f"--{name.replace('_', '-')} {getattr(arguments, name)}: give 0 or more positions")
    if os.path.basename(os.path.normpath(arguments.summary)) != arguments.summary.strip("/"):
        parser.error(f"--summary {arguments.summary!r}: give a folder name, not a path")
    return arguments


def read_window(window):
    """The second pass's inputs of a window: its positions, kept draws (checked in the first pass) and the
    columns the conserved call may call (None: all; not those where only the reference is aligned)."""
    positions, _, _ = read_columns(window)
    draws = read_paths(os.path.join(window.folder, PATHS_FILE), window.columns)
    reference_only = reference_only_columns(window.data_path, window.columns)
    return positions, draws, None if reference_only is None else ~reference_only


def merge(arguments):
    windows = [window for path in arguments.windows for window in read_windows_table(path)]
    windows = check_layout(windows)
    for window in windows:
        read_summary(window, summary_dir(arguments.root_dir, window, arguments.summary), arguments.root_dir)
    # The yardstick of every window: the mean rates over the columns where another sequence is aligned.
    columns = sum(window.callable_columns for window in windows)
    if columns == 0:
        raise ToolError("no window has a column where a sequence other than the reference is aligned:"
                        " nothing tells how the sequences evolved")
    reference = (sum(window.rate_sums[0] for window in windows) / columns,
                 sum(window.rate_sums[1] for window in windows) / columns)
    thresholds = tables.Thresholds(arguments.max_rhat, arguments.min_ess, arguments.max_p_kmax)
    try:
        os.makedirs(arguments.out, exist_ok=True)
    except OSError as error:
        raise ToolError(f"cannot create output folder {arguments.out}: {error.strerror}") from None
    out = arguments.out
    found = tracks.write_tracks(out, windows, reference, arguments, read_window)
    write_text(os.path.join(out, "conserved.bed"), tracks.bed_text(found))
    write_text(os.path.join(out, "windows.tsv"), tables.windows_table(windows, thresholds))
    written = [name for name in GENOME_FILES if not (arguments.no_plots and name.endswith(".png"))]
    if not arguments.no_plots:
        plots.genome_figure(os.path.join(out, "genome.png"), windows, found, thresholds, reference)
    lines = tables.report_lines(windows, thresholds, reference, arguments, found, out, written)
    write_text(os.path.join(out, "report.txt"), "\n".join(lines) + "\n")
    return lines, []


def main(argv=None):
    arguments = parse_arguments(argv)
    return run_tool(PROGRAM, lambda: merge(arguments))
