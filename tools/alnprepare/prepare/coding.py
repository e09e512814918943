"""From alignment characters to the sampler's cell values.

The sampler's values: 0 empty (a gap), 1..4 the residues A, C, G, T, and
5 absent (the sequence takes no part in the column).
"""

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


def encode_rows(alignment, order):
    """The sampler's data lines: one per alignment column, one value per sequence id."""
    coded = [alignment.rows[index].translate(VALUE_TABLE) for index in order]
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
