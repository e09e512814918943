"""Reading the traces of alnsampler runs: one run (one seed) is one chain."""

import argparse
import math
import os

import numpy as np

from alncommon.case import ToolError, content_lines, parse_float, parse_int, plural, warn

PROGRAM = "alnsummarize"
RATE_KINDS = ("deletion", "mutation")
RATE_HEADER = "#event_rate"
# Values of a node: 0 empty (gap), 1-4 the residues, 5 absent (every leaf below
# the node is missing data, so the node takes no part in the column).
VALUE_LETTERS = "-ACGTN"
VALUE_NAMES = ("gap", "A", "C", "G", "T", "absent")


def read_single_values(path, what="trace"):
    """One finite number per line (post_para)."""
    values = []
    for number, fields in content_lines(path, what):
        if len(fields) != 1:
            raise ToolError(f"{path} line {number}: expected one number, found {len(fields)}")
        values.append(parse_float(fields[0], path, number))
    return np.array(values, dtype=float)


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
            raise ToolError(f"no run of seed {seed}: {post_para} does not exist")
        self.log_probability = read_single_values(post_para)
        self.n = len(self.log_probability)
        if self.n == 0:
            raise ToolError(f"seed {seed}: {post_para} holds no iteration")
        self.log_marginals_k = self._read_post_dist_k()
        self.segment_starts = []
        self.n_columns = None
        for iteration in range(1, self.n + 1):
            self.segment_starts.append(self._read_from_tos(iteration))
        self.segments = np.array([len(starts) for starts in self.segment_starts])
        self.rates = {kind: self._read_rates(kind) for kind in RATE_KINDS}
        self.n_rate_states = self.rates["deletion"].shape[1]
        if self.rates["mutation"].shape[1] != self.n_rate_states:
            raise ToolError(
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
            raise ToolError(
                f"{path} holds {len(rows)} rows but {self.path('_post_para.txt')}"
                f" holds {self.n} iterations"
            )
        width = len(rows[0][1])
        table = []
        for number, fields in rows[: self.n]:
            if len(fields) != width:
                raise ToolError(f"{path} line {number}: {len(fields)} numbers, expected {width} as on line 1")
            table.append([parse_float(field, path, number) for field in fields])
        return np.array(table, dtype=float)

    def _read_from_tos(self, iteration):
        """First column of every segment, checked to tile 0..columns-1."""
        path = self.iteration_path("from_tos", iteration)
        rows = content_lines(path, "trace")
        if not rows:
            raise ToolError(f"{path} holds no segment")
        if len(rows) > self.k_max:
            raise ToolError(f"{path} holds {len(rows)} segments, more than k_max {self.k_max}")
        starts = []
        expected_from = 0
        for number, fields in rows:
            if len(fields) != 2:
                raise ToolError(f"{path} line {number}: expected 'from to', found {' '.join(fields)!r}")
            first = parse_int(fields[0], path, number, 0, 10**12)
            last = parse_int(fields[1], path, number, 0, 10**12)
            if first != expected_from or last < first:
                raise ToolError(
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
            raise ToolError(
                f"{path} covers {count} columns, but the first file of seed {self.seed} covers {self.n_columns}"
            )

    def _read_rates(self, kind):
        table = []
        for iteration in range(1, self.n + 1):
            path = self.iteration_path(kind + "s", iteration)
            rows = content_lines(path, "trace")
            if not rows or rows[0][1] != [RATE_HEADER]:
                raise ToolError(f"{path}: the first line must be {RATE_HEADER!r}")
            rates = []
            for number, fields in rows[1:]:
                if len(fields) != 1:
                    raise ToolError(f"{path} line {number}: expected one rate, found {len(fields)} numbers")
                rate = parse_float(fields[0], path, number)
                if rate < 0:
                    raise ToolError(f"{path} line {number}: rate {fields[0]} is negative")
                rates.append(rate)
            if not rates or (table and len(rates) != len(table[0])):
                expected = len(table[0]) if table else "at least 1"
                raise ToolError(f"{path} holds {len(rates)} rates, expected {expected}")
            table.append(rates)
        return np.array(table, dtype=float)

    def read_rate_states(self, iteration):
        path = self.iteration_path("map_column_to_rate_state", iteration)
        rows = content_lines(path, "trace")
        if len(rows) != self.n_columns:
            raise ToolError(
                f"{path} holds {len(rows)} columns, but the segments of seed {self.seed} cover {self.n_columns}"
            )
        states = []
        for number, fields in rows:
            if len(fields) != 1:
                raise ToolError(f"{path} line {number}: expected one rate state, found {len(fields)} values")
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
            warn(PROGRAM, f"{ancestors} is older than {path_file}: left by an earlier run, so ignored")
            return False
        return True

    def read_ancestors(self, iteration, n_internal):
        """Values (0..5) of the internal nodes, one row per column."""
        path = self.iteration_path("ancestors", iteration)
        rows = content_lines(path, "ancestors file")
        if len(rows) != self.n_columns:
            raise ToolError(
                f"{path} holds {len(rows)} columns, but the segments of seed {self.seed} cover {self.n_columns}"
            )
        table = np.empty((self.n_columns, n_internal), dtype=np.int64)
        for row, (number, fields) in enumerate(rows):
            if len(fields) != n_internal:
                raise ToolError(
                    f"{path} line {number}: {len(fields)} values, expected one per internal node ({n_internal})"
                )
            table[row] = [parse_int(field, path, number, 0, len(VALUE_LETTERS) - 1) for field in fields]
        return table

    def ancestors_width(self):
        path = self.iteration_path("ancestors", self.burnin + 1)
        rows = content_lines(path, "ancestors file")
        if not rows:
            raise ToolError(f"{path} is empty")
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
        raise ToolError(
            f"seed {chain.seed}: a burn-in of {plural(dropped, 'iteration')} leaves none of its"
            f" {plural(chain.n, 'iteration')} ({chain.path('_post_para.txt')})"
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
                raise ToolError(
                    f"seed {chain.seed} has {mine} {what} but seed {first.seed} has {theirs}:"
                    " the runs are not chains of the same case and settings"
                )


def read_chains(results_dir, seeds, burnin):
    if not os.path.isdir(results_dir):
        raise ToolError(f"results folder {results_dir} does not exist")
    chains = [Chain(results_dir, seed) for seed in seeds]
    check_chains_agree(chains)
    for chain in chains:
        chain.burnin = burnin_iterations(burnin, chain)
    return chains
