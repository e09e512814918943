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
        """A prepared file's rows: split on blanks, or as dicts for a .tsv."""
        path = os.path.join(self.data_dir(case), name)
        return read_tsv(path) if name.endswith(".tsv") else read_table(path)

    def run(self, fasta, newick, *extra, case="case/", alignment_name="aln.fasta"):
        """Write the inputs, run main; returns (status, stdout, stderr)."""
        argv = ["--alignment", self.write(alignment_name, fasta), "--tree", self.write("tree.nwk", newick),
                "--root-dir", self.root + "/", "--case", case]
        return self.main(argv + list(extra))

    def main(self, argv):
        from prepare import command

        self.capsys.readouterr()
        try:
            status = command.main(argv)
        except SystemExit as exit_:
            status = exit_.code
        captured = self.capsys.readouterr()
        return status, captured.out, captured.err

    def fails(self, result, *fragments):
        """Status 1, nothing on standard output, and every fragment in the error message."""
        status, out, err = result
        assert status == 1 and out == "" and err.startswith("alnprepare: error: "), (status, out, err)
        for fragment in fragments:
            assert fragment in err, err


@pytest.fixture
def ws(tmp_path, capsys):
    return Workspace(str(tmp_path), capsys)
