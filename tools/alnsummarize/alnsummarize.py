#!/usr/bin/python3
"""Summarise one or several alnsampler runs of a test case.

alnsampler writes every sampled quantity of every iteration to plain text
traces in ROOT/results/NAME/, each file name starting with the run's seed.
Runs of the same case with different seeds are independent chains.  This
command drops a burn-in from each chain, pools what is left and writes
posterior summaries, convergence diagnostics, a Tracer log, genome-browser
tracks and plots into one output folder.

Rate states are exchangeable: the model is unchanged when the labels 0, 1, 2
are permuted, so a chain may swap them.  Unless --no-relabel is given, every
iteration is relabelled by increasing mutation rate (the slowest state
becomes state 0) before anything is summarised, and the rate-state path of
that iteration is permuted with it.
"""

import argparse
import math
import os
import sys

import numpy as np

PROGRAM = "alnsummarize"

# Values of the sampler's nodes: 0 empty, 1..4 residues.
# Values of a node: 0 empty (gap), 1-4 the residues, 5 absent (every leaf below
# the node is missing data, so the node takes no part in the column).
VALUE_LETTERS = "-ACGTN"
VALUE_NAMES = ("gap", "A", "C", "G", "T", "absent")

ESS_WARNING_BELOW = 100.0
RHAT_WARNING_ABOVE = 1.05
CONSERVED_THRESHOLD = 0.5

RATE_KINDS = ("deletion", "mutation")
RATE_HEADER = "#event_rate"

COLUMNS_FILE = "columns.tsv"
COLUMNS_HEADER = ["column", "alignment_position", "reference_position"]
SEQUENCES_FILE = "sequences.tsv"
TREE_FILE = "tree.txt"


class SummaryError(Exception):
    """A fault in the user's input or output location; the message is shown as is."""


def _number_text(value):
    """Shortest faithful text of a float for tables; integers stay integers."""
    if isinstance(value, (int, np.integer)):
        return str(int(value))
    if math.isnan(value):
        return "nan"
    if math.isinf(value):
        return "inf" if value > 0 else "-inf"
    return f"{value:.6g}"


def _plural(count, word):
    return f"{count} {word}" + ("" if count == 1 else "s")


# ---------------------------------------------------------------------------
# Reading text files
# ---------------------------------------------------------------------------


def read_lines(path, what):
    try:
        with open(path, encoding="utf-8") as handle:
            return handle.read().splitlines()
    except FileNotFoundError:
        raise SummaryError(f"{what} {path} does not exist") from None
    except IsADirectoryError:
        raise SummaryError(f"{what} {path} is a directory") from None
    except UnicodeDecodeError:
        raise SummaryError(f"{what} {path} is not a text file") from None
    except OSError as error:
        raise SummaryError(f"cannot read {what} {path}: {error.strerror}") from None


def parse_float(text, path, line_number):
    try:
        value = float(text)
    except ValueError:
        raise SummaryError(f"{path} line {line_number}: {text!r} is not a number") from None
    if not math.isfinite(value):
        raise SummaryError(f"{path} line {line_number}: {text!r} is not a finite number")
    return value


def parse_int(text, path, line_number, low, high):
    """An integer in low..high (inclusive)."""
    try:
        value = int(text)
    except ValueError:
        raise SummaryError(f"{path} line {line_number}: {text!r} is not a whole number") from None
    if not low <= value <= high:
        raise SummaryError(f"{path} line {line_number}: {value} is outside {low}..{high}")
    return value


def content_lines(path, what):
    """(line number, fields) of every non-blank line."""
    return [
        (number, line.split())
        for number, line in enumerate(read_lines(path, what), start=1)
        if line.strip()
    ]


def read_single_values(path, what="trace"):
    """One finite number per line (post_para)."""
    values = []
    for number, fields in content_lines(path, what):
        if len(fields) != 1:
            raise SummaryError(f"{path} line {number}: expected one number, found {len(fields)}")
        values.append(parse_float(fields[0], path, number))
    return np.array(values, dtype=float)


# ---------------------------------------------------------------------------
# Traces of one run
# ---------------------------------------------------------------------------


