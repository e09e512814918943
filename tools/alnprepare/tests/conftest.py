import os
import sys

import pytest

from case_files import read_table, read_tsv

TOOL_DIR = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SCRIPT = os.path.join(TOOL_DIR, "alnprepare")
sys.path[:0] = [TOOL_DIR, os.path.dirname(TOOL_DIR)]


class Workspace:
    """A temporary folder with helpers to write inputs and run alnprepare in-process."""

    def __init__(self, path, capsys):
        self.path, self.capsys = path, capsys
        self.root = os.path.join(path, "root")

    def write(self, name, text):
        full = os.path.join(self.path, name)
        with open(full, "w", encoding="utf-8") as handle:
            handle.write(text)
        return full

    def data_dir(self, case="case"):
        return os.path.join(self.root, "data", case)

    def table(self, name, case="case"):
        path = os.path.join(self.data_dir(case), name)
        return read_tsv(path) if name.endswith(".tsv") else read_table(path)

    def run(self, fasta, newick, *extra, case="case/", alignment_name="aln.fasta", status=0):
        """Write the inputs, run main expecting `status`; returns (stdout, stderr)."""
        argv = ["--alignment", self.write(alignment_name, fasta), "--tree", self.write("tree.nwk", newick),
                "--root-dir", self.root + "/", "--case", case]
        return self.main(argv + list(extra), status)

    def main(self, argv, status=0):
        from prepare import command

        self.capsys.readouterr()
        try:
            code = command.main(argv)
        except SystemExit as exit_:
            code = exit_.code
        captured = self.capsys.readouterr()
        assert code == status, (captured.out, captured.err)
        return captured.out, captured.err

    def fails(self, result, *fragments):
        """The (stdout, stderr) of a run with status 1: nothing written out, every fragment in the message."""
        out, err = result
        assert out == "" and err.startswith("alnprepare: error: ") and all(f in err for f in fragments), err


@pytest.fixture
def ws(tmp_path, capsys):
    return Workspace(str(tmp_path), capsys)
