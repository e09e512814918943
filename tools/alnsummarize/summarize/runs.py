"""Reading the traces of alnsampler runs: one run (one seed) is one chain.

A run writes its run files (post_para, post_dist_k, rate_state_transitions)
one line (or one line per rate state) per iteration, and the per-iteration
files of every iteration, or with --thin N of iterations N, 2N, ... only:
those are the chain's draws.  A resumed run leaves the same files as one
that ran without a stop.
"""

import argparse
import math
import os

import numpy as np

from alncommon.case import ToolError, content_lines, parse_float, parse_int, plural, read_text
from alncommon.sampler_outputs import ITERATION_FILES, RATE_STATE_COUNT, RUN_FILES, read_checkpoint_head

PROGRAM = "alnsummarize"
AUTO_BURNIN = "auto"
# The share of a trace's second-half range added on each side before a value of the first
# half counts as outside it; the range runs between these quantiles of the second half.
SETTLING_MARGIN = 0.25
SETTLING_QUANTILES = (0.01, 0.99)
# The first half is read through a running median over this share of the second half's length
# (on each side of a draw, at most SETTLING_WINDOW_LIMIT draws), so that a short excursion is not
# taken for a drift; the limit keeps long chains' medians cheap (a window per draw).
SETTLING_WINDOW_SHARE = 0.05
SETTLING_WINDOW_LIMIT = 25
# A rate below this is no different from 0 for any branch of a real tree (it gives no event in
# 1e10 units of branch length).  Traces read rates on a log scale floored here: the logs of
# near-0 draws spread over hundreds of units, noise that would hide the real drifts.
RATE_FLOOR = 1e-10
RATE_KINDS = ("deletion", "mutation")
RATE_HEADER = "#event_rate"
# Values of a node: 0 empty (gap), 1-4 the residues, 5 absent (every leaf below
# the node is missing data, so the node takes no part in the column).
VALUE_LETTERS = "-ACGTN"
VALUE_NAMES = ("gap", "A", "C", "G", "T", "absent")
# With --marginal-rate-moves the sampler tunes the moves in its first 100
# iterations; a burn-in chosen from the traces drops at least those.
MARGINAL_MOVES_TUNING = 100


def read_single_values(path, what="trace"):
    """One finite number per line (post_para)."""
    values = []
    for number, fields in content_lines(path, what):
        if len(fields) != 1:
            raise ToolError(f"{path} line {number}: expected one number, found {len(fields)}")
        values.append(parse_float(fields[0], path, number))
    return np.array(values, dtype=float)


def checkpoint_thin(path, seed):
    """The --thin of a run from its checkpoint's head; None without a readable checkpoint of that seed."""
    head = read_checkpoint_head(path)
    if head is None or head.seed != seed or head.thin < 1:
        return None
    return head.thin


