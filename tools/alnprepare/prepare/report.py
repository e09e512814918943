"""The report alnprepare prints, ending with the commands to run next."""

from alncommon.case import listing, plural
from alncommon.recipe import (SAMPLER_DEFAULT_K_MAX, missing_sampler_note, recipe_commands, recipe_heading,
                              sampler_program)

PROGRAM = "alnprepare"


class Preparation:
    """What the report tells about a prepared alignment, for one case or for windows."""

    def __init__(self, alignment, reference_name, columns, rows, rooting, data_lines, missing, pruned):
        self.alignment = alignment
        self.reference_name = reference_name
        self.columns = columns
        self.rows = rows
        self.rooting = rooting
        self.data_lines = data_lines
        self.missing = missing
        self.pruned = pruned


def report_warnings(n_modelled, missing):
    """Warnings of a case of `n_modelled` columns (None for windows, sized by --min-columns)."""
    warnings = [] if sampler_program() else [missing_sampler_note(PROGRAM)]
    if n_modelled is not None and n_modelled <= SAMPLER_DEFAULT_K_MAX:
        warnings.append(f"only {n_modelled} modelled columns: the sampler's default -k {SAMPLER_DEFAULT_K_MAX}"
                        f" needs {SAMPLER_DEFAULT_K_MAX + 1}, so the commands below lower it")
    if missing.long_runs and not missing.long_absent:
        count = sum(map(len, missing.long_runs.values()))
        warnings.append(
            f"{plural(count, 'internal gap run')} longer than {missing.long_gap} columns in"
            f" {listing(missing.long_runs)} (listed in the report) {'looks' if count == 1 else 'look'} like"
            " missing data, which the sampler"
            " would read as deletions; --long-gaps absent codes them absent"
        )
    return warnings


def missing_data_lines(missing):
    """What the missing-data rules recoded, and the long gap runs of each sequence."""
    def outcome(absent):
        return "coded absent" if absent else "kept as gaps"

    lines = [f"  terminal gaps     {plural(missing.terminal_cells, 'cell')} {outcome(missing.terminal_absent)}"
             " (before a sequence's first base and after its last)"]
    if not missing.long_runs:
        return lines + [f"  long gaps         no internal gap run longer than {missing.long_gap} columns"]
    count = sum(map(len, missing.long_runs.values()))
    lines.append(f"  long gaps         {plural(count, 'internal run')} longer than {missing.long_gap} columns,"
                 f" {plural(missing.long_cells, 'cell')} {outcome(missing.long_absent)}")
    for name, runs in missing.long_runs.items():
        # A run is (first, last) alignment columns, or (chromosome, first, last) stitched columns of a MAF.
        shown = ", ".join("-".join(map(str, run[-2:])) if len(run) == 2 else f"{run[0]}:{run[1]}-{run[2]}"
                          for run in runs[:10])
        lines.append(f"    {name!r} columns {shown}" + (f", ... ({len(runs)} runs)" if len(runs) > 10 else ""))
    return lines


def summary_lines(parts):
    alignment, data_lines = parts.alignment, parts.data_lines
    cells = len(alignment.names) * alignment.n_columns
    gaps = sum(line.count("0") for line in data_lines)
    absent = sum(line.count("5") for line in data_lines)
    return [
        f"  {'sequences':<18}{len(alignment.names)} (reference {parts.reference_name!r})",
        f"  columns           {alignment.n_columns}",
        f"  modelled columns  {len(parts.columns)} (the reference holds A, C, G, T or U)",
        f"  gap fraction      {gaps / cells:.4f} (cells coded as gaps)",
        f"  absent fraction   {absent / cells:.4f} (cells coded absent: N, ?, X, ambiguity codes, recoded gaps)",
        *missing_data_lines(parts.missing),
        tree_line(parts),
    ]


def report(parts, data_dir, root_dir, case):
    return [
        f"{PROGRAM}: wrote {data_dir}",
        *summary_lines(parts),
        recipe_heading(),
        *(f"  {command}" for command in recipe_commands(root_dir, case, len(parts.columns))),
    ]


