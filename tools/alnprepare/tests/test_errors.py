"""Every input fault ends with status 1 and a message naming the file, sequence or value."""

import os
import re
import subprocess
import sys

import pytest

from conftest import SCRIPT

FASTA = ">a\nACGTA\n>b\nACGTT\n>c\nACGTC\n"
TREE = "((a:1,b:2):0.5,c:3);"


def assert_error(result, *fragments):
    status, out, err = result
    assert status == 1, (out, err)
    assert out == ""
    assert err.startswith("alnprepare: error: ")
    for fragment in fragments:
        assert fragment in err, err


ALIGNMENT_FAULTS = [
    ("", ["holds no sequence when read as fasta", "--format"]),
    ("a\tACGT\n", ["line 1 does not start with '>': not FASTA"]),
    (">a\nACGT\n>a\nACGT\n>c\nACGT\n", ["duplicated sequence names 'a'"]),
    (">a\nACGT\n>b\nACG\n>c\nACGTT\n", ["unequal length", "'a' has 4 columns", "'b' has 3", "'c' has 5"]),
    (">a\n\n>b\n\n>c\n\n", ["has no columns"]),
    (">a\nACGT\n", ["single sequence ('a')", "at least two"]),
    (">a\nMKVLEA\n>b\nMKVLEA\n>c\nMKVLEA\n", ["sequence 'a' holds 'L' at alignment position 4", "protein"]),
    (">a\nACDKMRSWY\n>b\nACDKMRSWY\n>c\nACDKMRSWY\n", ["looks like a protein alignment"]),
    (">a\nACGT\n>b\nAC~T\n>c\nACGT\n", ["sequence 'b' holds '~' at alignment position 3", "neither a nucleotide"]),
    (">a\nNNNN\n>b\nNNNN\n>c\nNNNN\n", ["no nucleotide A, C, G, T or U at all"]),
    (">a\nA-NT\n>b\nACGT\n>c\nACGT\n", ["reference 'a' holds A, C, G, T or U in 2 columns"]),
]


@pytest.mark.parametrize("fasta,fragments", ALIGNMENT_FAULTS)
def test_alignment_faults(ws, fasta, fragments):
    # The two-column case passes the alignment checks only to fail on the reference.
    if fragments[0].startswith("reference"):
        fasta = fasta.replace("A-NT", "A-N-")
        fragments = ["reference 'a' holds A, C, G, T or U in 1 column only", "--reference"]
    assert_error(ws.run(fasta, TREE), *fragments)


def test_phylip_fault_suggests_the_strict_layout(ws):
    phylip = " 2 4\nHomo sap  ACGT\nPan trog  ACGT\n"
    result = ws.run(phylip, "(Homo:1,Pan:1);", "--format", "phylip", alignment_name="aln.phy")
    assert_error(result, "--format phylip-strict")


def test_unreadable_phylip(ws):
    result = ws.run(" 2 x\na ACGT\nb ACGT\n", "(a:1,b:1);", "--format", "phylip-strict")
    assert_error(result, "cannot read alignment", "as phylip-strict: First line should have two integers")


def test_missing_input_files(ws):
    tree = ws.write("tree.nwk", TREE)
    alignment = ws.write("aln.fasta", FASTA)
    base = ["--root-dir", ws.root, "--case", "case"]
    assert_error(ws.main(["--alignment", "nope.fa", "--tree", tree] + base), "alignment file nope.fa does not exist")
    assert_error(ws.main(["--alignment", alignment, "--tree", "nope.nwk"] + base), "tree file nope.nwk does not exist")
    assert_error(ws.main(["--alignment", ws.path, "--tree", tree] + base), "is a directory")
    assert not os.path.exists(ws.root), "nothing is written on a fault"


def test_unknown_reference(ws):
    assert_error(ws.run(FASTA, TREE, "--reference", "zz"), "--reference 'zz': no sequence", "'a', 'b', 'c'")


TREE_FAULTS = [
    ("", ["holds no tree"]),
    ("((a:1,b:2):0.5,c:3);(a,b,c);", ["cannot read Newick tree"]),
    ("((a:1,b:2):0.5,c:3;", ["cannot read Newick tree", "Mismatch, 2 open vs 1 close parentheses"]),
    ("((a:1,b:2:0.5,c:3);", ["line 1: branch length '2:0.5' is not a number"]),
    ("((a:1,b:nan):0.5,c:3);", ["line 1: branch length 'nan' is not a number"]),
    ("((a:1,b:2):0.5,\nc:x3);", ["line 2: branch length 'x3' is not a number"]),
    ("((a:1,b:-2):0.5,c:3);", ["branch above leaf 'b' has length -2.0", "finite and at least 0"]),
    ("((a:1,b:1e999):0.5,c:3);", ["branch above leaf 'b' has length inf"]),
    ("((a:1,b):0.5,c);", ["2 branches without a length, above leaf 'b'; leaf 'c'", "--missing-length"]),
    ("(a:1,b:2,c:3,(x:1,y:1):1);", ["is not binary", "has 4 children"]),
    ("((a:1,b:2,c:3):0.5,d:1);", ["internal node above 'a', 'b', 'c' has 3 children"]),
    ("(((a:1,b:2):1):0.5,c:3);", ["internal node above 'a', 'b' has a single child"]),
    ("((a:1,:2):0.5,c:3);", ["leaves without a name (leaf number 2"]),
    ("((a:1,a:2):0.5,c:3);", ["duplicated leaf names 'a'"]),
    ("(a:1);", ["has a single leaf"]),
    ("(a:1,b:2,c:3);", ["is unrooted: its root has three children (leaf 'a'; leaf 'b'; leaf 'c')", "--outgroup NAME or --midpoint"]),
    ("((a:1,b:2):0.5,d:3);", ["leaves of", "without a sequence in", "'d'", "sequences of", "without a leaf in", "'c'"]),
]