class Chain:
    """The traces of one run (one seed), read from ROOT/results/NAME/.

    Per iteration (all of them, burn-in included): the log-probability, the
    number of segments, the log marginals of 1..k_max segments, the first
    column of every segment and the sampled deletion and mutation rates of
    every rate state (in the sampled labels).
    """

    def __init__(self, results_dir, seed):
        self.results_dir = results_dir
        self.seed = seed
        self.burnin = 0
        post_para = self.path("_post_para.txt")
        if not os.path.exists(post_para):
            raise SummaryError(f"no run of seed {seed}: {post_para} does not exist")
        self.log_probability = read_single_values(post_para)
        self.n = len(self.log_probability)
        if self.n == 0:
            raise SummaryError(f"seed {seed}: {post_para} holds no iteration")
        self.log_marginals_k = self._read_post_dist_k()
        self.segment_starts = []
        self.n_columns = None
        for iteration in range(1, self.n + 1):
            self.segment_starts.append(self._read_from_tos(iteration))
        self.segments = np.array([len(starts) for starts in self.segment_starts])
        self.rates = {kind: self._read_rates(kind) for kind in RATE_KINDS}
        self.n_rate_states = self.rates["deletion"].shape[1]
        if self.rates["mutation"].shape[1] != self.n_rate_states:
            raise SummaryError(
                f"seed {seed}: {self.n_rate_states} deletion rates but"
                f" {self.rates['mutation'].shape[1]} mutation rates per iteration"
            )

    def path(self, suffix):
        return os.path.join(self.results_dir, f"{self.seed}{suffix}")

    def iteration_path(self, stem, iteration):
        return self.path(f"_{stem}_{iteration}.txt")

    @property
    def k_max(self):
        return self.log_marginals_k.shape[1]

    def kept_iterations(self):
        """File numbers (1-based) of the iterations after the burn-in."""
        return range(self.burnin + 1, self.n + 1)

    def kept(self, values):
        return values[self.burnin:]

    def _read_post_dist_k(self):
        path = self.path("_post_dist_k.txt")
        rows = content_lines(path, "trace")
        # The row of an iteration is written before its log-probability, so a
        # run stopped within an iteration may leave one row more.
        if len(rows) < self.n:
            raise SummaryError(
                f"{path} holds {len(rows)} rows but {self.path('_post_para.txt')}"
                f" holds {self.n} iterations"
            )
        width = len(rows[0][1])
        table = []
        for number, fields in rows[: self.n]:
            if len(fields) != width:
                raise SummaryError(f"{path} line {number}: {len(fields)} numbers, expected {width} as on line 1")
            table.append([parse_float(field, path, number) for field in fields])
        return np.array(table, dtype=float)

    def _read_from_tos(self, iteration):
        """First column of every segment, checked to tile 0..columns-1."""
        path = self.iteration_path("from_tos", iteration)
        rows = content_lines(path, "trace")
        if not rows:
            raise SummaryError(f"{path} holds no segment")
        if len(rows) > self.k_max:
            raise SummaryError(f"{path} holds {len(rows)} segments, more than k_max {self.k_max}")
        starts = []
        expected_from = 0
        for number, fields in rows:
            if len(fields) != 2:
                raise SummaryError(f"{path} line {number}: expected 'from to', found {' '.join(fields)!r}")
            first = parse_int(fields[0], path, number, 0, 10**12)
            last = parse_int(fields[1], path, number, 0, 10**12)
            if first != expected_from or last < first:
                raise SummaryError(
                    f"{path} line {number}: segment {first}..{last} does not continue"
                    f" the previous one (expected a segment from column {expected_from})"
                )
            starts.append(first)
            expected_from = last + 1
        self._check_columns(expected_from, path)
        return np.array(starts, dtype=np.int64)

    def _check_columns(self, count, path):
        if self.n_columns is None:
            self.n_columns = count
        elif count != self.n_columns:
            raise SummaryError(
                f"{path} covers {count} columns, but the first file of seed {self.seed} covers {self.n_columns}"
            )

    def _read_rates(self, kind):
        table = []
        for iteration in range(1, self.n + 1):
            path = self.iteration_path(kind + "s", iteration)
            rows = content_lines(path, "trace")
            if not rows or rows[0][1] != [RATE_HEADER]:
                raise SummaryError(f"{path}: the first line must be {RATE_HEADER!r}")
            rates = []
            for number, fields in rows[1:]:
                if len(fields) != 1:
                    raise SummaryError(f"{path} line {number}: expected one rate, found {len(fields)} numbers")
                rates.append(parse_float(fields[0], path, number))
            if not rates or (table and len(rates) != len(table[0])):
                expected = len(table[0]) if table else "at least 1"
                raise SummaryError(f"{path} holds {len(rates)} rates, expected {expected}")
            table.append(rates)
        return np.array(table, dtype=float)

    def read_rate_states(self, iteration):
        path = self.iteration_path("map_column_to_rate_state", iteration)
        rows = content_lines(path, "trace")
        if len(rows) != self.n_columns:
            raise SummaryError(
                f"{path} holds {len(rows)} columns, but the segments of seed {self.seed} cover {self.n_columns}"
            )
        states = []
        for number, fields in rows:
            if len(fields) != 1:
                raise SummaryError(f"{path} line {number}: expected one rate state, found {len(fields)} values")
            states.append(parse_int(fields[0], path, number, 0, self.n_rate_states - 1))
        return np.array(states, dtype=np.int64)

    def has_ancestors(self):
        """True when the kept iterations come with ancestors files of this run.

        A rerun with the same seed leaves files of an earlier run in place; an
        ancestors file older than the rate-state path of its own iteration
        (written earlier in the same iteration) belongs to such an earlier run.
        """
        first = self.burnin + 1
        ancestors = self.iteration_path("ancestors", first)
        if not os.path.exists(ancestors):
            return False
        path_file = self.iteration_path("map_column_to_rate_state", first)
        if os.path.exists(path_file) and os.path.getmtime(ancestors) < os.path.getmtime(path_file):
            warn(f"{ancestors} is older than {path_file}: left by an earlier run, so ignored")
            return False
        return True

    def read_ancestors(self, iteration, n_internal):
        """Values (0..5) of the internal nodes, one row per column."""
        path = self.iteration_path("ancestors", iteration)
        rows = content_lines(path, "ancestors file")
        if len(rows) != self.n_columns:
            raise SummaryError(
                f"{path} holds {len(rows)} columns, but the segments of seed {self.seed} cover {self.n_columns}"
            )
        table = np.empty((self.n_columns, n_internal), dtype=np.int64)
        for row, (number, fields) in enumerate(rows):
            if len(fields) != n_internal:
                raise SummaryError(
                    f"{path} line {number}: {len(fields)} values, expected one per internal node ({n_internal})"
                )
            table[row] = [parse_int(field, path, number, 0, len(VALUE_LETTERS) - 1) for field in fields]
        return table

    def ancestors_width(self):
        path = self.iteration_path("ancestors", self.burnin + 1)
        rows = content_lines(path, "ancestors file")
        if not rows:
            raise SummaryError(f"{path} is empty")
        return len(rows[0][1])


