"""Relabelling of the rate states, convergence diagnostics and the posterior summaries."""

import math

import numpy as np

from alncommon import recipe
from alncommon.conservation import RHO, Draw, column_weighted_reference, p_conserved

from .runs import RATE_FLOOR, RATE_KINDS, VALUE_LETTERS
from .tables import number_text

ESS_WARNING_BELOW = 100.0
RHAT_WARNING_ABOVE = 1.05
K_MAX_WARNING_ABOVE = 0.05


CONSERVATION_KEYS = ("mutation", "deletion", "total")
# A rate state that holds no column in more than this share of the kept draws
# has the prior's rates there, and its summaries describe the prior.
EMPTY_STATE_SHARE = 0.5
# A chain is stuck at a rate below RATE_FLOOR when this share of its kept
# draws lie below it while another chain's mostly do not: with the rate near
# 0 no event of its kind is sampled, so the next draw of the rate stays near 0
# too.
STUCK_SHARE = 0.9
# ... and another chain counts as not stuck when less than this share of its draws do.
FREE_SHARE = 0.5
# Short of stuck, the chains still disagree on whether a rate is near 0 when the shares of their
# kept draws below RATE_FLOOR differ by this much: one chain keeps the rate state idle most of the
# time while another uses it for columns that evolve (a second mode, which the moves cross rarely).
DISAGREE_SPREAD = 0.5
# Rounds of marginal rate moves to suggest when chains that ran with fewer did not converge: on
# 1,000-column windows of four apes, 10 rounds made all six windows converge (one round three, three
# rounds five) and gave the most effective draws per CPU-second on each of them.
MANY_ROUNDS = 10


def conservation_key(deletion_rates, mutation_rates, conserved_by):
    """Per draw and state, the rate by which states are ordered (low = conserved)."""
    return {"mutation": mutation_rates, "deletion": deletion_rates,
            "total": deletion_rates + mutation_rates}[conserved_by]


def relabel_orders(keys, occupied=None):
    """Per draw, the sampled labels sorted by increasing key.

    order[i][j] is the sampled label that becomes label j; ties keep the
    sampled order, so a draw already in order is left unchanged.  A state
    that holds no column in a draw (occupied False) goes last: its rates are
    drawn from the prior and say nothing about conservation.
    """
    keys = np.asarray(keys, dtype=float)
    if occupied is not None:
        keys = np.where(occupied, keys, np.inf)
    return np.argsort(keys, axis=1, kind="stable")


def identity_orders(n_iterations, n_states):
    return np.tile(np.arange(n_states), (n_iterations, 1))


def apply_order(values, orders):
    """Per-state values (draws x states) in the new labels."""
    return np.take_along_axis(values, orders, axis=1)


