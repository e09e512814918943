"""Genome-browser tracks: the most conserved state's probability (wig) and its runs (BED),
and the posterior mean deletion and mutation rate of every column (wig)."""

import os

import numpy as np

from alncommon.case import write_text

from .tables import number_text

CONSERVED_THRESHOLD = 0.5


def slowest_state_runs(reference, probabilities, threshold=CONSERVED_THRESHOLD):
    """Runs of consecutive reference positions whose probability exceeds the threshold.

    Returns (first position, last position, mean probability) per run.  A jump
    in the reference coordinate (a reference position that is not modelled,
    such as an N) ends a run: nothing is known there.
    """
    runs = []
    start = None
    for column, probability in enumerate(probabilities):
        inside = probability > threshold
        continues = start is not None and inside and reference[column] == reference[column - 1] + 1
        if start is not None and not continues:
            runs.append(_run(reference, probabilities, start, column - 1))
            start = None
        if inside and start is None:
            start = column
    if start is not None:
        runs.append(_run(reference, probabilities, start, len(probabilities) - 1))
    return runs


def _run(reference, probabilities, first, last):
    return int(reference[first]), int(reference[last]), float(np.mean(probabilities[first:last + 1]))


def _wig(path, name, description, positions, chrom, values):
    lines = [f'track type=wiggle_0 name="{name}" description="{description}"\n', f"variableStep chrom={chrom} span=1\n"]
    lines += [f"{int(position)} {number_text(float(value))}\n" for position, value in zip(positions.reference, values)]
    write_text(path, "".join(lines))


def write_tracks(out_dir, summary, positions, chrom, case, threshold=CONSERVED_THRESHOLD):
    """rate_states.wig and conserved.bed (state 0 of the summary's labels), mutation_rate.wig
    and deletion_rate.wig; returns the names written."""
    slowest = summary.state_probs[:, 0]
    what = (f"most conserved rate state (by {summary.conserved_by} rate)" if summary.relabel
            else "rate state 0 (sampled labels, not relabelled)")
    where = "reference coordinates" if positions.from_columns_file else "data.txt line numbers"
    seeds = " ".join(str(chain.seed) for chain in summary.chains)
    _wig(os.path.join(out_dir, "rate_states.wig"), f"{case} conserved",
         f"posterior probability of the {what}, {case} seeds {seeds}, {where}", positions, chrom, slowest)
    for kind in ("mutation", "deletion"):
        _wig(os.path.join(out_dir, f"{kind}_rate.wig"), f"{case} {kind} rate",
             f"posterior mean {kind} rate of each column's rate state, {case} seeds {seeds}, {where}",
             positions, chrom, summary.column_rates[kind])
    bed = [
        # BED intervals start at 0 and exclude their end.
        f"{chrom}\t{first - 1}\t{last}\tconserved\t{int(round(1000 * mean))}\n"
        for first, last, mean in slowest_state_runs(positions.reference, slowest, threshold)
    ]
    write_text(os.path.join(out_dir, "conserved.bed"), "".join(bed))
    return ["rate_states.wig", "mutation_rate.wig", "deletion_rate.wig", "conserved.bed"]
