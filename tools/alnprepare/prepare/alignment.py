"""Reading an alignment (FASTA, PHYLIP, NEXUS, Clustal, Stockholm) and checking it."""

import collections
import io
import re

from alncommon.case import ToolError, listing, plural, read_text

from .coding import ACCEPTED_CHARACTERS, AMBIGUITY_CHARACTERS, PROTEIN_ONLY_CHARACTERS, RESIDUE_VALUES

PROGRAM = "alnprepare"

# User-facing format name -> Biopython format name.
FORMATS = {
    "fasta": "fasta",
    "phylip": "phylip-relaxed",
    "phylip-strict": "phylip",
    "nexus": "nexus",
    "clustal": "clustal",
    "stockholm": "stockholm",
}


class Alignment:
    """Sequence names and their aligned rows (upper case), in file order."""

    def __init__(self, names, rows):
        self.names = names
        self.rows = rows

    @property
    def n_columns(self):
        return len(self.rows[0]) if self.rows else 0

    def reference_length(self, index):
        """The length of a sequence's own (ungapped) sequence: its last reference coordinate."""
        row = self.rows[index]
        return len(row) - row.count("-") - row.count(".")


def read_alignment(path, format_name):
    """Read an alignment with Biopython; checks names, lengths and the alphabet."""
    text = read_text(path, "alignment file")
    declared = _check_layout(text, path, format_name)
    from Bio import SeqIO

    try:
        records = list(SeqIO.parse(io.StringIO(text), FORMATS[format_name]))
    except Exception as error:  # Biopython's readers raise many kinds of errors
        detail = str(error) or f"it does not follow the {format_name} layout"
        raise ToolError(f"cannot read alignment {path} as {format_name}: {detail}{_format_hint(format_name)}") from None
    if not records:
        raise ToolError(
            f"alignment {path} holds no sequence when read as {format_name} (choose the format with --format)"
        )
    alignment = Alignment([record.id for record in records], [str(record.seq).upper() for record in records])
    if declared:
        _check_declared_sizes(alignment, path, *declared)
    _check_names(alignment, path)
    _check_lengths(alignment, path)
    _check_alphabet(alignment, path, format_name)
    return alignment


def _first_line(text):
    """(line number, line) of the first line that is not blank, or (None, None)."""
    for number, line in enumerate(text.splitlines(), start=1):
        if line.strip():
            return number, line
    return None, None


def _check_layout(text, path, format_name):
    """Check what Biopython's readers take on trust (a PHYLIP header with a
    negative size, or a Clustal header alone, makes them loop for ever; a
    Stockholm block without its end or a NEXUS file without its first line
    are read as if whole).  Returns the sizes a PHYLIP header declares."""
    number, line = _first_line(text)
    if number is None:
        return None
    if format_name == "fasta" and not line.startswith(">"):
        raise ToolError(f"alignment {path} line {number} does not start with '>': not FASTA"
                        " (choose the format with --format)")
    if format_name == "nexus" and line.strip().upper() != "#NEXUS":
        raise ToolError(f"alignment {path} line {number} is {line.strip()[:40]!r}, not '#NEXUS':"
                        " a NEXUS file starts with #NEXUS (choose the format with --format)")
    if format_name == "stockholm" and "//" not in (other.strip() for other in text.splitlines()):
        raise ToolError(f"alignment {path} has no '//' line: a Stockholm alignment ends with //"
                        " (the file may be cut short)")
    if format_name == "clustal" and not any(other.strip() for other in text.splitlines()[number:]):
        raise ToolError(f"alignment {path} holds nothing after its first line: no Clustal block")
    if format_name.startswith("phylip"):
        fields = line.split()
        if len(fields) != 2 or not all(re.fullmatch(r"0*[1-9][0-9]*", field) for field in fields):
            raise ToolError(f"alignment {path} line {number}: PHYLIP header {line.strip()[:40]!r} must give the"
                            " number of sequences and of columns, two whole numbers of at least 1")
        declared = int(fields[0]), int(fields[1])
        # Each sequence needs a line and each column a character: sizes beyond
        # those are refused here, since the reader would wait for them for ever.
        lines = sum(1 for other in text.splitlines()[number:] if other.strip())
        if declared[0] > lines or declared[1] > len(text):
            raise ToolError(f"alignment {path} line {number}: PHYLIP header {line.strip()[:40]!r} declares"
                            f" {declared[0]} sequences of {declared[1]} columns, more than the"
                            f" {plural(lines, 'line')} that follow can hold")
        return declared
    return None