def parse_burnin(text):
    """--burnin: a fraction 0 <= B < 1 of each chain, or a whole number of iterations."""
    try:
        value = float(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"{text!r} is not a number") from None
    if not math.isfinite(value) or value < 0:
        raise argparse.ArgumentTypeError(
            f"{text!r} is out of range: give a fraction 0 <= B < 1 or a whole number of iterations"
        )
    if value >= 1 and value != int(value):
        raise argparse.ArgumentTypeError(
            f"{text!r} is out of range: a value of 1 or more counts iterations and must be whole"
        )
    return value


def burnin_iterations(burnin, chain):
    """The number of leading iterations of `chain` that the burn-in drops."""
    dropped = int(math.floor(burnin * chain.n)) if burnin < 1 else int(burnin)
    if dropped >= chain.n:
        raise SummaryError(
            f"seed {chain.seed}: a burn-in of {_plural(dropped, 'iteration')} leaves none of its"
            f" {_plural(chain.n, 'iteration')} ({chain.path('_post_para.txt')})"
        )
    return dropped


def check_chains_agree(chains):
    first = chains[0]
    for chain in chains[1:]:
        for what, mine, theirs in (
            ("modelled columns", chain.n_columns, first.n_columns),
            ("segments at most (k_max)", chain.k_max, first.k_max),
            ("rate states", chain.n_rate_states, first.n_rate_states),
        ):
            if mine != theirs:
                raise SummaryError(
                    f"seed {chain.seed} has {mine} {what} but seed {first.seed} has {theirs}:"
                    " the runs are not chains of the same case and settings"
                )


