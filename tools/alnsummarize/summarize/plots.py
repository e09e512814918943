"""The plots: traces, segments, rate states along the alignment, root confidence."""

import os

import numpy as np

from alncommon.case import ToolError

from .runs import RATE_KINDS, VALUE_LETTERS
from .tables import most_probable


def _pyplot():
    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as pyplot

    return pyplot


def _save(figure, pyplot, path):
    try:
        figure.savefig(path, dpi=100)
    except OSError as error:
        raise ToolError(f"cannot write {path}: {error.strerror}") from None
    finally:
        pyplot.close(figure)


# Beyond this many alignment positions the panels along the alignment show
# means over bins, so that a column stays wider than a pixel.
MAX_POSITIONS_SHOWN = 1500
BINS = 1000
# A trace axis turns logarithmic when its kept draws span more than this factor.
LOG_SCALE_SPAN = 100.0
# The share of kept draws a trace axis shows: all but the most extreme 1% at each end.
TRACE_RANGE = (0.01, 0.99)


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


def _trace_limits(axis, kept):
    """Scale an axis to the bulk of the kept draws (the burn-in's far start and rare
    extremes may leave it): logarithmic only when that bulk spans decades."""
    low, high = (float(value) for value in np.quantile(kept, TRACE_RANGE))
    if low > 0 and high / low > LOG_SCALE_SPAN:
        axis.set_yscale("log")
        axis.set_ylim(low / 1.5, high * 1.5)
        return
    margin = 0.05 * (high - low) or 0.05 * abs(high) or 1.0
    axis.set_ylim(low - margin, high + margin)


def plot_traces(path, summary, case):
    pyplot = _pyplot()
    rate_names = summary.rate_names()
    figure, axes = pyplot.subplots(len(rate_names) + 1, 1, figsize=(10, 1.9 * (len(rate_names) + 1)), sharex=True)
    for chain, rates in zip(summary.chains, summary.rates):
        line, = axes[0].plot(np.arange(1, chain.n + 1), chain.log_probability, linewidth=0.7,
                             label=f"seed {chain.seed}")
        for index, axis in enumerate(axes[1:]):
            axis.plot(chain.draw_iterations, rates[:, index], linewidth=0.7, color=line.get_color())
        for axis in axes:
            axis.axvline(chain.burnin + 0.5, color=line.get_color(), linestyle="--", linewidth=0.8)
    _trace_limits(axes[0], np.concatenate([chain.kept(chain.log_probability) for chain in summary.chains]))
    axes[0].set_ylabel("log probability", fontsize=8)
    for index, (axis, name) in enumerate(zip(axes[1:], rate_names)):
        _trace_limits(axis, np.concatenate([chain.kept_draws(rates[:, index])
                                            for chain, rates in zip(summary.chains, summary.rates)]))
        kind, state = name.split("_rate_")
        axis.set_ylabel(f"{kind} rate", fontsize=8)
        axis.set_title(summary.state_name(int(state)), fontsize=8, loc="left")
    axes[0].legend(fontsize=7, loc="lower right")
    axes[0].set_title(figure_title(summary, case, "traces (dashed: end of burn-in; axes fit the kept draws)"),
                      fontsize=9)
    axes[-1].set_xlabel("iteration")
    figure.tight_layout()
    _save(figure, pyplot, path)