@pytest.mark.parametrize("newick,fragments", TREE_FAULTS)
def test_tree_faults(ws, newick, fragments):
    assert_error(ws.run(FASTA, newick), *fragments)


def test_name_mismatch_hints_at_case_and_underscores(ws):
    fasta = ">Homo_Sapiens\nACGT\n>b\nACGT\n"
    assert_error(ws.run(fasta, "('homo sapiens':1,b:1);"), "'homo sapiens' ~ 'Homo_Sapiens'")


def test_missing_length_option_fills_and_warns(ws):
    status, out, err = ws.run(FASTA, "((a:1,b):0.5,c);", "--missing-length", "0.25")
    assert status == 0, err
    assert "warning: 2 branches without a length" in err and "set to 0.25" in err
    with open(os.path.join(ws.data_dir(), "tree.txt")) as handle:
        assert sorted(line.split()[2] for line in handle) == ["0.25", "0.25", "0.5", "1.0"]


OUTGROUP_FAULTS = [
    ("(a:1,b:2,c:3);", "zz", ["--outgroup: 'zz' not among the leaves"]),
    ("(a:1,b:2,c:3);", "a,b,c", ["--outgroup names every leaf"]),
    ("((a:1,b:2):1,c:3,d:4);", "a,c", ["--outgroup 'a', 'c' is not a clade"]),
]


@pytest.mark.parametrize("newick,outgroup,fragments", OUTGROUP_FAULTS)
def test_outgroup_faults(ws, newick, outgroup, fragments):
    fasta = ">a\nACGT\n>b\nACGT\n>c\nACGT\n>d\nACGT\n"
    if "d" not in newick:
        fasta = fasta[: fasta.index(">d")]
    assert_error(ws.run(fasta, newick, "--outgroup", outgroup), *fragments)


def test_existing_case_needs_force(ws):
    assert ws.run(FASTA, TREE)[0] == 0
    assert_error(ws.run(FASTA, TREE), "already holds tree.txt, map_from_leave_label_to_seq_id.txt, data.txt", "--force")
    status, _, err = ws.run(FASTA.replace("ACGTA", "CCGTA"), TREE, "--force")
    assert status == 0, err
    with open(os.path.join(ws.data_dir(), "data.txt")) as handle:
        assert handle.readline() == "2 1 1\n"


def test_results_of_earlier_runs_are_reported(ws):
    os.makedirs(os.path.join(ws.root, "results", "case"))
    with open(os.path.join(ws.root, "results", "case", "3_errors.txt"), "w"):
        pass
    status, _, err = ws.run(FASTA, TREE)
    assert status == 0
    assert "already holds 1 file from earlier runs" in err


@pytest.mark.parametrize("case", ["", "/abs/", "../up/", "a/../../b/", "./"])
def test_bad_case_names(ws, case):
    assert_error(ws.run(FASTA, TREE, case=case), f"--case {case!r}")


def test_case_name_is_normalised(ws):
    status, out, _ = ws.run(FASTA, TREE, case="./deep//name")
    assert status == 0
    assert os.path.isfile(os.path.join(ws.root, "data", "deep", "name", "data.txt"))
    assert os.path.isdir(os.path.join(ws.root, "results", "deep", "name"))
    assert "-t deep/name/" in out


@pytest.mark.parametrize(
    "extra,fragment",
    [
        (["--outgroup", "a", "--midpoint"], "not allowed with argument"),
        (["--missing-length", "-1"], "--missing-length -1.0: must be finite"),
        (["--missing-length", "nan"], "must be finite"),
        (["--format", "genbank"], "invalid choice: 'genbank'"),
        (["--outgroup", ","], "--outgroup needs a leaf name"),
    ],
)
def test_command_line_faults(ws, extra, fragment):
    status, _, err = ws.run(FASTA, TREE, *extra)
    assert status == 2
    assert fragment in err


def test_executable_help_and_missing_options():
    assert os.access(SCRIPT, os.X_OK)
    with open(SCRIPT) as handle:
        assert handle.readline() == "#!/usr/bin/python3\n"
    shown = subprocess.run([SCRIPT, "--help"], capture_output=True, text=True, check=False)
    assert shown.returncode == 0
    assert re.search(r"usage: alnprepare .*--alignment FILE", shown.stdout)
    assert "--outgroup" in shown.stdout and "missing data" in shown.stdout
    missing = subprocess.run([sys.executable, SCRIPT, "--alignment", "x.fa"], capture_output=True, text=True, check=False)
    assert missing.returncode == 2
    assert "the following arguments are required: --tree, --root-dir, --case" in missing.stderr
