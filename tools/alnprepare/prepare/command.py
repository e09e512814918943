"""The command line of alnprepare: parse, check everything, write the case, report."""

import argparse
import math

from alncommon.case import ToolError, normal_case_name, plural, run_tool

from . import alignment as alignments
from . import case_writer, coding, genome, maf, report, tree as trees, windows as windowing

PROGRAM = "alnprepare"
# The sampler needs more modelled columns than -k, whose default is 4.
DEFAULT_MIN_COLUMNS = 5


def build_parser():
    parser = argparse.ArgumentParser(
        prog=PROGRAM,
        description=(
            "Turn a DNA/RNA alignment and a Newick tree into an alnsampler test case:"
            " ROOT/data/NAME/ gets tree.txt, map_from_leave_label_to_seq_id.txt, data.txt,"
            " columns.tsv and sequences.tsv, and ROOT/results/NAME/ is created. With --window W,"
            " the alignment is cut into cases NAME_w00001/, NAME_w00002/, ... of at most W modelled"
            " columns, listed in ROOT/data/NAME_windows.tsv."
        ),
        epilog=(
            "Coding: A C G T U (any case) become 1 2 3 4 4; '-' and '.' become 0 (gap);"
            " N ? X and the ambiguity codes R Y S W K M B D H V become 5 (missing data),"
            " and so do a sequence's leading and trailing gaps unless --terminal-gaps gap."
            " Any other character is an error. Sequence 0 is the reference: only columns"
            " where it holds A, C, G, T or U are modelled; data.txt keeps every column."
            " Exit status: 0 done, 1 bad input or output folder, 2 bad command line."
        ),
    )
    parser.add_argument("--alignment", required=True, metavar="FILE", help="the alignment")
    parser.add_argument(
        "--format", default="fasta", choices=list(alignments.FORMATS) + ["maf"],
        help="alignment format (default fasta; phylip: relaxed, names end at the first"
        " blank; phylip-strict: names in the first 10 characters; maf: a genome alignment"
        " whose blocks are stitched along the reference species)",
    )
    parser.add_argument("--tree", required=True, metavar="FILE", help="the tree, in Newick format")
    rooting = parser.add_mutually_exclusive_group()
    rooting.add_argument(
        "--outgroup", metavar="NAME[,NAME...]",
        help="root on the middle of the branch above this leaf (or the clade of these leaves)",
    )
    rooting.add_argument("--midpoint", action="store_true", help="root at the middle of the longest leaf-to-leaf path")
    parser.add_argument("--root-dir", required=True, metavar="ROOT/", help="folder holding data/ and results/")
    parser.add_argument("--case", required=True, metavar="NAME/", help="test case folder name")
    parser.add_argument(
        "--reference", metavar="SEQNAME", help="sequence that decides the modelled columns (default: the first one;"
        " with --format maf a species, default the first species of the first block)"
    )
    parser.add_argument(
        "--chrom", metavar="NAME", help="with --format maf: prepare the blocks on this reference sequence"
        " (chromosome) only (default: every sequence the reference lies on; several need --window)"
    )
    parser.add_argument(
        "--overlaps", choices=("trim", "error"), default="trim",
        help="with --format maf: a block that overlaps reference positions taken by earlier blocks keeps only its"
        " columns past them (trim, the default; a block wholly inside them is dropped) or is refused (error)",
    )
    parser.add_argument(
        "--window", type=int, metavar="W", help="cut the alignment into cases of at most W modelled columns"
    )
    parser.add_argument(
        "--min-columns", type=int, metavar="N", help=f"with --window: a last window of fewer than N modelled"
        f" columns joins the one before (default {DEFAULT_MIN_COLUMNS}, what the sampler's default -k 4 needs;"
        " give k_max + 1 for alnsampler -k k_max)"
    )
    parser.add_argument(
        "--missing-length", type=float, metavar="LENGTH",
        help="length given to branches the tree leaves without one (default: such a tree is an error)",
    )
    parser.add_argument(
        "--terminal-gaps", choices=("absent", "gap"), default="absent",
        help="code a sequence's gaps before its first and after its last base as absent (missing data;"
        " the default) or keep them as gaps",
    )
    parser.add_argument(
        "--long-gap", type=int, default=100, metavar="N",
        help="internal gap runs longer than N columns are probably missing data (default 100)",
    )
    parser.add_argument(
        "--long-gaps", choices=("absent", "gap"), default="absent",
        help="code those long internal gap runs absent (the default: an unsequenced stretch read as gaps would"
        " become a rate state of its own) or keep them as gaps",
    )
    parser.add_argument("--force", action="store_true", help="overwrite the files of an existing case")
    return parser


