"""The command line of alnmerge: read every window's summary, check, write the genome files."""

import argparse
import math
import os

from alncommon.case import ToolError, run_tool, write_text

from . import tables, tracks
from .windows import check_layout, read_summary, read_windows_table, summary_dir

PROGRAM = "alnmerge"


def build_parser():
    parser = argparse.ArgumentParser(
        prog=PROGRAM,
        description=(
            "Merge the alnsummarize outputs of window cases (alnprepare --window) into genome-wide"
            " files: conserved.bed and rate_states.wig in reference coordinates (sorted, one wig"
            " track per chromosome), windows.tsv (per window: rates, ESS, R-hat, P(k = k_max),"
            " warnings) and report.txt (every window that did not converge)."
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
    parser.add_argument("--max-rhat", type=float, default=1.05, metavar="R",
                        help="a window converged when every rate's split R-hat is at most R (default 1.05)")
    parser.add_argument("--min-ess", type=float, default=100.0, metavar="N",
                        help="... and every rate's effective sample size at least N (default 100)")
    parser.add_argument("--max-p-kmax", type=float, default=0.05, metavar="P",
                        help="list windows whose P(k = k_max) exceeds P (default 0.05)")
    return parser


def parse_arguments(argv):
    parser = build_parser()
    arguments = parser.parse_args(argv)
    for name in ("max_rhat", "min_ess", "max_p_kmax"):
        value = getattr(arguments, name)
        if not math.isfinite(value) or value < 0:
            parser.error(f"--{name.replace('_', '-')} {value!r}: give a finite number of at least 0")
    if os.path.basename(os.path.normpath(arguments.summary)) != arguments.summary.strip("/"):
        parser.error(f"--summary {arguments.summary!r}: give a folder name, not a path")
    return arguments


def merge(arguments):
    windows = [window for path in arguments.windows for window in read_windows_table(path)]
    windows = check_layout(windows)
    for window in windows:
        read_summary(window, summary_dir(arguments.root_dir, window, arguments.summary))
    thresholds = tables.Thresholds(arguments.max_rhat, arguments.min_ess, arguments.max_p_kmax)
    bed = tracks.bed_text(windows)
    try:
        os.makedirs(arguments.out, exist_ok=True)
    except OSError as error:
        raise ToolError(f"cannot create output folder {arguments.out}: {error.strerror}") from None
    write_text(os.path.join(arguments.out, "conserved.bed"), bed)
    write_text(os.path.join(arguments.out, "rate_states.wig"), tracks.wig_text(windows))
    write_text(os.path.join(arguments.out, "windows.tsv"), tables.windows_table(windows, thresholds))
    lines = tables.report_lines(windows, thresholds, arguments.out, bed.count("\n"))
    write_text(os.path.join(arguments.out, "report.txt"), "\n".join(lines) + "\n")
    return lines, []


def main(argv=None):
    arguments = parse_arguments(argv)
    return run_tool(PROGRAM, lambda: merge(arguments))
