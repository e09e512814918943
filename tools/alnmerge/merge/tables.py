"""The genome windows table and the report of the windows that need another look.

A window has converged when every rate's split R-hat is at most --max-rhat
and its effective sample size at least --min-ess; a rate that never moved
has neither (nan) and is left out, and so are the rates of a state that holds
no column in most kept draws (from the summary's summary.tsv), as
alnsummarize does.  A window whose
posterior puts more than --max-p-kmax on k = k_max may have more segments
than the sampler was allowed: it is listed too.
"""

import math

from alncommon.case import plural


def number_text(value):
    if isinstance(value, int):
        return str(value)
    return "nan" if math.isnan(value) else f"{value:.6g}"


class Thresholds:
    def __init__(self, max_rhat, min_ess, max_p_k_max):
        self.max_rhat = max_rhat
        self.min_ess = min_ess
        self.max_p_k_max = max_p_k_max


def counted(window, name):
    """Whether a rate counts for convergence: not one of a state that holds no column."""
    state = name.rsplit("_", 1)[-1]
    return not (state.isdigit() and int(state) in window.empty_states)


def worst(window, column, pick):
    """(value, rate name) of the counted rate with the worst finite diagnostic, or (nan, '')."""
    finite = [(rate[column], rate[0]) for rate in window.rates
              if not math.isnan(rate[column]) and counted(window, rate[0])]
    return pick(finite) if finite else (math.nan, "")


def converged(window, thresholds):
    rhat, _ = worst(window, 3, max)
    ess, _ = worst(window, 2, min)
    return not (rhat > thresholds.max_rhat or ess < thresholds.min_ess)


def rate_names(windows):
    names = []
    for window in windows:
        names += [rate[0] for rate in window.rates if rate[0] not in names]
    return names


def windows_table(windows, thresholds):
    names = rate_names(windows)
    header = ["case", "chromosome", "first_position", "last_position", "modelled_columns"]
    header += [f"{name}_{what}" for name in names for what in ("mean", "ess", "rhat")]
    header += ["mean_p_conserved", "mean_mutation_rate", "mean_deletion_rate", "p_k_max", "converged", "warnings"]
    lines = ["\t".join(header) + "\n"]
    for window in windows:
        by_name = {rate[0]: rate for rate in window.rates}
        row = [window.case, window.chromosome, window.first, window.last, window.columns]
        for name in names:
            rate = by_name.get(name, (name, math.nan, math.nan, math.nan))
            row += [rate[1], rate[2], rate[3]]
        row += [*window.means, window.p_k_max, "yes" if converged(window, thresholds) else "no",
                " | ".join(window.warnings or [])]
        lines.append("\t".join(number_text(value) if not isinstance(value, str) else value for value in row) + "\n")
    return "".join(lines)


SHOWN_ROWS = 12


def report_lines(windows, thresholds, reference, options, found, out_dir, written):
    """The one-screen summary: counts, the windows that need another look as one table, the top elements."""
    chromosomes = sorted({window.chromosome for window in windows})
    columns = sum(window.columns for window in windows)
    lines = [f"alnmerge: {plural(len(windows), 'window')} on {plural(len(chromosomes), 'chromosome')}"
             f" ({', '.join(chromosomes[:6])}{', ...' if len(chromosomes) > 6 else ''}), {columns} modelled columns",
             f"  reference rates (column-weighted means of every window's columns with another sequence aligned):"
             f" mutation {number_text(reference[0])},"
             f" deletion {number_text(reference[1])}"]
    lines += element_lines(found, options)
    lone = [window for window in windows if window.reference_only]
    if lone:
        alone = sum(window.reference_only for window in lone)
        empty = sum(window.reference_only == window.columns for window in lone)
        lines.append(f"    {alone} of {columns} columns hold only the reference (no other sequence aligned;"
                     f" {plural(empty, 'window')} wholly): never called conserved")
    stuck = [window for window in windows if not converged(window, thresholds)]
    capped = [window for window in windows if window.p_k_max > thresholds.max_p_k_max]
    warned = [window for window in windows if window.warnings]
    lines.append(f"  converged: {len(windows) - len(stuck)} of {plural(len(windows), 'window')} (split R-hat at most"
                 f" {thresholds.max_rhat:g} and effective sample size at least {thresholds.min_ess:g} for every rate);"
                 f" P(k = k_max) above {thresholds.max_p_k_max:g}: {plural(len(capped), 'window')};"
                 f" {plural(len(warned), 'window')} with warnings (windows.tsv)")
    listed = sorted(set(stuck) | set(capped), key=lambda window: (window.chromosome, window.first))
    if listed:
        lines.append(f"    {'window':<18} {'where':<24} {'max R-hat':>9} {'(rate)':<15} {'min ESS':>7} {'(rate)':<15}"
                     " P(k=k_max)")
        for window in listed[:SHOWN_ROWS]:
            rhat, rhat_rate = worst(window, 3, max)
            ess, ess_rate = worst(window, 2, min)
            lines.append(f"    {window.case:<18} {window.where():<24} {rhat:>9.3g} {rhat_rate:<15} {ess:>7.3g}"
                         f" {ess_rate:<15} {window.p_k_max:.3g}")
        if len(listed) > SHOWN_ROWS:
            lines.append(f"    ... {len(listed) - SHOWN_ROWS} more in windows.tsv (converged no, or p_k_max above"
                         f" {thresholds.max_p_k_max:g})")
        advice = []
        if stuck:
            advice.append("raise `iterations` (finished chains are extended)")
        if capped:
            advice.append("raise `k_max`")
        lines.append(f"    then {' and '.join(advice)} and run the workflow again")
    without = [window.case for window in windows if window.warnings is None]
    if without:
        lines.append(f"  {len(without)} window summaries without warnings.txt ({without[0]}, ...): their warnings are"
                     " only in the alnsummarize logs")
    lines.append(f"wrote into {out_dir}: {' '.join(written)}")
    return lines


def element_lines(found, options):
    """The elements' count and lengths, and the top ones by score and length."""
    every = [(chromosome, *element) for chromosome, elements in found.items() for element in elements]
    lengths = sorted(last - first + 1 for _, first, last, *_ in every)
    lines = [f"  conserved call: P(conserved) = share of kept draws with the column's {options.conserved_by} rate"
             f" below {options.rho:g} x the reference" + (" and the other rate at most the reference"
                                                           if options.conserved_by != "total" else "")]
    if not every:
        return lines + [f"  elements: none (runs of P >= {options.threshold:g} of at least {options.min_length}"
                        " positions)"]
    quartiles = [lengths[int(q * (len(lengths) - 1))] for q in (0.25, 0.5, 0.75)]
    lines.append(f"  elements: {len(every)} in conserved.bed, {sum(lengths)} positions; length {lengths[0]} to"
                 f" {lengths[-1]}, quartiles {quartiles[0]} / {quartiles[1]} / {quartiles[2]}"
                 f" (P >= {options.threshold:g}, gaps under {options.min_gap} joined, at least"
                 f" {options.min_length} long)")
    top = sorted(every, key=lambda element: (-round(1000 * element[3]), -(element[2] - element[1])))[:5]
    lines.append(f"    {'top elements':<30} {'length':>7} {'mean P':>7} {'mutation':>10} {'deletion':>10}")
    for chromosome, first, last, mean_p, mutation, deletion in top:
        lines.append(f"    {chromosome + ':' + str(first) + '-' + str(last):<30} {last - first + 1:>7}"
                     f" {mean_p:>7.3f} {number_text(mutation):>10} {number_text(deletion):>10}")
    return lines
