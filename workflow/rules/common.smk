# Settings, commands and the helpers the rules share.

import glob
import math
import os
import re
import shlex
import shutil
import sys

import yaml
from snakemake.exceptions import WorkflowError

REPOSITORY = os.path.dirname(os.path.abspath(workflow.basedir))
sys.path.insert(0, os.path.join(workflow.basedir, "scripts"))
import chains  # noqa: E402


def _defaults():
    """Every setting of workflow/config.yaml but the alignments, which the user's file gives."""
    with open(os.path.join(workflow.basedir, "config.yaml"), encoding="utf-8") as handle:
        defaults = yaml.safe_load(handle)
    defaults.pop("alignments")
    return defaults


DEFAULTS = _defaults()
ALIGNMENT_KEYS = {"maf", "tree", "reference", "chrom", "outgroup", "midpoint"}
CHOICES = {"conserved_by": ("mutation", "deletion", "total"), "overlaps": ("trim", "error")}


def _whole(name, least):
    value = config[name]
    if isinstance(value, bool) or not isinstance(value, int) or value < least:
        raise WorkflowError(f"configuration: {name} is {value!r}; give a whole number of at least {least}")
    return value


def _number(name, least):
    value = config[name]
    if isinstance(value, bool) or not isinstance(value, (int, float)) or not value >= least:
        raise WorkflowError(f"configuration: {name} is {value!r}; give a number of at least {least}")
    return value


def _check_config():
    unknown = sorted(set(config) - set(DEFAULTS) - {"alignments"})
    if unknown:
        raise WorkflowError(f"configuration: unknown settings {', '.join(unknown)}"
                            f" (see {os.path.join(workflow.basedir, 'config.yaml')})")
    for name, value in DEFAULTS.items():
        config.setdefault(name, value)
    alignments = config.get("alignments")
    if not isinstance(alignments, dict) or not alignments:
        raise WorkflowError("configuration: no alignments; give a configuration file with --configfile"
                            f" (see {os.path.join(workflow.basedir, 'config.yaml')})")
    for name, entry in alignments.items():
        if not re.fullmatch(r"[A-Za-z0-9][A-Za-z0-9_-]*", str(name)):
            raise WorkflowError(f"configuration: alignment name {name!r}: use letters, digits, '_' and '-'")
        if not isinstance(entry, dict) or not {"maf", "tree"} <= set(entry):
            raise WorkflowError(f"configuration: alignment {name!r} needs a maf and a tree")
        extra = sorted(set(entry) - ALIGNMENT_KEYS)
        if extra:
            raise WorkflowError(f"configuration: alignment {name!r}: unknown keys {', '.join(extra)}"
                                f" (known: {', '.join(sorted(ALIGNMENT_KEYS))})")
    for name, least in (("window", 2), ("k_max", 1), ("chains", 1), ("first_seed", 0), ("iterations", 1),
                        ("thin", 1), ("threads", 1), ("windows_per_job", 1), ("marginal_rate_moves", 0),
                        ("min_gap", 0), ("min_length", 1)):
        _whole(name, least)
    for name in ("checkpoint_seconds", "max_rhat", "min_ess", "max_p_kmax", "seconds_per_iteration", "time_margin",
                 "rho", "threshold"):
        _number(name, 0)
    if not (0 < config["rho"] <= 1 and config["threshold"] < 1):
        raise WorkflowError(f"configuration: rho {config['rho']!r} must lie in (0, 1] and threshold"
                            f" {config['threshold']!r} in [0, 1)")
    for name, choices in CHOICES.items():
        if config[name] not in choices:
            raise WorkflowError(f"configuration: {name} is {config[name]!r}; give one of {', '.join(choices)}")
    if config["iterations"] < config["thin"]:
        raise WorkflowError(f"configuration: iterations {config['iterations']} keeps no draw at thin {config['thin']}")
    if config["min_columns"] is None:
        config["min_columns"] = config["k_max"] + 1
    if _whole("min_columns", 2) <= config["k_max"]:
        raise WorkflowError(f"configuration: min_columns {config['min_columns']} must exceed k_max {config['k_max']}:"
                            " the sampler needs more modelled columns than segments")
    if config["window"] < config["min_columns"]:
        raise WorkflowError(f"configuration: window {config['window']} is below min_columns {config['min_columns']}")


