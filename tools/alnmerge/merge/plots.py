"""genome.png: the region at a glance, one point per window along the genome.

Panels: mean P(conserved) per window with the elements marked beneath;
the windows' mean mutation and deletion rates against the genome-wide
reference; and their convergence (largest split R-hat, smallest effective
sample size) against the thresholds.  Chromosomes are laid side by side in
the order of the tracks.
"""

import numpy as np

from alncommon.case import save_figure

from .tables import worst


def _pyplot():
    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as pyplot

    return pyplot


def _layout(windows):
    """Where each chromosome's windows start on a common axis (their spans side by side, in track order),
    the chromosomes with their first position, and the axis' scale and unit."""
    spans = {}
    for window in windows:
        first, last = spans.get(window.chromosome, (window.first, window.last))
        spans[window.chromosome] = (min(first, window.first), max(last, window.last))
    offsets, total = {}, 0
    for chromosome, (first, last) in spans.items():
        offsets[chromosome] = total - first + 1
        total += last - first + 1
    scale, unit = (1e6, "Mb") if total > 2e6 else (1e3, "kb")
    starts = [(chromosome, offsets[chromosome] + first - 1) for chromosome, (first, _) in spans.items()]
    return offsets, starts, scale, unit


def genome_figure(path, windows, found, thresholds, reference):
    pyplot = _pyplot()
    offsets, sizes, scale, unit = _layout(windows)
    middle = np.array([(offsets[window.chromosome] + (window.first + window.last) / 2) / scale for window in windows])
    edges = [((offsets[window.chromosome] + window.first) / scale, (offsets[window.chromosome] + window.last) / scale)
             for window in windows]
    figure, axes = pyplot.subplots(4, 1, figsize=(12, 9), sharex=True, gridspec_kw={"height_ratios": [3, 3, 2, 2]})
    p_axis, rate_axis, rhat_axis, ess_axis = axes
    for (start, end), window in zip(edges, windows):
        p_axis.plot([start, end], [window.means[0]] * 2, color="tab:green", linewidth=1.5)
    for chromosome, elements in found.items():
        for first, last, *_ in elements:
            p_axis.axvspan((offsets[chromosome] + first) / scale, (offsets[chromosome] + last) / scale,
                           ymin=0, ymax=0.04, color="black", linewidth=0)
    p_axis.set_ylim(0, 1)
    p_axis.set_ylabel("mean P(conserved)\nper window")
    p_axis.set_title(f"{len(windows)} windows, {sum(len(e) for e in found.values())} conserved elements (black"
                     " marks at the bottom)", fontsize=10)
    for index, (kind, color) in enumerate((("mutation", "tab:blue"), ("deletion", "tab:orange"))):
        values = np.array([window.means[1 + index] for window in windows])
        rate_axis.scatter(middle, np.maximum(values, 1e-12), s=6, color=color, label=f"{kind} rate")
        rate_axis.axhline(reference[index], color=color, linestyle="--", linewidth=0.8,
                          label=f"genome-wide mean {kind} rate")
    rate_axis.set_yscale("log")
    rate_axis.set_ylabel("mean rate\nper window")
    rate_axis.legend(loc="upper left", bbox_to_anchor=(1.01, 1.0), fontsize=8, frameon=False)
    rhat = np.array([worst(window, 3, max)[0] for window in windows])
    ess = np.array([worst(window, 2, min)[0] for window in windows])
    bad_rhat = rhat > thresholds.max_rhat
    rhat_axis.scatter(middle[~bad_rhat], rhat[~bad_rhat], s=6, color="tab:gray")
    rhat_axis.scatter(middle[bad_rhat], rhat[bad_rhat], s=10, color="tab:red")
    rhat_axis.axhline(thresholds.max_rhat, color="tab:red", linestyle="--", linewidth=0.8)
    rhat_axis.set_ylabel("largest\nsplit R-hat")
    bad_ess = ess < thresholds.min_ess
    ess_axis.scatter(middle[~bad_ess], ess[~bad_ess], s=6, color="tab:gray")
    ess_axis.scatter(middle[bad_ess], ess[bad_ess], s=10, color="tab:red")
    ess_axis.axhline(thresholds.min_ess, color="tab:red", linestyle="--", linewidth=0.8)
    ess_axis.set_yscale("log")
    ess_axis.set_ylabel("smallest ESS")
    for axis in axes:
        for _, start in sizes[1:]:
            axis.axvline(start / scale, color="black", linewidth=0.5)
    names = [chromosome for chromosome, _ in sizes]
    label = names[0] if len(names) == 1 else f"{len(names)} sequences ({', '.join(names[:4])}"\
        f"{', ...' if len(names) > 4 else ''}) side by side"
    ess_axis.set_xlabel(f"{'position on ' if len(names) == 1 else ''}{label} ({unit} of the windows' span);"
                        " red: beyond the convergence thresholds")
    figure.tight_layout()
    save_figure(figure, pyplot, path)
