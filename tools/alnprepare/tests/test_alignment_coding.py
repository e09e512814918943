"""Character coding, the reference's choice of modelled columns, and the look-up tables."""

import random
import re

import pytest

from case_files import check_sampler_rules, read_leaf_map

TREE_ABC = "((a:1,b:1):1,c:1);"


def data_rows(ws):
    return [list(map(int, row)) for row in ws.table("data.txt")]


@pytest.mark.parametrize("characters,value", [("ACGT", [1, 2, 3, 4]), ("acgt", [1, 2, 3, 4]), ("Uu", [4, 4]),
                                              ("-.", [0, 0]), ("NnXx?", [5] * 5), ("RYSWKMBDHVryswkmbdhv", [5] * 20)])
def test_every_character_class_is_coded(ws, characters, value):
    # The reference a holds bases throughout, so that every column is kept;
    # b's characters sit between bases, where a gap is a gap.
    width = len(characters)
    fasta = f">a\n{'ACGT' * width}\n>b\nA{characters}{'A' * (3 * width - 1)}\n>c\n{'ACGT' * width}\n"
    ws.run(fasta, TREE_ABC)
    assert [row[1] for row in data_rows(ws)[1:width + 1]] == value


@pytest.mark.parametrize("seed", range(6))
def test_reference_decides_modelled_columns_and_columns_tsv_points_back(ws, seed):
    rng = random.Random(seed)
    names = ["a", "b", "c", "d"]
    rows = {name: "".join(rng.choice("ACGTacgtU-.-.N?RYx") for _ in range(60)) for name in names}
    reference = rng.choice(names)
    fasta = "".join(f">{name}\n{rows[name]}\n" for name in names)
    ws.run(fasta, "((a:1,b:1):1,(c:1,d:1):1);", "--reference", reference)
    check_sampler_rules(ws.data_dir())
    # Sequence ids: the reference, then the others in file order.
    sequences = ws.table("sequences.tsv")
    assert [row["name"] for row in sequences] == [reference] + [name for name in names if name != reference]
    assert {(int(row["leaf_label"]), int(row["seq_id"])) for row in sequences} == set(read_leaf_map(ws.data_dir()))

    reference_row = rows[reference]
    kept = [p for p, character in enumerate(reference_row, start=1) if character.upper() in "ACGTU"]
    ungapped_before = [sum(c not in "-." for c in reference_row[:position]) for position in kept]
    table = ws.table("columns.tsv")
    assert [(int(row["column"]), int(row["alignment_position"]), int(row["reference_position"])) for row in table] \
        == list(zip(range(len(kept)), kept, ungapped_before))

    # The sampler keeps the data rows whose first value is 1..4: exactly these.
    data = data_rows(ws)
    assert len(data) == 60
    assert [p for p, row in enumerate(data, start=1) if 1 <= row[0] <= 4] == kept


# b: terminal gaps 1-2 and 13-14, an internal run 5-9; c: N then a terminal
# gap, an internal run 7-8 and a terminal '.'.
GAPPY = ">a\nACGTACGTACGTAC\n>b\n--GT-----GTA--\n>c\nN-GTAC--GTACG.\n"


@pytest.mark.parametrize("extra,b,c,report", [
    (["--long-gap", "4", "--long-gaps", "gap"], "55340000034155", "55341200341235",
     [("gap fraction", "0.1667"), ("absent fraction", "0.1667"), ("terminal gaps", "6 cells coded absent"),
      ("long gaps", "1 internal run longer than 4 columns, 5 cells kept as gaps"), ("'b' columns", "5-9")]),
    (["--long-gap", "4", "--terminal-gaps", "gap"], "00345555534100", "50341200341230",
     [("gap fraction", "0.1905"), ("absent fraction", "0.1429"), ("terminal gaps", "6 cells kept as gaps"),
      ("long gaps", "1 internal run longer than 4 columns, 5 cells coded absent")]),
    (["--long-gap", "5"], "55340000034155", "55341200341235", [("long gaps", "no internal gap run longer than 5 ")]),
    ([], "55340000034155", "55341200341235", [("long gaps", "no internal gap run longer than 100 columns")]),
])
def test_missing_data_coding_and_report(ws, extra, b, c, report):
    out, err = ws.run(GAPPY, TREE_ABC, *extra)
    assert ["".join(map(str, sequence)) for sequence in zip(*data_rows(ws))][1:] == [b, c]
    for label, value in [("sequences", "3 (reference 'a')"), ("columns", "14"), ("modelled columns", "14"), *report]:
        assert re.search(rf"^\s*{label} +{re.escape(value)}", out, re.M), (label, out)
    assert ("1 internal gap run longer than 4 columns in 'b'" in err) == ("5-9" in str(report))


ALIGNMENT_FORMATS = {
    "phylip": " 3 6\nalpha_1 ACGT-N\nbeta ACGTTA\ngamma acgtta\n",
    "phylip-strict": " 3 6\nalpha_1   ACG T-N\nbeta      ACGTTA\ngamma     acgtta\n",
    "nexus": "#NEXUS\nbegin data;\ndimensions ntax=3 nchar=6;\nformat datatype=dna missing=? gap=-;\n"
    "matrix\nalpha_1 ACGT-N\nbeta ACGTTA\ngamma acgtta\n;\nend;\n",
    "clustal": "CLUSTAL W (1.83) multiple sequence alignment\n\nalpha_1    ACGT-N\nbeta       ACGTTA\n"
    "gamma      acgtta\n           **** *\n",
    "stockholm": "# STOCKHOLM 1.0\nalpha_1 ACGT.N\nbeta    ACGTTA\ngamma   acgtta\n//\n",
}


@pytest.mark.parametrize("format_name", sorted(ALIGNMENT_FORMATS))
def test_other_alignment_formats_read_like_fasta(ws, format_name):
    newick = "((alpha_1:1,beta:1):1,gamma:1);"
    ws.run(ALIGNMENT_FORMATS[format_name], newick, "--format", format_name, "--reference", "beta",
           "--terminal-gaps", "gap", alignment_name="aln." + format_name)
    assert data_rows(ws) == [[1, 1, 1], [2, 2, 2], [3, 3, 3], [4, 4, 4], [4, 0, 4], [1, 5, 1]]
