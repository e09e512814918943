"""Prepare a small case with the real executable, then run alnsampler on the command it prints."""

import os
import shlex
import shutil
import subprocess

import pytest

from case_files import check_sampler_rules
from conftest import SCRIPT

FASTA = (">human\nACGTACGTTAGC-ATGCAAGTCCGATNACGT\n>chimp\nACGTACGTTAGC-ATGCAAGTCCGATTACGT\n"
         ">gorilla\nACGAACGTTAGCAATGC--GTCCGTTTACGA\n>orangutan\nACGAACTTTAG?AATGCAAGTCAGTTTACGA\n"
         ">macaque\nACTAACTTTAGCAATGCAAGTCAGTTTGCGA\n")
SHORT_FASTA = "".join(line if line.startswith(">") else line[:4] + "\n" for line in FASTA.splitlines(keepends=True))
NEWICK = "(((human:0.01,chimp:0.012):0.004,gorilla:0.02):0.01,orangutan:0.04,macaque:0.08);\n"
SAMPLER = os.environ.get("ALNSAMPLER", "")
TOOLS = os.path.dirname(os.path.dirname(SCRIPT))


def prepare(tmp_path, fasta, script=SCRIPT, path=()):
    """Runs the script with only `path` and the system folders on PATH; returns (result, environment)."""
    (tmp_path / "aln.fasta").write_text(fasta)
    (tmp_path / "tree.nwk").write_text(NEWICK)
    env = dict(os.environ, PATH=os.pathsep.join([*map(str, path), "/usr/bin", "/bin"]))
    done = subprocess.run([str(script), "--alignment", "aln.fasta", "--tree", "tree.nwk", "--outgroup", "macaque",
                           "--root-dir", "work/", "--case", "primates/"],
                          cwd=tmp_path, env=env, capture_output=True, text=True, check=False)
    assert done.returncode == 0, done.stderr
    return done, env


def run_next(done, tmp_path, env, *extra):
    command = done.stdout.strip().splitlines()[-1].strip()
    return command, subprocess.run(" ".join([command, *extra]), shell=True, cwd=tmp_path, env=env,
                                   capture_output=True, text=True, timeout=120, check=False)


@pytest.mark.skipif(not SAMPLER, reason="ALNSAMPLER is unset: CTest sets it to the alnsampler executable")
@pytest.mark.parametrize("fasta,command,columns,warning", [
    (FASTA, "alnsampler -r work/ -t primates/", 31, ""),
    # Four modelled columns: the segment limit must stay below that.
    (SHORT_FASTA, "alnsampler -r work/ -t primates/ -k 3", 4, "only 4 modelled columns: the sampler's default -k 4"),
])
def test_sampler_runs_the_printed_command(tmp_path, fasta, command, columns, warning):
    (tmp_path / "bin").mkdir()
    (tmp_path / "bin" / "alnsampler").symlink_to(SAMPLER)
    done, env = prepare(tmp_path, fasta, path=[tmp_path / "bin"])
    assert warning in done.stderr
    data_dir = tmp_path / "work" / "data" / "primates"
    assert len(check_sampler_rules(str(data_dir))) == 5
    assert len((data_dir / "data.txt").read_text().splitlines()) == columns

    printed, sampled = run_next(done, tmp_path, env, "-n", "2")
    assert printed == command
    assert sampled.returncode == 0, sampled.stderr
    assert len((tmp_path / "work" / "results" / "primates" / "3_post_para.txt").read_text().splitlines()) == 2


@pytest.mark.parametrize("where", ["on PATH", "beside a link to the tool", "built in the source tree", "nowhere"])
def test_run_next_line_names_the_sampler_where_it_is(tmp_path, where):
    # A copy of the tools, so that its source tree's build/ is under our control.
    repo = tmp_path / "repo"
    shutil.copytree(TOOLS, repo / "tools", ignore=shutil.ignore_patterns("tests", "__pycache__"))
    script = repo / "tools" / "alnprepare" / "alnprepare"
    folder = {"on PATH": tmp_path / "path", "beside a link to the tool": tmp_path / "prefix" / "bin",
              "built in the source tree": repo / "build" / "src" / "driver", "nowhere": tmp_path / "elsewhere"}[where]
    folder.mkdir(parents=True)
    if where != "nowhere":
        (folder / "alnsampler").write_text('#!/bin/sh\necho "sampler $*"\n')
        (folder / "alnsampler").chmod(0o755)
    if where == "beside a link to the tool":
        (folder / "alnprepare").symlink_to(script)
        script = folder / "alnprepare"
    done, env = prepare(tmp_path, FASTA, script, path=[folder] if where == "on PATH" else [])
    printed, ran = run_next(done, tmp_path, env)
    expected = "alnsampler" if where in ("on PATH", "nowhere") else str(folder / "alnsampler")
    assert shlex.split(printed) == [expected, "-r", "work/", "-t", "primates/"]
    assert ran.stdout == ("" if where == "nowhere" else "sampler -r work/ -t primates/\n")
    assert ("alnsampler is not on PATH, not beside alnprepare and not built in" in done.stderr) == (where == "nowhere")
