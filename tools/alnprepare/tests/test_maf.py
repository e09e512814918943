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


def data_lines(ws, case="case"):
    return [" ".join(row) for row in ws.table("data.txt", case)]


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
PAIR = "a score=1\ns hg.chr1 10 4 + 100 ACGT\ns mm.chr5 0 4 + 200 ACGT\n"
FAULTS = [
    (PAIR + "\na score=1\ns hg.chr1 12 4 + 100 ACGT\ns mm.chr5 9 4 + 200 ACGT\n", ["--overlaps", "error"],
     ["block at line 7: the reference 'hg.chr1' at positions 13-16 overlaps positions up to 14"]),
    (PAIR + "\na score=1\ns hg.chr2 12 4 + 100 ACGT\ns mm.chr5 9 4 + 200 ACGT\n", [],
     ["the reference 'hg' lies on 2 sequences ('chr1' (1 block), 'chr2' (1 block)): cut them all into windows"]),
    (PAIR, ["--chrom", "chrX"], ["--chrom 'chrX': no block", "(its sequences: 'chr1')"]),
    (PAIR.replace("mm.", "xx."), [], ["sequences of", "without a leaf in", "'xx'"]),
    (PAIR, ["--reference", "zz"], ["--reference 'zz': no block of MAF", "(species: 'hg', 'mm')"]),
    (PAIR + "s mm.chr6 0 4 + 200 ACGT\n", [], ["line 6: species 'mm' has two rows in the block at line 3"]),
    (PAIR.replace("ACGT\n", "AC*T\n"), [], ["line 4: 'hg.chr1' holds '*' at block column 3"]),
    (PAIR.replace("0 4 + 200 ACGT", "0 3 + 200 ACG"), [], ["line 5: 'mm.chr5' has 3 columns, the block's first row 4"]),
    (PAIR.replace("0 4 + 200", "0 5 + 200"), [], ["line 5: 'mm.chr5' declares size 5 but its text holds 4 bases"]),
    (PAIR.replace("10 4 + 100", "98 4 + 100"), [], ["line 4: 'hg.chr1' spans 98..102, beyond its srcSize 100"]),
    (PAIR.replace("10 4 +", "10 4 x"), [], ["line 4: strand 'x' of 'hg.chr1' is neither '+' nor '-'"]),
    (PAIR.replace("+ 100", "+ 0"), [], ["line 4: srcSize '0' is not a whole number of at least 1"]),
    ("a score=3\n\n" + PAIR, [], ["line 3: the block has no 's' line"]),
    (PAIR + "z 1 2\n", [], ["line 6: unknown line type 'z'"]),
    ("s hg.chr1 10 4 + 100 ACGT\n", [], ["line 3: an 's' line outside a block"]),
    ("a score=1\ns hg.chr1 10 4 + 100 ACGT\n", [], ["only the reference 'hg' is in the blocks of 'chr1'"]),
    (PAIR.replace("ACGT\ns mm", "NNNA\ns mm"), [], ["holds A, C, G, T or U in too few columns ('chr1': 1)"]),
    ("", [], ["holds no alignment block"]),
    (None, [], ["line 1 does not start with '##maf': not a MAF file"]),
]


@pytest.mark.parametrize("blocks, extra, fragments", FAULTS)
def test_every_fault_is_refused_with_a_message_and_nothing_written(ws, blocks, extra, fragments):
    maf = ">a\nACGT\n" if blocks is None else HEADER + blocks
    ws.fails(run_maf(ws, maf, "((hg:1,mm:1):1,cf:1);", *extra, status=1), *fragments)
    assert not os.path.exists(ws.root)


@pytest.mark.parametrize("tree, fragment", [
    ("((hg:1e300,mm:1):1,cf:1);", "branch above leaf 'hg' has length 1e+300; the sampler takes lengths of 0 or"),
    ("((hg:1e-9,mm:1e4):1,cf:1);", "is more than 1e+12 times the one above leaf 'hg' (1e-09)"),
    # Pruning xx joins the two branches above hg: 2e-120, below the smallest length.
    ("((hg:1e-120,xx:1):1e-120,mm:1);", "branch above leaf 'hg' has length 2e-120"),
])
def test_tree_lengths_outside_the_samplers_range_are_refused_as_written(ws, tree, fragment):
    ws.fails(run_maf(ws, HEADER + PAIR, tree, status=1), fragment)


# Two chromosomes; on chrA a block overlapping the one before by 1 base (16)
# and one wholly inside taken positions (17..19), on chrB a block with the
# reference on the minus strand (turned around) and minus-strand rows of
# other species; comments between blocks, '#eof', i, e and q lines, 'a'
# lines without a score.
GENOME_MAF = """##maf version=1
# made by hand
a score=5
s hg.chrA 10 6 + 40 ACGTAC
s mm.s1 100 6 - 500 ACGTAA
s cf.s9 3 5 + 90 AC-TAC

a
s hg.chrA 15 5 + 40 CGGAT
s mm.s1 0 5 + 500 CGGTT
# between blocks
a score=1
s hg.chrA 16 3 + 40 GGA
s cf.s9 0 3 + 90 GGA

a score=2
s hg.chrB 0 4 + 30 TTGA
s cf.s9 10 4 + 90 TTGC
i cf.s9 C 0 C 0
q cf.s9 9999

a
s hg.chrB 20 5 - 30 AACCG
s mm.s1 7 4 + 500 AA-CG
e cf.s9 0 3 + 90 I
#eof
"""
# (case, first, last, size, data lines (hg mm cf), reference positions)
GENOME_WINDOWS = [
    ("case_chrA_w00001", 11, 14, 40, ["1 1 1", "2 2 2", "3 3 0", "4 4 4"], [11, 12, 13, 14]),
    ("case_chrA_w00002", 15, 20, 40, ["1 1 1", "2 1 2", "3 3 5", "3 3 5", "1 4 5", "4 4 5"], [15, 16, 17, 18, 19, 20]),
    ("case_chrB_w00001", 1, 5, 30, ["4 5 4", "4 5 4", "3 5 3", "1 5 2"], [1, 2, 3, 4]),
    ("case_chrB_w00002", 6, 10, 30, ["2 2 5", "3 3 5", "3 0 5", "4 4 5", "4 4 5"], [6, 7, 8, 9, 10]),
]


