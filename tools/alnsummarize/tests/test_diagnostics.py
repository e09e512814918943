"""Effective sample size and split R-hat against series whose answers are known."""

import math
import os
import shlex
import struct

import numpy as np
import pytest

from summarize import statistics as sm
from trace_files import Iteration, write


def ar1(rng, phi, n, chains):
    """Stationary AR(1) chains x[t] = phi x[t-1] + e[t], unit innovations."""
    x = np.empty((chains, n))
    x[:, 0] = rng.standard_normal(chains) / math.sqrt(1 - phi * phi)
    noise = rng.standard_normal((chains, n))
    for t in range(1, n):
        x[:, t] = phi * x[:, t - 1] + noise[:, t]
    return x


@pytest.mark.parametrize("phi", [0.0, 0.5, 0.8, -0.3])
@pytest.mark.parametrize("chains,draws", [(1, 80000), (4, 20000)])
def test_ess_of_ar1_matches_its_formula(phi, chains, draws):
    # The integrated autocorrelation time of AR(1) is (1 + phi) / (1 - phi).
    # At these lengths the estimate's spread is about 3%; 10% fails only on a fault.
    series = ar1(np.random.default_rng(1000 + int(10 * phi) + chains), phi, draws, chains)
    expected = chains * draws * (1 - phi) / (1 + phi)
    assert sm.effective_sample_size(series) == pytest.approx(expected, rel=0.10)


def test_ess_counts_disagreeing_chains_as_few_draws_and_rhat_catches_a_drifting_chain():
    series = np.random.default_rng(5).standard_normal((2, 5000))
    assert sm.split_rhat(series[:1]) < 1.01
    assert sm.split_rhat((series[0] + np.linspace(0.0, 3.0, 5000))[None, :]) > 1.1
    series[1] += 3.0
    assert sm.effective_sample_size(series) < 100


@pytest.mark.parametrize("series", [np.full((2, 50), 0.1), np.array([[1.0, 2.0, 3.0]])])
def test_ess_and_rhat_of_constant_or_too_short_series_are_undefined(series):
    assert math.isnan(sm.effective_sample_size(series)) and math.isnan(sm.split_rhat(series))


def alternating(n):
    return np.array([(-1.0) ** t for t in range(n)])


@pytest.mark.parametrize("shift", [0.0, 0.5, 2.0])
def test_split_rhat_of_identical_and_shifted_alternating_chains(shift):
    # Each half of -1, 1, -1, ... (h draws, h even) has mean 0 and variance h/(h-1).
    # Half means 0, 0, d, d have variance d^2/3, so
    # R^2 = ((h-1)/h * h/(h-1) + d^2/3) / (h/(h-1)) = (1 + d^2/3) (h-1)/h.
    h = 10
    chains = np.array([alternating(2 * h), alternating(2 * h) + shift])
    assert sm.split_rhat(chains) == pytest.approx(math.sqrt((1 + shift * shift / 3) * (h - 1) / h))


def write_chains(case, n=(300, 300), shift=0.0, states=(0, 1, 2, 0) * 3, drift=0, k_max_share=0.0):
    """Independent draws around fixed rates; the first chain's log-probability may drift, later chains'
    deletion rates be shifted, and a share of the draws use all four segments."""
    case.modelled_data(len(states))
    rng = np.random.default_rng(21)
    for number, length in enumerate(n):
        case.write_run(3 + number, [
            Iteration(states, deletion=tuple((0.5 + shift * number, 1.0 + shift * number, 2.0 + shift * number)
                                             + 0.05 * rng.standard_normal(3)),
                      mutation=(0.5 + 0.01 * rng.standard_normal(), 5.0 + rng.standard_normal(), 500.0 + rng.random()),
                      from_tos=[(0, 0), (1, 1), (2, 2), (3, len(states) - 1)] if i < k_max_share * length else None,
                      log_probability=-100.0 + rng.random() - (1000.0 - i if i < drift and number == 0 else 0.0))
            for i in range(length)])


def make_older(case):
    later = os.path.getmtime(case.result(3, "_post_para.txt")) + 100
    os.utime(os.path.join(case.data_dir, "data.txt"), (later, later))


def cut_transitions(case):
    write(case.result(3, "_rate_state_transitions.txt"), ["0.9 0.05 0.05"] * 5)


def stop_within_an_iteration(case):
    """A run killed after writing iteration 301's segment row and transition lines: no fault."""
    for suffix, lines in (("_post_dist_k.txt", 1), ("_rate_state_transitions.txt", 3)):
        with open(case.result(3, suffix), "a", encoding="utf-8") as handle:
            handle.write("0 -1 -2 -3\n" if lines == 1 else "0.9 0.05 0.05\n" * 3)


