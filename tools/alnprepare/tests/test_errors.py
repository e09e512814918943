"""Every input fault ends with status 1 (2 for the command line) and a message naming the file, sequence or value."""

import os

import pytest

FASTA = ">a\nACGTA\n>b\nACGTT\n>c\nACGTC\n"
TREE = "((a:1,b:2):0.5,c:3);"


# (alignment or None for FASTA, tree or None for TREE, extra arguments, message fragments)
FAULTS = [
    ("", None, [], ["holds no sequence when read as fasta", "--format"]),
    ("a\tACGT\n", None, [], ["line 1 does not start with '>': not FASTA"]),
    (">a\nACGT\n>a\nACGT\n>c\nACGT\n", None, [], ["duplicated sequence names 'a'"]),
    (">a\nACGT\n>b\nACG\n>c\nACGTT\n", None, [], ["unequal length", "'a' has 4 columns", "'b' has 3", "'c' has 5"]),
    (">a\n\n>b\n\n>c\n\n", None, [], ["has no columns"]),
    (">a\nACGT\n", None, [], ["single sequence ('a')", "at least two"]),
    (">a\nMKVLEA\n>b\nMKVLEA\n>c\nMKVLEA\n", None, [], ["sequence 'a' holds 'L' at alignment position 4", "protein"]),
    (">a\nACDKMRSWY\n>b\nACDKMRSWY\n>c\nACDKMRSWY\n", None, [], ["looks like a protein alignment"]),
    (">a\nACGT\n>b\nAC~T\n>c\nACGT\n", None, [], ["sequence 'b' holds '~' at alignment position 3", "neither a nucleotide"]),
    (">a\nNNNN\n>b\nNNNN\n>c\nNNNN\n", None, [], ["no nucleotide A, C, G, T or U at all"]),
    (">a\nA-N-\n>b\nACGT\n>c\nACGT\n", None, [], ["reference 'a' holds A, C, G, T or U in 1 column only", "--reference"]),
    (None, None, ["--reference", "zz"], ["--reference 'zz': no sequence", "'a', 'b', 'c'"]),
    (" 2 4\nHomo sap  ACGT\nPan trog  ACGT\n", "(Homo:1,Pan:1);", ["--format", "phylip"], ["--format phylip-strict"]),
    (" 2 x\na ACGT\nb ACGT\n", "(a:1,b:1);", ["--format", "phylip-strict"], ["line 1: PHYLIP header '2 x' must give"]),
    (" -4 10\na ACGT\n", "(a:1,b:1);", ["--format", "phylip"], ["PHYLIP header '-4 10' must give the number"]),
    (" 2 12\na ACGTACGTAC\nb ACGTACGTAC\n", "(a:1,b:1);", ["--format", "phylip"],
     ["its PHYLIP header declares 2 sequences of 12 columns, but sequence 'a' has 10 columns"]),
    ("# STOCKHOLM 1.0\na ACGT\nb ACGT\n", "(a:1,b:1);", ["--format", "stockholm"], ["has no '//' line"]),
    ("begin data;\nmatrix\na ACGT\nb ACGT\n;\nend;\n", "(a:1,b:1);", ["--format", "nexus"],
     ["line 1 is 'begin data;', not '#NEXUS'"]),
    ("CLUSTAL\n\na ACGT\nb ACG\n", "(a:1,b:1);", ["--format", "clustal"], ["does not follow the clustal layout"]),
    ("\0" * 20, None, [], ["aln.fasta is not a text file (it holds NUL bytes)"]),
    (None, "", [], ["holds no tree"]),
    (None, "((a:1,b:2):0.5,c:3);(a,b,c);", [], ["cannot read Newick tree"]),
    (None, "((a:1,b:2):0.5,c:3;", [], ["cannot read Newick tree", "Mismatch, 2 open vs 1 close parentheses"]),
    (None, "((a:1,b:nan):0.5,c:3);", [], ["line 1: branch length 'nan' is not a number"]),
    (None, "((a:1,b:2):0.5,\nc:x3);", [], ["line 2: branch length 'x3' is not a number"]),
    (None, "((a:1,b:-2):0.5,c:3);", [], ["branch above leaf 'b' has length -2.0", "finite and at least 0"]),
    (None, "((a:1,b:1e999):0.5,c:3);", [], ["branch above leaf 'b' has length inf"]),
    (None, "((a:0,b:0):0,c:0);", [], ["every branch has length 0, so no event can happen on it"]),
    (None, "(a:0,b:0,c:0);", ["--midpoint"], ["every branch has length 0", "--midpoint has no middle to find"]),
    (None, "((a:1,b):0.5,c);", [], ["2 branches without a length, above leaf 'b'; leaf 'c'", "--missing-length"]),
    (None, "(a:1,b:2,c:3,(x:1,y:1):1);", [], ["is not binary", "has 4 children"]),
    (None, "((a:1,b:2,c:3):0.5,d:1);", [], ["internal node above 'a', 'b', 'c' has 3 children"]),
    (None, "(((a:1,b:2):1):0.5,c:3);", [], ["internal node above 'a', 'b' has a single child"]),
    (None, "((a:1,:2):0.5,c:3);", [], ["leaves without a name (leaf number 2"]),
    (None, "((a:1,a:2):0.5,c:3);", [], ["duplicated leaf names 'a'"]),
    (None, "(a:1);", [], ["has a single leaf"]),
    (None, "(a:1,b:2,c:3);", [],
     ["is unrooted: its root has three children (leaf 'a'; leaf 'b'; leaf 'c')", "--outgroup NAME or --midpoint"]),
    (None, "((a:1,b:2):0.5,d:3);", [], ["leaves of", "without a sequence in", "'d'", "sequences of", "without a leaf in", "'c'"]),
    (">Homo_Sapiens\nACGT\n>b\nACGT\n", "('homo sapiens':1,b:1);", [], ["'homo sapiens' ~ 'Homo_Sapiens'"]),
    (None, "(a:1,b:2,c:3);", ["--outgroup", "zz"], ["--outgroup: 'zz' not among the leaves"]),
    (None, "(a:1,b:2,c:3);", ["--outgroup", "a,b,c"], ["--outgroup names every leaf"]),
    (FASTA + ">d\nACGTG\n", "((a:1,b:2):1,c:3,d:4);", ["--outgroup", "a,c"], ["--outgroup 'a', 'c' is not a clade"]),
]