# ---------------------------------------------------------------------------
# The test case: positions, reference name, tree
# ---------------------------------------------------------------------------


class Positions:
    """Alignment position and reference coordinate (both from 1) of each modelled column."""

    def __init__(self, alignment, reference, source, from_columns_file):
        self.alignment = alignment
        self.reference = reference
        self.source = source
        self.from_columns_file = from_columns_file


def read_positions(data_dir, data_file, n_columns):
    columns_path = os.path.join(data_dir, COLUMNS_FILE)
    if os.path.exists(columns_path):
        return _positions_from_columns_file(columns_path, n_columns)
    return _positions_from_data(os.path.join(data_dir, data_file), n_columns)


def _positions_from_columns_file(path, n_columns):
    lines = read_lines(path, "columns table")
    if not lines or lines[0].split("\t") != COLUMNS_HEADER:
        raise SummaryError(f"{path}: the first line must be the header {chr(9).join(COLUMNS_HEADER)!r}")
    alignment, reference = [], []
    for number, line in enumerate(lines[1:], start=2):
        fields = line.split("\t")
        if len(fields) != 3:
            raise SummaryError(f"{path} line {number}: expected 3 tab-separated fields, found {len(fields)}")
        column = parse_int(fields[0], path, number, 0, 10**12)
        if column != len(alignment):
            raise SummaryError(f"{path} line {number}: column {column}, expected {len(alignment)}")
        alignment.append(parse_int(fields[1], path, number, 1, 10**12))
        reference.append(parse_int(fields[2], path, number, 1, 10**12))
    if len(alignment) != n_columns:
        raise SummaryError(
            f"{path} lists {len(alignment)} modelled columns but the traces have {n_columns}"
        )
    return Positions(np.array(alignment), np.array(reference), path, True)


def _positions_from_data(path, n_columns):
    """Rows of the alignment file whose first value is a residue (1..4), numbered from 1."""
    rows = []
    for number, line in enumerate(read_lines(path, f"alignment file (no {COLUMNS_FILE} beside it)"), start=1):
        fields = line.split()
        if fields and fields[0] in ("1", "2", "3", "4"):
            rows.append(number)
    if len(rows) != n_columns:
        raise SummaryError(
            f"{path} has {len(rows)} modelled rows (first value 1..4) but the traces have"
            f" {n_columns} columns: was the run made on another data file (see --data-file)?"
        )
    positions = np.array(rows)
    return Positions(positions, positions.copy(), path, False)


def reference_name(data_dir, case):
    """Name of sequence 0 from sequences.tsv, or the case folder's name."""
    path = os.path.join(data_dir, SEQUENCES_FILE)
    if os.path.exists(path):
        for line in read_lines(path, "sequence table")[1:]:
            fields = line.split("\t")
            if len(fields) >= 2 and fields[0] == "0" and fields[1]:
                return fields[1]
    return case.rstrip("/").split("/")[-1]


def internal_node_names(data_dir, n_internal):
    """A FASTA title for every internal node: its label and the sequences below it."""
    tree_path = os.path.join(data_dir, TREE_FILE)
    map_path = os.path.join(data_dir, "map_from_leave_label_to_seq_id.txt")
    titles = [f"node_{label}" + (" root" if label == 0 else "") for label in range(n_internal)]
    if not (os.path.exists(tree_path) and os.path.exists(map_path)):
        return titles
    children = {}
    for number, fields in content_lines(tree_path, "tree file"):
        if len(fields) != 3:
            raise SummaryError(f"{tree_path} line {number}: expected 'parent child length'")
        parent = parse_int(fields[0], tree_path, number, 0, 10**9)
        children.setdefault(parent, []).append(parse_int(fields[1], tree_path, number, 0, 10**9))
    if max(children) + 1 != n_internal:
        raise SummaryError(
            f"{tree_path} has {max(children) + 1} internal nodes but the ancestors files hold"
            f" {n_internal} values per column"
        )
    seq_ids = {}
    for number, fields in content_lines(map_path, "leaf map"):
        seq_ids[parse_int(fields[0], map_path, number, 0, 10**9)] = fields[1] if len(fields) > 1 else "?"
    names = _sequence_names(data_dir)
    for label in range(n_internal):
        below = []
        stack = [label]
        while stack:
            node = stack.pop()
            if node in children:
                stack.extend(reversed(children[node]))
            else:
                seq_id = seq_ids.get(node, "?")
                below.append(names.get(seq_id, f"seq{seq_id}"))
        titles[label] += " ancestor of " + ",".join(below)
    return titles


