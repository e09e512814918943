"""The commands the tools print for the user to run next, built in one place.

A recipe is complete: it runs two chains of the sampler (two seeds, so that
alnsummarize can compare them) and then summarises both, so that a user who
pastes it gets a summary with convergence diagnostics.  The options every
recommended chain uses are fixed here and nowhere else; alnsimulate (C++)
holds the same recipe in src/driver/guidance.cpp.
"""

import os
import shlex
import shutil
import sys

from alncommon.case import with_slash

SAMPLER = "alnsampler"
SUMMARIZER = "alnsummarize"
# The source tree's own build of the sampler, relative to the repository.
BUILT_SAMPLER = os.path.join("build", "src", "driver", SAMPLER)
REPOSITORY = os.path.dirname(os.path.dirname(os.path.dirname(os.path.realpath(__file__))))

# Two chains from different seeds: R-hat compares them, and a chain that stays
# in one part of the posterior shows up as a disagreement.
RECIPE_SEEDS = (1, 2)
# A first run that alnsummarize can judge: on the default case (959 columns)
# every rate but the slowest reaches an effective sample size of 100; the
# summary then says how far to extend the chains (-n N --resume).
RECIPE_ITERATIONS = 2000
# Every 10th iteration's files: 200 draws and 1,200 files per chain instead
# of 12,000; the draws of a sampler whose rates move slowly lose little.
RECIPE_THIN = 10
# Options of every recommended chain besides its seed, length and thinning:
# one round of the moves that carry a rate between near 0 and the bulk with
# the events summed out (two chains of a genome window otherwise often hold a
# rate at 1e-100 in one and at 0.3 in the other); it costs 0-50% more time per
# iteration.
RECIPE_MARGINAL_RATE_MOVES = 1
RECIPE_MOVES = ("--marginal-rate-moves", str(RECIPE_MARGINAL_RATE_MOVES))


def moves_words(rounds):
    """The sampler's option for `rounds` rounds of marginal rate moves per iteration (none for 0)."""
    return ["--marginal-rate-moves", str(rounds)] if rounds else []

# The sampler's default -k; a case needs more modelled columns than -k.
SAMPLER_DEFAULT_K_MAX = 4


def _executable(path):
    return os.path.isfile(path) and os.access(path, os.X_OK)


def _installed_program(name, argv0):
    """`name` when it is on PATH, else the program of that name beside the invoked tool (argv[0]
    as typed, not resolved: an install prefix's bin/ holds links to the tools and the sampler
    itself), else None."""
    if shutil.which(name):
        return name
    argv0 = sys.argv[0] if argv0 is None else argv0
    beside = os.path.join(os.path.dirname(argv0) or os.curdir, name)
    return beside if _executable(beside) else None


def sampler_program(argv0=None, repository=None):
    """The sampler as a "run next" line must call it, so that the line works as printed: installed
    (on PATH or beside the invoked tool), else the source tree's build, else None."""
    built = os.path.join(REPOSITORY if repository is None else repository, BUILT_SAMPLER)
    return _installed_program(SAMPLER, argv0) or (built if _executable(built) else None)


def summarizer_program(argv0=None):
    """alnsummarize as a "run next" line must call it: installed (on PATH or beside the invoked
    tool), else the one beside this package's tools."""
    return _installed_program(SUMMARIZER, argv0) or os.path.join(REPOSITORY, "tools", SUMMARIZER, SUMMARIZER)


def missing_sampler_note(program):
    """A warning when no sampler was found for the "run next" line."""
    return (f"{SAMPLER} is not on PATH, not beside {program} and not built in"
            f" {os.path.join(REPOSITORY, BUILT_SAMPLER)}: build or install it before running the commands below")


def chain_command(root, case, seed, iterations, sampler=None, k_max=None, thin=RECIPE_THIN, data_file=None,
                  ancestors=False, resume=False, moves=None):
    """One chain of the sampler: the recommended options, with what a particular case or chain needs.
    `moves`: the rounds of marginal rate moves (a resumed chain must keep its own); None for the
    recommended ones."""
    words = [sampler or sampler_program() or SAMPLER, "-r", with_slash(root), "-t", with_slash(case),
             "-s", str(seed), "-n", str(iterations)]
    if thin > 1:
        words += ["--thin", str(thin)]
    words += RECIPE_MOVES if moves is None else moves_words(moves)
    if k_max is not None:
        words += ["-k", str(k_max)]
    if data_file is not None:
        words += ["-d", data_file]
    if ancestors:
        words.append("--ancestors")
    if resume:
        words.append("--resume")
    return shlex.join(words)


def summary_folder(root, case):
    return os.path.join(with_slash(root), "results", with_slash(case), "summary") + "/"


def summary_command(root, case, seeds, summarizer=None, options=()):
    words = [summarizer or summarizer_program(), "--root-dir", with_slash(root), "--case", with_slash(case),
             "--seeds", *map(str, seeds), "--out", summary_folder(root, case), *options]
    return shlex.join(words)


def recipe_k_max(n_modelled):
    """The -k a case of `n_modelled` columns needs, or None when the sampler's default will do."""
    return n_modelled - 1 if n_modelled is not None and n_modelled <= SAMPLER_DEFAULT_K_MAX else None


def recipe_commands(root, case, n_modelled=None, sampler=None, summarizer=None):
    """The commands that run the recommended chains of a new case and summarise them."""
    k_max = recipe_k_max(n_modelled)
    chains = [chain_command(root, case, seed, RECIPE_ITERATIONS, sampler, k_max) for seed in RECIPE_SEEDS]
    return chains + [summary_command(root, case, RECIPE_SEEDS, summarizer)]


def recipe_heading(note=""):
    """The line above a recipe; `note` adds what the recipe is for."""
    return f"run next (two chains, then their summary; paste the lines into a shell{'; ' + note if note else ''}):"
