"""The plots: traces, segments, rate states along the alignment, root confidence."""

import os

import numpy as np

from alncommon.case import save_figure

from .runs import RATE_FLOOR, RATE_KINDS, VALUE_LETTERS, VALUE_NAMES
from .tables import most_probable


def _pyplot():
    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as pyplot

    return pyplot


# Beyond this many alignment positions the panels along the alignment show
# means over bins, so that a column stays wider than a pixel.
MAX_POSITIONS_SHOWN = 1500
BINS = 1000
# The share of kept draws a trace axis shows: all but the most extreme 1% at each end.
TRACE_RANGE = (0.01, 0.99)
# A log axis reaches this factor beyond the bulk of the draws (three times as far below
# when draws lie on the floor, so that the floor line stands clear of the axis).
LOG_MARGIN = 1.5
# Chains are drawn half transparent, so that one drawn over another leaves it visible.
TRACE_ALPHA = 0.75
# The segment-start panel is shown when a column past the first starts a segment in at
# least this share of the kept draws (below it the panel would be empty at its scale).
SEGMENT_START_SHOWN = 0.05
# Root values: gap, A, C, G, T, absent.
ROOT_COLOURS = ("0.15", "tab:green", "tab:blue", "tab:orange", "tab:red", "0.8")
BINNED_ROOT_COLOUR = "0.45"


def figure_title(summary, case, what):
    seeds = " ".join(str(chain.seed) for chain in summary.chains)
    chains = f"chain{'s' if len(summary.chains) > 1 else ''} (seed{'s' if len(summary.chains) > 1 else ''} {seeds})"
    labels = "" if summary.relabel else ", sampled labels"
    return f"{case}: {what}, {len(summary.chains)} {chains}{labels}"


def binned(positions, values, max_positions=MAX_POSITIONS_SHOWN, bins=BINS):
    """Bin edges over the alignment positions and the mean of `values` (columns x series) per bin.

    Up to `max_positions` positions, every position is its own bin; beyond,
    `bins` bins of equal width.  A bin without a modelled column is NaN, so
    an unmodelled stretch stays blank instead of repeating a neighbour.
    """
    positions = np.asarray(positions)
    values = np.asarray(values, dtype=float).reshape(len(positions), -1)
    first, last = int(positions.min()), int(positions.max())
    count = last - first + 1 if last - first + 1 <= max_positions else bins
    edges = np.linspace(first - 0.5, last + 0.5, count + 1)
    index = np.minimum(np.searchsorted(edges, positions, side="right") - 1, count - 1)
    totals = np.zeros((count, values.shape[1]))
    np.add.at(totals, index, values)
    members = np.bincount(index, minlength=count)[:, None]
    with np.errstate(invalid="ignore", divide="ignore"):
        return edges, np.where(members > 0, totals / np.maximum(members, 1), np.nan)


def _steps(edges, values):
    """x and y of a step line over bins (two points per bin), NaN where a bin is empty."""
    return np.column_stack([edges[:-1], edges[1:]]).ravel(), np.repeat(values, 2)


def floored(values, floor=RATE_FLOOR):
    """Rates as a log axis shows them: a value below `floor` (0 included) is drawn at the floor.
    Returns the drawn values and how many were raised to the floor (NaN stays NaN)."""
    values = np.asarray(values, dtype=float)
    below = values < floor
    return np.where(below, floor, values), int(np.count_nonzero(below))


def floor_note(count, total):
    return f"{count} of {total} below {RATE_FLOOR:g}, drawn at it" if count else ""


def _linear_limits(axis, kept):
    """Scale an axis to the bulk of the kept draws (the burn-in's far start and rare extremes
    may leave it)."""
    low, high = (float(value) for value in np.quantile(kept, TRACE_RANGE))
    margin = 0.05 * (high - low) or 0.05 * abs(high) or 1.0
    axis.set_ylim(low - margin, high + margin)


def _log_limits(axis, kept):
    """A log axis over the bulk of the kept (floored) draws, reaching down to the floor when a
    kept draw lies on it, so that the floor line stays in view."""
    low, high = (float(value) for value in np.quantile(kept, TRACE_RANGE))
    margin = LOG_MARGIN
    if np.any(kept <= RATE_FLOOR):
        low, margin = RATE_FLOOR, 3 * LOG_MARGIN
    axis.set_yscale("log")
    axis.set_ylim(low / margin, high * margin)
    _log_ticks(axis)


def _log_ticks(axis):
    """Plain tick labels (0.002, 1e-10) at decades, and between them when the axis spans few."""
    from matplotlib.ticker import FuncFormatter, LogLocator, NullFormatter

    low, high = axis.get_ylim()
    subs = (1.0,) if high / low > 1000 else (1.0, 2.0, 5.0) if high / low > 3 else tuple(range(1, 10))
    axis.yaxis.set_major_locator(LogLocator(base=10, subs=subs))
    axis.yaxis.set_major_formatter(FuncFormatter(lambda value, _position: f"{value:g}"))
    axis.yaxis.set_minor_formatter(NullFormatter())


