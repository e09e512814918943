"""Genome-browser tracks: P(conserved) (wig) and its elements (BED), the most conserved
state's probability (wig), and the posterior mean deletion and mutation rate of every column
(wig); and the kept draws' rate paths that alnmerge makes the genome-wide call from."""

import os

import numpy as np

from alncommon.case import write_text
from alncommon.conservation import MIN_GAP, MIN_LENGTH, PATHS_FILE, THRESHOLD, element_bed_lines, elements, paths_text

from .tables import number_text

CONSERVED_THRESHOLD = THRESHOLD


def _wig(path, name, description, positions, chrom, values):
    lines = [f'track type=wiggle_0 name="{name}" description="{description}"\n', f"variableStep chrom={chrom} span=1\n"]
    lines += [f"{int(position)} {number_text(float(value))}\n" for position, value in zip(positions.reference, values)]
    write_text(path, "".join(lines))


def write_tracks(out_dir, summary, positions, chrom, case, threshold=CONSERVED_THRESHOLD, min_gap=MIN_GAP,
                 min_length=MIN_LENGTH):
    """rate_states.wig (state 0 of the summary's labels), conservation.wig and conserved.bed (P(conserved)
    and its elements), mutation_rate.wig, deletion_rate.wig and rate_paths.tsv; returns the names written."""
    slowest = summary.state_probs[:, 0]
    what = (f"most conserved rate state (by {summary.conserved_by} rate)" if summary.relabel
            else "rate state 0 (sampled labels, not relabelled)")
    where = "reference coordinates" if positions.from_columns_file else "data.txt line numbers"
    seeds = " ".join(str(chain.seed) for chain in summary.chains)
    _wig(os.path.join(out_dir, "rate_states.wig"), f"{case} rate state 0",
         f"posterior probability of the {what}, {case} seeds {seeds}, {where}", positions, chrom, slowest)
    _wig(os.path.join(out_dir, "conservation.wig"), f"{case} conservation",
         f"P(conserved): {conserved_rule(summary)}, {case} seeds {seeds}, {where}", positions, chrom,
         summary.p_conserved)
    for kind in ("mutation", "deletion"):
        _wig(os.path.join(out_dir, f"{kind}_rate.wig"), f"{case} {kind} rate",
             f"posterior mean {kind} rate of each column's rate state, {case} seeds {seeds}, {where}",
             positions, chrom, summary.column_rates[kind])
    found = summary_elements(summary, positions, threshold, min_gap, min_length)
    write_text(os.path.join(out_dir, "conserved.bed"), "".join(element_bed_lines(chrom, found)))
    write_text(os.path.join(out_dir, PATHS_FILE), paths_text(summary.draws))
    return ["rate_states.wig", "conservation.wig", "mutation_rate.wig", "deletion_rate.wig", "conserved.bed",
            PATHS_FILE]


def summary_elements(summary, positions, threshold, min_gap, min_length):
    return elements(positions.reference, summary.p_conserved, summary.column_rates["mutation"],
                    summary.column_rates["deletion"], threshold, min_gap, min_length, positions.callable_columns())


def conserved_rule(summary):
    """The conserved call in words, with the case's reference rates."""
    mutation, deletion = summary.reference
    if summary.conserved_by == "total":
        return (f"total rate below {summary.rho:g} x {number_text(mutation + deletion)} (the case's mean)")
    first, second = ("mutation", "deletion") if summary.conserved_by == "mutation" else ("deletion", "mutation")
    rates = {"mutation": mutation, "deletion": deletion}
    return (f"{first} rate below {summary.rho:g} x {number_text(rates[first])} and {second} rate at most"
            f" {number_text(rates[second])} (the case's mean rates)")


def conserved_call_lines(summary, positions, threshold, min_gap, min_length):
    """The report's lines on the conserved call and its elements."""
    found = summary_elements(summary, positions, threshold, min_gap, min_length)
    lengths = [last - first + 1 for first, last, *_ in found]
    shape = (f", {min(lengths)} to {max(lengths)} positions (median {int(np.median(lengths))})" if lengths else "")
    called = summary.p_conserved >= threshold
    lone = positions.reference_only
    lines = [f"  conserved call: P(conserved) = share of kept draws with the column's {conserved_rule(summary)};"
             f" {int(called.sum())} of {summary.n_columns} columns at P >= {threshold:g}"]
    if lone is not None and lone.any():
        lines.append(f"  {int(lone.sum())} of {summary.n_columns} columns hold only the reference (no other sequence"
                     f" aligned), which tells nothing of how the sequences evolved: never called conserved, nor counted in"
                     f" the mean rates"
                     f" ({int((called & lone).sum())} of them at P >= {threshold:g})")
    return lines + [f"  conserved.bed: {len(found)} elements (runs at P >= {threshold:g} over columns with another"
                    f" sequence aligned, gaps under {min_gap} positions joined, at least {min_length} positions"
                    f" long){shape}"]