def _check_declared_sizes(alignment, path, n_sequences, n_columns):
    header = f"its PHYLIP header declares {n_sequences} sequences of {n_columns} columns"
    if len(alignment.names) != n_sequences:
        raise ToolError(f"alignment {path}: {header}, but it holds {len(alignment.names)} sequences")
    for name, row in zip(alignment.names, alignment.rows):
        if len(row) != n_columns:
            raise ToolError(f"alignment {path}: {header}, but sequence {name!r} has {len(row)} columns")


def _check_names(alignment, path):
    counts = collections.Counter(alignment.names)
    duplicated = [name for name in counts if counts[name] > 1]
    if duplicated:
        raise ToolError(f"alignment {path}: duplicated sequence names {listing(duplicated)}")
    for name in alignment.names:
        if not name:
            raise ToolError(f"alignment {path}: a sequence has an empty name")
        if "\t" in name or "\n" in name:
            raise ToolError(f"alignment {path}: sequence name {name!r} holds a tab or line end")
    if len(alignment.names) < 2:
        raise ToolError(
            f"alignment {path} holds a single sequence ({alignment.names[0]!r}); the sampler needs at least two"
        )


def _check_lengths(alignment, path):
    expected = len(alignment.rows[0])
    uneven = [f"{name!r} has {len(row)}" for name, row in zip(alignment.names, alignment.rows) if len(row) != expected]
    if uneven:
        shown = ", ".join(uneven[:8]) + (", ..." if len(uneven) > 8 else "")
        raise ToolError(
            f"alignment {path}: sequences of unequal length: the first sequence"
            f" {alignment.names[0]!r} has {expected} columns, {shown}"
        )
    if expected == 0:
        raise ToolError(f"alignment {path} has no columns")


def _check_alphabet(alignment, path, format_name):
    for name, row in zip(alignment.names, alignment.rows):
        foreign = set(row) - ACCEPTED_CHARACTERS
        if foreign:
            position = min(row.index(character) for character in foreign)
            _reject_character(path, format_name, name, row[position], position)
    # Amino-acid rows made only of letters shared with the nucleotide codes
    # (A C D G H K M N R S T V W Y) slip through the test above; real DNA holds
    # far more plain bases than ambiguity codes.
    text = "".join(alignment.rows)
    bases = sum(text.count(base) for base in RESIDUE_VALUES)
    ambiguous = sum(text.count(code) for code in AMBIGUITY_CHARACTERS)
    if ambiguous > bases:
        raise ToolError(
            f"alignment {path} holds {ambiguous} ambiguity codes ({AMBIGUITY_CHARACTERS})"
            f" but only {bases} plain bases (ACGTU): it looks like a protein alignment;"
            f" {PROGRAM} handles DNA and RNA only"
        )
    if bases == 0:
        raise ToolError(f"alignment {path} holds no nucleotide A, C, G, T or U at all")


def _format_hint(format_name):
    if format_name == "phylip":
        return " (if the names fill a fixed field of 10 characters, use --format phylip-strict)"
    return ""


def _reject_character(path, format_name, name, character, position):
    where = f"alignment {path}: sequence {name!r} holds {character!r} at alignment position {position + 1}"
    hint = _format_hint(format_name)
    if character in PROTEIN_ONLY_CHARACTERS:
        raise ToolError(
            f"{where}, an amino-acid code: protein alignments are not supported, {PROGRAM} handles DNA and RNA only{hint}"
        )
    raise ToolError(
        f"{where}, which is neither a nucleotide (A C G T U), a gap (- .) nor a"
        f" missing-data code (N ? X {' '.join(AMBIGUITY_CHARACTERS)}){hint}"
    )


def sequence_order(alignment, reference):
    """Alignment row indices in sequence-id order: the reference, then the others in file order."""
    if reference is None:
        reference_index = 0
    elif reference in alignment.names:
        reference_index = alignment.names.index(reference)
    else:
        raise ToolError(
            f"--reference {reference!r}: no sequence of that name in the alignment"
            f" (names: {listing(alignment.names)})"
        )
    return [reference_index] + [i for i in range(len(alignment.names)) if i != reference_index]
