"""Relabelling of the rate states, convergence diagnostics and the posterior summaries."""

import math

import numpy as np

from .runs import RATE_KINDS, VALUE_LETTERS
from .tables import number_text

ESS_WARNING_BELOW = 100.0
RHAT_WARNING_ABOVE = 1.05


def relabel_orders(mutation_rates):
    """Per iteration, the sampled labels sorted by increasing mutation rate.

    order[i][j] is the sampled label that becomes label j; ties keep the
    sampled order, so an iteration already in order is left unchanged.
    """
    return np.argsort(mutation_rates, axis=1, kind="stable")


def identity_orders(n_iterations, n_states):
    return np.tile(np.arange(n_states), (n_iterations, 1))


def apply_order(values, orders):
    """Per-state values (iterations x states) in the new labels."""
    return np.take_along_axis(values, orders, axis=1)


def new_labels(order):
    """Map from a sampled label to its new label, for one iteration."""
    labels = np.empty_like(order)
    labels[order] = np.arange(len(order))
    return labels


def count_reordered(orders):
    return int(np.count_nonzero(np.any(orders != np.arange(orders.shape[1]), axis=1)))


# ---------------------------------------------------------------------------
# Convergence diagnostics
# ---------------------------------------------------------------------------


def is_constant(chains):
    """True when every draw is the same number; a computed variance would be rounding noise."""
    return bool(np.all(chains == chains.flat[0]))


def autocovariance(series):
    """Autocovariances at lags 0..n-1 (divided by n), by FFT."""
    n = len(series)
    centred = series - series.mean()
    size = 1 << (2 * n - 1).bit_length()
    spectrum = np.fft.rfft(centred, size)
    return np.fft.irfft(spectrum * np.conjugate(spectrum), size)[:n] / n


def effective_sample_size(chains):
    """Effective sample size of equally long chains (a chains x draws array).

    Autocorrelations are combined over the chains against the variance
    estimate that also counts the spread between chain means, so chains that
    disagree get a small size.  The sum of autocorrelations is cut by Geyer's
    initial monotone sequence: sums of adjacent pairs are added while they are
    positive, each no larger than the one before.
    """
    chains = np.asarray(chains, dtype=float)
    m, n = chains.shape
    if n < 4 or is_constant(chains):
        return math.nan
    acov = np.array([autocovariance(chain) for chain in chains])
    within = acov[:, 0].mean() * n / (n - 1)
    var_plus = within * (n - 1) / n
    if m > 1:
        var_plus += chains.mean(axis=1).var(ddof=1)
    if not var_plus > 0:
        return math.nan
    rho = 1.0 - (within - acov.mean(axis=0)) / var_plus
    rho[0] = 1.0
    pair_sums = []
    for lag in range(0, n - 1, 2):
        pair = rho[lag] + rho[lag + 1]
        if pair <= 0:
            break
        if pair_sums and pair > pair_sums[-1]:
            pair = pair_sums[-1]
        pair_sums.append(pair)
    tau = -1.0 + 2.0 * sum(pair_sums)
    # Anti-correlated chains can make tau tiny; cap the size as Stan does.
    tau = max(tau, 1.0 / math.log10(m * n))
    return m * n / tau


def split_rhat(chains):
    """Potential scale reduction of equally long chains, each split into halves.

    Splitting lets one chain that drifts show up as two halves that disagree.
    Values near 1 mean the halves look alike; an odd middle draw is dropped.
    """
    chains = np.asarray(chains, dtype=float)
    half = chains.shape[1] // 2
    if half < 2 or is_constant(chains):
        return math.nan
    halves = np.concatenate([chains[:, :half], chains[:, -half:]])
    within = halves.var(axis=1, ddof=1).mean()
    between_over_n = halves.mean(axis=1).var(ddof=1)
    if within == 0:
        return math.nan if between_over_n == 0 else math.inf
    var_plus = (half - 1) / half * within + between_over_n
    return math.sqrt(var_plus / within)


def common_tails(series_per_chain):
    """The last draws of every chain, cut to the shortest chain's length."""
    length = min(len(series) for series in series_per_chain)
    return np.array([series[len(series) - length:] for series in series_per_chain])


# ---------------------------------------------------------------------------
# Posterior summaries
# ---------------------------------------------------------------------------


