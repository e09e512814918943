"""The command line of alnsummarize: parse, read the runs, summarise, write."""

import argparse
import os

from alncommon.case import (LEAF_MAP_FILE, TREE_FILE, ToolError, normal_case_name, run_tool, warning_text, with_slash,
                            write_text)

from . import html_report, next_step, plots, report, tables, tracks
from .case_data import input_column_count, internal_node_names, read_case_tree, read_positions, reference_name
from .runs import AUTO_BURNIN, burnin_warnings, older_than_inputs, parse_burnin, read_chains
from .statistics import CONSERVATION_KEYS, Summary
from .tracks import CONSERVED_THRESHOLD, MIN_GAP, MIN_LENGTH, conserved_call_lines
from alncommon.conservation import RHO

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
            "Rate states are relabelled in every draw by increasing --conserved-by rate"
            " (state 0 = most conserved) unless --no-relabel is given."
            " Exit status: 0 done, 1 bad input or output folder, 2 bad command line."
        ),
    )
    parser.add_argument("--root-dir", required=True, metavar="ROOT/", help="folder holding data/ and results/")
    parser.add_argument("--case", required=True, metavar="NAME/", help="test case folder name")
    parser.add_argument("--seeds", required=True, nargs="+", type=int, metavar="SEED",
                        help="seeds of the runs to combine")
    parser.add_argument("--burnin", type=parse_burnin, default=AUTO_BURNIN, metavar="B",
                        help="iterations dropped from the start of each chain: auto (the default: chosen per chain"
                        " from its log-probability and rate traces), a fraction 0 <= B < 1 or a whole number of"
                        " iterations")
    parser.add_argument("--out", required=True, metavar="DIR", help="output folder (created if missing)")
    parser.add_argument("--data-file", default="data.txt", metavar="FILE",
                        help="the alignment file the runs read (-d of alnsampler; default data.txt)")
    parser.add_argument("--conserved-by", choices=CONSERVATION_KEYS, default="mutation",
                        help="the rate that orders the rate states (state 0 the lowest; the labels and"
                        " rate_states.wig) and that the conserved call tests: mutation (default), deletion or"
                        " their total")
    parser.add_argument("--rho", type=parse_rho, default=RHO, metavar="R",
                        help="a column is conserved in a draw when its state's mutation rate is below R times the"
                        " case's mean mutation rate and its deletion rate at most the mean (default 0.3)")
    parser.add_argument("--threshold", type=parse_threshold, default=CONSERVED_THRESHOLD, metavar="P",
                        help="conserved.bed: elements are runs of P(conserved) >= P (default 0.5)")
    parser.add_argument("--min-gap", type=parse_count, default=MIN_GAP, metavar="N",
                        help="runs with fewer than N positions between them are joined (default 5)")
    parser.add_argument("--min-length", type=parse_count, default=MIN_LENGTH, metavar="N",
                        help="elements shorter than N positions are dropped (default 10)")
    parser.add_argument("--modelled-only", action="store_true",
                        help="ancestors.fasta over the modelled columns only (default: one character per input"
                        " column, N where nothing is modelled)")
    parser.add_argument("--no-relabel", action="store_true", help="keep the sampled rate-state labels")
    parser.add_argument("--no-plots", action="store_true", help="write the tables and tracks only")
    return parser


def parse_threshold(text):
    try:
        value = float(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"{text!r} is not a number") from None
    if not 0 <= value < 1:
        raise argparse.ArgumentTypeError(f"{text!r} is out of range: give a probability 0 <= P < 1")
    return value


def parse_rho(text):
    try:
        value = float(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"{text!r} is not a number") from None
    if not 0 < value <= 1:
        raise argparse.ArgumentTypeError(f"{text!r} is out of range: give a factor 0 < R <= 1")
    return value


def parse_count(text):
    if not text.isdigit() or int(text) > 10**9:
        raise argparse.ArgumentTypeError(f"{text!r} is not a whole number of positions (0 or more)")
    return int(text)


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