NOTHING = "run next: nothing; every rate has ESS >= 100 and R-hat <= 1.05"
EXTEND = "run next (the chains are too short: "
# (chains, alnsummarize arguments, a change to the folder, fragments of the warnings, fragments that must be
#  absent, the start of the step recommended next and the options of its sampler commands)
WARNINGS = [
    ({}, {}, None, [], [], NOTHING, None),
    ({}, {}, stop_within_an_iteration, [], [], NOTHING, None),
    ({"n": (30,)}, {}, None,
     ["effective sample size below 100 for deletion_rate_0 (", "mutation_rate_2 (", "extend the chains (the commands"],
     [], EXTEND + "deletion_rate_0 has ESS ", ["-n", "180", "--resume"]),
    ({"shift": 0.5, "states": (0, 1, 1, 0)}, {}, None,
     ["rate state 2 holds no column in 100% of the kept draws: its rates there are drawn from the prior",
      "R-hat above 1.05 for deletion_rate_0 (", "deletion_rate_1 (", "look at their traces (trace_SEED.log"],
     ["deletion_rate_2 (", ".png"], EXTEND + "deletion_rate_0 has ESS 1; ", ["-n", "3000", "--resume"]),
    ({"k_max_share": 0.1}, {}, None, ["P(k = k_max) = 0.1: 10.0% of the kept draws use all 4 segments",
                                      "run the chains again with a larger -k"], [],
     "run next (10% of the kept draws use all 4 segments): run the chains again with -k 8,",
     ["-n", "300", "--marginal-rate-moves", "1", "-k", "8"]),
    ({"k_max_share": 0.1, "states": (0, 1, 2, 0, 1)}, {}, None, ["-k cannot be larger: the sampler needs more"], [],
     NOTHING, None),
    ({"drift": 200}, {"burnin": "auto"}, None,
     ["seed 3: its traces settle only after iteration 150 of 300 (half the chain or more)"], ["seed 4"],
     EXTEND + "seed 3 still drifts", ["-n", "600", "--resume"]),
    ({}, {}, make_older, ["seed 3: its traces are older than ", "data.txt, which changed after the run's last"], [],
     NOTHING, None),
    ({}, {}, cut_transitions, ["seed 3: the run files disagree in size: ", "holds 300 iterations",
                               "_post_dist_k.txt 300 rows and ", "_rate_state_transitions.txt 5 lines (3 per"],
     ["seed 4"], NOTHING, None),
]


@pytest.mark.parametrize("chains,arguments,change,fragments,absent,next_step,options", WARNINGS)
def test_each_warning_on_its_trigger_and_none_on_a_clean_run(case, run, chains, arguments, change, fragments, absent,
                                                            next_step, options):
    write_chains(case, **chains)
    if change:
        change(case)
    seeds = list(range(3, 3 + len(chains.get("n", (300, 300)))))
    out, err = run(seeds=seeds, **arguments)
    assert all(fragment in err for fragment in fragments), err
    assert not any(fragment in err for fragment in absent), err
    # warnings.txt holds exactly the lines of standard error; report.txt has them before the step to take next,
    # which ends standard output: per chain a sampler command, then this summary again.
    report, step = out.split("run next")
    assert case.read_output("warnings.txt") == err
    assert case.read_output("report.txt") == report + err + "run next" + step
    heading, *commands = step.splitlines()
    assert ("run next" + heading).startswith(next_step)
    if options is None:
        assert commands == []
    else:
        assert [shlex.split(command)[1:] for command in commands[:-1]] == [
            ["-r", case.root, "-t", case.name, "-s", str(seed), *options] for seed in seeds]
        assert shlex.split(commands[-1])[1:] == ["--root-dir", case.root, "--case", case.name, "--seeds",
                                                 *map(str, seeds), *(["--burnin", "0"] if not arguments else []),
                                                 "--out", case.out, "--no-plots"]
    if not fragments:
        assert err == ""
        assert all(float(row["ess"]) > 100 and float(row["rhat"]) < 1.05 for row in case.table("rates.tsv"))