class Summary:
    """Everything the output files and plots are made from."""

    def __init__(self, chains, relabel):
        self.chains = chains
        self.relabel = relabel
        self.n_columns = chains[0].n_columns
        self.n_states = chains[0].n_rate_states
        self.k_max = chains[0].k_max
        self.orders = []
        for chain in chains:
            if relabel:
                self.orders.append(relabel_orders(chain.rates["mutation"]))
            else:
                self.orders.append(identity_orders(chain.n, self.n_states))
        self.reordered = [count_reordered(relabel_orders(chain.kept(chain.rates["mutation"]))) for chain in chains]
        self.rates = self._rate_draws()
        self.n_kept = sum(chain.n - chain.burnin for chain in chains)
        self.state_probs, self.start_probs = self._column_posteriors()
        self.segment_probs, self.segment_conditional = self._segment_posterior()
        self.rate_rows = self._rate_rows()
        self.ancestors = None

    def rate_names(self):
        return [f"{kind}_rate_{state}" for kind in RATE_KINDS for state in range(self.n_states)]

    def _rate_draws(self):
        """Per chain, all iterations x (deletion rates, mutation rates) in the summary's labels."""
        draws = []
        for chain, orders in zip(self.chains, self.orders):
            draws.append(np.hstack([apply_order(chain.rates[kind], orders) for kind in RATE_KINDS]))
        return draws

    def _column_posteriors(self):
        state_counts = np.zeros((self.n_columns, self.n_states))
        start_counts = np.zeros(self.n_columns)
        column_index = np.arange(self.n_columns)
        for chain, orders in zip(self.chains, self.orders):
            for iteration in chain.kept_iterations():
                labels = new_labels(orders[iteration - 1])
                states = labels[chain.read_rate_states(iteration)]
                state_counts[column_index, states] += 1
                start_counts[chain.segment_starts[iteration - 1]] += 1
        return state_counts / self.n_kept, start_counts / self.n_kept

    def _segment_posterior(self):
        """Frequency of each number of segments, and the mean of its exact conditional.

        Each post_dist_k row holds the log marginal likelihood of 1..k_max
        segments given the rest of the state; normalised, it is the
        distribution the sampler draws the number from, and its average over
        the draws is a smoother estimate of the same posterior.
        """
        counts = np.zeros(self.k_max)
        conditional = np.zeros(self.k_max)
        for chain in self.chains:
            counts += np.bincount(chain.kept(chain.segments) - 1, minlength=self.k_max)
            rows = chain.kept(chain.log_marginals_k)
            weights = np.exp(rows - rows.max(axis=1, keepdims=True))
            conditional += (weights / weights.sum(axis=1, keepdims=True)).sum(axis=0)
        return counts / self.n_kept, conditional / self.n_kept

    def _rate_rows(self):
        rows = []
        for index, name in enumerate(self.rate_names()):
            kept = [chain.kept(draws[:, index]) for chain, draws in zip(self.chains, self.rates)]
            pooled = np.concatenate(kept)
            tails = common_tails(kept)
            rows.append({
                "rate": name,
                "mean": float(pooled.mean()),
                "median": float(np.median(pooled)),
                "lower_95": float(np.quantile(pooled, 0.025)),
                "upper_95": float(np.quantile(pooled, 0.975)),
                "ess": effective_sample_size(tails),
                "rhat": split_rhat(tails),
                "constant": is_constant(pooled),
            })
        return rows

    def add_ancestors(self, n_internal):
        """Posterior of every internal node's value in every column (nodes x columns x 5)."""
        counts = np.zeros((n_internal, self.n_columns, len(VALUE_LETTERS)))
        node_index = np.arange(n_internal)[:, None]
        column_index = np.arange(self.n_columns)[None, :]
        for chain in self.chains:
            for iteration in chain.kept_iterations():
                values = chain.read_ancestors(iteration, n_internal).T
                counts[node_index, column_index, values] += 1
        self.ancestors = counts / self.n_kept

    def diagnostics_warnings(self):
        constant = [row["rate"] for row in self.rate_rows if row["constant"]]
        varying = [row for row in self.rate_rows if not row["constant"]]
        low_ess = [row for row in varying if not row["ess"] >= ESS_WARNING_BELOW]
        high_rhat = [row for row in varying if row["rhat"] > RHAT_WARNING_ABOVE]
        messages = []
        if constant:
            messages.append(
                f"{', '.join(constant)} never changed in the kept iterations:"
                " the sampler did not move it, and its ESS and R-hat are undefined (nan)"
            )
        if low_ess:
            shown = ", ".join(f"{row['rate']} ({number_text(row['ess'])})" for row in low_ess)
            messages.append(
                f"effective sample size below {ESS_WARNING_BELOW:g} for {shown}:"
                " the summaries of these rates are unreliable; run longer chains"
            )
        if high_rhat:
            shown = ", ".join(f"{row['rate']} ({number_text(row['rhat'])})" for row in high_rhat)
            messages.append(
                f"R-hat above {RHAT_WARNING_ABOVE:g} for {shown}: the chains (or the halves of a chain)"
                " disagree, so they have not converged; run longer chains and check traces.png"
            )
        return messages
