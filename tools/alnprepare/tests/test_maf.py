"""MAF genome alignments: stitching along the reference, absent species, coordinates, refusals, pruning."""

import gzip
import os

import pytest

from case_files import check_sampler_rules, read_nested_tree, splits

# Blocks out of reference order, a gap in the reference inside a block (hg
# 10..14 aligned in 6 columns), unaligned reference positions between the
# blocks (15..19), a species missing from a block (rn: an 'e' line in one,
# nothing in the other), soft-masked bases, a minus-strand row of another
# species, an 'a' line without a score, '.' as a gap and an N in the reference.
MAF = """##maf version=1 scoring=none
# made by hand

a score=12.5
s hg.chr1 20 6 + 100 ACNTac
s mm.chr5 50 5 + 200 ACGT.C
q mm.chr5            999909
s cf.chr9 70 6 - 300 TTAAGG

a
s hg.chr1 10 5 + 100 AC-GTA
s mm.chr5 40 6 + 200 ACTGTA
i mm.chr5 N 0 C 0
e rn.chr2 0 5 + 300 I
s cf.chr9 90 5 + 300 A-CGTT
"""
# Per stitched column (reference first, then species in order of first
# appearance): hg mm cf; rn appears only in an 'e' line, so it is not among
# the species, and its leaf is pruned.
DATA = ["1 1 1", "2 2 0", "0 4 2", "3 3 3", "4 4 4", "1 1 4",
        "1 1 4", "2 2 4", "5 3 1", "4 4 1", "1 0 3", "2 2 3"]
# (column, alignment_position, reference_position, chromosome): the gap
# does not advance the coordinate, the N does, and 15..19 are not aligned.
COLUMNS = [(0, 1, 11), (1, 2, 12), (2, 4, 13), (3, 5, 14), (4, 6, 15),
           (5, 7, 21), (6, 8, 22), (7, 10, 24), (8, 11, 25), (9, 12, 26)]
TREE = "(((hg:1,mm:2):0.5,rn:3):0.25,(cf:4,dog2:1):0.75);"


def run_maf(ws, maf=MAF, tree=TREE, *extra, status=0):
    return ws.run(maf, tree, "--format", "maf", *extra, alignment_name="aln.maf", status=status)


def data_lines(ws):
    return [" ".join(row) for row in ws.table("data.txt")]


def test_blocks_are_stitched_along_the_reference_with_absent_species_and_the_tree_pruned(ws):
    out, _ = run_maf(ws)
    check_sampler_rules(ws.data_dir())
    assert data_lines(ws) == DATA
    assert [(int(row["column"]), int(row["alignment_position"]), int(row["reference_position"]), row["chromosome"])
            for row in ws.table("columns.tsv")] == [(*row, "chr1") for row in COLUMNS]
    assert [row["name"] for row in ws.table("sequences.tsv")] == ["hg", "mm", "cf"]
    assert "pruned to the alignment's species, without 'rn', 'dog2'" in out
    # rn and dog2 go: the hg-mm cherry stays 0.5 + 0.25 + 0.75 + 4 away from cf.
    assert splits(read_nested_tree(ws.data_dir())) == pytest.approx(
        {frozenset({"hg"}): 1.0, frozenset({"mm"}): 2.0, frozenset({"hg", "mm"}): 5.5})


def test_a_gzip_compressed_maf_gives_the_same_case(ws):
    path = os.path.join(ws.path, "aln.maf.gz")
    with gzip.open(path, "wt") as handle:
        handle.write(MAF)
    argv = ["--alignment", path, "--format", "maf", "--tree", ws.write("tree.nwk", TREE), "--root-dir", ws.root]
    ws.main(argv + ["--case", "case/"])
    assert data_lines(ws) == DATA
    with open(path, "r+b") as handle:
        handle.truncate(os.path.getsize(path) - 12)
    ws.fails(ws.main(argv + ["--case", "other/"], status=1), "the compressed file is damaged")


def test_chrom_picks_the_blocks_of_one_reference_sequence(ws):
    other = "\na score=1\ns hg.chr2 0 4 + 50 GGGG\ns mm.chr5 0 4 + 200 GGGA\n"
    out, _ = run_maf(ws, MAF + other, TREE, "--chrom", "chr2")
    assert data_lines(ws) == ["3 3", "3 3", "3 3", "3 1"]
    assert "pruned to the alignment's species, without 'rn', 'cf', 'dog2'" in out


