"""The command line of alnprepare: parse, check everything, write the case, report."""

import argparse
import math

from alncommon.case import ToolError, normal_case_name, plural, run_tool

from . import alignment as alignments
from . import case_writer, coding, maf, report, tree as trees, windows as windowing

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
        "--chrom", metavar="NAME", help="with --format maf: the reference sequence (chromosome) whose blocks are"
        " kept, needed when the reference lies on several"
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
        help="internal gap runs longer than N columns are reported as probably missing data (default 100)",
    )
    parser.add_argument(
        "--long-gaps", choices=("gap", "absent"), default="gap",
        help="keep those long internal gap runs as gaps (the default) or code them absent",
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
    if arguments.chrom is not None and arguments.format != "maf":
        parser.error("--chrom applies to --format maf only")
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
    """(alignment, sequence order, modelled columns); for MAF the stitched blocks, reference first."""
    if arguments.format == "maf":
        alignment = maf.read_maf(arguments.alignment, arguments.reference, arguments.chrom)
        return alignment, list(range(len(alignment.names))), alignment.columns
    alignment = alignments.read_alignment(arguments.alignment, arguments.format)
    order = alignments.sequence_order(alignment, arguments.reference)
    return alignment, order, coding.modelled_columns(alignment.rows[order[0]])


def prepare(arguments):
    """Check everything, then write the case (or the windows); returns the report lines and warnings."""
    case = normal_case_name(arguments.case)
    if case is None:
        raise ToolError(
            f"--case {arguments.case!r}: give a folder name relative to ROOT/data/ and ROOT/results/, such as my_case/"
        )
    alignment, order, columns = read_alignment(arguments)
    reference_name = alignment.names[order[0]]
    if len(columns) < 2:
        raise ToolError(
            f"reference {reference_name!r} holds A, C, G, T or U in {plural(len(columns), 'column')}"
            " only; the sampler needs at least 2 modelled columns (pick another with --reference)"
        )
    tree = trees.read_tree(arguments.tree)
    warnings = trees.check_tree(tree, arguments.tree, arguments.missing_length)
    # A genome alignment holds the species of one region only: a tree of
    # more species is pruned to them (after rooting, so that the root stays
    # where the whole tree puts it).
    is_maf = arguments.format == "maf"
    trees.match_leaves(trees.leaf_names(tree.root), alignment.names, arguments.tree, arguments.alignment,
                       extra_leaves=is_maf)
    rooting = trees.root_tree(tree, arguments.tree, arguments.outgroup, arguments.midpoint)
    pruned = trees.prune_to(tree, alignment.names) if is_maf else []
    rows, leaf_labels = trees.label_tree(tree.root)
    missing = coding.MissingData(arguments.terminal_gaps, arguments.long_gap, arguments.long_gaps)
    data_lines = coding.encode_rows(alignment, order, missing)
    parts = report.Preparation(alignment, reference_name, columns, rows, rooting, data_lines, missing, pruned)
    chromosome = getattr(alignment, "chromosome", None)

    def texts(lines, positions):
        return case_writer.case_texts(rows, leaf_labels, alignment.names, order, lines, positions, chromosome)

    if arguments.window is None:
        data_dir, folder_warnings = case_writer.write_case(arguments.root_dir, case, texts(data_lines, columns),
                                                           arguments.force)
        lines = report.report(parts, data_dir, arguments.root_dir, case)
        return lines, warnings + folder_warnings + report.report_warnings(len(columns), missing)
    windows = windowing.split(case, data_lines, columns, arguments.window, arguments.min_columns)
    table = windowing.windows_table_path(arguments.root_dir, case)
    folder_warnings = case_writer.write_windows(
        arguments.root_dir, windows, lambda window: texts(window.data_lines, window.columns), table,
        windowing.windows_text(windows, chromosome or reference_name), arguments.force)
    lines = report.window_report(parts, windows, table, arguments.root_dir, arguments.window)
    return lines, warnings + folder_warnings + report.report_warnings(None, missing)


def main(argv=None):
    arguments = parse_arguments(argv)
    return run_tool(PROGRAM, lambda: prepare(arguments))
