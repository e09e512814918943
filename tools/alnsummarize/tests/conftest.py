import importlib.machinery
import importlib.util
import os

import pytest

from trace_files import Case

SCRIPT = os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "alnsummarize")


def load_script():
    """The alnsummarize script imported as a module (it has no .py suffix)."""
    loader = importlib.machinery.SourceFileLoader("alnsummarize", SCRIPT)
    module_spec = importlib.util.spec_from_loader("alnsummarize", loader)
    module = importlib.util.module_from_spec(module_spec)
    loader.exec_module(module)
    return module


@pytest.fixture(scope="session")
def sm():
    return load_script()


class Runner:
    """Runs alnsummarize's main in-process on a case; returns (status, stdout, stderr)."""

    def __init__(self, module, capsys, case):
        self.module = module
        self.capsys = capsys
        self.case = case

    def __call__(self, *extra, seeds=(3,), burnin="0", plots=False):
        argv = ["--root-dir", self.case.root, "--case", self.case.name, "--out", self.case.out,
                "--seeds", *[str(seed) for seed in seeds], "--burnin", burnin, *extra]
        if not plots:
            argv.append("--no-plots")
        self.capsys.readouterr()
        try:
            status = self.module.main(argv)
        except SystemExit as exit_:
            status = exit_.code
        captured = self.capsys.readouterr()
        return status, captured.out, captured.err


@pytest.fixture
def case(tmp_path):
    return Case(str(tmp_path))


@pytest.fixture
def run(sm, capsys, case):
    return Runner(sm, capsys, case)