def new_labels(order):
    """Map from a sampled label to its new label, for one draw."""
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
    """Everything the output files and plots are made from.

    Draws are relabelled so that state 0 is the most conserved by the
    `conserved_by` rate (unless relabel is False).  Per column it holds the
    posterior of each state, of a segment start, and the posterior mean
    deletion and mutation rate (of the column's state in each draw, which
    does not depend on labels).
    """

    def __init__(self, chains, relabel, conserved_by="mutation", rho=RHO, callable_columns=None):
        self.chains = chains
        self.rho = rho
        self.draws = []  # the kept draws' rates and run-coded paths (sampled labels), for the conserved call
        self.relabel = relabel
        self.conserved_by = conserved_by
        self.n_columns = chains[0].n_columns
        self.n_states = chains[0].n_rate_states
        self.k_max = chains[0].k_max
        self.n_kept = sum(chain.n_kept for chain in chains)
        self.orders, self.reordered = [], []
        self.state_probs = np.zeros((self.n_columns, self.n_states))
        self.column_rates = {kind: np.zeros(self.n_columns) for kind in RATE_KINDS}
        self.occupancy = np.zeros(self.n_states)
        for chain in chains:
            self._read_paths(chain)
        self.state_probs /= self.n_kept
        self.occupancy /= self.n_kept
        for kind in RATE_KINDS:
            self.column_rates[kind] /= self.n_kept
        self.reference = column_weighted_reference(self.column_rates["mutation"], self.column_rates["deletion"],
                                                   callable_columns)
        self.p_conserved = p_conserved(self.draws, self.n_columns, self.reference, rho, conserved_by)
        self.start_probs = self._start_posterior()
        self.rates = self._rate_draws()
        self.segment_probs, self.segment_conditional = self._segment_posterior()
        self.rate_rows = self._rate_rows()
        self.ancestors = None

    def rate_names(self):
        return [f"{kind}_rate_{state}" for kind in RATE_KINDS for state in range(self.n_states)]

    def _read_paths(self, chain):
        """One pass over a chain's rate-state paths: the labels of every draw, and the
        column summaries of the kept ones."""
        keys = conservation_key(chain.rates["deletion"], chain.rates["mutation"], self.conserved_by)
        orders = np.empty((chain.n_draws, self.n_states), dtype=np.int64)
        reordered = 0
        column_index = np.arange(self.n_columns)
        for draw, iteration in enumerate(chain.draw_iterations):
            states = chain.read_rate_states(iteration)
            occupied = np.bincount(states, minlength=self.n_states) > 0
            by_key = relabel_orders(keys[draw:draw + 1], occupied[None, :])[0]
            orders[draw] = by_key if self.relabel else np.arange(self.n_states)
            if draw < chain.first_kept:
                continue
            reordered += bool(np.any(by_key != np.arange(self.n_states)))
            labels = new_labels(orders[draw])
            self.state_probs[column_index, labels[states]] += 1
            self.occupancy[labels[occupied.nonzero()[0]]] += 1
            for kind in RATE_KINDS:
                self.column_rates[kind] += chain.rates[kind][draw][states]
            self.draws.append(Draw.from_path(chain.seed, int(iteration), chain.rates["deletion"][draw],
                                             chain.rates["mutation"][draw], states))
        self.orders.append(orders)
        self.reordered.append(reordered)

    def _start_posterior(self):
        counts = np.zeros(self.n_columns)
        for chain in self.chains:
            for starts in chain.kept_draws(chain.segment_starts):
                counts[starts] += 1
        return counts / self.n_kept

    def _rate_draws(self):
        """Per chain, draws x (deletion rates, mutation rates) in the summary's labels."""
        draws = []
        for chain, orders in zip(self.chains, self.orders):
            draws.append(np.hstack([apply_order(chain.rates[kind], orders) for kind in RATE_KINDS]))
        return draws

    def _segment_posterior(self):
        """Frequency of each number of segments, and the mean of its exact conditional.

        Each post_dist_k row holds the log marginal likelihood of 1..k_max
        segments given the rest of the state; normalised, it is the
        distribution the sampler draws the number from, and its average over
        the kept iterations (every one, thinned away or not) is a smoother
        estimate of the same posterior.
        """
        counts = np.zeros(self.k_max)
        conditional = np.zeros(self.k_max)
        kept_iterations = 0
        for chain in self.chains:
            counts += np.bincount(chain.kept_draws(chain.segments) - 1, minlength=self.k_max)
            rows = chain.kept(chain.log_marginals_k)
            weights = np.exp(rows - rows.max(axis=1, keepdims=True))
            conditional += (weights / weights.sum(axis=1, keepdims=True)).sum(axis=0)
            kept_iterations += len(rows)
        return counts / self.n_kept, conditional / kept_iterations

    def _rate_rows(self):
        rows = []
        for index, name in enumerate(self.rate_names()):
            kept = [chain.kept_draws(draws[:, index]) for chain, draws in zip(self.chains, self.rates)]
            pooled = np.concatenate(kept)
            tails = common_tails(kept)
            rows.append({
                "rate": name,
                "state": index % self.n_states,
                "mean": float(pooled.mean()),
                "median": float(np.median(pooled)),
                "lower_95": float(np.quantile(pooled, 0.025)),
                "upper_95": float(np.quantile(pooled, 0.975)),
                "ess": effective_sample_size(tails),
                "rhat": split_rhat(tails),
                "constant": is_constant(pooled),
            })
        return rows

    def mean_rate(self, kind, state):
        return self.rate_rows[RATE_KINDS.index(kind) * self.n_states + state]["mean"]

    def state_name(self, state):
        """'state 0 (mutation 0.2, deletion 0.05)': a state named with both of its mean rates."""
        return (f"state {state} (mutation {number_text(self.mean_rate('mutation', state))},"
                f" deletion {number_text(self.mean_rate('deletion', state))})")

    def empty_states(self):
        """States that hold no column in most kept draws."""
        return [state for state in range(self.n_states) if self.occupancy[state] < EMPTY_STATE_SHARE]

    def most_conserved(self, key):
        """The state with the lowest mean `key` rate among those that hold columns."""
        empty = self.empty_states()
        candidates = [state for state in range(self.n_states) if state not in empty] or list(range(self.n_states))
        means = {kind: np.array([self.mean_rate(kind, state) for state in range(self.n_states)]) for kind in RATE_KINDS}
        scores = conservation_key(means["deletion"], means["mutation"], key)
        return min(candidates, key=lambda state: scores[state])

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

    def diagnosed_rows(self):
        """The rate rows that ESS and R-hat judge: of states that hold columns, not constant."""
        empty = set(self.empty_states())
        return [row for row in self.rate_rows if row["state"] not in empty and not row["constant"]]

    def floor_shares(self, index):
        """Per chain, the share of kept draws of rate `index` that lie below RATE_FLOOR."""
        return [float(np.mean(chain.kept_draws(draws[:, index]) < RATE_FLOOR))
                for chain, draws in zip(self.chains, self.rates)]

    def stuck_chains(self):
        """(rate, stuck seeds, other seeds) of every rate that stays below RATE_FLOOR in some chains
        (in STUCK_SHARE of their kept draws) while another chain's draws mostly do not."""
        empty = set(self.empty_states())
        found = []
        for index, name in enumerate(self.rate_names()):
            shares = self.floor_shares(index)
            stuck = [chain.seed for chain, share in zip(self.chains, shares) if share >= STUCK_SHARE]
            free = [chain.seed for chain, share in zip(self.chains, shares) if share < FREE_SHARE]
            if stuck and free and index % self.n_states not in empty:
                found.append((name, stuck, free))
        return found

    def near_zero_disagreements(self):
        """(rate, shares) of every rate, not already stuck, whose chains' shares of kept draws below
        RATE_FLOOR differ by DISAGREE_SPREAD or more."""
        empty = set(self.empty_states())
        stuck = {name for name, _stuck, _free in self.stuck_chains()}
        found = []
        for index, name in enumerate(self.rate_names()):
            shares = self.floor_shares(index)
            if (name not in stuck and index % self.n_states not in empty
                    and max(shares) - min(shares) >= DISAGREE_SPREAD):
                found.append((name, shares))
        return found

    def warnings(self, plots_written=True):
        """Everything a user must know before trusting the summaries, one message each."""
        return [*self._state_warnings(), *self._segment_warnings(), *self._stuck_warnings(),
                *self._diagnostics_warnings(plots_written)]

    def moves_advice(self):
        """What convergence warnings add about the marginal rate moves: chains that ran without them
        are told to use them; chains that ran with them, that more rounds often help."""
        rounds = min(chain.marginal_rate_moves for chain in self.chains)
        if rounds == 0:
            flag = " ".join(recipe.RECIPE_MOVES)
            return (f"; chains run with alnsampler {flag} move each rate with the events summed out, so they leave"
                    f" a rate near 0 and mix faster: these ran without it, run them again with {flag}")
        return (f"; the chains ran with --marginal-rate-moves {rounds}: more rounds per iteration"
                f" (--marginal-rate-moves {max(MANY_ROUNDS, 2 * rounds)}) often help where fewer do not")

    def _stuck_warnings(self):
        messages = []
        for name, stuck, free in self.stuck_chains():
            shares = dict(zip((chain.seed for chain in self.chains), self.floor_shares(self.rate_names().index(name))))
            stuck_text, free_text = (", ".join(f"seed {seed} ({100 * shares[seed]:.0f}%)" for seed in group)
                                     for group in (stuck, free))
            messages.append(
                f"{name} stays below {RATE_FLOOR:g} in {stuck_text} of the kept draws but not in {free_text}:"
                " a chain whose rate falls near 0 samples no event of that kind and so keeps the rate near 0;"
                " it is stuck, the chains tell different stories and the pooled summaries mix them; extending"
                " the chains (the commands under \"run next\") frees it only by chance" + self.moves_advice()
            )
        for name, shares in self.near_zero_disagreements():
            by_share = sorted(zip(shares, (chain.seed for chain in self.chains)), reverse=True)
            listed = ", ".join(f"seed {seed} ({100 * share:.0f}%)" for share, seed in by_share)
            messages.append(
                f"{name} lies below {RATE_FLOOR:g} in {listed} of the kept draws: the chains disagree on"
                " whether this rate is near 0 (its rate state idle in one, used for evolving columns in"
                " another), so the pooled summaries mix two stories; compare the chains' traces and run"
                " them longer before trusting this state" + self.moves_advice()
            )
        return messages

    def _state_warnings(self):
        messages = [
            f"rate state {state} holds no column in {100 * (1 - self.occupancy[state]):.0f}% of the kept draws:"
            " its rates there are drawn from the prior and describe no column; it is left out of the ESS and"
            " R-hat warnings"
            for state in self.empty_states()
        ]
        chosen = self.most_conserved(self.conserved_by)
        others = [key for key in CONSERVATION_KEYS if key != self.conserved_by and self.most_conserved(key) != chosen]
        if others:
            views = "; ".join(f"by {key} rate it is {self.state_name(self.most_conserved(key))}"
                              f" (--conserved-by {key})" for key in others)
            messages.append(
                f"the orderings disagree on the most conserved rate state: by {self.conserved_by} rate it is"
                f" {self.state_name(chosen)}, {views}; the labels and rate_states.wig follow"
                f" --conserved-by {self.conserved_by}"
            )
        return messages

    def _segment_warnings(self):
        p_k_max = float(self.segment_probs[-1])
        if p_k_max <= K_MAX_WARNING_ABOVE:
            return []
        return [f"P(k = k_max) = {number_text(p_k_max)}: {100 * p_k_max:.1f}% of the kept draws use all"
                f" {self.k_max} segments the run allows, so the limit cuts the posterior; "
                + ("run the chains again with a larger -k (the commands under \"run next\")"
                   if self.k_max < self.n_columns - 1 else
                   f"-k cannot be larger: the sampler needs more modelled columns ({self.n_columns}) than segments")]

    def _diagnostics_warnings(self, plots_written):
        empty = set(self.empty_states())
        rows = [row for row in self.rate_rows if row["state"] not in empty]
        constant = [row["rate"] for row in rows if row["constant"]]
        varying = [row for row in rows if not row["constant"]]
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
                f"effective sample size below {ESS_WARNING_BELOW:g} for {shown}: too few independent draws"
                " to summarise these rates; extend the chains (the commands under \"run next\")" + self.moves_advice()
            )
        if high_rhat:
            shown = ", ".join(f"{row['rate']} ({number_text(row['rhat'])})" for row in high_rhat)
            look = "look at traces.png" if plots_written else "look at their traces (trace_SEED.log in Tracer)"
            messages.append(
                f"R-hat above {RHAT_WARNING_ABOVE:g} for {shown}: the chains (or the halves of a chain)"
                f" disagree, so they have not converged yet; {look} and extend the chains (the commands under"
                " \"run next\")" + self.moves_advice()
            )
        return messages