def parse_arguments(argv):
    parser = build_parser()
    arguments = parser.parse_args(argv)
    if arguments.missing_length is not None and not (
        math.isfinite(arguments.missing_length) and arguments.missing_length >= 0
    ):
        parser.error(f"--missing-length {arguments.missing_length!r}: must be finite and at least 0")
    if arguments.long_gap < 1:
        parser.error(f"--long-gap {arguments.long_gap}: give a number of columns of at least 1")
    if not arguments.root_dir:
        parser.error("--root-dir: give a folder, such as ./")
    if arguments.format != "maf":
        if arguments.chrom is not None:
            parser.error("--chrom applies to --format maf only")
        if arguments.overlaps != "trim":
            parser.error("--overlaps applies to --format maf only")
    if arguments.window is not None and arguments.window < 2:
        parser.error(f"--window {arguments.window}: give a number of modelled columns of at least 2")
    if arguments.min_columns is not None and arguments.window is None:
        parser.error("--min-columns applies with --window only")
    if arguments.min_columns is None:
        arguments.min_columns = DEFAULT_MIN_COLUMNS
    elif arguments.min_columns < 2:
        parser.error(f"--min-columns {arguments.min_columns}: the sampler needs at least 2 modelled columns")
    if arguments.outgroup is not None:
        arguments.outgroup = [name.strip() for name in arguments.outgroup.split(",") if name.strip()]
        if not arguments.outgroup:
            parser.error("--outgroup needs a leaf name")
    return arguments


def read_alignment(arguments):
    """(alignment, sequence order, modelled columns)."""
    alignment = alignments.read_alignment(arguments.alignment, arguments.format)
    order = alignments.sequence_order(alignment, arguments.reference)
    return alignment, order, coding.modelled_columns(alignment.rows[order[0]])


def checked_case(arguments):
    case = normal_case_name(arguments.case)
    if case is None:
        raise ToolError(
            f"--case {arguments.case!r}: give a folder name relative to ROOT/data/ and ROOT/results/, such as my_case/"
        )
    return case


def prepared_tree(arguments, names, is_maf):
    """The tree checked, rooted, pruned to `names` (MAF) and laid out: (rows, leaf labels, rooting, pruned,
    warnings)."""
    tree = trees.read_tree(arguments.tree)
    warnings = trees.check_tree(tree, arguments.tree, arguments.missing_length)
    # A genome alignment holds the species of one region only: a tree of
    # more species is pruned to them (after rooting, so that the root stays
    # where the whole tree puts it).
    trees.match_leaves(trees.leaf_names(tree.root), names, arguments.tree, arguments.alignment,
                       extra_leaves=is_maf)
    rooting = trees.root_tree(tree, arguments.tree, arguments.outgroup, arguments.midpoint)
    pruned = trees.prune_to(tree, names) if is_maf else []
    trees.check_sampler_lengths(tree, arguments.tree)
    rows, leaf_labels = trees.label_tree(tree.root)
    return rows, leaf_labels, rooting, pruned, warnings