def window_report(parts, windows, table, root_dir, width):
    sizes = [len(window.columns) for window in windows]
    first, last = windows[0].case, windows[-1].case
    merged = max(sizes) > width
    return [
        f"{PROGRAM}: wrote {plural(len(windows), 'window case')} {first} .. {last} and {table}",
        *summary_lines(parts),
        f"  windows           {len(windows)} of at most {width} modelled columns ({min(sizes)} to {max(sizes)}"
        + (", the last, too short, joined to the one before)" if merged else ")"),
        recipe_heading(f"for {first}; the workflow in workflow/ runs every window"),
        *(f"  {command}" for command in recipe_commands(root_dir, first, min(sizes))),
    ]


def tree_line(parts):
    tree = f"  tree              {len(parts.rows) // 2 + 1} leaves, {len(parts.rows)} branches, {parts.rooting}"
    if parts.pruned:
        tree += f"; pruned to the alignment's species, without {listing(parts.pruned)}"
    return tree


def maf_lines(parts):
    """How a MAF file was read, stitched and coded."""
    from .maf import describe_overlaps

    scan, written = parts.alignment, parts.columns
    chromosomes = list(scan.chromosomes.values())
    skipped = "".join(f", {plural(count, 'block')} {reason} left out" for reason, count in scan.skipped().items())
    lines = [f"  species           {len(scan.species)} (reference {scan.reference!r})",
             f"  genome alignment  {plural(sum(stats.blocks for stats in chromosomes), 'block')} stitched along"
             f" {scan.reference!r} on {plural(len(chromosomes), 'sequence')}{skipped}; species absent from a"
             " block are coded absent"]
    overlaps = describe_overlaps(scan)
    if overlaps:
        lines.append(f"  overlaps          {overlaps}")
    if not scan.sorted:
        line, name = scan.unsorted_at
        lines.append(f"  block order       not in reference order on {name!r} (from line {line}): sorted in memory"
                     " (a MAF sorted by reference position is read with memory bounded by a window)")
    if len(chromosomes) > 1:
        for stats in chromosomes[:30]:
            lines.append(f"    {stats.name:<16} {plural(stats.blocks, 'block')}, {stats.modelled} modelled columns")
        if len(chromosomes) > 30:
            lines.append(f"    ... ({len(chromosomes)} sequences)")
    cells = max(written.cells, 1)
    return lines + [
        f"  columns           {written.columns}",
        f"  modelled columns  {written.modelled} (the reference holds A, C, G, T or U)",
        f"  gap fraction      {written.gaps / cells:.4f} (cells coded as gaps)",
        f"  absent fraction   {written.absent / cells:.4f} (cells coded absent: N, ?, X, ambiguity codes, recoded"
        " gaps, species absent from a block)",
        *missing_data_lines(parts.missing),
        tree_line(parts),
    ]


def maf_report(parts, written_to, root_dir, case, windowing):
    """The report of a MAF file prepared as one case (`windowing` None) or as windows ((W, chromosomes left
    out))."""
    written = parts.columns
    if windowing is None:
        return [f"{PROGRAM}: wrote {written_to}", *maf_lines(parts), recipe_heading(),
                *(f"  {command}" for command in recipe_commands(root_dir, case, written.modelled))]
    width, short = windowing
    windows = written.windows
    sizes = [window.n_modelled for window in windows]
    lines = [f"{PROGRAM}: wrote {plural(len(windows), 'window case')} {windows[0].case} .. {windows[-1].case} and"
             f" {written_to}", *maf_lines(parts),
             f"  windows           {len(windows)} of at most {width} modelled columns ({min(sizes)} to {max(sizes)};"
             " a last window too short for the sampler joins the one before)"]
    if short:
        lines.append(f"  left out          {plural(len(short), 'sequence')} with too few modelled columns for a"
                     f" window ({listing(short)})")
    return lines + [recipe_heading(f"for {windows[0].case}; the workflow in workflow/ runs every window"),
                    *(f"  {command}" for command in recipe_commands(root_dir, windows[0].case, min(sizes)))]