def _sequence_names(data_dir):
    path = os.path.join(data_dir, SEQUENCES_FILE)
    names = {}
    if os.path.exists(path):
        for line in read_lines(path, "sequence table")[1:]:
            fields = line.split("\t")
            if len(fields) >= 2:
                names[fields[0]] = fields[1]
    return names


# ---------------------------------------------------------------------------
# Relabelling of the exchangeable rate states
# ---------------------------------------------------------------------------


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
            shown = ", ".join(f"{row['rate']} ({_number_text(row['ess'])})" for row in low_ess)
            messages.append(
                f"effective sample size below {ESS_WARNING_BELOW:g} for {shown}:"
                " the summaries of these rates are unreliable; run longer chains"
            )
        if high_rhat:
            shown = ", ".join(f"{row['rate']} ({_number_text(row['rhat'])})" for row in high_rhat)
            messages.append(
                f"R-hat above {RHAT_WARNING_ABOVE:g} for {shown}: the chains (or the halves of a chain)"
                " disagree, so they have not converged; run longer chains and check traces.png"
            )
        return messages


# ---------------------------------------------------------------------------
# Output files
# ---------------------------------------------------------------------------


def write_table(path, header, rows):
    try:
        with open(path, "w", encoding="utf-8", newline="\n") as handle:
            handle.write("\t".join(header) + "\n")
            for row in rows:
                handle.write("\t".join(_number_text(value) if not isinstance(value, str) else value for value in row))
                handle.write("\n")
    except OSError as error:
        raise SummaryError(f"cannot write {path}: {error.strerror}") from None


def write_text(path, text):
    try:
        with open(path, "w", encoding="utf-8", newline="\n") as handle:
            handle.write(text)
    except OSError as error:
        raise SummaryError(f"cannot write {path}: {error.strerror}") from None


def most_probable(probabilities):
    """Index of the largest probability along the last axis; ties take the first (gap before A)."""
    return np.argmax(probabilities, axis=-1)


def write_columns(path, summary, positions):
    header = list(COLUMNS_HEADER)
    header += [f"p_state{state}" for state in range(summary.n_states)] + ["p_segment_start"]
    if summary.ancestors is not None:
        header += [f"p_root_{name}" for name in VALUE_NAMES] + ["root_most_probable"]
        root = summary.ancestors[0]
        best = most_probable(root)
    rows = []
    for column in range(summary.n_columns):
        row = [column, int(positions.alignment[column]), int(positions.reference[column])]
        row += [float(p) for p in summary.state_probs[column]] + [float(summary.start_probs[column])]
        if summary.ancestors is not None:
            row += [float(p) for p in root[column]] + [VALUE_LETTERS[best[column]]]
        rows.append(row)
    write_table(path, header, rows)


def write_ancestors(out_dir, summary, titles):
    best = most_probable(summary.ancestors)
    fasta = []
    for node, title in enumerate(titles):
        fasta.append(f">{title}\n")
        sequence = "".join(VALUE_LETTERS[value] for value in best[node])
        fasta.extend(sequence[start:start + 60] + "\n" for start in range(0, len(sequence), 60))
    write_text(os.path.join(out_dir, "ancestors.fasta"), "".join(fasta))
    header = ["node", "column"] + [f"p_{name}" for name in VALUE_NAMES] + ["most_probable"]
    rows = (
        [node, column] + [float(p) for p in summary.ancestors[node, column]] + [VALUE_LETTERS[best[node, column]]]
        for node in range(len(titles))
        for column in range(summary.n_columns)
    )
    write_table(os.path.join(out_dir, "ancestors.tsv"), header, rows)