def prepare(arguments):
    """Check everything, then write the case (or the windows); returns the report lines and warnings."""
    case = checked_case(arguments)
    if arguments.format == "maf":
        return prepare_maf(arguments, case)
    alignment, order, columns = read_alignment(arguments)
    reference_name = alignment.names[order[0]]
    if len(columns) < 2:
        raise ToolError(
            f"reference {reference_name!r} holds A, C, G, T or U in {plural(len(columns), 'column')}"
            " only; the sampler needs at least 2 modelled columns (pick another with --reference)"
        )
    rows, leaf_labels, rooting, pruned, warnings = prepared_tree(arguments, alignment.names, False)
    missing = coding.MissingData(arguments.terminal_gaps, arguments.long_gap, arguments.long_gaps)
    data_lines = coding.encode_rows(alignment, order, missing)
    parts = report.Preparation(alignment, reference_name, columns, rows, rooting, data_lines, missing, pruned)

    def texts(lines, positions):
        return case_writer.case_texts(rows, leaf_labels, alignment.names, order, lines, positions)

    if arguments.window is None:
        data_dir, folder_warnings = case_writer.write_case(arguments.root_dir, case, texts(data_lines, columns),
                                                           arguments.force)
        lines = report.report(parts, data_dir, arguments.root_dir, case)
        return lines, warnings + folder_warnings + report.report_warnings(len(columns), missing)
    windows = windowing.split(case, data_lines, columns, arguments.window, arguments.min_columns)
    table = windowing.windows_table_path(arguments.root_dir, case)
    folder_warnings = case_writer.write_windows(
        arguments.root_dir, windows, lambda window: texts(window.data_lines, window.columns), table,
        windowing.windows_text(windows, reference_name, alignment.reference_length(order[0])), arguments.force)
    lines = report.window_report(parts, windows, table, arguments.root_dir, arguments.window)
    return lines, warnings + folder_warnings + report.report_warnings(None, missing)


def prepare_maf(arguments, case):
    """A MAF file in two passes over its blocks: checked and counted, then stitched and written window by
    window (or as one case), so that memory stays bounded by a window."""
    scan, kept = maf.scan(arguments.alignment, arguments.reference, arguments.chrom, arguments.overlaps,
                          arguments.long_gap)
    if arguments.window is None and len(scan.chromosomes) > 1:
        raise ToolError(f"MAF {arguments.alignment}: the reference {scan.reference!r} lies on"
                        f" {len(scan.chromosomes)} sequences ({genome.chromosome_counts(scan)}): cut them all"
                        " into windows with --window W, or choose one with --chrom NAME for a single case")
    rows, leaf_labels, rooting, pruned, warnings = prepared_tree(arguments, scan.species, True)
    plans, short = genome.plan_windows(scan, case, arguments.window, arguments.min_columns)
    order = list(range(len(scan.species)))
    table = windowing.windows_table_path(arguments.root_dir, case)
    names = [name for bounds, window_names in plans.values() for name in window_names]
    if arguments.window is not None:
        case_writer.check_windows_free(arguments.root_dir, names, table, arguments.force)
    else:
        case_writer.check_case_free(arguments.root_dir, case, arguments.force)
    written = genome.Written()

    def write(window):
        texts = case_writer.case_texts(rows, leaf_labels, scan.species, order, window.data_lines, window.columns,
                                       window.chromosome)
        _, notes = case_writer.write_case(arguments.root_dir, window.case, texts, True)
        written.add(window, notes)

    genome.stitch(scan, kept, plans, arguments.terminal_gaps == "absent", arguments.long_gaps == "absent", write)
    order_of = {name: index for index, name in enumerate(scan.chromosomes)}
    written.windows.sort(key=lambda window: (order_of[window.chromosome], window.case))
    missing = genome.missing_data(scan, arguments)
    parts = report.Preparation(scan, scan.reference, written, rows, rooting, None, missing, pruned)
    if arguments.window is None:
        data_dir = case_writer.data_folder(arguments.root_dir, case)
        lines = report.maf_report(parts, data_dir, arguments.root_dir, case, None)
        return lines, warnings + written.folder_warnings() + report.report_warnings(written.modelled, missing)
    warnings += case_writer.finish_windows(arguments.root_dir, written.windows, table,
                                           windowing.windows_text(written.windows, None, None), written.notes)
    warnings += written.reference_only_warnings(scan.reference)
    lines = report.maf_report(parts, table, arguments.root_dir, case, (arguments.window, short))
    return lines, warnings + report.report_warnings(None, missing)


def main(argv=None):
    arguments = parse_arguments(argv)
    return run_tool(PROGRAM, lambda: prepare(arguments))
