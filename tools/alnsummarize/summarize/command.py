"""The command line of alnsummarize: parse, read the runs, summarise, write."""

import argparse
import os

from alncommon.case import ToolError, normal_case_name, run_tool, with_slash, write_text

from . import plots, report, tables, tracks
from .case_data import internal_node_names, read_positions, reference_name
from .runs import parse_burnin, read_chains
from .statistics import Summary

PROGRAM = "alnsummarize"


def build_parser():
    parser = argparse.ArgumentParser(
        prog=PROGRAM,
        description=(
            "Summarise alnsampler runs of one test case (one run per seed, each a chain):"
            " posterior of the rate states, segments, rates and (with --ancestors runs)"
            " ancestral sequences, convergence diagnostics, a Tracer log, tracks and plots."
        ),
        epilog=(
            "Rate states are relabelled in every iteration by increasing mutation rate"
            " (state 0 = slowest) unless --no-relabel is given."
            " Exit status: 0 done, 1 bad input or output folder, 2 bad command line."
        ),
    )
    parser.add_argument("--root-dir", required=True, metavar="ROOT/", help="folder holding data/ and results/")
    parser.add_argument("--case", required=True, metavar="NAME/", help="test case folder name")
    parser.add_argument("--seeds", required=True, nargs="+", type=int, metavar="SEED",
                        help="seeds of the runs to combine")
    parser.add_argument("--burnin", type=parse_burnin, default=0.25, metavar="B",
                        help="iterations dropped from the start of each chain: a fraction 0 <= B < 1"
                        " (default 0.25) or a whole number of iterations")
    parser.add_argument("--out", required=True, metavar="DIR", help="output folder (created if missing)")
    parser.add_argument("--data-file", default="data.txt", metavar="FILE",
                        help="the alignment file the runs read (-d of alnsampler; default data.txt)")
    parser.add_argument("--no-relabel", action="store_true", help="keep the sampled rate-state labels")
    parser.add_argument("--no-plots", action="store_true", help="write the tables and tracks only")
    return parser


def parse_arguments(argv):
    parser = build_parser()
    arguments = parser.parse_args(argv)
    duplicated = sorted({seed for seed in arguments.seeds if arguments.seeds.count(seed) > 1})
    if duplicated:
        parser.error(f"--seeds: seed {duplicated[0]} is given twice")
    if any(seed < 0 for seed in arguments.seeds):
        parser.error("--seeds: seeds are 0 or more")
    case = normal_case_name(arguments.case)
    if case is None:
        parser.error(f"--case {arguments.case!r}: give a folder name relative to ROOT/data/ and ROOT/results/")
    arguments.case = case
    return arguments


def summarise(arguments):
    """Read, check and summarise; write every output; returns the report lines."""
    root = with_slash(arguments.root_dir)
    results_dir = os.path.join(root, "results", arguments.case)
    data_dir = os.path.join(root, "data", arguments.case)
    chains = read_chains(results_dir, arguments.seeds, arguments.burnin)
    positions = read_positions(data_dir, arguments.data_file, chains[0].n_columns)
    summary = Summary(chains, relabel=not arguments.no_relabel)

    with_ancestors = [chain for chain in chains if chain.has_ancestors()]
    if with_ancestors and len(with_ancestors) < len(chains):
        missing = [str(chain.seed) for chain in chains if chain not in with_ancestors]
        which = f"seed {missing[0]} has" if len(missing) == 1 else f"seeds {' '.join(missing)} have"
        report.warn(f"{which} no ancestors files: the ancestral summaries are left out;"
                    " run every chain with --ancestors")
        with_ancestors = []
    titles = None
    if with_ancestors:
        n_internal = chains[0].ancestors_width()
        summary.add_ancestors(n_internal)
        titles = internal_node_names(data_dir, n_internal)

    try:
        os.makedirs(arguments.out, exist_ok=True)
    except OSError as error:
        raise ToolError(f"cannot create output folder {arguments.out}: {error.strerror}") from None
    out = arguments.out
    written = ["columns.tsv", "segments.tsv", "rates.tsv"]
    tables.write_columns(os.path.join(out, "columns.tsv"), summary, positions)
    tables.write_segments(os.path.join(out, "segments.tsv"), summary)
    tables.write_rates(os.path.join(out, "rates.tsv"), summary)
    if summary.ancestors is not None:
        tables.write_ancestors(out, summary, titles)
        written += ["ancestors.fasta", "ancestors.tsv"]
    written += tables.write_tracer_logs(out, summary)
    chrom = reference_name(data_dir, arguments.case)
    tracks.write_tracks(out, summary, positions, chrom, arguments.case.rstrip("/"))
    written += ["rate_states.wig", "conserved.bed"]
    if not arguments.no_plots:
        plots.plot_traces(os.path.join(out, "traces.png"), summary)
        plots.plot_segments(os.path.join(out, "segments.png"), summary)
        plots.plot_rate_states(os.path.join(out, "rate_states.png"), summary, positions)
        written += ["traces.png", "segments.png", "rate_states.png"]
        if summary.ancestors is not None:
            plots.plot_root_confidence(os.path.join(out, "root_confidence.png"), summary, positions)
            written.append("root_confidence.png")

    lines = report.report_lines(arguments.case, data_dir, positions, summary)
    written.append("report.txt")
    lines.append(f"wrote into {out}: {' '.join(written)}")
    write_text(os.path.join(out, "report.txt"), "\n".join(lines) + "\n")
    return lines, summary.diagnostics_warnings()


def main(argv=None):
    arguments = parse_arguments(argv)
    return run_tool(PROGRAM, lambda: summarise(arguments))
