"""From alignment characters to the sampler's cell values.

The sampler's values: 0 empty (a gap), 1..4 the residues A, C, G, T, and
5 absent (the sequence takes no part in the column).
"""

import re

EMPTY, ABSENT = 0, 5
RESIDUE_VALUES = {"A": 1, "C": 2, "G": 3, "T": 4, "U": 4}
GAP_CHARACTERS = "-."
# Unknown or ambiguous positions take no part in the column (absent).
AMBIGUITY_CHARACTERS = "RYSWKMBDHV"
MISSING_CHARACTERS = "N?X" + AMBIGUITY_CHARACTERS
# Letters that occur in amino-acid codes but in no nucleotide code.
PROTEIN_ONLY_CHARACTERS = "EFILPQJOZ*"
ACCEPTED_CHARACTERS = set(RESIDUE_VALUES) | set(GAP_CHARACTERS) | set(MISSING_CHARACTERS)


def _value_table():
    """str.translate table from every accepted character to its one-digit value."""
    table = {residue: str(value) for residue, value in RESIDUE_VALUES.items()}
    table.update({gap: str(EMPTY) for gap in GAP_CHARACTERS})
    table.update({missing: str(ABSENT) for missing in MISSING_CHARACTERS})
    table.update({character.lower(): value for character, value in table.items()})
    return str.maketrans(table)


VALUE_TABLE = _value_table()


class MissingData:
    """The missing-data rules and what they found.

    A sequence that starts late or ends early (a partial gene, a read that
    does not cover the whole region) shows gaps before its first base and
    after its last one; read as gaps they would be deletions on its branch.
    Those terminal gaps are coded absent unless `terminal_gaps` is "gap".
    A long internal run of gaps (a gene missing from the assembly) is just as
    likely missing data: runs longer than `long_gap` columns are listed, and
    coded absent when `long_gaps` is "absent".
    """

    def __init__(self, terminal_gaps="absent", long_gap=100, long_gaps="gap"):
        self.terminal_absent = terminal_gaps == "absent"
        self.long_gap = long_gap
        self.long_absent = long_gaps == "absent"
        self.terminal_cells = 0
        self.long_runs = {}  # sequence name -> [(first, last) alignment positions, from 1]

    @property
    def long_cells(self):
        # A run is (first, last), or (chromosome, first, last) along a stitched MAF chromosome.
        return sum(run[-1] - run[-2] + 1 for runs in self.long_runs.values() for run in runs)

    def code(self, name, row):
        """The row's values as a string of digits, with the rules applied."""
        coded = row.translate(VALUE_TABLE)
        first = len(coded) - len(coded.lstrip("05"))  # the first base, or the row's end
        last = max(first, len(coded.rstrip("05")))  # one past the last base
        head, middle, tail = coded[:first], coded[first:last], coded[last:]
        self.terminal_cells += head.count("0") + tail.count("0")
        if self.terminal_absent:
            head, tail = head.replace("0", "5"), tail.replace("0", "5")
        runs = [run.span() for run in re.finditer("0+", middle) if run.end() - run.start() > self.long_gap]
        if runs:
            self.long_runs[name] = [(first + start + 1, first + end) for start, end in runs]
            if self.long_absent:
                pieces, done = [], 0
                for start, end in runs:
                    pieces += [middle[done:start], "5" * (end - start)]
                    done = end
                middle = "".join(pieces) + middle[done:]
        return head + middle + tail


def encode_rows(alignment, order, missing_data):
    """The sampler's data lines: one per alignment column, one value per sequence id."""
    coded = [missing_data.code(alignment.names[index], alignment.rows[index]) for index in order]
    return [" ".join(column) for column in zip(*coded)]


def modelled_columns(reference_row):
    """(alignment position, reference coordinate) of every column where the reference holds a base.

    Both count from 1.  The reference coordinate counts every non-gap character
    of the reference, ambiguity codes included, so it is the position within
    the reference's own ungapped sequence.
    """
    result = []
    coordinate = 0
    for position, character in enumerate(reference_row, start=1):
        if character not in GAP_CHARACTERS:
            coordinate += 1
        if character in RESIDUE_VALUES:
            result.append((position, coordinate))
    return result
