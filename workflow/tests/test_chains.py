"""The workflow's chain runner: a chain is complete when its files are, and only a checkpoint that
the sampler refuses (status 3) starts a chain afresh; every other failure keeps the chain."""

import os
import shutil
import sys

import pytest

REPOSITORY = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(REPOSITORY, "workflow", "scripts"))
import chains  # noqa: E402

SAMPLER = os.environ.get("ALNSAMPLER") or os.path.join(REPOSITORY, "build", "src", "driver", "alnsampler")
pytestmark = pytest.mark.skipif(not os.access(SAMPLER, os.X_OK), reason=f"no sampler at {SAMPLER} (set ALNSAMPLER)")
CASE = "w_w00001"
# A stand-in that fails a --resume with the status in STAND_IN_RESUME (as the sampler does out of memory,
# under another run's lock or on a non-finite value: 255; killed: 143), and runs the sampler otherwise.
STAND_IN = """#!/bin/bash
if [[ " $* " == *" --resume "* && -n "$STAND_IN_RESUME" ]]; then echo "stand-in: status $STAND_IN_RESUME" >&2;
  exit "$STAND_IN_RESUME"; fi
exec {sampler} "$@"
"""


@pytest.fixture
def folder(tmp_path, monkeypatch):
    shutil.copytree(os.path.join(REPOSITORY, "data", "test_case_23_6sp"), tmp_path / "data" / CASE)
    os.makedirs(tmp_path / "results" / CASE)
    (tmp_path / "sampler").write_text(STAND_IN.format(sampler=SAMPLER))
    (tmp_path / "sampler").chmod(0o755)
    monkeypatch.chdir(tmp_path)
    return tmp_path


def settings(iterations=6):
    return chains.Settings("./sampler", iterations, 4, 2, checkpoint_seconds=0)


def files(folder):
    directory = folder / "results" / CASE
    return {name: (directory / name).read_bytes() for name in sorted(os.listdir(directory))}


def run(iterations=6):
    with open("chain.log", "w+") as log:
        done = chains.run_chain(settings(iterations), CASE, 3, log)
        log.seek(0)
        return done, log.read()


def stopped_chain(folder):
    """A chain stopped after 4 of its 6 iterations (a kill leaves the same files)."""
    assert run(iterations=4)[0] == "sampled"


@pytest.mark.parametrize("resume_status, damage, outcome", [
    # R1: continuing fails for a reason other than the checkpoint: the job fails, the chain stays as it was.
    ("255", None, None),
    ("143", None, None),
    # The sampler refuses the checkpoint: the chain starts again.
    ("3", None, "restarted"),
    ("", None, "resumed"),
    # R5: completeness is checked on the files. A lost trace of a kept draw: the continued chain still
    # lacks it, so it starts again; a run file cut short: the sampler refuses its checkpoint (status 3).
    ("", "3_mutations_2.txt", "restarted"),
    ("", "3_post_dist_k.txt", "restarted"),
])
def test_a_stopped_chain_is_continued_kept_or_restarted(folder, monkeypatch, resume_status, damage, outcome):
    stopped_chain(folder)
    if damage == "3_post_dist_k.txt":
        os.truncate(folder / "results" / CASE / damage, 10)
    elif damage:
        os.remove(folder / "results" / CASE / damage)
    monkeypatch.setenv("STAND_IN_RESUME", resume_status)
    before = files(folder)
    if outcome is None:
        with pytest.raises(chains.ChainError, match=f"status {resume_status} while continuing window {CASE}"):
            run()
        assert files(folder) == before
        return
    done, log = run()
    assert done == outcome, log
    assert chains.missing_part(CASE, 3, 6, 2) is None
    assert ("starting it again" in log) == (outcome == "restarted")


def test_a_complete_chain_is_left_alone_and_a_lost_trace_is_named(folder, monkeypatch):
    assert run()[0] == "sampled"
    monkeypatch.setenv("STAND_IN_RESUME", "1")
    os.remove(folder / "sampler")  # no sampler needed for a complete chain
    assert run()[0] == "complete"
    os.remove(folder / "results" / CASE / "3_map_column_to_rate_state_4.txt")
    assert chains.missing_part(CASE, 3, 6, 2) == f"results/{CASE}/3_map_column_to_rate_state_4.txt does not exist"
    assert chains.missing_part(CASE, 3, 8, 2) == f"results/{CASE}/3_post_para.txt holds 6 of 8 iterations"


def test_marginal_rate_moves_are_passed_only_when_asked_for():
    words = [chains.Settings("s", 10, 4, 2, marginal_rate_moves=moves).arguments("c_w00001", 3) for moves in (0, 2)]
    assert "--marginal-rate-moves" not in words[0] and words[1][-2:] == ["--marginal-rate-moves", "2"]
