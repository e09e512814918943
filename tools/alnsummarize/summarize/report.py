"""The report of a summary: per chain notes and the rate table."""

from alncommon.case import COLUMNS_FILE, plural

from .tables import number_text

PROGRAM = "alnsummarize"


def chain_notes(summary):
    chains = summary.chains
    notes = []
    for chain, reordered in zip(chains, summary.reordered):
        kept = chain.n_kept
        share = 100.0 * reordered / kept
        if summary.relabel:
            labels = (f"rate states relabelled into {summary.conserved_by}-rate order in {reordered} of them"
                      f" ({share:.0f}%), as expected: the sampler's own labels are arbitrary")
        else:
            labels = (f"the sampled rate states were out of {summary.conserved_by}-rate order in {reordered} of"
                      f" them ({share:.0f}%; not relabelled)")
        how = "chosen from its traces" if chain.burnin_automatic else "as given"
        notes.append(f"  seed {chain.seed}: {chain.n} iterations, burn-in {chain.burnin} ({how}), kept {kept} draws;"
                     f" {labels}")
        if chain.thin > 1:
            notes.append(
                f"    thinned run (--thin {chain.thin}): per-iteration files of iterations {chain.thin},"
                f" {2 * chain.thin}, ... only, the others are missing by design; {plural(chain.n_draws, 'draw')}"
            )
    if len({chain.n for chain in chains}) > 1:
        shown = ", ".join(f"seed {chain.seed}: {chain.n}" for chain in chains)
        notes.append(f"  runs of different lengths ({shown} iterations)")
    lengths = {chain.n_kept for chain in chains}
    if len(lengths) > 1:
        shown = ", ".join(f"seed {chain.seed}: {chain.n_kept}" for chain in chains)
        notes.append(
            f"  kept draws differ ({shown}): ESS and R-hat use the last {min(lengths)} kept"
            " draws of each chain; the other summaries use every kept draw"
        )
    if len(chains) == 1:
        notes.append("  one chain: R-hat compares its two halves")
    return notes


def state_lines(summary):
    """Every rate state with both of its rates and the share of draws in which it holds columns."""
    order = (f"ordered by {summary.conserved_by} rate, state 0 the most conserved (--conserved-by)"
             if summary.relabel else "in their sampled labels (--no-relabel)")
    lines = [f"  rate states {order}:"]
    for state in range(summary.n_states):
        lines.append(f"    {summary.state_name(state)}, holds columns in"
                     f" {100 * summary.occupancy[state]:.0f}% of the kept draws")
    return lines


def report_lines(case, data_dir, positions, summary):
    """The report: what was read, how, every rate state, and the mean, ESS and R-hat of every rate."""
    if positions.from_columns_file:
        where = f"positions from {positions.source}"
    else:
        where = (f"positions: no {COLUMNS_FILE} in {data_dir}, so alignment positions and reference"
                 f" coordinates are the line numbers of the modelled rows of {positions.source}")
    lines = [
        f"{PROGRAM}: summarised {plural(len(summary.chains), 'chain')} of {case},"
        f" {summary.n_columns} modelled columns, {summary.n_kept} kept draws",
        *chain_notes(summary),
        f"  {where}",
        *state_lines(summary),
        "  ancestral sequences: " + ("summarised" if summary.ancestors is not None
                                     else "none (run alnsampler with --ancestors)"),
        "  rate          mean        ess     R-hat",
    ]
    for row in summary.rate_rows:
        lines.append(f"  {row['rate']:<16}{number_text(row['mean']):>10} {number_text(row['ess']):>8}"
                     f" {number_text(row['rhat']):>8}")
    return lines