def plot_segments(path, summary, case):
    pyplot = _pyplot()
    from matplotlib.ticker import MaxNLocator

    figure, (trace_axis, bar_axis) = pyplot.subplots(1, 2, figsize=(10, 3.5), gridspec_kw={"width_ratios": [2, 1]})
    for chain in summary.chains:
        trace_axis.step(chain.draw_iterations, chain.segments, where="mid", linewidth=0.7,
                        label=f"seed {chain.seed}")
    trace_axis.yaxis.set_major_locator(MaxNLocator(integer=True))
    trace_axis.set_xlabel("iteration")
    trace_axis.set_ylabel("number of segments")
    trace_axis.legend(fontsize=7)
    k = np.arange(1, summary.k_max + 1)
    bar_axis.bar(k, summary.segment_probs, color="tab:blue", label="sampled")
    bar_axis.plot(k, summary.segment_conditional, "o", color="tab:red", label="mean conditional")
    bar_axis.set_xticks(k)
    bar_axis.set_xlabel("number of segments")
    bar_axis.set_ylabel("posterior probability")
    bar_axis.set_ylim(0, 1)
    bar_axis.legend(fontsize=7)
    figure.suptitle(figure_title(summary, case, "segments"), fontsize=9)
    figure.tight_layout()
    _save(figure, pyplot, path)


def plot_rate_states(path, summary, positions, case):
    pyplot = _pyplot()
    figure, (state_axis, rate_axis, start_axis) = pyplot.subplots(
        3, 1, figsize=(12, 7), sharex=True, gridspec_kw={"height_ratios": [3, 2, 1]}
    )
    edges, means = binned(positions.alignment, summary.state_probs)
    lower = np.zeros(len(means))
    for state in range(summary.n_states):
        upper = lower + means[:, state]
        x, low = _steps(edges, lower)
        _, high = _steps(edges, upper)
        state_axis.fill_between(x, low, high, where=np.isfinite(high), linewidth=0,
                                label=summary.state_name(state))
        lower = upper
    state_axis.set_ylim(0, 1)
    state_axis.set_ylabel("rate-state probability")
    state_axis.legend(fontsize=7, loc="upper right")
    shown = "binned means, " if len(edges) - 1 < positions.alignment.max() - positions.alignment.min() + 1 else ""
    state_axis.set_title(figure_title(summary, case, f"rate states along the alignment ({shown}blank: not modelled)"),
                         fontsize=9)
    edges, rates = binned(positions.alignment, np.column_stack([summary.column_rates[kind] for kind in RATE_KINDS]))
    for index, kind in enumerate(RATE_KINDS):
        rate_axis.plot(*_steps(edges, rates[:, index]), linewidth=0.8, label=f"mean {kind} rate")
    finite = rates[np.isfinite(rates)]
    if len(finite) and finite.min() > 0 and finite.max() / finite.min() > LOG_SCALE_SPAN:
        rate_axis.set_yscale("log")
    rate_axis.set_ylabel("rate of the column's state")
    rate_axis.legend(fontsize=7, loc="upper right")
    start_axis.vlines(positions.alignment, 0, summary.start_probs, color="black", linewidth=0.8)
    start_axis.set_ylim(0, 1.05)
    start_axis.set_ylabel("segment start")
    start_axis.set_xlabel("alignment position" if positions.from_columns_file else "data.txt line")
    figure.tight_layout()
    _save(figure, pyplot, path)


def plot_root_confidence(path, summary, positions, case):
    pyplot = _pyplot()
    root = summary.ancestors[0]
    best = most_probable(root)
    confidence = root[np.arange(summary.n_columns), best]
    figure, axis = pyplot.subplots(figsize=(12, 3.5))
    axis.plot(positions.alignment, confidence, color="0.7", linewidth=0.6)
    colours = ["black", "tab:green", "tab:blue", "tab:orange", "tab:red", "0.6"]
    for value, (letter, colour) in enumerate(zip(VALUE_LETTERS, colours)):
        chosen = best == value
        if np.any(chosen):
            axis.scatter(positions.alignment[chosen], confidence[chosen], s=8, color=colour, label=letter)
    axis.set_ylim(0, 1.02)
    axis.set_ylabel("P(most probable root value)")
    axis.set_xlabel("alignment position" if positions.from_columns_file else "data.txt line")
    axis.set_title(figure_title(summary, case, "confidence of the root sequence"), fontsize=9)
    axis.legend(fontsize=7, ncol=5, loc="lower right")
    figure.tight_layout()
    _save(figure, pyplot, path)


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
