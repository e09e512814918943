"""Reading a MAF genome alignment and stitching its blocks along a reference species.

A MAF file from a whole-genome aligner holds one block per aligned region;
each block lists the species that align there, each row named by its `src`
(`hg17.chr22`: species `hg17`, sequence `chr22`).  The blocks are read with
Biopython's MAF reader, kept when the reference species is in them (on the
chosen chromosome), put in reference order and laid end to end.  A species
missing from a block takes no part in that block's columns: its cells there
are absent data, never gaps (a gap would be read as a deletion).

Soft-masked (lower-case) bases are bases: masking marks repeats, not missing
sequence.  Only the reference's plus strand can be stitched: its coordinates
must grow along the stitched alignment.
"""

import collections
import gzip
import zlib

from alncommon.case import ToolError, listing, plural, reading_errors

from .alignment import Alignment
from .coding import ACCEPTED_CHARACTERS, modelled_columns

# The cells of a species missing from a block: coded absent (5) like N.
ABSENT_CHARACTER = "N"
GZIP_MAGIC = b"\x1f\x8b"


class MafAlignment(Alignment):
    """The stitched alignment: one row per species, the reference first.

    `columns` holds (alignment position, reference coordinate) of every
    modelled column, both from 1, the coordinate on `chromosome`.
    """

    def __init__(self, names, rows, chromosome, columns, blocks_used, blocks_skipped):
        super().__init__(names, rows)
        self.chromosome = chromosome
        self.columns = columns
        self.blocks_used = blocks_used
        self.blocks_skipped = blocks_skipped  # reason -> number of blocks


class _Block:
    """One alignment block: the reference row's place and every species' row."""

    def __init__(self, line, rows):
        self.line = line
        self.rows = rows  # species -> (src, aligned text, start, end, strand)

    def width(self):
        return len(next(iter(self.rows.values()))[1])


def species_of(src):
    """The species of a MAF `src`: the part before the first '.'."""
    return src.split(".", 1)[0]


def chromosome_of(src):
    """The sequence of a MAF `src`: the part after the first '.' (the whole name without one)."""
    return src.split(".", 1)[1] if "." in src else src


class _CountedLines:
    """The file's lines as Biopython's MAF reader takes them, counted.

    Keeps the line number of every block's 'a' line (the reader asks for
    lines one at a time and looks at most one block ahead), so that messages
    can name the block.  Biopython 1.80 reads a block's score unconditionally
    and fails on an 'a' line without one, which MAF allows: such a line is
    handed over with a score of 0 (the score is not used here).
    """

    def __init__(self, handle, path):
        self._handle = handle
        self._path = path
        self.number = 0
        self.block_lines = []

    def read(self, size=-1):  # Biopython checks that the stream is in text mode
        return self._handle.read(size)

    def close(self):
        self._handle.close()

    def __iter__(self):
        return self

    def __next__(self):
        line = next(self._handle)
        self.number += 1
        if "\0" in line:
            raise ToolError(f"MAF {self._path} line {self.number} holds NUL bytes: not a text file")
        if line[:1] == "a" and line[1:2] in (" ", "\t", "\n", "\r", ""):
            self.block_lines.append(self.number)
            if "score=" not in line:
                line = line.rstrip("\r\n") + " score=0\n"
        return line


def _open(path):
    """The file as text, gzip-compressed (.maf.gz) or not; checks its first line."""
    with reading_errors(path, "MAF file"):
        with open(path, "rb") as raw:
            compressed = raw.read(2) == GZIP_MAGIC
        handle = gzip.open(path, "rt", encoding="utf-8") if compressed else open(path, encoding="utf-8")
        first = handle.readline()
        handle.seek(0)
    if not first.strip():
        handle.close()
        raise ToolError(f"MAF {path} line 1 is empty: a MAF file starts with '##maf' (choose the format with --format)")
    if not (first.startswith("##maf") or first.startswith("track ")):
        handle.close()
        raise ToolError(f"MAF {path} line 1 does not start with '##maf': not a MAF file (choose the format with"
                        " --format)")
    return handle


def _read_blocks(path):
    """Every block of the file as a _Block, in file order."""
    from Bio.Align.maf import AlignmentIterator

    handle = _open(path)
    lines = _CountedLines(handle, path)
    blocks = []
    try:
        for alignment in AlignmentIterator(lines):
            blocks.append(_block(alignment, lines.block_lines[len(blocks)], path))
    except ToolError:
        raise
    except UnicodeDecodeError as error:
        raise ToolError(f"MAF file {path} is not a text file ({error.reason} near line {lines.number + 1})") from None
    except (EOFError, zlib.error, gzip.BadGzipFile) as error:
        raise ToolError(f"cannot read MAF file {path} near line {lines.number + 1}: the compressed file is damaged"
                        f" ({error or 'cut short'})") from None
    except Exception as error:  # Biopython's reader raises ValueError, AssertionError, IndexError...
        detail = str(error).strip().replace("\n", " ") or "a line does not follow the MAF layout"
        raise ToolError(f"cannot read MAF {path} near line {lines.number}: {detail}") from None
    finally:
        handle.close()
    if not blocks:
        raise ToolError(f"MAF {path} holds no alignment block")
    return blocks


