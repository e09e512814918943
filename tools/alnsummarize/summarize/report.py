"""The report of a summary: per chain notes and the rate table."""

from alncommon.case import COLUMNS_FILE, plural
from alncommon.case import warn as common_warn

from .tables import number_text

PROGRAM = "alnsummarize"


def chain_notes(summary):
    chains = summary.chains
    notes = []
    for chain, reordered in zip(chains, summary.reordered):
        kept = chain.n - chain.burnin
        share = 100.0 * reordered / kept
        what = "relabelling reordered the rate states" if summary.relabel else \
            "the sampled rate states were out of mutation-rate order (not relabelled)"
        notes.append(
            f"  seed {chain.seed}: {chain.n} iterations, burn-in {chain.burnin}, kept {kept};"
            f" {what} in {reordered} of {kept} ({share:.1f}%)"
        )
    if len({chain.n for chain in chains}) > 1:
        shown = ", ".join(f"seed {chain.seed}: {chain.n}" for chain in chains)
        notes.append(f"  runs of different lengths ({shown} iterations)")
    lengths = {chain.n - chain.burnin for chain in chains}
    if len(lengths) > 1:
        notes.append(
            f"  chains of different lengths: ESS and R-hat use the last {min(lengths)} kept"
            " iterations of each chain; the other summaries use every kept iteration"
        )
    if len(chains) == 1:
        notes.append("  one chain: R-hat compares its two halves")
    return notes


def warn(message):
    common_warn(PROGRAM, message)


def report_lines(case, data_dir, positions, summary):
    """The report: what was read, how, and the mean, ESS and R-hat of every rate."""
    if positions.from_columns_file:
        where = f"positions from {positions.source}"
    else:
        where = (f"positions: no {COLUMNS_FILE} in {data_dir}, so alignment positions and reference"
                 f" coordinates are the line numbers of the modelled rows of {positions.source}")
    lines = [
        f"{PROGRAM}: summarised {plural(len(summary.chains), 'chain')} of {case},"
        f" {summary.n_columns} modelled columns, {summary.n_kept} kept iterations",
        *chain_notes(summary),
        f"  {where}",
        "  rate states " + ("relabelled by increasing mutation rate (state 0 = slowest)"
                            if summary.relabel else "in their sampled labels (--no-relabel)"),
        "  ancestral sequences: " + ("summarised" if summary.ancestors is not None
                                     else "none (run alnsampler with --ancestors)"),
        "  rate          mean        ess     R-hat",
    ]
    for row in summary.rate_rows:
        lines.append(f"  {row['rate']:<16}{number_text(row['mean']):>10} {number_text(row['ess']):>8}"
                     f" {number_text(row['rhat']):>8}")
    return lines
