"""The report alnprepare prints, ending with the sampler command to run next."""

import shlex

from alncommon.case import SAMPLER, missing_sampler_note, sampler_program, with_slash

from .coding import GAP_CHARACTERS, MISSING_CHARACTERS

PROGRAM = "alnprepare"
# The sampler's default number of segments (-k 4) needs at least five columns.
SAMPLER_DEFAULT_K_MAX = 4


def sampler_command(program, root_dir, case, n_modelled):
    """The alnsampler command that runs the new case, with -k lowered for short alignments."""
    words = [shlex.quote(program), "-r", shlex.quote(with_slash(root_dir)), "-t", shlex.quote(case)]
    if n_modelled <= SAMPLER_DEFAULT_K_MAX:
        words += ["-k", str(n_modelled - 1)]
    return " ".join(words)


def report_warnings(n_modelled):
    warnings = [] if sampler_program() else [missing_sampler_note(PROGRAM)]
    if n_modelled <= SAMPLER_DEFAULT_K_MAX:
        warnings.append(f"only {n_modelled} modelled columns: the sampler's default -k {SAMPLER_DEFAULT_K_MAX}"
                        f" needs {SAMPLER_DEFAULT_K_MAX + 1}, so the command below lowers it")
    return warnings


def report(alignment, reference_name, columns, rows, rooting, data_dir, root_dir, case):
    cells = len(alignment.names) * alignment.n_columns
    text = "".join(alignment.rows)
    gaps = sum(text.count(gap) for gap in GAP_CHARACTERS)
    absent = sum(text.count(code) for code in MISSING_CHARACTERS)
    return [
        f"{PROGRAM}: wrote {data_dir}",
        f"  sequences         {len(alignment.names)} (reference {reference_name!r})",
        f"  columns           {alignment.n_columns}",
        f"  modelled columns  {len(columns)} (the reference holds A, C, G, T or U)",
        f"  gap fraction      {gaps / cells:.4f} (cells '-' or '.')",
        f"  absent fraction   {absent / cells:.4f} (cells N, ?, X or ambiguity codes)",
        f"  tree              {len(rows) // 2 + 1} leaves, {len(rows)} branches, {rooting}",
        "run next:",
        f"  {sampler_command(sampler_program() or SAMPLER, root_dir, case, len(columns))}",
    ]

