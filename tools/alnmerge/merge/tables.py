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
    header += ["p_k_max", "converged", "warnings"]
    lines = ["\t".join(header) + "\n"]
    for window in windows:
        by_name = {rate[0]: rate for rate in window.rates}
        row = [window.case, window.chromosome, window.first, window.last, window.columns]
        for name in names:
            rate = by_name.get(name, (name, math.nan, math.nan, math.nan))
            row += [rate[1], rate[2], rate[3]]
        row += [window.p_k_max, "yes" if converged(window, thresholds) else "no",
                " | ".join(window.warnings or [])]
        lines.append("\t".join(number_text(value) if not isinstance(value, str) else value for value in row) + "\n")
    return "".join(lines)


def report_lines(windows, thresholds, out_dir, bed_runs):
    chromosomes = sorted({window.chromosome for window in windows})
    columns = sum(window.columns for window in windows)
    lines = [f"alnmerge: merged {plural(len(windows), 'window')} on {plural(len(chromosomes), 'chromosome')}"
             f" ({', '.join(chromosomes[:10])}{', ...' if len(chromosomes) > 10 else ''}),"
             f" {columns} modelled columns"]
    stuck = [window for window in windows if not converged(window, thresholds)]
    lines.append(f"  did not converge: {len(stuck)} of {plural(len(windows), 'window')} (split R-hat above"
                 f" {thresholds.max_rhat:g} or effective sample size below {thresholds.min_ess:g} for some rate)")
    for window in stuck:
        rhat, rhat_rate = worst(window, 3, max)
        ess, ess_rate = worst(window, 2, min)
        lines.append(f"    {window.case}  {window.where()}  max R-hat {number_text(rhat)} ({rhat_rate})"
                     f"  min ESS {number_text(ess)} ({ess_rate})")
    capped = [window for window in windows if window.p_k_max > thresholds.max_p_k_max]
    lines.append(f"  P(k = k_max) above {thresholds.max_p_k_max:g}: {plural(len(capped), 'window')}"
                 + (" (the number of segments may be cut short by k_max: raise it)" if capped else ""))
    lines += [f"    {window.case}  {window.where()}  P = {number_text(window.p_k_max)}" for window in capped]
    lines += warning_lines(windows)
    lines.append(f"  conserved.bed: {plural(bed_runs, 'run')}; rate_states.wig:"
                 f" {sum(len(window.wig) for window in windows)} positions")
    lines.append(f"wrote into {out_dir}: conserved.bed rate_states.wig windows.tsv report.txt")
    return lines


def warning_lines(windows):
    without = [window.case for window in windows if window.warnings is None]
    warned = [window for window in windows if window.warnings]
    lines = [f"  windows with warnings from alnsummarize: {len(warned)}"]
    for window in warned:
        lines += [f"    {window.case}  {warning}" for warning in window.warnings]
    if without:
        noun = "summary" if len(without) == 1 else "summaries"
        lines.append(f"  {len(without)} window {noun} without warnings.txt ({without[0]}"
                     f"{', ...' if len(without) > 1 else ''}): their warnings are only in the alnsummarize logs")
    return lines