def test_reference_option_names_a_species(ws):
    run_maf(ws, MAF, TREE, "--reference", "mm")
    rows = ws.table("columns.tsv")
    # mm's coordinates on chr5: 41..46 in the first block, 51..55 in the second.
    assert [int(row["reference_position"]) for row in rows] == [41, 42, 43, 44, 45, 46, 51, 52, 53, 54, 55]
    assert {row["chromosome"] for row in rows} == {"chr5"}


HEADER = "##maf version=1\n\n"
FAULTS = [
    ("a score=1\ns hg.chr1 10 4 - 100 ACGT\ns mm.chr5 0 4 + 200 ACGT\n", [],
     ["block at line 3: the reference 'hg.chr1' is on the minus strand (positions 87-90)"]),
    ("a score=1\ns hg.chr1 10 4 + 100 ACGT\ns mm.chr5 0 4 + 200 ACGT\n\n"
     "a score=1\ns hg.chr1 12 4 + 100 ACGT\ns mm.chr5 9 4 + 200 ACGT\n", [],
     ["blocks at lines 3 and 7 overlap on the reference 'hg.chr1' (positions 11-14 and 13-16)"]),
    ("a score=1\ns hg.chr1 10 4 + 100 ACGT\ns mm.chr5 0 4 + 200 ACGT\n\n"
     "a score=1\ns hg.chr2 12 4 + 100 ACGT\ns mm.chr5 9 4 + 200 ACGT\n", [],
     ["the reference 'hg' lies on 2 sequences ('chr1' (1 block), 'chr2' (1 block)); choose one with --chrom"]),
    ("a score=1\ns hg.chr1 10 4 + 100 ACGT\ns mm.chr5 0 4 + 200 ACGT\n", ["--chrom", "chrX"],
     ["--chrom 'chrX': no block", "(its sequences: 'chr1')"]),
    ("a score=1\ns hg.chr1 10 4 + 100 ACGT\ns xx.chr5 0 4 + 200 ACGT\n", [],
     ["sequences of", "without a leaf in", "'xx'"]),
    ("a score=1\ns hg.chr1 10 4 + 100 ACGT\ns mm.chr5 0 4 + 200 ACGT\n", ["--reference", "zz"],
     ["--reference 'zz': no block of MAF", "(species: 'hg', 'mm')"]),
    ("a score=1\ns hg.chr1 10 4 + 100 ACGT\ns mm.chr5 0 4 + 200 ACGT\ns mm.chr6 0 4 + 200 ACGT\n", [],
     ["block at line 3: species 'mm' has two rows ('mm.chr5' and 'mm.chr6')"]),
    ("a score=1\ns hg.chr1 10 4 + 100 ACGT\ns mm.chr5 0 4 + 200 AC*T\n", [],
     ["block at line 3: 'mm.chr5' holds '*' at block column 3"]),
    ("a score=1\ns hg.chr1 10 4 + 100 ACGT\ns mm.chr5 0 3 + 200 ACG\n", [], ["cannot read MAF", "near line"]),
    ("a score=1\ns hg.chr1 10 4 + 100 ACGT\n", [], ["only the reference 'hg' is in the blocks of 'chr1'"]),
    ("a score=1\ns hg.chr1 10 4 + 100 NNNA\ns mm.chr5 0 4 + 200 ACGT\n", [], ["holds A, C, G, T or U in 1 column"]),
    ("", [], ["holds no alignment block"]),
    (None, [], ["line 1 does not start with '##maf': not a MAF file"]),
]


@pytest.mark.parametrize("blocks, extra, fragments", FAULTS)
def test_every_fault_is_refused_with_a_message_and_nothing_written(ws, blocks, extra, fragments):
    maf = ">a\nACGT\n" if blocks is None else HEADER + blocks
    ws.fails(run_maf(ws, maf, "((hg:1,mm:1):1,cf:1);", *extra, status=1), *fragments)
    assert not os.path.exists(ws.root)
