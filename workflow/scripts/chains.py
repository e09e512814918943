"""Running the chains of the genome workflow's windows, and knowing when a chain is complete.

A chain is complete when its files are: the run files hold at least the
iterations asked for, one line per iteration (three for the rate-state
transitions), and the per-iteration files of every kept draw exist.  That is
checked, never assumed from a marker: a job that finds a chain complete
leaves it alone, continues an incomplete one from its checkpoint, and starts
it afresh only when the sampler says that the checkpoint cannot continue it
(exit status 3) or when the continued chain still lacks files.  Any other
failure (out of memory, a lock held by a running run, a value that is not
finite, a kill) fails the job and keeps every file, so that the next attempt
continues where this one stopped.
"""

import os
import shlex
import subprocess

RESUME_REFUSED = 3  # alnsampler's status when its checkpoint cannot continue the run
DRAW_STEMS = ("from_tos", "deletions", "mutations", "beta_shapes", "theta_shapes", "map_column_to_rate_state")
RATE_STATES = 3


class ChainError(Exception):
    """A chain that could not be completed; the message names the window, seed and log."""


class Settings:
    """The sampler command and the options every chain of a run shares."""

    def __init__(self, sampler, iterations, k_max, thin, threads=1, checkpoint_seconds=60, marginal_rate_moves=0):
        self.sampler = sampler
        self.iterations, self.k_max, self.thin = iterations, k_max, thin
        self.threads, self.checkpoint_seconds = threads, checkpoint_seconds
        self.marginal_rate_moves = marginal_rate_moves

    def arguments(self, case, seed):
        words = [self.sampler, "-s", str(seed), "-r", "./", "-t", f"{case}/", "-n", str(self.iterations),
                 "-k", str(self.k_max), "--thin", str(self.thin), "--threads", str(self.threads),
                 "--checkpoint-seconds", str(self.checkpoint_seconds), "--progress"]
        if self.marginal_rate_moves > 0:
            words += ["--marginal-rate-moves", str(self.marginal_rate_moves)]
        return words


def _line_count(path):
    try:
        with open(path, "rb") as handle:
            return sum(chunk.count(b"\n") for chunk in iter(lambda: handle.read(1 << 20), b""))
    except OSError:
        return None


def missing_part(case, seed, iterations, thin):
    """None when the chain's files are complete for `iterations`, else what is missing."""
    prefix = os.path.join("results", case, f"{seed}_")
    done = _line_count(prefix + "post_para.txt")
    if done is None:
        return f"{prefix}post_para.txt does not exist"
    if done < iterations:
        return f"{prefix}post_para.txt holds {done} of {iterations} iterations"
    for suffix, per in (("post_dist_k.txt", 1), ("rate_state_transitions.txt", RATE_STATES)):
        lines = _line_count(prefix + suffix)
        if lines is None or lines < per * done:
            return f"{prefix}{suffix} holds {lines or 0} lines, {per * done} expected"
    for iteration in range(thin, done + 1, thin):
        for stem in DRAW_STEMS:
            path = f"{prefix}{stem}_{iteration}.txt"
            if not os.path.exists(path):
                return f"{path} does not exist"
    return None


def _call(words, log):
    log.write(" ".join(shlex.quote(word) for word in words) + "\n")
    log.flush()
    return subprocess.call(words, stdout=log, stderr=log)


def run_chain(settings, case, seed, log):
    """Complete one chain; returns what was done. Raises ChainError, keeping every file, when it cannot."""
    missing = missing_part(case, seed, settings.iterations, settings.thin)
    if missing is None:
        log.write(f"{case} seed {seed}: complete already\n")
        return "complete"
    words = settings.arguments(case, seed)
    checkpoint = os.path.join("results", case, f"{seed}_checkpoint.bin")
    outcome = "sampled"
    if os.path.exists(checkpoint):
        status = _call(words + ["--resume"], log)
        if status == 0:
            missing = missing_part(case, seed, settings.iterations, settings.thin)
            if missing is None:
                return "resumed"
            log.write(f"the continued chain is still incomplete ({missing}): starting it again\n")
        elif status == RESUME_REFUSED:
            log.write("the checkpoint cannot continue this chain (see above): starting it again\n")
        else:
            raise ChainError(f"alnsampler ended with status {status} while continuing window {case}, seed {seed};"
                             " its files are kept, and the next attempt continues it")
        outcome = "restarted"
    status = _call(words, log)
    if status != 0:
        raise ChainError(f"alnsampler ended with status {status} on window {case}, seed {seed}")
    missing = missing_part(case, seed, settings.iterations, settings.thin)
    if missing is not None:
        raise ChainError(f"window {case}, seed {seed}: the sampler ended well but {missing}")
    return outcome


SUMMARY_FILES = ("rates.tsv", "segments.tsv", "summary.tsv", "columns.tsv", "rate_paths.tsv", "warnings.txt")


def summary_complete(case):
    folder = os.path.join("results", case, "summary")
    return all(os.path.exists(os.path.join(folder, name)) for name in SUMMARY_FILES)


def run_batch(settings, cases, seeds, summarise, log_path):
    """Every chain of every window of a batch, each window summarised once its chains are complete."""
    with open(log_path, "a") as log:
        for case in cases:
            for seed in seeds:
                outcome = run_chain(settings, case, seed, log)
                log.write(f"{case} seed {seed}: {outcome}\n")
                log.flush()
            words = summarise(case)
            status = _call(words, log)
            if status != 0:
                raise ChainError(f"alnsummarize ended with status {status} on window {case} (see {log_path})")
