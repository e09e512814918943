import importlib.machinery
import importlib.util
import os

import pytest

SCRIPT = os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "alnprepare")


def load_script():
    """The alnprepare script imported as a module (it has no .py suffix)."""
    loader = importlib.machinery.SourceFileLoader("alnprepare", SCRIPT)
    module_spec = importlib.util.spec_from_loader("alnprepare", loader)
    module = importlib.util.module_from_spec(module_spec)
    loader.exec_module(module)
    return module


@pytest.fixture(scope="session")
def ap():
    return load_script()


class Workspace:
    """A temporary folder with helpers to write inputs and run alnprepare in-process."""

    def __init__(self, path, module, capsys):
        self.path = path
        self.module = module
        self.capsys = capsys
        self.root = os.path.join(path, "root")

    def write(self, name, text):
        full = os.path.join(self.path, name)
        with open(full, "w", encoding="utf-8") as handle:
            handle.write(text)
        return full

    def data_dir(self, case="case"):
        return os.path.join(self.root, "data", case)

    def run(self, fasta, newick, *extra, case="case/", alignment_name="aln.fasta"):
        """Write the inputs, run main; returns (status, stdout, stderr)."""
        alignment = self.write(alignment_name, fasta)
        tree = self.write("tree.nwk", newick)
        argv = ["--alignment", alignment, "--tree", tree, "--root-dir", self.root + "/", "--case", case]
        return self.main(argv + list(extra))

    def main(self, argv):
        self.capsys.readouterr()
        try:
            status = self.module.main(argv)
        except SystemExit as exit_:
            status = exit_.code
        captured = self.capsys.readouterr()
        return status, captured.out, captured.err


@pytest.fixture
def ws(tmp_path, ap, capsys):
    return Workspace(str(tmp_path), ap, capsys)
