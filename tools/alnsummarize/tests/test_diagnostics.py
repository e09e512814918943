"""Effective sample size and split R-hat against series whose answers are known."""

import math

import numpy as np
import pytest

from trace_files import Iteration


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
def test_ess_of_ar1_matches_its_formula(sm, phi, chains, draws):
    # The integrated autocorrelation time of AR(1) is (1 + phi) / (1 - phi).
    # At these lengths the estimate's spread is about 3%; 10% fails only on a fault.
    series = ar1(np.random.default_rng(1000 + int(10 * phi) + chains), phi, draws, chains)
    expected = chains * draws * (1 - phi) / (1 + phi)
    assert sm.effective_sample_size(series) == pytest.approx(expected, rel=0.10)


def test_ess_counts_disagreeing_chains_as_few_draws(sm):
    series = np.random.default_rng(5).standard_normal((2, 5000))
    series[1] += 3.0
    assert sm.effective_sample_size(series) < 100


@pytest.mark.parametrize("series", [np.full((2, 50), 0.1), np.array([[1.0, 2.0, 3.0]])])
def test_ess_and_rhat_of_constant_or_too_short_series_are_undefined(sm, series):
    assert math.isnan(sm.effective_sample_size(series)) and math.isnan(sm.split_rhat(series))


def alternating(n):
    return np.array([(-1.0) ** t for t in range(n)])


@pytest.mark.parametrize("shift", [0.0, 0.5, 2.0])
def test_split_rhat_of_identical_and_shifted_alternating_chains(sm, shift):
    # Each half of -1, 1, -1, ... (h draws, h even) has mean 0 and variance h/(h-1).
    # Half means 0, 0, d, d have variance d^2/3, so
    # R^2 = ((h-1)/h * h/(h-1) + d^2/3) / (h/(h-1)) = (1 + d^2/3) (h-1)/h.
    h = 10
    chains = np.array([alternating(2 * h), alternating(2 * h) + shift])
    assert sm.split_rhat(chains) == pytest.approx(math.sqrt((1 + shift * shift / 3) * (h - 1) / h))


def test_split_rhat_catches_a_drifting_single_chain(sm):
    steady = np.random.default_rng(12).standard_normal(4000)
    assert sm.split_rhat(steady[None, :]) < 1.01
    assert sm.split_rhat((steady + np.linspace(0.0, 3.0, 4000))[None, :]) > 1.1


def iid_run(case, seed, rng, n, shift=0.0):
    case.write_run(seed, [
        Iteration([0, 1], deletion=tuple(1.0 + shift + 0.1 * rng.standard_normal(3)),
                  mutation=(0.5 + 0.01 * rng.standard_normal(), 5.0 + rng.standard_normal(), 500.0 + rng.random()))
        for _ in range(n)])


@pytest.mark.parametrize("draws,shift,warnings", [
    ((300, 300), 0.0, []),
    ((30,), 0.0, ["warning: effective sample size below 100 for deletion_rate_0 (", "mutation_rate_2 (",
                  "run longer chains"]),
    ((300, 300), 0.5, ["warning: R-hat above 1.05 for deletion_rate_0 (", "deletion_rate_2 ("]),
])
def test_warnings_of_short_or_disagreeing_chains(case, run, draws, shift, warnings):
    case.modelled_data(2)
    rng = np.random.default_rng(21)
    for number, n in enumerate(draws):
        iid_run(case, 3 + number, rng, n, shift * number)
    status, _, err = run(seeds=range(3, 3 + len(draws)))
    assert status == 0
    assert all(warning in err for warning in warnings), err
    if not warnings:
        assert err == ""
        assert all(float(row["ess"]) > 100 and float(row["rhat"]) < 1.05 for row in case.table("rates.tsv"))
    if shift:
        assert "mutation_rate_0" not in err.split("R-hat")[1], "only the shifted rates disagree"


def test_a_rate_that_never_moves_is_reported_not_measured(case, run):
    case.modelled_data(2)
    case.write_run(3, [Iteration([0, 1], deletion=(0.1, 0.2, 0.3 + 0.01 * (i % 7))) for i in range(200)])
    status, _, err = run()
    assert status == 0
    assert "deletion_rate_0, deletion_rate_1, mutation_rate_0, mutation_rate_1, mutation_rate_2 never changed" in err
    rows = {row["rate"]: row for row in case.table("rates.tsv")}
    assert rows["deletion_rate_0"]["ess"] == "nan" and rows["deletion_rate_0"]["rhat"] == "nan"


def test_chains_of_different_lengths_are_compared_on_their_last_draws(case, run):
    # The tails of both chains are the same alternating series; the long
    # chain's head is far off and must not enter R-hat.
    case.modelled_data(2)
    tail = 50.0 + alternating(8)
    case.write_run(3, [Iteration([0, 1], deletion=(d, 1.0, 1.0)) for d in [500.0] * 4 + list(tail)])
    case.write_run(4, [Iteration([0, 1], deletion=(d, 1.0, 1.0)) for d in tail])
    status, out, _ = run(seeds=(3, 4))
    assert status == 0
    assert "runs of different lengths (seed 3: 12, seed 4: 8 iterations)" in out
    assert "ESS and R-hat use the last 8 kept iterations of each chain" in out
    row = {row["rate"]: row for row in case.table("rates.tsv")}["deletion_rate_0"]
    assert float(row["rhat"]) == pytest.approx(math.sqrt(3 / 4), abs=1e-6)
    assert float(row["mean"]) == pytest.approx((4 * 500 + 16 * 50) / 20)