def _floor_line(axis):
    axis.axhline(RATE_FLOOR, color="0.5", linestyle=":", linewidth=0.8)


def _legend_outside(axis, **options):
    """A legend to the right of the axis, so that it never covers data."""
    return axis.legend(loc="upper left", bbox_to_anchor=(1.005, 1.0), borderaxespad=0.0, fontsize=7, **options)


def traces_figure(summary, case):
    """Log-probability and every rate per draw, one line per chain. Chains are drawn half
    transparent, so that a chain under another still shows; rates on a log axis clipped at
    RATE_FLOOR (the count of clipped draws is in each panel's title)."""
    pyplot = _pyplot()
    rate_names = summary.rate_names()
    figure, axes = pyplot.subplots(len(rate_names) + 1, 1, figsize=(11, 1.9 * (len(rate_names) + 1)), sharex=True)
    colours = []
    for chain in summary.chains:
        line, = axes[0].plot(np.arange(1, chain.n + 1), chain.log_probability, linewidth=0.7, alpha=TRACE_ALPHA,
                             label=f"seed {chain.seed}")
        colours.append(line.get_color())
    _linear_limits(axes[0], np.concatenate([chain.kept(chain.log_probability) for chain in summary.chains]))
    axes[0].set_ylabel("log probability", fontsize=8)
    for index, (axis, name) in enumerate(zip(axes[1:], rate_names)):
        clipped, total, kept = 0, 0, []
        for chain, rates, colour in zip(summary.chains, summary.rates, colours):
            shown, count = floored(rates[:, index])
            clipped, total = clipped + count, total + len(shown)
            axis.plot(chain.draw_iterations, shown, linewidth=0.7, alpha=TRACE_ALPHA, color=colour)
            kept.append(chain.kept_draws(shown))
        _log_limits(axis, np.concatenate(kept))
        if clipped:
            _floor_line(axis)
        kind, state = name.split("_rate_")
        axis.set_ylabel(f"{kind} rate", fontsize=8)
        note = floor_note(clipped, total)
        axis.set_title(summary.state_name(int(state)) + (f"; {note}" if note else ""), fontsize=8, loc="left")
    for axis in axes:
        for chain, colour in zip(summary.chains, colours):
            axis.axvline(chain.burnin + 0.5, color=colour, linestyle="--", linewidth=0.8)
    _legend_outside(axes[0])
    axes[0].set_title(figure_title(summary, case, "traces (dashed: end of burn-in; axes fit the kept draws)"),
                      fontsize=9)
    axes[-1].set_xlabel("iteration")
    figure.tight_layout()
    return figure


def plot_traces(path, summary, case):
    save_figure(traces_figure(summary, case), _pyplot(), path)


def plot_segments(path, summary, case):
    pyplot = _pyplot()
    from matplotlib.ticker import MaxNLocator

    figure, (trace_axis, bar_axis) = pyplot.subplots(1, 2, figsize=(11, 3.5), gridspec_kw={"width_ratios": [2, 1]})
    for chain in summary.chains:
        trace_axis.step(chain.draw_iterations, chain.segments, where="mid", linewidth=0.7, alpha=TRACE_ALPHA,
                        label=f"seed {chain.seed}")
    trace_axis.yaxis.set_major_locator(MaxNLocator(integer=True))
    trace_axis.set_xlabel("iteration")
    trace_axis.set_ylabel("number of segments")
    trace_axis.legend(fontsize=7, loc="lower left", bbox_to_anchor=(0.0, 1.0), ncol=len(summary.chains),
                      borderaxespad=0.2)
    k = np.arange(1, summary.k_max + 1)
    bar_axis.bar(k, summary.segment_probs, color="tab:blue", label="sampled")
    bar_axis.plot(k, summary.segment_conditional, "o", color="tab:red", label="mean conditional")
    bar_axis.set_xticks(k)
    bar_axis.set_xlabel("number of segments")
    bar_axis.set_ylabel("posterior probability")
    bar_axis.set_ylim(0, 1)
    _legend_outside(bar_axis)
    figure.suptitle(figure_title(summary, case, "segments"), fontsize=9)
    figure.tight_layout()
    save_figure(figure, pyplot, path)


def shows_segment_starts(summary):
    """Whether some column past the first (which always starts a segment) starts one often
    enough to be seen; otherwise the segment-start panel is left out."""
    return bool(np.any(summary.start_probs[1:] >= SEGMENT_START_SHOWN))


def _stacked_bands(axis, edges, shares, labels, colours=None):
    """Probabilities (bins x categories) stacked from 0 to 1, one band per category, so that
    every category keeps its own height and none hides another."""
    lower = np.zeros(len(shares))
    for index, label in enumerate(labels):
        upper = lower + np.nan_to_num(shares[:, index])
        x, low = _steps(edges, np.where(np.isnan(shares[:, index]), np.nan, lower))
        _, high = _steps(edges, np.where(np.isnan(shares[:, index]), np.nan, upper))
        colour = {} if colours is None else {"color": colours[index]}
        axis.fill_between(x, low, high, where=np.isfinite(high) & (high > low), linewidth=0, antialiased=False,
                          label=label, **colour)
        lower = upper
    axis.set_ylim(0, 1)


