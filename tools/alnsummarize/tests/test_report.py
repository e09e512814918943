"""What a user reads first: stuck chains, the plots' floor and layout, report.html."""

import base64
import re

import numpy as np
import pytest

from summarize import plots
from summarize.runs import read_chains
from summarize.statistics import RATE_FLOOR, Summary
from trace_files import Iteration


def write_stuck_pair(case, n=40, moves=0, low_share=1.0):
    """Seed 3 holds state 0's mutation rate at 0 or far below the floor (in the first `low_share` of
    each ten draws; near 0.5 in the others); seed 4 keeps it near 0.5."""
    case.modelled_data(4)
    rng = np.random.default_rng(4)
    near_half = lambda i: 0.5 + 0.05 * rng.random()  # noqa: E731
    for seed, low in ((3, lambda i: (0.0, 1e-200, 1e-60)[i % 3] if i % 10 < 10 * low_share else near_half(i)),
                      (4, near_half)):
        case.write_run(seed, [Iteration([0, 1, 2, 0], mutation=(low(i), 5.0 + rng.random(), 50.0 + rng.random()),
                                        deletion=tuple(0.5 + rng.random(3)), ancestors=[[1, 2]] * 3 + [[4, 4]])
                              for i in range(n)], moves=moves)


# Chains run without the marginal rate moves are told to use them; chains run with them, to use
# more rounds, and their extensions keep the rounds their checkpoints hold.
@pytest.mark.parametrize("moves, advice", [(0, "run them again with --marginal-rate-moves 1"),
                                           (1, "more rounds per iteration (--marginal-rate-moves 10)")])
def test_a_stuck_chain_is_named_with_the_rate_and_the_moves_that_help(case, run, moves, advice):
    write_stuck_pair(case, moves=moves)
    out, err = run(seeds=(3, 4))
    assert ("mutation_rate_0 stays below 1e-10 in seed 3 (100%) of the kept draws but not in seed 4 (0%):"
            " a chain whose rate falls near 0") in err
    assert "mutation_rate_0 is stuck near 0 in seed 3" in out
    assert err.count(advice) >= 2
    resumed = [line for line in out.splitlines() if "--resume" in line]
    assert len(resumed) == 2 and all(("--marginal-rate-moves 1" in line) == bool(moves) for line in resumed)


# Short of stuck, chains whose shares of draws near 0 differ by half or more still disagree.
@pytest.mark.parametrize("low_share, warned", [(0.7, "mutation_rate_0 lies below 1e-10 in seed 3 (70%), seed 4 (0%)"
                                                     " of the kept draws: the chains disagree"),
                                               (0.4, None)])
def test_chains_that_disagree_on_a_rate_near_0_are_named(case, run, low_share, warned):
    write_stuck_pair(case, low_share=low_share)
    _out, err = run(seeds=(3, 4))
    assert "stays below" not in err
    assert (warned in err) if warned else ("lies below" not in err)


def test_plots_draw_rates_at_the_floor_keep_legends_outside_and_drop_empty_panels(case):
    write_stuck_pair(case)
    summary = Summary(read_chains(case.results_dir, [3, 4], 0.0), relabel=True)
    figure = plots.traces_figure(summary, "case")
    figure.canvas.draw()
    rate_axis = figure.axes[4]  # mutation_rate_0: a third of seed 3's draws are 0, the rest far below the floor
    seed_3, seed_4 = (line.get_ydata() for line in rate_axis.get_lines()[:2])
    assert np.all(seed_3 == RATE_FLOOR) and np.all(seed_4 > 0.5)
    assert rate_axis.get_yscale() == "log" and rate_axis.get_ylim()[0] < RATE_FLOOR
    assert rate_axis.get_title(loc="left").endswith("; 40 of 80 below 1e-10, drawn at it")
    assert "below" not in figure.axes[5].get_title(loc="left")
    legend = figure.axes[0].get_legend()
    assert legend.get_window_extent().x0 >= figure.axes[0].get_window_extent().x1

    class Positions:
        alignment, from_columns_file = np.array([1, 2, 3, 5]), True
    # Segments never start past column 0: the segment-start panel is left out.
    assert len(plots.rate_states_figure(summary, Positions, "case").axes) == 2
    summary.start_probs[2] = 0.05
    assert len(plots.rate_states_figure(summary, Positions, "case").axes) == 3

    # Root: A (index 1) in columns 0-2 and T (4) in column 3, each drawn as its own band of height 1.
    summary.add_ancestors(2)
    axis = plots.root_confidence_figure(summary, Positions, "case").axes[0]
    heights = [max((vertex[1] for path in band.get_paths() for vertex in path.vertices), default=0)
               for band in axis.collections]
    assert heights == [0, 1, 0, 0, 1, 0]


def test_report_html_is_one_page_with_the_warnings_commands_and_plots_inside(case, run):
    write_stuck_pair(case)
    from summarize import command

    assert command.main(["--root-dir", case.root, "--case", case.name, "--seeds", "3", "4", "--burnin", "0",
                         "--out", case.out]) == 0
    page = case.read_output("report.html")
    sources = re.findall(r'src="([^"]*)"', page)
    assert len(sources) == 4 and all(source.startswith("data:image/png;base64,") for source in sources)
    assert all(base64.b64decode(source.split(",", 1)[1])[:8] == b"\x89PNG\r\n\x1a\n" for source in sources)
    assert "href=" not in page and "<script" not in page
    warnings = case.read_output("warnings.txt").splitlines()
    assert warnings and all(line.split(": warning: ", 1)[1].replace('"', "&quot;") in page for line in warnings)
    commands = case.read_output("report.txt").split("\nrun next")[1].splitlines()[1:]
    assert "<pre>" + "\n".join(line.strip() for line in commands) + "</pre>" in page.replace("&#x27;", "'")
