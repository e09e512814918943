"""Genome-browser tracks: the slowest state's probability (wig) and its runs (BED)."""

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


def write_tracks(out_dir, summary, positions, chrom, case):
    slowest = summary.state_probs[:, 0]
    what = "slowest rate state" if summary.relabel else "rate state 0 (sampled labels, not relabelled)"
    where = "reference coordinates" if positions.from_columns_file else "data.txt line numbers"
    seeds = " ".join(str(chain.seed) for chain in summary.chains)
    lines = [
        f'track type=wiggle_0 name="{case} slowest" description="posterior probability of the {what},'
        f' {case} seeds {seeds}, {where}"\n',
        f"variableStep chrom={chrom} span=1\n",
    ]
    lines += [f"{int(position)} {number_text(float(p))}\n" for position, p in zip(positions.reference, slowest)]
    write_text(os.path.join(out_dir, "rate_states.wig"), "".join(lines))
    bed = [
        # BED intervals start at 0 and exclude their end.
        f"{chrom}\t{first - 1}\t{last}\tconserved\t{int(round(1000 * mean))}\n"
        for first, last, mean in slowest_state_runs(positions.reference, slowest)
    ]
    write_text(os.path.join(out_dir, "conserved.bed"), "".join(bed))
