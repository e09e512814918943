"""Prepare a small case with the real executable, then run alnsampler on it."""

import os
import shlex
import subprocess
import sys

import pytest

from case_files import check_sampler_rules
from conftest import SCRIPT

FASTA = """>human
ACGTACGTTAGC-ATGCAAGTCCGATNACGT
>chimp
ACGTACGTTAGC-ATGCAAGTCCGATTACGT
>gorilla
ACGAACGTTAGCAATGC--GTCCGTTTACGA
>orangutan
ACGAACTTTAG?AATGCAAGTCAGTTTACGA
>macaque
ACTAACTTTAGCAATGCAAGTCAGTTTGCGA
"""
NEWICK = "(((human:0.01,chimp:0.012):0.004,gorilla:0.02):0.01,orangutan:0.04,macaque:0.08);\n"

SAMPLER = os.environ.get("ALNSAMPLER", "")
needs_sampler = pytest.mark.skipif(
    not SAMPLER,
    reason="ALNSAMPLER is unset: CTest sets it to the alnsampler executable once that target is built",
)


def prepare(tmp_path, fasta=FASTA, *extra):
    (tmp_path / "aln.fasta").write_text(fasta)
    (tmp_path / "tree.nwk").write_text(NEWICK)
    command = [sys.executable, SCRIPT, "--alignment", "aln.fasta", "--tree", "tree.nwk",
               "--outgroup", "macaque", "--root-dir", "work/", "--case", "primates/", *extra]
    done = subprocess.run(command, cwd=tmp_path, capture_output=True, text=True, check=False)
    assert done.returncode == 0, done.stderr
    return done.stdout.strip().splitlines()[-1].strip()


def test_prepared_files_satisfy_the_sampler_input_rules(tmp_path):
    next_command = prepare(tmp_path)
    assert next_command == "alnsampler -r work/ -t primates/"
    data_dir = tmp_path / "work" / "data" / "primates"
    leaf_map = check_sampler_rules(str(data_dir))
    assert len(leaf_map) == 5
    assert (tmp_path / "work" / "results" / "primates").is_dir()
    assert len((data_dir / "data.txt").read_text().splitlines()) == 31


def run_sampler(tmp_path, next_command, iterations):
    words = shlex.split(next_command)
    assert words[0] == "alnsampler"
    return subprocess.run([SAMPLER, *words[1:], "-n", str(iterations)], cwd=tmp_path,
                          capture_output=True, text=True, timeout=120, check=False)


@needs_sampler
def test_sampler_runs_on_the_prepared_case(tmp_path):
    done = run_sampler(tmp_path, prepare(tmp_path), 2)
    assert done.returncode == 0, done.stderr
    results = tmp_path / "work" / "results" / "primates"
    assert len((results / "3_post_para.txt").read_text().splitlines()) == 2


@needs_sampler
def test_sampler_runs_the_suggested_command_on_a_short_alignment(tmp_path):
    short = "".join(line[:4] + "\n" if not line.startswith(">") else line + "\n" for line in FASTA.splitlines())
    next_command = prepare(tmp_path, short)
    assert next_command.endswith("-k 3")
    done = run_sampler(tmp_path, next_command, 2)
    assert done.returncode == 0, done.stderr
