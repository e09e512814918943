"""What alnsampler writes, read from the table the sampler is built from.

sampler_outputs.def (beside this file) lists the run files, the
per-iteration tracks and the number of rate states; the sampler's C++ code
includes the same file, so the two sides cannot drift apart.  This module
also reads the head of a run's checkpoint (read_checkpoint_head).
"""

import ast
import collections
import os
import re
import struct

OutputFile = collections.namedtuple("OutputFile", "part what option")
CheckpointHead = collections.namedtuple("CheckpointHead", "version iteration seed k_max thin")

TABLE_PATH = os.path.join(os.path.dirname(os.path.realpath(__file__)), "sampler_outputs.def")
_ROW = re.compile(r"^(RATE_STATES|RUN_FILE|ITERATION_FILE|OPTIONAL_ITERATION_FILE)\((.*)\)\s*$")


def _read_table(path=TABLE_PATH):
    """(rate states, run files, iteration tracks) of the table; names map to OutputFile in table order."""
    rate_states, run_files, tracks = None, {}, {}
    with open(path, encoding="utf-8") as table:
        for line in table:
            row = _ROW.match(line.strip())
            if row is None:
                continue
            kind, arguments = row.groups()
            name, _, rest = arguments.partition(",")
            if kind == "RATE_STATES":
                rate_states = int(name)
                continue
            values = ast.literal_eval("(" + rest + ",)")
            option = values[2] if kind == "OPTIONAL_ITERATION_FILE" else ""
            (run_files if kind == "RUN_FILE" else tracks)[name.strip()] = OutputFile(values[0], values[1], option)
    return rate_states, run_files, tracks


RATE_STATE_COUNT, RUN_FILES, ITERATION_FILES = _read_table()

# The head of SEED_checkpoint.bin, kept in its place by every format version:
# the tag, the format version, then the iteration, seed, k_max and --thin of
# the run, in the machine's byte order (as the sampler writes them).
_CHECKPOINT_HEAD = struct.Struct("=8sIqIqq")
_CHECKPOINT_TAG = b"alnckpt\n"


def read_checkpoint_head(path):
    """The CheckpointHead of the checkpoint at `path`, or None when the file
    cannot be read, is too short or is not a checkpoint (wrong tag, version 0).
    Only the head is read; the rest of the file is the sampler's business."""
    try:
        with open(path, "rb") as handle:
            head = handle.read(_CHECKPOINT_HEAD.size)
    except OSError:
        return None
    if len(head) < _CHECKPOINT_HEAD.size:
        return None
    tag, version, iteration, seed, k_max, thin = _CHECKPOINT_HEAD.unpack(head)
    if tag != _CHECKPOINT_TAG or version < 1:
        return None
    return CheckpointHead(version, iteration, seed, k_max, thin)
