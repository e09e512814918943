"""The report alnprepare prints, ending with the sampler command to run next."""

import shlex

from alncommon.case import SAMPLER, listing, missing_sampler_note, plural, sampler_program, with_slash

PROGRAM = "alnprepare"
# The sampler's default number of segments (-k 4) needs at least five columns.
SAMPLER_DEFAULT_K_MAX = 4


def sampler_command(program, root_dir, case, n_modelled):
    """The alnsampler command that runs the new case, with -k lowered for short alignments."""
    words = [shlex.quote(program), "-r", shlex.quote(with_slash(root_dir)), "-t", shlex.quote(case)]
    if n_modelled <= SAMPLER_DEFAULT_K_MAX:
        words += ["-k", str(n_modelled - 1)]
    return " ".join(words)


def report_warnings(n_modelled, missing):
    warnings = [] if sampler_program() else [missing_sampler_note(PROGRAM)]
    if n_modelled <= SAMPLER_DEFAULT_K_MAX:
        warnings.append(f"only {n_modelled} modelled columns: the sampler's default -k {SAMPLER_DEFAULT_K_MAX}"
                        f" needs {SAMPLER_DEFAULT_K_MAX + 1}, so the command below lowers it")
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
        shown = ", ".join(f"{first}-{last}" for first, last in runs[:10])
        lines.append(f"    {name!r} columns {shown}" + (f", ... ({len(runs)} runs)" if len(runs) > 10 else ""))
    return lines


def report(alignment, reference_name, columns, rows, rooting, data_dir, root_dir, case, data_lines, missing):
    cells = len(alignment.names) * alignment.n_columns
    gaps = sum(line.count("0") for line in data_lines)
    absent = sum(line.count("5") for line in data_lines)
    return [
        f"{PROGRAM}: wrote {data_dir}",
        f"  sequences         {len(alignment.names)} (reference {reference_name!r})",
        f"  columns           {alignment.n_columns}",
        f"  modelled columns  {len(columns)} (the reference holds A, C, G, T or U)",
        f"  gap fraction      {gaps / cells:.4f} (cells coded as gaps)",
        f"  absent fraction   {absent / cells:.4f} (cells coded absent: N, ?, X, ambiguity codes, recoded gaps)",
        *missing_data_lines(missing),
        f"  tree              {len(rows) // 2 + 1} leaves, {len(rows)} branches, {rooting}",
        "run next:",
        f"  {sampler_command(sampler_program() or SAMPLER, root_dir, case, len(columns))}",
    ]