def write_segments(path, summary):
    rows = [
        [k, float(summary.segment_probs[k - 1]), float(summary.segment_conditional[k - 1])]
        for k in range(1, summary.k_max + 1)
    ]
    write_table(path, ["segments", "probability", "conditional_mean"], rows)


def write_rates(path, summary):
    header = ["rate", "mean", "median", "lower_95", "upper_95", "ess", "rhat"]
    write_table(path, header, ([row[name] for name in header] for row in summary.rate_rows))


def tracer_header(summary):
    return ["state", "log_probability", "segments"] + summary.rate_names()


def _tracer_row(state, log_probability, segments, rates):
    return [str(state), f"{log_probability:.10g}", str(int(segments))] + [f"{rate:.10g}" for rate in rates]


def write_tracer_logs(out_dir, summary):
    """trace.log: the kept draws of all chains in turn; trace_SEED.log: each whole chain.

    Tracer needs one header row, tab-separated values and an integer state
    column with constant spacing.  trace.log numbers its rows 1, 2, ... and
    needs no further burn-in; the per-chain logs use the iteration numbers,
    for Tracer's own burn-in and chain combination.
    """
    written = []
    header = "\t".join(tracer_header(summary)) + "\n"
    pooled = [header]
    state = 0
    for chain, rates in zip(summary.chains, summary.rates):
        lines = [header]
        for index in range(chain.n):
            row = _tracer_row(index + 1, chain.log_probability[index], chain.segments[index], rates[index])
            lines.append("\t".join(row) + "\n")
            if index >= chain.burnin:
                state += 1
                row[0] = str(state)
                pooled.append("\t".join(row) + "\n")
        name = f"trace_{chain.seed}.log"
        write_text(os.path.join(out_dir, name), "".join(lines))
        written.append(name)
    write_text(os.path.join(out_dir, "trace.log"), "".join(pooled))
    return ["trace.log"] + written


def slowest_state_runs(reference, probabilities, threshold=CONSERVED_THRESHOLD):
    """Runs of consecutive reference positions whose probability exceeds the threshold.

    Returns (first position, last position, mean probability) per run.  A jump
    in the reference coordinate (a reference position that is not modelled,
    such as an N) ends a run: nothing is known there.
    """
    runs = []
    start = None
    for column, probability in enumerate(probabilities):
        inside = probability > threshold
        continues = start is not None and inside and reference[column] == reference[column - 1] + 1
        if start is not None and not continues:
            runs.append(_run(reference, probabilities, start, column - 1))
            start = None
        if inside and start is None:
            start = column
    if start is not None:
        runs.append(_run(reference, probabilities, start, len(probabilities) - 1))
    return runs


def _run(reference, probabilities, first, last):
    return int(reference[first]), int(reference[last]), float(np.mean(probabilities[first:last + 1]))


def write_tracks(out_dir, summary, positions, chrom, case):
    slowest = summary.state_probs[:, 0]
    what = "slowest rate state" if summary.relabel else "rate state 0 (sampled labels, not relabelled)"
    where = "reference coordinates" if positions.from_columns_file else "data.txt line numbers"
    seeds = " ".join(str(chain.seed) for chain in summary.chains)
    lines = [
        f'track type=wiggle_0 name="{case} slowest" description="posterior probability of the {what},'
        f' {case} seeds {seeds}, {where}"\n',
        f"variableStep chrom={chrom} span=1\n",
    ]
    lines += [f"{int(position)} {_number_text(float(p))}\n" for position, p in zip(positions.reference, slowest)]
    write_text(os.path.join(out_dir, "rate_states.wig"), "".join(lines))
    bed = [
        # BED intervals start at 0 and exclude their end.
        f"{chrom}\t{first - 1}\t{last}\tconserved\t{int(round(1000 * mean))}\n"
        for first, last, mean in slowest_state_runs(positions.reference, slowest)
    ]
    write_text(os.path.join(out_dir, "conserved.bed"), "".join(bed))


# ---------------------------------------------------------------------------
# Plots
# ---------------------------------------------------------------------------


def _pyplot():
    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as pyplot

    return pyplot


