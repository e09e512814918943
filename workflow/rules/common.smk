# Settings, commands and the helpers the rules share.

import math
import os
import re
import shlex
import shutil
import subprocess

import yaml
from snakemake.exceptions import WorkflowError

REPOSITORY = os.path.dirname(os.path.abspath(workflow.basedir))


def _defaults():
    """Every setting of workflow/config.yaml but the alignments, which the user's file gives."""
    with open(os.path.join(workflow.basedir, "config.yaml"), encoding="utf-8") as handle:
        defaults = yaml.safe_load(handle)
    defaults.pop("alignments")
    return defaults


DEFAULTS = _defaults()
ALIGNMENT_KEYS = {"maf", "tree", "reference", "chrom", "outgroup", "midpoint"}


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
                        ("thin", 1), ("threads", 1)):
        _whole(name, least)
    for name in ("checkpoint_seconds", "max_rhat", "min_ess", "max_p_kmax", "seconds_per_iteration", "time_margin"):
        _number(name, 0)
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
    case=r"[A-Za-z0-9][A-Za-z0-9_-]*_w\d+",
    seed=r"\d+",


def window_cases(aln):
    """The window cases of one alignment, from its windows table (known once prepare has run)."""
    table = checkpoints.prepare.get(aln=aln).output.table
    with open(table, encoding="utf-8") as handle:
        return [line.split("\t", 1)[0] for line in handle.read().splitlines()[1:] if line.strip()]


def all_window_cases(wildcards=None):
    return [case for aln in ALIGNMENTS for case in window_cases(aln)]


def sampling_minutes(wildcards, attempt):
    """Time limit of a sampling job: one iteration costs about W^2 (the exact segmentation)."""
    seconds = config["iterations"] * config["seconds_per_iteration"] * (config["window"] / 1000) ** 2
    return 5 + math.ceil(config["time_margin"] * seconds / 60) * 2 ** (attempt - 1)


def sampling_mem_mb(wildcards, attempt):
    return (200 + config["window"] // 20) * attempt