# (iterations, --thin, iterations the log-probability drifts, iterations a mutation rate drifts,
#  burn-in chosen, warned as still drifting, --marginal-rate-moves); a log_drift of -L is an
#  excursion of L draws from iteration 22 on, far beyond the range: a stationary chain's visit
#  elsewhere when short (up to a twentieth of the half), a drift that ends there when longer.
#  With the moves the 100 iterations that tune them go too.  The slowest rate lies near 0 and
#  dips once to 1e-300 (its logs below 1e-10 are noise, not drift).
@pytest.mark.parametrize("n,thin,log_drift,rate_drift,burnin,drifting,moves", [
    (100, 1, 0, 0, 0, False, 0), (100, 1, -2, 0, 0, False, 0), (100, 1, -3, 0, 24, False, 0),
    (300, 1, -7, 0, 0, False, 0), (100, 1, 30, 0, 30, False, 0),
    (100, 1, 0, 40, 40, False, 0), (100, 1, 20, 45, 45, False, 0), (100, 5, 0, 40, 40, False, 0),
    (100, 1, 70, 0, 50, True, 0), (100, 5, 0, 80, 50, True, 0), (3, 1, 2, 0, 0, False, 0),
    (300, 1, 30, 0, 100, False, 1), (100, 1, 30, 0, 30, False, 1),
])
def test_burnin_ends_with_the_longest_drift_of_known_length(case, run, n, thin, log_drift, rate_drift, burnin,
                                                           drifting, moves):
    # Drifts that approach the stationary level from far away; around it -1, 1, -1, ... (any half spans -1..1).
    i, wobble = np.arange(n), -alternating(n)
    excursion = (21 <= i) & (i < 21 - log_drift)
    log_probability = -100.0 + wobble - (1000.0 - 10.0 * i) * (i < log_drift) + 100.0 * excursion
    middle = 1.0 + 0.1 * wobble + (50.0 - 0.5 * i) * (i < rate_drift)
    slowest = np.where(i == 9, 1e-300, 1e-20)
    case.modelled_data(3)
    case.write_run(3, [Iteration([0, 1, 2], mutation=(slowest[i], middle[i], 10.0), log_probability=log_probability[i])
                       for i in range(n)], thin=thin, moves=moves)
    out, err = run(burnin="auto")
    assert f"seed 3: {n} iterations, burn-in {burnin} (chosen from its traces)" in out
    assert (f"seed 3: its traces settle only after iteration {burnin} of {n} (half the chain or more)" in err) \
        == drifting, err


@pytest.mark.parametrize("checkpoint_version", [None, 1, 3])
def test_thinned_run_reads_its_draws_only(case, run, checkpoint_version):
    # Iterations 3, 6 and 9 of ten wrote their files; the burn-in of 4 keeps 6 and 9. With a
    # checkpoint (of any format version: all keep the head) its --thin holds, even where an
    # earlier run of the seed left every iteration's files.
    case.modelled_data(3)
    iterations = [Iteration([0, 1, 2], mutation=(0.1, 1.0 + i, 10.0)) for i in range(10)]
    if checkpoint_version:
        case.write_run(3, [Iteration([0, 1, 2], mutation=(0.1, 100.0, 1000.0))] * 10)
        with open(case.result(3, "_checkpoint.bin"), "wb") as handle:
            handle.write(struct.pack("=8sIqIqq", b"alnckpt\n", checkpoint_version, 10, 3, 4, 3) + bytes(100))
    case.write_run(3, iterations, thin=3)
    out, _ = run(burnin="4")
    assert "seed 3: 10 iterations, burn-in 4 (as given), kept 2 draws;" in out
    assert [row.split("\t")[0] for row in case.read_output("trace_3.log").splitlines()[1:]] == ["3", "6", "9"]
    assert float({row["rate"]: row for row in case.table("rates.tsv")}["mutation_rate_1"]["mean"]) == 7.5
    # The conditional distribution of the number of segments averages every kept iteration.
    assert sum(float(row["conditional_mean"]) for row in case.table("segments.tsv")) == pytest.approx(1)


def test_chains_of_different_lengths_are_compared_on_their_last_draws(case, run):
    # The tails of both chains are the same alternating series; the long
    # chain's head is far off and must not enter R-hat.
    case.modelled_data(2)
    tail = 50.0 + alternating(8)
    case.write_run(3, [Iteration([0, 1], deletion=(d, 1.0, 1.0)) for d in [500.0] * 4 + list(tail)])
    case.write_run(4, [Iteration([0, 1], deletion=(d, 1.0, 1.0)) for d in tail])
    out, _ = run(seeds=(3, 4))
    assert "runs of different lengths (seed 3: 12, seed 4: 8 iterations)" in out
    row = {row["rate"]: row for row in case.table("rates.tsv")}["deletion_rate_0"]
    assert float(row["rhat"]) == pytest.approx(math.sqrt(3 / 4), abs=1e-6)
    assert float(row["mean"]) == pytest.approx((4 * 500 + 16 * 50) / 20)
