"""Prepare a small case with the real executable, then run alnsampler on the command it prints."""

import os
import shlex
import shutil
import subprocess

import pytest

from alncommon.recipe import RECIPE_MOVES
from case_files import check_sampler_rules
from conftest import SCRIPT

FASTA = (">human\nACGTACGTTAGC-ATGCAAGTCCGATNACGT\n>chimp\nACGTACGTTAGC-ATGCAAGTCCGATTACGT\n"
         ">gorilla\nACGAACGTTAGCAATGC--GTCCGTTTACGA\n>orangutan\nACGAACTTTAG?AATGCAAGTCAGTTTACGA\n"
         ">macaque\nACTAACTTTAGCAATGCAAGTCAGTTTGCGA\n")
SHORT_FASTA = "".join(line if line.startswith(">") else line[:4] + "\n" for line in FASTA.splitlines(keepends=True))
NEWICK = "(((human:0.01,chimp:0.012):0.004,gorilla:0.02):0.01,orangutan:0.04,macaque:0.08);\n"
SAMPLER = os.environ.get("ALNSAMPLER", "")
TOOLS = os.path.dirname(os.path.dirname(SCRIPT))


# The real sampler runs the printed command when CTest names it (ALNSAMPLER); elsewhere a stand-in
# echoes its arguments. A copy of the tools keeps the source tree's build/ under the test's control.
@pytest.mark.parametrize("where,fasta,extra", [
    ("on PATH", FASTA, []), ("on PATH", SHORT_FASTA, ["-k", "3"]),  # 4 modelled columns: -k must stay below
    ("beside a link to the tool", FASTA, []), ("built in the source tree", FASTA, []), ("nowhere", FASTA, [])])
def test_run_next_line_works_as_printed(tmp_path, where, fasta, extra):
    repo = tmp_path / "repo"
    shutil.copytree(TOOLS, repo / "tools", ignore=shutil.ignore_patterns("tests", "__pycache__"))
    script = repo / "tools" / "alnprepare" / "alnprepare"
    folder = {"on PATH": tmp_path / "path", "beside a link to the tool": tmp_path / "prefix" / "bin",
              "built in the source tree": repo / "build" / "src" / "driver", "nowhere": tmp_path / "elsewhere"}[where]
    folder.mkdir(parents=True)
    sampler, real = folder / "alnsampler", where == "on PATH" and SAMPLER
    if real:
        sampler.symlink_to(SAMPLER)
    elif where != "nowhere":
        sampler.write_text('#!/bin/sh\necho "sampler $*"\n')
        sampler.chmod(0o755)
    if where == "beside a link to the tool":
        (folder / "alnprepare").symlink_to(script)
        script = folder / "alnprepare"
    (tmp_path / "aln.fasta").write_text(fasta)
    (tmp_path / "tree.nwk").write_text(NEWICK)
    # Only the stand-in's folder (when on PATH) and the system folders are on PATH.
    env = dict(os.environ, PATH=os.pathsep.join([*([str(folder)] if where == "on PATH" else []), "/usr/bin", "/bin"]))
    done = subprocess.run([str(script), "--alignment", "aln.fasta", "--tree", "tree.nwk", "--outgroup", "macaque",
                           "--root-dir", "work/", "--case", "./primates//"],
                          cwd=tmp_path, env=env, capture_output=True, text=True, check=False)
    assert done.returncode == 0, done.stderr
    # The case name is normalised: ./primates// is primates/.
    assert len(check_sampler_rules(str(tmp_path / "work" / "data" / "primates"))) == 5
    assert (tmp_path / "work" / "results" / "primates").is_dir()
    assert ("only 4 modelled columns: the sampler's default -k 4" in done.stderr) == bool(extra)
    assert ("alnsampler is not on PATH, not beside alnprepare and not built in" in done.stderr) == (where == "nowhere")

    heading = "run next (two chains, then their summary; paste the lines into a shell):\n"
    assert heading in done.stdout
    printed = [line.strip() for line in done.stdout.split(heading)[1].splitlines()]
    expected = "alnsampler" if where in ("on PATH", "nowhere") else str(sampler)
    assert [shlex.split(line) for line in printed[:2]] == [
        [expected, "-r", "work/", "-t", "primates/", "-s", seed, "-n", "2000", "--thin", "10", *RECIPE_MOVES, *extra]
        for seed in "12"]
    summarizer = str(repo / "tools" / "alnsummarize" / "alnsummarize")
    assert shlex.split(printed[2]) == [summarizer, "--root-dir", "work/", "--case", "primates/", "--seeds", "1", "2",
                                       "--out", "work/results/primates/summary/"]
    # Pasted as printed: the real sampler runs both chains and alnsummarize summarises them; a stand-in
    # sampler only echoes, so the summary is left out.
    ran = subprocess.run("\n".join(printed if real else printed[:2]), shell=True, cwd=tmp_path, env=env,
                         capture_output=True, text=True, timeout=300, check=False)
    results = tmp_path / "work" / "results" / "primates"
    if real:
        assert ran.returncode == 0, ran.stderr
        assert [len((results / f"{seed}_post_para.txt").read_text().splitlines()) for seed in (1, 2)] == [2000, 2000]
        assert (results / "summary" / "report.html").is_file() and "run next" in ran.stdout
    else:
        assert ran.stdout == ("" if where == "nowhere" else "".join(f"sampler {line.split(' ', 1)[1]}\n"
                                                                  for line in printed[:2]))