class Chain:
    """The traces of one run (one seed), read from ROOT/results/NAME/.

    Per iteration (all of them, burn-in included): the log-probability and
    the log marginals of 1..k_max segments.  Per draw (an iteration with its
    own files, every `thin`-th): the first column of every segment and the
    sampled deletion and mutation rates of every rate state (in the sampled
    labels).  `warnings` collects what is odd but not fatal.
    """

    def __init__(self, results_dir, seed):
        self.results_dir = results_dir
        self.seed = seed
        self.burnin = 0
        self.burnin_automatic = self.burnin_drifting = False
        self.first_kept = 0
        self.warnings = []
        post_para = self.run_file("post_para")
        if not os.path.exists(post_para):
            raise ToolError(f"no run of seed {seed}: {post_para} does not exist")
        self.log_probability = read_single_values(post_para)
        self.n = len(self.log_probability)
        if self.n == 0:
            raise ToolError(f"seed {seed}: {post_para} holds no iteration")
        self.log_marginals_k, post_dist_k_rows = self._read_post_dist_k()
        self.thin = self._thinning()
        self.draw_iterations = np.arange(self.thin, self.n + 1, self.thin)
        if len(self.draw_iterations) == 0:
            raise ToolError(
                f"seed {seed}: the run wrote its per-iteration files every {self.thin} iterations (--thin),"
                f" but it has only {plural(self.n, 'iteration')} ({post_para})"
            )
        self.n_columns = None
        self.segment_starts = [self._read_from_tos(iteration) for iteration in self.draw_iterations]
        self.segments = np.array([len(starts) for starts in self.segment_starts])
        self.rates = {kind: self._read_rates(kind) for kind in RATE_KINDS}
        self.n_rate_states = self.rates["deletion"].shape[1]
        if self.rates["mutation"].shape[1] != self.n_rate_states:
            raise ToolError(
                f"seed {seed}: {self.n_rate_states} deletion rates but"
                f" {self.rates['mutation'].shape[1]} mutation rates per iteration"
            )
        if self.n_rate_states != RATE_STATE_COUNT:
            raise ToolError(
                f"seed {seed}: {self.n_rate_states} rates per iteration, but alnsampler's model has"
                f" {RATE_STATE_COUNT} rate states"
            )
        self._check_run_file_sizes(post_dist_k_rows)
        self.marginal_rate_moves = self._read_marginal_rate_moves()

    def path(self, suffix):
        return os.path.join(self.results_dir, f"{self.seed}{suffix}")

    def run_file(self, name):
        """The run file of that name in the sampler's table of outputs (post_para, ...)."""
        return self.path(RUN_FILES[name].part)

    def iteration_path(self, track, iteration):
        """The file of that per-iteration track (from_tos, deletions, ...) of one iteration."""
        return self.path(f"{ITERATION_FILES[track].part}{iteration}.txt")

    @property
    def k_max(self):
        return self.log_marginals_k.shape[1]

    @property
    def n_draws(self):
        return len(self.draw_iterations)

    def set_burnin(self, burnin, drifting=False, automatic=False):
        """Drop the first `burnin` iterations; the draws kept are those numbered above it."""
        self.burnin, self.burnin_drifting, self.burnin_automatic = burnin, drifting, automatic
        self.first_kept = int(np.searchsorted(self.draw_iterations, burnin, side="right"))

    def kept_iterations(self):
        """File numbers (1-based) of the draws after the burn-in."""
        return self.draw_iterations[self.first_kept:]

    def kept(self, values):
        """The entries of a per-iteration series after the burn-in."""
        return values[self.burnin:]

    def kept_draws(self, values):
        """The entries of a per-draw series after the burn-in."""
        return values[self.first_kept:]

    @property
    def n_kept(self):
        return self.n_draws - self.first_kept

    def _read_marginal_rate_moves(self):
        """--marginal-rate-moves of the run, from the line the sampler adds to its auxiliary
        output when it is used (0 without the line or the file)."""
        path = self.run_file("auxiliary")
        if not os.path.exists(path):
            return 0
        for number, fields in content_lines(path, "auxiliary output"):
            if fields[0].startswith("marginal_rate_moves:"):
                return parse_int(fields[0].split(":", 1)[1], path, number, 0, 1000)
        return 0

    def _thinning(self):
        """The interval between draws: the run's --thin from its checkpoint, else from the files.

        Without a checkpoint, the first iteration with a from_tos file gives
        it; a file of the next iteration too means that the earlier files are
        missing, not thinned away.
        """
        thin = checkpoint_thin(self.path("_checkpoint.bin"), self.seed)
        if thin is not None:
            return thin
        def has_files(iteration):
            return os.path.exists(self.iteration_path("from_tos", iteration))

        first = next((i for i in range(1, self.n + 1) if has_files(i)), None)
        if first is None or (1 < first < self.n and has_files(first + 1)):
            raise ToolError(f"trace {self.iteration_path('from_tos', 1)} does not exist")
        return first

    def _check_run_file_sizes(self, post_dist_k_rows):
        """The run files of one run grow together: per iteration a post_dist_k row, then one
        rate_state_transitions line per rate state, then the post_para line.  A run stopped
        within an iteration may hold the first two for one iteration more."""
        path = self.run_file("rate_state_transitions")
        per = self.n_rate_states
        lines = len(content_lines(path, "trace")) if os.path.exists(path) else None
        if post_dist_k_rows == self.n and lines == per * self.n:
            return
        if post_dist_k_rows == self.n + 1 and lines in (per * self.n, per * (self.n + 1)):
            return
        held = "does not exist" if lines is None else f"{plural(lines, 'line')} ({per} per iteration)"
        self.warnings.append(
            f"seed {self.seed}: the run files disagree in size: {self.run_file('post_para')} holds"
            f" {plural(self.n, 'iteration')}, {self.run_file('post_dist_k')} {plural(post_dist_k_rows, 'row')}"
            f" and {path} {held}; they may come from different runs or a damaged copy"
        )

    def _read_post_dist_k(self):
        """The first n rows (one per iteration), and the number of rows."""
        path = self.run_file("post_dist_k")
        rows = content_lines(path, "trace")
        # The row of an iteration is written before its log-probability, so a
        # run stopped within an iteration may leave one row more.
        if len(rows) < self.n:
            raise ToolError(
                f"{path} holds {len(rows)} rows but {self.run_file('post_para')}"
                f" holds {self.n} iterations"
            )
        width = len(rows[0][1])
        table = []
        for number, fields in rows[: self.n]:
            if len(fields) != width:
                raise ToolError(f"{path} line {number}: {len(fields)} numbers, expected {width} as on line 1")
            table.append([parse_float(field, path, number) for field in fields])
        return np.array(table, dtype=float), len(rows)

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
        for iteration in self.draw_iterations:
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
        """The rate state of every column; the quick path reads a well-formed file in one go."""
        path = self.iteration_path("map_column_to_rate_state", iteration)
        lines = read_text(path, "trace").splitlines()
        if len(lines) == self.n_columns:
            try:
                states = np.array(lines, dtype=np.int64)
            except ValueError:  # the slow path below names the line
                states = None
            if states is not None and states.min() >= 0 and states.max() < self.n_rate_states:
                return states
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
        """True when the kept draws come with ancestors files of this run.

        A rerun with the same seed leaves files of an earlier run in place; an
        ancestors file older than the rate-state path of its own iteration
        (written earlier in the same iteration) belongs to such an earlier run.
        """
        first = self.kept_iterations()[0]
        ancestors = self.iteration_path("ancestors", first)
        if not os.path.exists(ancestors):
            return False
        path_file = self.iteration_path("map_column_to_rate_state", first)
        if os.path.exists(path_file) and os.path.getmtime(ancestors) < os.path.getmtime(path_file):
            self.warnings.append(f"{ancestors} is older than {path_file}: left by an earlier run, so ignored")
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
        path = self.iteration_path("ancestors", self.kept_iterations()[0])
        rows = content_lines(path, "ancestors file")
        if not rows:
            raise ToolError(f"{path} is empty")
        return len(rows[0][1])


