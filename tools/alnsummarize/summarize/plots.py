"""The plots: traces, segments, rate states along the alignment, root confidence."""

import numpy as np

from alncommon.case import ToolError

from .runs import VALUE_LETTERS
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


def plot_traces(path, summary):
    pyplot = _pyplot()
    names = ["log_probability"] + summary.rate_names()
    figure, axes = pyplot.subplots(len(names), 1, figsize=(10, 1.8 * len(names)), sharex=True)
    for chain, rates in zip(summary.chains, summary.rates):
        iterations = np.arange(1, chain.n + 1)
        series = [chain.log_probability] + [rates[:, index] for index in range(rates.shape[1])]
        for axis, values in zip(axes, series):
            line, = axis.plot(iterations, values, linewidth=0.7, label=f"seed {chain.seed}")
            axis.axvline(chain.burnin + 0.5, color=line.get_color(), linestyle="--", linewidth=0.8)
    for axis, name in zip(axes, names):
        axis.set_ylabel(name.replace("_rate_", " rate "), fontsize=8)
        if name != "log_probability" and all(np.all(rates > 0) for rates in summary.rates):
            axis.set_yscale("log")
    axes[0].legend(fontsize=7, loc="lower right")
    axes[0].set_title("Traces per chain (dashed: end of burn-in)" + ("" if summary.relabel else ", sampled labels"))
    axes[-1].set_xlabel("iteration")
    figure.tight_layout()
    _save(figure, pyplot, path)


def plot_segments(path, summary):
    pyplot = _pyplot()
    from matplotlib.ticker import MaxNLocator

    figure, (trace_axis, bar_axis) = pyplot.subplots(1, 2, figsize=(10, 3.5), gridspec_kw={"width_ratios": [2, 1]})
    for chain in summary.chains:
        trace_axis.step(np.arange(1, chain.n + 1), chain.segments, where="mid", linewidth=0.7,
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
    figure.tight_layout()
    _save(figure, pyplot, path)


def plot_rate_states(path, summary, positions):
    pyplot = _pyplot()
    figure, (state_axis, start_axis) = pyplot.subplots(
        2, 1, figsize=(12, 5), sharex=True, gridspec_kw={"height_ratios": [3, 1]}
    )
    x = positions.alignment
    labels = ["slowest", "middle", "fastest"] if summary.relabel and summary.n_states == 3 else None
    labels = labels or [f"state {state}" for state in range(summary.n_states)]
    state_axis.stackplot(x, summary.state_probs.T, labels=labels, step="mid")
    state_axis.set_ylim(0, 1)
    state_axis.set_ylabel("rate-state probability")
    state_axis.legend(fontsize=7, loc="upper right")
    start_axis.vlines(x, 0, summary.start_probs, color="black", linewidth=0.8)
    start_axis.set_ylim(0, 1.05)
    start_axis.set_ylabel("segment start")
    start_axis.set_xlabel("alignment position" if positions.from_columns_file else "data.txt line")
    figure.tight_layout()
    _save(figure, pyplot, path)


def plot_root_confidence(path, summary, positions):
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
    axis.set_title("Confidence of the root sequence")
    axis.legend(fontsize=7, ncol=5, loc="lower right")
    figure.tight_layout()
    _save(figure, pyplot, path)