def read_ancestors(chains, summary, data_dir):
    """The ancestral summaries when every chain has them; the case's tree (or None) and a warning."""
    with_ancestors = [chain for chain in chains if chain.has_ancestors()]
    if not with_ancestors:
        return None, []
    if len(with_ancestors) < len(chains):
        missing = [str(chain.seed) for chain in chains if chain not in with_ancestors]
        which = f"seed {missing[0]} has" if len(missing) == 1 else f"seeds {' '.join(missing)} have"
        return None, [f"{which} no ancestors files: the ancestral summaries are left out;"
                      " run every chain with --ancestors"]
    n_internal = chains[0].ancestors_width()
    summary.add_ancestors(n_internal)
    return read_case_tree(data_dir, n_internal), []


def summarise(arguments):
    """Read, check and summarise; write every output; returns the report lines and the warnings."""
    root = with_slash(arguments.root_dir)
    results_dir = os.path.join(root, "results", arguments.case)
    data_dir = os.path.join(root, "data", arguments.case)
    chains = read_chains(results_dir, arguments.seeds, arguments.burnin)
    positions = read_positions(data_dir, arguments.data_file, chains[0].n_columns)
    summary = Summary(chains, relabel=not arguments.no_relabel, conserved_by=arguments.conserved_by,
                      rho=arguments.rho, callable_columns=positions.callable_columns())
    tree, ancestors_warnings = read_ancestors(chains, summary, data_dir)
    if summary.ancestors is not None:
        n_internal = summary.ancestors.shape[0]
        titles = internal_node_names(tree, n_internal)
        n_input = input_column_count(data_dir, arguments.data_file, positions)
        sequences = tables.ancestor_sequences(summary, positions, n_input, arguments.modelled_only)
    inputs = [os.path.join(data_dir, name) for name in (TREE_FILE, LEAF_MAP_FILE, arguments.data_file)]
    warnings = [message for chain in chains for message in chain.warnings]
    warnings += older_than_inputs(chains, inputs) + burnin_warnings(chains) + ancestors_warnings
    warnings += summary.warnings(plots_written=not arguments.no_plots)

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
        tables.write_ancestors(out, summary, titles, sequences)
        written += ["ancestors.fasta", "ancestors.tsv"]
        if tree is not None:
            write_text(os.path.join(out, "ancestors.nwk"), tree.newick())
            written.append("ancestors.nwk")
    written += tables.write_tracer_logs(out, summary)
    chrom = reference_name(data_dir, arguments.case)
    calling = (arguments.threshold, arguments.min_gap, arguments.min_length)
    written += tracks.write_tracks(out, summary, positions, chrom, arguments.case.rstrip("/"), *calling)
    if not arguments.no_plots:
        written += plots.write_plots(out, summary, positions, arguments.case.rstrip("/"))

    lines = report.report_lines(arguments.case, data_dir, positions, summary)
    lines += conserved_call_lines(summary, positions, *calling)
    written += ["summary.tsv", "warnings.txt", "report.txt", "report.html"]
    lines.append(f"wrote into {out}: {' '.join(written)}")
    tables.write_table(os.path.join(out, "summary.tsv"), ["quantity", "value"], tables.summary_rows(summary, warnings))
    warning_lines = [warning_text(PROGRAM, message) for message in warnings]
    write_text(os.path.join(out, "warnings.txt"), "".join(line + "\n" for line in warning_lines))
    heading, commands = next_step.next_step(build_parser(), arguments, summary)
    next_lines = [heading, *(f"  {command}" for command in commands)]
    write_text(os.path.join(out, "report.txt"), "\n".join(lines + warning_lines + next_lines) + "\n")
    html_report.write_report(os.path.join(out, "report.html"), summary, lines, warnings, (heading, commands),
                             [name for name in written if name.endswith(".png")])
    return lines, warnings, next_lines


def main(argv=None):
    arguments = parse_arguments(argv)
    return run_tool(PROGRAM, lambda: summarise(arguments))