def test_a_real_style_gzip_maf_is_trimmed_turned_around_and_cut_per_chromosome(ws):
    path = os.path.join(ws.path, "genome.maf.gz")
    with gzip.open(path, "wt") as handle:
        handle.write(GENOME_MAF)
    argv = ["--alignment", path, "--format", "maf", "--tree", ws.write("t.nwk", "((hg:1,mm:2):1,(cf:1,dog:1):1);"),
            "--root-dir", ws.root, "--case", "case/", "--window", "4", "--min-columns", "3"]
    out, _ = ws.main(argv)
    assert "1 block overlapping earlier ones on the reference trimmed, 1 block wholly inside them dropped," \
           " 4 reference bases left out" in out
    table = ws.table("case_windows.tsv", case="")
    assert [(row["case"], int(row["first_position"]), int(row["last_position"]), int(row["chromosome_size"]))
            for row in table] == [window[:4] for window in GENOME_WINDOWS]
    for case, _, _, _, lines, positions in GENOME_WINDOWS:
        check_sampler_rules(ws.data_dir(case))
        assert data_lines(ws, case) == lines
        assert [int(row["reference_position"]) for row in ws.table("columns.tsv", case)] == positions
        assert [row["name"] for row in ws.table("sequences.tsv", case)] == ["hg", "mm", "cf"]


def test_long_gap_runs_of_a_maf_are_coded_absent_and_reported(ws):
    out, _ = run_maf(ws, HEADER + "a\ns hg.chr1 0 8 + 9 ACGTACGT\ns mm.c 0 5 + 9 AC---CGT\n", "(hg:1,mm:1);",
                     "--long-gap", "2")
    assert [line.split()[1] for line in data_lines(ws)] == list("12555234")
    assert "1 internal run longer than 2 columns, 3 cells coded absent" in out and "'mm' columns chr1:3-5" in out


def test_gap_runs_found_piece_by_piece_code_as_the_whole_row(ws):
    """Random rows cut into random pieces: the streaming rules give what the rules on the whole row give."""
    import random

    from prepare.coding import MissingData
    from prepare.genome import MissingRules
    from prepare.maf import ChromosomeStats, GapRuns

    generator = random.Random(5)
    for trial in range(300):
        letters = "00000512345" if trial % 2 else "0512"
        row = "".join(generator.choice(letters) for _ in range(generator.randrange(1, 60)))
        long_gap, terminal, long_ = generator.randrange(1, 6), generator.choice("absent gap".split()), \
            generator.choice("absent gap".split())
        stats = ChromosomeStats("c")
        runs = stats.runs["x"] = GapRuns(long_gap)
        cuts = sorted({0, len(row), *generator.sample(range(len(row) + 1), min(len(row), 4))})
        for start, end in zip(cuts, cuts[1:]):
            runs.add(row[start:end], start)
        whole = MissingData(terminal, long_gap, long_)
        expected = whole.code("x", row)
        rules = MissingRules(stats, terminal == "absent", long_ == "absent")
        translated = row.replace("0", "-").replace("5", "N").replace("1", "A").replace("2", "C").replace("3", "G") \
            .replace("4", "T")
        coded = "".join(rules.code("x", translated[start:end], start) for start, end in zip(cuts, cuts[1:]))
        assert coded == expected, (row, long_gap, terminal, long_)
        assert runs.terminal_gaps() == whole.terminal_cells and whole.long_cells == sum(
            end - start for start, end in runs.long_runs())


def test_windows_that_hold_only_the_reference_are_named(ws):
    # chr1: a block of hg and mm, then one of hg alone (as a TBA alignment has where nothing else aligns).
    maf = HEADER + "a\ns hg.chr1 0 4 + 9 ACGT\ns mm.c 0 4 + 9 ACGA\n\na\ns hg.chr1 4 4 + 9 TTGA\n"
    out, err = run_maf(ws, maf, "(hg:1,mm:1);", "--window", "4", "--min-columns", "3")
    assert [line.split()[1] for line in data_lines(ws, "case_w00002")] == ["5"] * 4
    assert "1 of 2 windows (case_w00002) hold only the reference 'hg', no other species aligned anywhere in" \
           " them" in err
    _, err = run_maf(ws, maf.replace("TTGA\n", "TTGA\ns mm.c 4 1 + 9 T---\n"), "(hg:1,mm:1);", "--window", "4",
                     "--min-columns", "3", "--force")
    assert "hold only the reference" not in err