def position_label(positions):
    return "alignment position" if positions.from_columns_file else "data.txt line"


def rate_states_figure(summary, positions, case):
    pyplot = _pyplot()
    starts = shows_segment_starts(summary)
    figure, axes = pyplot.subplots(3 if starts else 2, 1, figsize=(13, 7 if starts else 6), sharex=True,
                                   gridspec_kw={"height_ratios": [3, 2, 1] if starts else [3, 2]})
    state_axis, rate_axis = axes[0], axes[1]
    edges, means = binned(positions.alignment, summary.state_probs)
    _stacked_bands(state_axis, edges, means, [summary.state_name(state) for state in range(summary.n_states)])
    state_axis.set_ylabel("rate-state probability")
    _legend_outside(state_axis)
    shown = "binned means, " if len(edges) - 1 < positions.alignment.max() - positions.alignment.min() + 1 else ""
    state_axis.set_title(figure_title(summary, case, f"rate states along the alignment ({shown}blank: not modelled)"),
                         fontsize=9)
    edges, rates = binned(positions.alignment, np.column_stack([summary.column_rates[kind] for kind in RATE_KINDS]))
    clipped = 0
    for index, kind in enumerate(RATE_KINDS):
        values, count = floored(rates[:, index])
        clipped += count
        rate_axis.plot(*_steps(edges, values), linewidth=0.8, label=f"mean {kind} rate")
    finite = floored(rates[np.isfinite(rates)])[0]
    _log_limits(rate_axis, finite)
    if clipped:
        _floor_line(rate_axis)
        rate_axis.set_title(floor_note(clipped, int(np.count_nonzero(np.isfinite(rates)))), fontsize=8, loc="left")
    rate_axis.set_ylabel("rate of the column's state")
    _legend_outside(rate_axis)
    if starts:
        axes[2].vlines(positions.alignment, 0, summary.start_probs, color="black", linewidth=0.8)
        axes[2].set_ylim(0, 1.05)
        axes[2].set_ylabel("segment start")
    axes[-1].set_xlabel(position_label(positions))
    figure.tight_layout()
    return figure


def plot_rate_states(path, summary, positions, case):
    save_figure(rate_states_figure(summary, positions, case), _pyplot(), path)


def root_confidence_figure(summary, positions, case):
    """Per column, a bar as high as the posterior probability of the most probable root value,
    in that value's colour. Every column has its own slot along the axis, so no value is drawn
    over another. Beyond MAX_POSITIONS_SHOWN a bin holds several columns and their values cannot
    be told apart: the bar is then the bin's mean probability, in grey."""
    pyplot = _pyplot()
    root = summary.ancestors[0]
    best = most_probable(root)
    columns = np.arange(summary.n_columns)
    figure, axis = pyplot.subplots(figsize=(13, 3.5))
    edges, means = binned(positions.alignment, root[columns, best])
    if len(edges) - 1 < positions.alignment.max() - positions.alignment.min() + 1:
        _stacked_bands(axis, edges, means, ["mean over the bin's columns"], [BINNED_ROOT_COLOUR])
        shown = f"binned means over {(len(edges) - 1):,} bins"
    else:
        confidence = np.zeros_like(root)
        confidence[columns, best] = root[columns, best]
        labels = [f"{letter} ({name})" if letter != name else letter
                  for letter, name in zip(VALUE_LETTERS, VALUE_NAMES)]
        _stacked_bands(axis, edges, binned(positions.alignment, confidence)[1], labels, ROOT_COLOURS)
        shown = "colour = that value"
    axis.set_ylabel("P(most probable value)")
    axis.set_xlabel(position_label(positions))
    axis.set_title(figure_title(summary, case, "root sequence: height = probability of the most probable value,"
                                f" {shown}; blank: not modelled"), fontsize=9)
    _legend_outside(axis)
    figure.tight_layout()
    return figure


def plot_root_confidence(path, summary, positions, case):
    save_figure(root_confidence_figure(summary, positions, case), _pyplot(), path)


def write_plots(out_dir, summary, positions, case):
    """Every plot; returns the names written."""
    plot_traces(os.path.join(out_dir, "traces.png"), summary, case)
    plot_segments(os.path.join(out_dir, "segments.png"), summary, case)
    plot_rate_states(os.path.join(out_dir, "rate_states.png"), summary, positions, case)
    written = ["traces.png", "segments.png", "rate_states.png"]
    if summary.ancestors is not None:
        plot_root_confidence(os.path.join(out_dir, "root_confidence.png"), summary, positions, case)
        written.append("root_confidence.png")
    return written
