"""Prepare a small case with the real executable, then run alnsampler on the command it prints."""

import os
import shlex
import subprocess
import sys

import pytest

from case_files import check_sampler_rules
from conftest import SCRIPT

FASTA = (">human\nACGTACGTTAGC-ATGCAAGTCCGATNACGT\n>chimp\nACGTACGTTAGC-ATGCAAGTCCGATTACGT\n"
         ">gorilla\nACGAACGTTAGCAATGC--GTCCGTTTACGA\n>orangutan\nACGAACTTTAG?AATGCAAGTCAGTTTACGA\n"
         ">macaque\nACTAACTTTAGCAATGCAAGTCAGTTTGCGA\n")
SHORT_FASTA = "".join(line if line.startswith(">") else line[:4] + "\n" for line in FASTA.splitlines(keepends=True))
NEWICK = "(((human:0.01,chimp:0.012):0.004,gorilla:0.02):0.01,orangutan:0.04,macaque:0.08);\n"
SAMPLER = os.environ.get("ALNSAMPLER", "")


@pytest.mark.skipif(not SAMPLER, reason="ALNSAMPLER is unset: CTest sets it to the alnsampler executable")
@pytest.mark.parametrize("fasta,command,columns,warning", [
    (FASTA, "alnsampler -r work/ -t primates/", 31, ""),
    # Four modelled columns: the segment limit must stay below that.
    (SHORT_FASTA, "alnsampler -r work/ -t primates/ -k 3", 4, "only 4 modelled columns: the sampler's default -k 4"),
])
def test_sampler_runs_the_printed_command(tmp_path, fasta, command, columns, warning):
    (tmp_path / "aln.fasta").write_text(fasta)
    (tmp_path / "tree.nwk").write_text(NEWICK)
    done = subprocess.run([sys.executable, SCRIPT, "--alignment", "aln.fasta", "--tree", "tree.nwk", "--outgroup",
                           "macaque", "--root-dir", "work/", "--case", "primates/"],
                          cwd=tmp_path, capture_output=True, text=True, check=False)
    assert done.returncode == 0, done.stderr
    assert warning in done.stderr
    assert done.stdout.strip().splitlines()[-1].strip() == command
    data_dir = tmp_path / "work" / "data" / "primates"
    assert len(check_sampler_rules(str(data_dir))) == 5
    assert len((data_dir / "data.txt").read_text().splitlines()) == columns

    sampled = subprocess.run([SAMPLER, *shlex.split(command)[1:], "-n", "2"], cwd=tmp_path,
                             capture_output=True, text=True, timeout=120, check=False)
    assert sampled.returncode == 0, sampled.stderr
    assert len((tmp_path / "work" / "results" / "primates" / "3_post_para.txt").read_text().splitlines()) == 2
