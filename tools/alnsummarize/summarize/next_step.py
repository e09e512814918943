"""The step a summary recommends next, as commands a user can paste.

Chains that are too short (too few effective draws, halves or chains that
disagree, a trace still drifting) are extended from their checkpoints with
-n N --resume, to the traces one longer run would have written.  A segment
limit that cuts the posterior needs the chains run again with a larger -k,
which a checkpoint cannot change.  Either way the same summary follows.
"""

import math
import os
import shlex

from alncommon.recipe import (RECIPE_MARGINAL_RATE_MOVES, SAMPLER, SAMPLER_DEFAULT_K_MAX, chain_command, sampler_program,
                              summarizer_program)

from .statistics import ESS_WARNING_BELOW, K_MAX_WARNING_ABOVE, RHAT_WARNING_ABOVE

# Extending a chain by a factor f multiplies its effective sample size by
# about f; the target is met with this margin, at least doubling and at most
# multiplying by ten at once (a chain that needs more has a deeper problem,
# which the next summary shows).
ESS_MARGIN = 1.25
LEAST_FACTOR, MOST_FACTOR = 2, 10


def round_up(value):
    """`value` rounded up to two significant digits (2,000, 6,500, 14,000)."""
    step = 10 ** max(0, int(math.log10(value)) - 1)
    return int(math.ceil(value / step) * step)


def short_chain_reasons(summary):
    """What says the chains are too short: stuck chains, the rates with a low ESS or a high R-hat
    (among states that hold columns) and drifting burn-ins; empty when none."""
    rows = summary.diagnosed_rows()
    reasons = [f"{rate} is stuck near 0 in seed {' '.join(map(str, stuck))}"
               for rate, stuck, _free in summary.stuck_chains()]
    reasons += [f"{row['rate']} has ESS {row['ess']:.0f}" for row in rows if not row["ess"] >= ESS_WARNING_BELOW]
    reasons += [f"{row['rate']} has R-hat {row['rhat']:.3g}" for row in rows if row["rhat"] > RHAT_WARNING_ABOVE]
    reasons += [f"seed {chain.seed} still drifts" for chain in summary.chains if chain.burnin_drifting]
    return reasons


def extended_length(summary):
    """The iterations that should bring every rate's ESS to the target, from the lowest one."""
    longest = max(chain.n for chain in summary.chains)
    sizes = [row["ess"] for row in summary.diagnosed_rows() if row["ess"] > 0]
    factor = LEAST_FACTOR
    if sizes and min(sizes) < ESS_WARNING_BELOW:
        factor = max(factor, math.ceil(ESS_MARGIN * ESS_WARNING_BELOW / min(sizes)))
    return round_up(longest * min(factor, MOST_FACTOR))


def larger_k_max(summary):
    """A doubled -k, within what the columns allow; None when the limit does not cut the posterior
    or cannot grow."""
    if summary.segment_probs[-1] <= K_MAX_WARNING_ABOVE:
        return None
    larger = min(2 * summary.k_max, summary.n_columns - 1)
    return larger if larger > summary.k_max else None


def summary_words(parser, arguments):
    """This alnsummarize command again: the options as given, defaults left out."""
    words = [summarizer_program()]
    for action in parser._actions:  # every option argparse knows, in the order of --help
        if not action.option_strings or action.dest == "help":
            continue
        value = getattr(arguments, action.dest)
        if action.required or value != action.default:
            if action.nargs == 0:
                words.append(action.option_strings[0])
            elif isinstance(value, list):
                words += [action.option_strings[0], *map(str, value)]
            else:
                whole = isinstance(value, float) and value.is_integer()
                words += [action.option_strings[0], str(int(value)) if whole else str(value)]
    return words


def next_step(parser, arguments, summary):
    """(heading, commands): what to run next and why; no commands when the summary can be trusted."""
    reasons = short_chain_reasons(summary)
    k_max = larger_k_max(summary)
    if not reasons and k_max is None:
        return ("run next: nothing; every rate has ESS >= 100 and R-hat <= 1.05 and the segment limit"
                " does not bind, so the summary can be read as it is"), []
    iterations = extended_length(summary) if reasons else max(chain.n for chain in summary.chains)
    root, case = arguments.root_dir, arguments.case
    data_file = arguments.data_file if arguments.data_file != "data.txt" else None
    sampler = sampler_program() or SAMPLER
    commands = []
    for chain in summary.chains:
        # An extension repeats the options its checkpoint holds; a larger -k starts the chain again.
        chain_k = k_max or (chain.k_max if chain.k_max != SAMPLER_DEFAULT_K_MAX else None)
        ancestors = os.path.exists(chain.iteration_path("ancestors", int(chain.draw_iterations[-1])))
        # A resumed chain keeps its rounds of marginal rate moves (its checkpoint refuses others).
        moves = chain.marginal_rate_moves if k_max is None else max(chain.marginal_rate_moves,
                                                                    RECIPE_MARGINAL_RATE_MOVES)
        commands.append(chain_command(root, case, chain.seed, iterations, sampler, chain_k, chain.thin, data_file,
                                      ancestors, resume=k_max is None, moves=moves))
    commands.append(shlex.join(summary_words(parser, arguments)))
    if k_max is None:
        heading = (f"run next (the chains are too short: {'; '.join(reasons[:3])}"
                   f"{'; ...' if len(reasons) > 3 else ''}): extend them to {iterations:,} iterations from their"
                   " checkpoints, then summarise again:")
    else:
        heading = (f"run next ({100 * summary.segment_probs[-1]:.0f}% of the kept draws use all {summary.k_max}"
                   f" segments): run the chains again with -k {k_max}, replacing these runs"
                   f"{' and making them longer' if reasons else ''}, then summarise again:")
    return heading, commands