def _command(name, relative):
    """A configured command, else the installed one (alnsampler only), else this repository's."""
    chosen = config[name] or (shutil.which(name) if name == "alnsampler" else None)
    chosen = os.path.abspath(chosen or os.path.join(REPOSITORY, relative))
    if not (os.path.isfile(chosen) and os.access(chosen, os.X_OK)):
        raise WorkflowError(f"{name}: {chosen} is not an executable file (set `{name}` in the configuration)")
    return chosen


_check_config()
ALIGNMENTS = config["alignments"]
SEEDS = list(range(config["first_seed"], config["first_seed"] + config["chains"]))
ALNSAMPLER = _command("alnsampler", "build/src/driver/alnsampler")
ALNPREPARE = _command("alnprepare", "tools/alnprepare/alnprepare")
ALNSUMMARIZE = _command("alnsummarize", "tools/alnsummarize/alnsummarize")
ALNMERGE = _command("alnmerge", "tools/alnmerge/alnmerge")

wildcard_constraints:
    aln="|".join(re.escape(name) for name in ALIGNMENTS),
    batch=r"b\d+",


def alignment_path(aln, key):
    """A file of an alignment entry; '{workflow}' stands for the folder of the Snakefile (the shipped example)."""
    return str(ALIGNMENTS[aln][key]).replace("{workflow}", workflow.basedir)


def chain_settings(threads):
    return chains.Settings(ALNSAMPLER, config["iterations"], config["k_max"], config["thin"], threads,
                           config["checkpoint_seconds"], config["marginal_rate_moves"])


def window_cases(aln):
    """The window cases of one alignment, from its windows table (known once prepare has run)."""
    table = checkpoints.prepare.get(aln=aln).output.table
    return table_cases(table)


def table_cases(table):
    with open(table, encoding="utf-8") as handle:
        return [line.split("\t", 1)[0] for line in handle.read().splitlines()[1:] if line.strip()]


def batches(aln):
    """{batch name: its window cases}: the windows in table order, windows_per_job at a time."""
    cases = window_cases(aln)
    size = config["windows_per_job"]
    return {f"b{number + 1:05d}": cases[start:start + size]
            for number, start in enumerate(range(0, len(cases), size))}


def batch_cases(aln, batch):
    return table_cases(f"data/{aln}_windows.tsv")[
        (int(batch[1:]) - 1) * config["windows_per_job"]:int(batch[1:]) * config["windows_per_job"]]


def all_batch_markers(wildcards=None):
    return [f"results/batches/{aln}/{batch}.txt" for aln in ALIGNMENTS for batch in batches(aln)]


def drop_stale_markers():
    """Remove the marker of a batch whose windows lack a summary, so that the batch runs again (its job
    checks every chain's files and redoes what is missing)."""
    for path in glob.glob(os.path.join("results", "batches", "*", "b*.txt")):
        with open(path, encoding="utf-8") as handle:
            first = handle.readline().split()
        lacking = [case for case in first[1:] if not chains.summary_complete(case)]
        if first[:1] != ["windows:"] or lacking:
            os.remove(path)
            print(f"{path}: {lacking[0] if lacking else 'the marker'} lacks its summary; the batch runs again",
                  file=sys.stderr)


drop_stale_markers()


def batch_minutes(wildcards, attempt):
    """Time limit of a batch job: one iteration of a window costs about W^2 (the exact segmentation)."""
    seconds = config["iterations"] * config["seconds_per_iteration"] * (config["window"] / 1000) ** 2
    seconds *= len(SEEDS) * config["windows_per_job"]
    return 5 + math.ceil(config["time_margin"] * seconds / 60) * 2 ** (attempt - 1)


def sampling_mem_mb(wildcards, attempt):
    return (200 + config["window"] // 20) * attempt
