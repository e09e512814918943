import os
import sys

import pytest

from trace_files import Case

TOOL_DIR = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SCRIPT = os.path.join(TOOL_DIR, "alnsummarize")
sys.path[:0] = [TOOL_DIR, os.path.dirname(TOOL_DIR)]


@pytest.fixture
def case(tmp_path):
    return Case(str(tmp_path))


@pytest.fixture
def run(capsys, case):
    from summarize import command

    def run_main(*extra, seeds=(3,), burnin="0", status=0):
        argv = ["--root-dir", case.root, "--case", case.name, "--out", case.out, "--seeds", *map(str, seeds),
                "--burnin", burnin, "--no-plots", *extra]
        capsys.readouterr()
        try:
            code = command.main(argv)
        except SystemExit as exit_:
            code = exit_.code
        captured = capsys.readouterr()
        assert code == status, (captured.out, captured.err)
        return captured.out, captured.err

    return run_main