def _save(figure, pyplot, path):
    try:
        figure.savefig(path, dpi=100)
    except OSError as error:
        raise SummaryError(f"cannot write {path}: {error.strerror}") from None
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


# ---------------------------------------------------------------------------
# Command line
# ---------------------------------------------------------------------------


def warn(message):
    print(f"{PROGRAM}: warning: {message}", file=sys.stderr)


def build_parser():
    parser = argparse.ArgumentParser(
        prog=PROGRAM,
        description=(
            "Summarise alnsampler runs of one test case (one run per seed, each a chain):"
            " posterior of the rate states, segments, rates and (with --ancestors runs)"
            " ancestral sequences, convergence diagnostics, a Tracer log, tracks and plots."
        ),
        epilog=(
            "Rate states are relabelled in every iteration by increasing mutation rate"
            " (state 0 = slowest) unless --no-relabel is given."
            " Exit status: 0 done, 1 bad input or output folder, 2 bad command line."
        ),
    )
    parser.add_argument("--root-dir", required=True, metavar="ROOT/", help="folder holding data/ and results/")
    parser.add_argument("--case", required=True, metavar="NAME/", help="test case folder name")
    parser.add_argument("--seeds", required=True, nargs="+", type=int, metavar="SEED",
                        help="seeds of the runs to combine")
    parser.add_argument("--burnin", type=parse_burnin, default=0.25, metavar="B",
                        help="iterations dropped from the start of each chain: a fraction 0 <= B < 1"
                        " (default 0.25) or a whole number of iterations")
    parser.add_argument("--out", required=True, metavar="DIR", help="output folder (created if missing)")
    parser.add_argument("--data-file", default="data.txt", metavar="FILE",
                        help="the alignment file the runs read (-d of alnsampler; default data.txt)")
    parser.add_argument("--no-relabel", action="store_true", help="keep the sampled rate-state labels")
    parser.add_argument("--no-plots", action="store_true", help="write the tables and tracks only")
    return parser


def parse_arguments(argv):
    parser = build_parser()
    arguments = parser.parse_args(argv)
    duplicated = sorted({seed for seed in arguments.seeds if arguments.seeds.count(seed) > 1})
    if duplicated:
        parser.error(f"--seeds: seed {duplicated[0]} is given twice")
    if any(seed < 0 for seed in arguments.seeds):
        parser.error("--seeds: seeds are 0 or more")
    parts = [part for part in arguments.case.split("/") if part not in ("", ".")]
    if not parts or arguments.case.startswith("/") or ".." in parts:
        parser.error(f"--case {arguments.case!r}: give a folder name relative to ROOT/data/ and ROOT/results/")
    arguments.case = "/".join(parts) + "/"
    return arguments


def read_chains(results_dir, seeds, burnin):
    if not os.path.isdir(results_dir):
        raise SummaryError(f"results folder {results_dir} does not exist")
    chains = [Chain(results_dir, seed) for seed in seeds]
    check_chains_agree(chains)
    for chain in chains:
        chain.burnin = burnin_iterations(burnin, chain)
    return chains


def chain_notes(summary):
    chains = summary.chains
    notes = []
    for chain, reordered in zip(chains, summary.reordered):
        kept = chain.n - chain.burnin
        share = 100.0 * reordered / kept
        what = "relabelling reordered the rate states" if summary.relabel else \
            "the sampled rate states were out of mutation-rate order (not relabelled)"
        notes.append(
            f"  seed {chain.seed}: {chain.n} iterations, burn-in {chain.burnin}, kept {kept};"
            f" {what} in {reordered} of {kept} ({share:.1f}%)"
        )
    if len({chain.n for chain in chains}) > 1:
        shown = ", ".join(f"seed {chain.seed}: {chain.n}" for chain in chains)
        notes.append(f"  runs of different lengths ({shown} iterations)")
    lengths = {chain.n - chain.burnin for chain in chains}
    if len(lengths) > 1:
        notes.append(
            f"  chains of different lengths: ESS and R-hat use the last {min(lengths)} kept"
            " iterations of each chain; the other summaries use every kept iteration"
        )
    if len(chains) == 1:
        notes.append("  one chain: R-hat compares its two halves")
    return notes


