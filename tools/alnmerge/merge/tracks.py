"""The genome-wide tracks: the windows' wig and BED tracks in reference coordinates.

Chromosomes come in the order of `sort -k1,1` (plain text order), and
positions in increasing order within each, the order genome tools expect.
The wig holds one track per chromosome.  A conserved run that reaches the
edge of a window and goes on in the next one (the windows were sampled
apart, but the positions follow one another) is joined into one BED
interval, its score the length-weighted mean of the two.
"""

import itertools


def by_chromosome(windows):
    """[(chromosome, its windows in order)]; `windows` are sorted by chromosome and position."""
    return [(chromosome, list(group)) for chromosome, group in itertools.groupby(windows, lambda w: w.chromosome)]


def wig_text(windows):
    lines = []
    for chromosome, group in by_chromosome(windows):
        lines.append(f'track type=wiggle_0 name="{chromosome} rate state 0" description="posterior probability of'
                     f' rate state 0 (the most conserved) on {chromosome}, {len(group)} windows"\n')
        lines.append(f"variableStep chrom={chromosome} span=1\n")
        lines += [f"{position} {value}\n" for window in group for position, value in window.wig]
    return "".join(lines)


def joined_runs(group):
    """(start, end, score) of the conserved runs of one chromosome's windows, abutting runs of
    neighbouring windows joined."""
    runs = []
    for window in group:
        for index, (start, end, score) in enumerate(window.bed):
            if index == 0 and runs and runs[-1][1] == start:
                first, _, earlier = runs.pop()
                score = round((earlier * (start - first) + score * (end - start)) / (end - first))
                start = first
            runs.append((start, end, score))
    return runs


def bed_text(windows):
    return "".join(f"{chromosome}\t{start}\t{end}\tconserved\t{score}\n"
                   for chromosome, group in by_chromosome(windows) for start, end, score in joined_runs(group))