def parse_burnin(text):
    """--burnin: auto, a fraction 0 <= B < 1 of each chain, or a whole number of iterations."""
    if text == AUTO_BURNIN:
        return text
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


def running_median(values, half_width, chunk=65536):
    """Each entry's median over the entries up to `half_width` before and after it (the series'
    ends repeated beyond them); `chunk` windows at a time, so that memory stays small."""
    padded = np.pad(values, half_width, mode="edge")
    windows = np.lib.stride_tricks.sliding_window_view(padded, 2 * half_width + 1)
    return np.concatenate([np.median(windows[i:i + chunk], axis=1) for i in range(0, len(windows), chunk)])


def settling_point(values):
    """(s, drifting): the series stays near the central range (1% to 99% quantiles) of its second
    half, widened by a quarter of its width on each side, from entry s on.  The first half is
    judged by its running median over a twentieth of the half (at most 25 draws) on each side, so
    that a stationary chain's short excursions (a rate's visit to its near-0 spike, a heavy tail)
    do not count as drift, while a drift (a run of draws beyond the range) ends where the median
    returns.  A series that drifts for half its length or more ends its first half beyond the
    range itself (drifting True), and s is then the start of the second half."""
    values = np.asarray(values, dtype=float)
    second_half = len(values) - len(values) // 2
    if len(values) < 4:
        return 0, False
    half_width = max(1, min(int(SETTLING_WINDOW_SHARE * second_half), SETTLING_WINDOW_LIMIT))
    last = values[second_half:]
    smoothed = running_median(values[:second_half + half_width], half_width)[:second_half]
    low, high = np.quantile(last, SETTLING_QUANTILES)
    beyond = (smoothed < low) | (smoothed > high)
    if beyond[second_half - max(1, second_half // 10):].mean() > 0.5:
        return second_half, True
    margin = SETTLING_MARGIN * (high - low)
    outside = np.flatnonzero((smoothed < low - margin) | (smoothed > high + margin))
    return (int(outside[-1]) + 1 if len(outside) else 0), False


def settling_burnin(chain):
    """Burn-in chosen from the chain itself: the iteration after which its log-probability and
    its rates (each draw's rates of a kind in increasing order, which needs no labels; on a
    log scale floored at RATE_FLOOR, as rates near 0 vary by factors) all settle; and whether one
    still drifts."""
    series = [(chain.log_probability, np.arange(1, chain.n + 1))]
    for kind in RATE_KINDS:
        ordered = np.log(np.maximum(np.sort(chain.rates[kind], axis=1), RATE_FLOOR))
        series += [(ordered[:, rank], chain.draw_iterations) for rank in range(ordered.shape[1])]
    burnin, drifting = 0, False
    for values, iterations in series:
        settled, still_drifting = settling_point(values)
        if settled:
            burnin = max(burnin, int(iterations[settled - 1]))
        drifting = drifting or still_drifting
    return burnin, drifting


def burnin_iterations(burnin, chain):
    """The number of leading iterations of `chain` that the burn-in drops, and whether a trace
    drifted for half the chain or more (only for a burn-in chosen from the traces)."""
    drifting = False
    if burnin == AUTO_BURNIN:
        dropped, drifting = settling_burnin(chain)
        if chain.marginal_rate_moves and chain.draw_iterations[-1] > MARGINAL_MOVES_TUNING:
            dropped = max(dropped, MARGINAL_MOVES_TUNING)
    else:
        dropped = int(math.floor(burnin * chain.n)) if burnin < 1 else int(burnin)
    if dropped >= chain.draw_iterations[-1]:
        what = (f"{plural(chain.n, 'iteration')}" if chain.thin == 1 else
                f"{plural(chain.n_draws, 'draw')} (iterations {chain.thin}, {2 * chain.thin}, ...)")
        raise ToolError(
            f"seed {chain.seed}: a burn-in of {plural(dropped, 'iteration')} leaves none of its"
            f" {what} ({chain.run_file('post_para')})"
        )
    return dropped, drifting


def burnin_warnings(chains):
    """Chains with a trace that drifts for half the chain or more: it may not have settled."""
    return [
        f"seed {chain.seed}: its traces settle only after iteration {chain.burnin} of {chain.n}"
        " (half the chain or more), so it may still be drifting: extend it (the commands under \"run next\"),"
        " or set --burnin"
        for chain in chains if chain.burnin_drifting
    ]


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


def older_than_inputs(chains, input_paths):
    """Chains whose last iteration ended before an input file of the case last changed: their
    traces may describe an earlier version of the case (one rewritten in place)."""
    changed = [(os.path.getmtime(path), path) for path in input_paths if os.path.exists(path)]
    if not changed:
        return []
    newest, path = max(changed)
    return [
        f"seed {chain.seed}: its traces are older than {path}, which changed after the run's last iteration:"
        " they may describe an earlier version of the case; run alnsampler again"
        for chain in chains if os.path.getmtime(chain.run_file("post_para")) < newest
    ]


def read_chains(results_dir, seeds, burnin):
    if not os.path.isdir(results_dir):
        raise ToolError(f"results folder {results_dir} does not exist")
    chains = [Chain(results_dir, seed) for seed in seeds]
    check_chains_agree(chains)
    for chain in chains:
        chain.set_burnin(*burnin_iterations(burnin, chain), automatic=burnin == AUTO_BURNIN)
    return chains