@pytest.mark.parametrize("fasta,newick,extra,fragments", FAULTS)
def test_input_faults(ws, fasta, newick, extra, fragments):
    fasta, newick = FASTA if fasta is None else fasta, TREE if newick is None else newick
    ws.fails(ws.run(fasta, newick, *extra, status=1), *fragments)
    assert not os.path.exists(ws.root), "nothing is written on a fault"


@pytest.mark.parametrize("case", ["", "/abs/", "../up/", "a/../../b/", "./"])
def test_bad_case_names(ws, case):
    ws.fails(ws.run(FASTA, TREE, case=case, status=1), f"--case {case!r}")


@pytest.mark.parametrize("extra,fragment", [
    (["--outgroup", "a", "--midpoint"], "not allowed with argument"),
    (["--missing-length", "-1"], "--missing-length -1.0: must be finite"),
    (["--missing-length", "nan"], "must be finite"),
    (["--format", "genbank"], "invalid choice: 'genbank'"),
    (["--outgroup", ","], "--outgroup needs a leaf name"),
    (["--chrom", "chr1"], "--chrom applies to --format maf only"),
])
def test_command_line_faults(ws, extra, fragment):
    assert fragment in ws.run(FASTA, TREE, *extra, status=2)[1]


@pytest.mark.parametrize("alignment,tree,fragment", [("nope.fa", None, "alignment file nope.fa does not exist"),
                                                      (None, "nope.nwk", "tree file nope.nwk does not exist"),
                                                      (".", None, "alignment file . is a directory")])
def test_missing_input_files(ws, alignment, tree, fragment):
    argv = ["--alignment", alignment or ws.write("aln.fasta", FASTA), "--tree", tree or ws.write("tree.nwk", TREE)]
    ws.fails(ws.main(argv + ["--root-dir", ws.root, "--case", "case"], status=1), fragment)


def test_existing_case_needs_force_and_a_failed_rewrite_leaves_it_whole(ws, monkeypatch):
    from prepare import case_writer

    os.makedirs(os.path.join(ws.root, "results", "case"))
    open(os.path.join(ws.root, "results", "case", "3_errors.txt"), "w").close()
    _, err = ws.run(FASTA, TREE)
    assert "already holds 1 file from earlier runs" in err
    ws.fails(ws.run(FASTA, TREE, status=1), "already holds tree.txt, map_from_leave_label_to_seq_id.txt, data.txt",
             "--force")
    ws.write("root/data/case/notes.txt", "the user's own file")

    def snapshot():
        return {name: open(os.path.join(ws.data_dir(), name)).read() for name in os.listdir(ws.data_dir())}

    before, write_text = snapshot(), case_writer.write_text
    monkeypatch.setattr(case_writer, "write_text", lambda path, text: write_text(path, text) if "data.txt" not in path
                        else write_text("/nonexistent/data.txt", text))
    changed = (FASTA.replace("ACGTA", "CCGTA"), "((a:1,c:2):0.5,b:3);", "--force")
    ws.fails(ws.run(*changed, status=1), "cannot write /nonexistent/data.txt: No such file")
    assert snapshot() == before and os.listdir(os.path.join(ws.root, "data")) == ["case"]
    monkeypatch.undo()
    ws.run(*changed)
    after = snapshot()
    assert after["notes.txt"] == before["notes.txt"] and after["data.txt"].startswith("2 1 1\n")