def summarise(arguments):
    """Read, check and summarise; write every output; returns the report lines."""
    root = arguments.root_dir if arguments.root_dir.endswith("/") else arguments.root_dir + "/"
    results_dir = os.path.join(root, "results", arguments.case)
    data_dir = os.path.join(root, "data", arguments.case)
    chains = read_chains(results_dir, arguments.seeds, arguments.burnin)
    n_columns = chains[0].n_columns
    positions = read_positions(data_dir, arguments.data_file, n_columns)
    summary = Summary(chains, relabel=not arguments.no_relabel)

    with_ancestors = [chain for chain in chains if chain.has_ancestors()]
    if with_ancestors and len(with_ancestors) < len(chains):
        missing = [str(chain.seed) for chain in chains if chain not in with_ancestors]
        which = f"seed {missing[0]} has" if len(missing) == 1 else f"seeds {' '.join(missing)} have"
        warn(f"{which} no ancestors files: the ancestral summaries are left out;"
             " run every chain with --ancestors")
        with_ancestors = []
    titles = None
    if with_ancestors:
        n_internal = chains[0].ancestors_width()
        summary.add_ancestors(n_internal)
        titles = internal_node_names(data_dir, n_internal)

    try:
        os.makedirs(arguments.out, exist_ok=True)
    except OSError as error:
        raise SummaryError(f"cannot create output folder {arguments.out}: {error.strerror}") from None
    out = arguments.out
    written = ["columns.tsv", "segments.tsv", "rates.tsv"]
    write_columns(os.path.join(out, "columns.tsv"), summary, positions)
    write_segments(os.path.join(out, "segments.tsv"), summary)
    write_rates(os.path.join(out, "rates.tsv"), summary)
    if summary.ancestors is not None:
        write_ancestors(out, summary, titles)
        written += ["ancestors.fasta", "ancestors.tsv"]
    written += write_tracer_logs(out, summary)
    chrom = reference_name(data_dir, arguments.case)
    write_tracks(out, summary, positions, chrom, arguments.case.rstrip("/"))
    written += ["rate_states.wig", "conserved.bed"]
    if not arguments.no_plots:
        plot_traces(os.path.join(out, "traces.png"), summary)
        plot_segments(os.path.join(out, "segments.png"), summary)
        plot_rate_states(os.path.join(out, "rate_states.png"), summary, positions)
        written += ["traces.png", "segments.png", "rate_states.png"]
        if summary.ancestors is not None:
            plot_root_confidence(os.path.join(out, "root_confidence.png"), summary, positions)
            written.append("root_confidence.png")

    if positions.from_columns_file:
        where = f"positions from {positions.source}"
    else:
        where = (f"positions: no {COLUMNS_FILE} in {data_dir}, so alignment positions and reference"
                 f" coordinates are the line numbers of the modelled rows of {positions.source}")
    lines = [
        f"{PROGRAM}: summarised {_plural(len(chains), 'chain')} of {arguments.case},"
        f" {n_columns} modelled columns, {summary.n_kept} kept iterations",
        *chain_notes(summary),
        f"  {where}",
        "  rate states " + ("relabelled by increasing mutation rate (state 0 = slowest)"
                            if summary.relabel else "in their sampled labels (--no-relabel)"),
        "  ancestral sequences: " + ("summarised" if summary.ancestors is not None
                                     else "none (run alnsampler with --ancestors)"),
        "  rate          mean        ess     R-hat",
    ]
    for row in summary.rate_rows:
        lines.append(f"  {row['rate']:<16}{_number_text(row['mean']):>10} {_number_text(row['ess']):>8}"
                     f" {_number_text(row['rhat']):>8}")
    written.append("report.txt")
    lines.append(f"wrote into {out}: {' '.join(written)}")
    write_text(os.path.join(out, "report.txt"), "\n".join(lines) + "\n")
    return lines, summary.diagnostics_warnings()


def main(argv=None):
    arguments = parse_arguments(argv)
    try:
        lines, warnings = summarise(arguments)
    except SummaryError as error:
        print(f"{PROGRAM}: error: {error}", file=sys.stderr)
        return 1
    print("\n".join(lines))
    for message in warnings:
        warn(message)
    return 0


if __name__ == "__main__":
    sys.exit(main())