def _block(alignment, line, path):
    rows = {}
    for index, record in enumerate(alignment.sequences):
        src = record.id
        species = species_of(src)
        if species in rows:
            raise ToolError(f"MAF {path} block at line {line}: species {species!r} has two rows"
                            f" ({rows[species][0]!r} and {src!r}); keep one row per species and block")
        text = alignment[index].upper()
        foreign = set(text) - ACCEPTED_CHARACTERS
        if foreign:
            character = min(foreign, key=text.index)
            raise ToolError(f"MAF {path} block at line {line}: {src!r} holds {character!r} at block column"
                            f" {text.index(character) + 1}, which is neither a nucleotide, a gap nor N")
        first, last = alignment.coordinates[index][0], alignment.coordinates[index][-1]
        # Biopython gives a minus-strand row in the coordinates of the plus
        # strand, running backwards.
        strand = "-" if first > last else "+"
        rows[species] = (src, text, int(min(first, last)), int(max(first, last)), strand)
    return _Block(line, rows)


def _reference_blocks(blocks, reference, chromosome, path):
    """The blocks that hold the reference on the chosen chromosome; the chromosome; skipped counts."""
    if reference is None:
        reference = next(iter(blocks[0].rows))
    holding = [block for block in blocks if reference in block.rows]
    skipped = collections.Counter()
    if not holding:
        species = list(dict.fromkeys(name for block in blocks for name in block.rows))
        raise ToolError(f"--reference {reference!r}: no block of MAF {path} holds that species"
                        f" (species: {listing(species)})")
    skipped["without the reference species"] = len(blocks) - len(holding)
    chromosomes = collections.Counter(chromosome_of(block.rows[reference][0]) for block in holding)
    if chromosome is None:
        if len(chromosomes) > 1:
            shown = ", ".join(f"{name!r} ({plural(count, 'block')})" for name, count in chromosomes.most_common(8))
            raise ToolError(f"MAF {path}: the reference {reference!r} lies on {len(chromosomes)} sequences ({shown});"
                            " choose one with --chrom NAME (one case per chromosome)")
        chromosome = next(iter(chromosomes))
    elif chromosome not in chromosomes:
        raise ToolError(f"--chrom {chromosome!r}: no block of MAF {path} has the reference {reference!r} on it"
                        f" (its sequences: {listing(chromosomes)})")
    kept = [block for block in holding if chromosome_of(block.rows[reference][0]) == chromosome]
    skipped["on other reference sequences"] = len(holding) - len(kept)
    return reference, chromosome, kept, {reason: count for reason, count in skipped.items() if count}


def _check_reference_order(blocks, reference, path):
    """Sort the blocks along the reference; refuse the minus strand and overlaps."""
    for block in blocks:
        src, _, start, end, strand = block.rows[reference]
        if strand == "-":
            raise ToolError(f"MAF {path} block at line {block.line}: the reference {src!r} is on the minus strand"
                            f" (positions {start + 1}-{end}); blocks can be stitched along the reference's plus"
                            " strand only (turn such blocks around, e.g. with maf-flip tools, or choose another"
                            " --reference)")
    ordered = sorted(blocks, key=lambda block: block.rows[reference][2:4])
    for before, after in zip(ordered, ordered[1:]):
        _, _, start, end, _ = before.rows[reference]
        _, _, next_start, next_end, _ = after.rows[reference]
        if next_start < end:
            raise ToolError(f"MAF {path}: the blocks at lines {before.line} and {after.line} overlap on the reference"
                            f" {after.rows[reference][0]!r} (positions {start + 1}-{end} and"
                            f" {next_start + 1}-{next_end}); each reference position may be aligned once only")
    return ordered


def read_maf(path, reference=None, chromosome=None):
    """Read, check and stitch a MAF file; returns a MafAlignment."""
    blocks = _read_blocks(path)
    reference, chromosome, kept, skipped = _reference_blocks(blocks, reference, chromosome, path)
    kept = _check_reference_order(kept, reference, path)
    species = [reference] + [name for name in dict.fromkeys(name for block in kept for name in block.rows)
                             if name != reference]
    if len(species) < 2:
        raise ToolError(f"MAF {path}: only the reference {reference!r} is in the blocks of {chromosome!r};"
                        " the sampler needs at least two species")
    pieces = {name: [] for name in species}
    columns = []
    offset = 0
    for block in kept:
        width = block.width()
        for name in species:
            row = block.rows.get(name)
            pieces[name].append(row[1] if row else ABSENT_CHARACTER * width)
        _, text, start, _, _ = block.rows[reference]
        columns += [(offset + position, start + coordinate) for position, coordinate in modelled_columns(text)]
        offset += width
    rows = ["".join(pieces[name]) for name in species]
    return MafAlignment(species, rows, chromosome, columns, len(kept), skipped)
