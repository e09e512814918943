"""Reading a MAF genome alignment block by block and stitching it along a reference species.

A MAF file from a whole-genome aligner holds one block per aligned region;
each block lists the species that align there, each row named by its `src`
(`hg17.chr22`: species `hg17`, sequence `chr22`).  The blocks that hold the
reference species are laid end to end along each of its sequences
(chromosomes).  A species missing from a block takes no part in that block's
columns: its cells there are absent data, never gaps (a gap would be read as
a deletion).

The file is read twice, block by block, so that memory stays bounded by a
window whatever the file's size: a first pass checks every line and counts
what the second needs (the species, the modelled columns of every
chromosome, the missing-data runs of every species), and the second pass
stitches the blocks and hands each window over as soon as it is complete.
A file whose blocks are not in reference order on some chromosome is sorted
in memory instead (the report says so).

Overlapping blocks: aligners that project a multiple alignment onto a
reference (maf_project) leave neighbouring blocks that share a few
reference positions.  A block keeps only its columns past the reference
positions that blocks before it took ("trim"), so every aligned reference
base appears once; a block wholly inside those positions is dropped.

The reader is this module's own: Debian's Biopython MAF reader stops at the
comment lines that close many real files ('#eof'), fails on 'a' lines
without a score, reads a strand 'x' as '+' and answers an 'a' line without
rows or a srcSize of 0 with Python internals, while a user needs every fault
named with its line.

Soft-masked (lower-case) bases are bases: masking marks repeats, not missing
sequence.  A block whose reference row is on the minus strand is turned
around (every row reverse-complemented), so that the reference runs forward.
"""

import collections
import gzip
import re
import zlib

from alncommon.case import ToolError, listing, plural, reading_errors

from .coding import ACCEPTED_CHARACTERS, GAP_CHARACTERS, RESIDUE_VALUES, VALUE_TABLE

GZIP_MAGIC = b"\x1f\x8b"
ABSENT_CHARACTER = "N"
COMPLEMENT = str.maketrans("ACGTURYKMBVDHSWN-.?X", "TGCAAYRMKVBHDSWN-.?X")
STRANDS = ("+", "-")
# Lines of a block that are read past: i (context), e (a species present
# with no aligned bases: absent here), q (base qualities).
IGNORED_LINES = ("i", "e", "q")
MESSAGE_TEXT_LIMIT = 40


class Row:
    """One 's' line: the row's text (upper case) and its span on the plus strand (from 0, end excluded)."""

    __slots__ = ("src", "text", "start", "end", "strand", "size")

    def __init__(self, src, text, start, end, strand, size):
        self.src, self.text, self.start, self.end, self.strand, self.size = src, text, start, end, strand, size


class Block:
    """One alignment block: the line of its 'a' line and its rows by species."""

    __slots__ = ("line", "rows")

    def __init__(self, line):
        self.line = line
        self.rows = {}

    def width(self):
        return len(next(iter(self.rows.values())).text)

    def turned_around(self):
        """The block read along the other strand of every row."""
        flipped = Block(self.line)
        for species, row in self.rows.items():
            flipped.rows[species] = Row(row.src, row.text[::-1].translate(COMPLEMENT), row.start, row.end,
                                        "+" if row.strand == "-" else "-", row.size)
        return flipped


def species_of(src):
    """The species of a MAF `src`: the part before the first '.'."""
    return src.split(".", 1)[0]


def chromosome_of(src):
    """The sequence of a MAF `src`: the part after the first '.' (the whole name without one)."""
    return src.split(".", 1)[1] if "." in src else src


def shown(text):
    """A value for a message, cut to a readable length."""
    return repr(text if len(text) <= MESSAGE_TEXT_LIMIT else text[:MESSAGE_TEXT_LIMIT] + "...")


def _open(path):
    """The file as text, gzip-compressed (.maf.gz) or not; checks its first line."""
    with reading_errors(path, "MAF file"):
        with open(path, "rb") as raw:
            compressed = raw.read(2) == GZIP_MAGIC
        handle = gzip.open(path, "rt", encoding="utf-8") if compressed else open(path, encoding="utf-8")
        try:
            first = handle.readline()
            handle.seek(0)
        except BaseException:
            handle.close()
            raise
    if not first.strip():
        handle.close()
        raise ToolError(f"MAF {path} line 1 is empty: a MAF file starts with '##maf' (choose the format with --format)")
    if not (first.startswith("##maf") or first.startswith("track ")):
        handle.close()
        raise ToolError(f"MAF {path} line 1 does not start with '##maf': not a MAF file (choose the format with"
                        " --format)")
    return handle


class _Reader:
    """The blocks of a MAF file in file order, every line checked."""

    def __init__(self, path):
        self.path = path
        self.number = 0

    def fault(self, message, number=None):
        return ToolError(f"MAF {self.path} line {self.number if number is None else number}: {message}")

    def blocks(self):
        handle = _open(self.path)
        try:
            yield from self._blocks(handle)
        except UnicodeDecodeError as error:
            raise ToolError(f"MAF file {self.path} is not a text file ({error.reason} near line {self.number + 1})") \
                from None
        except (EOFError, zlib.error, gzip.BadGzipFile) as error:
            raise ToolError(f"cannot read MAF file {self.path} near line {self.number + 1}: the compressed file is"
                            f" damaged ({error or 'cut short'})") from None
        except OSError as error:
            raise ToolError(f"cannot read MAF file {self.path} near line {self.number + 1}:"
                            f" {error.strerror or error}") from None
        finally:
            handle.close()

    def _blocks(self, handle):
        block = None
        for line in handle:
            self.number += 1
            if "\0" in line:
                raise self.fault("holds NUL bytes: not a text file")
            fields = line.split()
            if not fields:
                if block is not None:
                    yield self._finished(block)
                    block = None
                continue
            kind = fields[0]
            if kind.startswith("#") or (self.number == 1 and kind in ("track", "browser")):
                continue  # comments anywhere ("##eof maf" closes many files)
            if kind == "a":
                if block is not None:
                    yield self._finished(block)
                block = Block(self.number)
            elif kind == "s":
                if block is None:
                    raise self.fault("an 's' line outside a block (no 'a' line before it)")
                self._add_row(block, fields)
            elif kind in IGNORED_LINES:
                if block is None:
                    raise self.fault(f"an '{kind}' line outside a block (no 'a' line before it)")
            else:
                raise self.fault(f"unknown line type {shown(kind)}: a MAF block holds 'a', 's', 'i', 'e' and 'q'"
                                 " lines")
        if block is not None:
            yield self._finished(block)

    def _finished(self, block):
        if not block.rows:
            raise self.fault("the block has no 's' line (an 'a' line without rows)", block.line)
        return block

    def _whole(self, text, what, least):
        if not re.fullmatch(r"[0-9]+", text) or int(text) < least:
            raise self.fault(f"{what} {shown(text)} is not a whole number of at least {least}")
        return int(text)

    def _add_row(self, block, fields):
        if len(fields) != 7:
            raise self.fault(f"an 's' line has 7 fields (s src start size strand srcSize text), found {len(fields)}")
        _, src, start_text, size_text, strand, src_size_text, text = fields
        start = self._whole(start_text, "start", 0)
        size = self._whole(size_text, "size", 0)
        src_size = self._whole(src_size_text, "srcSize", 1)
        if strand not in STRANDS:
            raise self.fault(f"strand {shown(strand)} of {shown(src)} is neither '+' nor '-'")
        if start + size > src_size:
            raise self.fault(f"{shown(src)} spans {start}..{start + size}, beyond its srcSize {src_size}")
        text = text.upper()
        foreign = set(text) - ACCEPTED_CHARACTERS
        if foreign:
            character = min(foreign, key=text.index)
            raise self.fault(f"{shown(src)} holds {character!r} at block column {text.index(character) + 1},"
                             " which is neither a nucleotide, a gap nor N")
        bases = len(text) - text.count("-") - text.count(".")
        if bases != size:
            raise self.fault(f"{shown(src)} declares size {size} but its text holds {bases} bases")
        if block.rows and len(text) != block.width():
            raise self.fault(f"{shown(src)} has {len(text)} columns, the block's first row {block.width()}")
        species = species_of(src)
        if species in block.rows:
            raise self.fault(f"species {species!r} has two rows in the block at line {block.line}"
                             f" ({block.rows[species].src!r} and {src!r}); keep one row per species and block")
        if strand == "-":  # coordinates of the minus strand, counted from its own start
            start = src_size - start - size
        block.rows[species] = Row(src, text, start, start + size, strand, src_size)


def reference_positions(text, start):
    """(alignment position, reference coordinate) of every column where `text` holds a base, both from 1.

    The coordinate counts every non-gap character, N included, from `start`
    (0-based) + 1.
    """
    result = []
    coordinate = start
    for position, character in enumerate(text, start=1):
        if character not in GAP_CHARACTERS:
            coordinate += 1
            if character in RESIDUE_VALUES:
                result.append((position, coordinate))
    return result


class Trim:
    """The part of a block past the reference positions taken before it: its first kept column."""

    def __init__(self, block, reference, taken_end):
        row = block.rows[reference]
        self.first_column = 0
        self.bases = 0
        self.dropped = False
        if row.start >= taken_end:
            return
        self.bases = min(row.end, taken_end) - row.start
        self.dropped = row.end <= taken_end
        # The column of the last reference base that was taken already.
        count = 0
        for column, character in enumerate(row.text):
            if character not in GAP_CHARACTERS:
                count += 1
                if count == self.bases:
                    self.first_column = column + 1
                    break


class ChromosomeStats:
    """What the first pass learns about the blocks on one reference chromosome."""

    def __init__(self, name):
        self.name = name
        self.size = 0  # srcSize of the reference sequence
        self.blocks = 0
        self.columns = 0
        self.modelled = 0
        self.last_start = -1
        self.taken_end = 0
        self.trimmed_blocks = self.trimmed_bases = self.dropped_blocks = 0
        self.runs = {}  # species -> GapRuns


class GapRuns:
    """Where a species' residues and long gap runs lie along one stitched chromosome.

    Fed the species' coded pieces (0 gap, 1-4 residue, 5 absent) in order,
    it finds what the missing-data rules need without keeping the row: the
    first and last residue, every run of more than `long_gap` gaps between
    them (long internal runs), and the number of gaps before the first and
    after the last residue (terminal gaps).  The same rules applied to the
    whole row at once give the same answer.
    """

    def __init__(self, long_gap):
        self.long_gap = long_gap
        self.long_pattern = re.compile("0{%d,}" % (long_gap + 1))
        self.first = None  # stitched column of the first residue
        self.last = None
        self.open_start = None  # a gap run that reaches the end of the pieces so far
        self.candidates = []  # (start, end) runs of more than long_gap gaps after the first residue
        self.leading_gaps = 0
        self.gaps_after_last = 0

    def _close(self, end):
        start, self.open_start = self.open_start, None
        if end - start > self.long_gap and self.first is not None and self.first < start:
            self.candidates.append((start, end))

    def add(self, coded, offset):
        width = len(coded)
        lead = width - len(coded.lstrip("0"))
        if lead == width:  # gaps only: the open run goes on
            if width and self.open_start is None:
                self.open_start = offset
            if self.first is None:
                self.leading_gaps += width
            self.gaps_after_last += width
            return
        if lead and self.open_start is None:
            self.open_start = offset
        if self.open_start is not None:
            self._close(offset + lead)
        residue = re.search("[1-4]", coded)
        if residue is None:
            if self.first is None:
                self.leading_gaps += coded.count("0")
            self.gaps_after_last += coded.count("0")
        else:
            first, last = residue.start(), max(coded.rfind(value) for value in "1234")
            if self.first is None:
                self.leading_gaps += coded.count("0", 0, first)
                self.first = offset + first
            self.last = offset + last
            self.gaps_after_last = coded.count("0", last + 1)
        for match in self.long_pattern.finditer(coded):
            start, end = match.span()
            if 0 < start and end < width and self.first is not None and self.first < offset + start:
                self.candidates.append((offset + start, offset + end))
        trail = width - len(coded.rstrip("0"))
        if trail:
            self.open_start = offset + width - trail

    def long_runs(self):
        """The long internal runs (start, end excluded): those with a residue after them."""
        return [run for run in self.candidates if self.last is not None and run[1] <= self.last]

    def terminal_gaps(self):
        return self.leading_gaps + (self.gaps_after_last if self.last is not None else 0)

    def absent_ranges(self, terminal_absent, long_absent):
        """Sorted (start, end) stitched columns whose gaps the rules code absent."""
        ranges = []
        if terminal_absent:
            ranges.append((0, self.first if self.first is not None else float("inf")))
        if long_absent:
            ranges += self.long_runs()
        if terminal_absent and self.last is not None:
            ranges.append((self.last + 1, float("inf")))
        return ranges


class Scan:
    """The first pass: every block checked, and what the second pass needs counted."""

    def __init__(self, path, reference, chromosome, overlaps, long_gap):
        self.path = path
        self.reference = reference
        self.chromosome = chromosome
        self.overlaps = overlaps
        self.long_gap = long_gap
        self.blocks = 0
        self.species = []  # in order of first appearance in a kept block, the reference first
        self.seen_species = {}  # every species of the file -> blocks
        self.reference_chromosomes = collections.Counter()  # blocks holding the reference per chromosome
        self.chromosomes = {}  # kept chromosome -> ChromosomeStats, in file order
        self.sorted = True
        self.unsorted_at = None
        self.without_reference = 0

    def kept_chromosome(self, block, count=True):
        """The reference's chromosome in the block when it is to be prepared, else None."""
        row = block.rows.get(self.reference)
        if row is None:
            return None
        name = chromosome_of(row.src)
        if count:
            self.reference_chromosomes[name] += 1
        return name if self.chromosome is None or name == self.chromosome else None

    def note(self, block):
        """Count a block of the file; returns its kept chromosome, or None."""
        self.blocks += 1
        if self.reference is None:
            self.reference = next(iter(block.rows))
        for species in block.rows:
            self.seen_species[species] = self.seen_species.get(species, 0) + 1
        name = self.kept_chromosome(block)
        if name is None:
            self.without_reference += self.reference not in block.rows
        return name

    def order_check(self, block, stats):
        """False when the block lies before the previous block of its chromosome (the file is unsorted)."""
        row = block.rows[self.reference]
        if row.start < stats.last_start:
            if self.unsorted_at is None:
                self.unsorted_at = (block.line, stats.name)
            self.sorted = False
            return False
        stats.last_start = row.start
        return True

    def add(self, block):
        """Count one block in file order; returns False once the blocks are found out of order."""
        name = self.note(block)
        if name is None:
            return True
        stats = self.chromosomes.get(name)
        if stats is None:
            stats = self.chromosomes[name] = ChromosomeStats(name)
        if not self.order_check(block, stats):
            return False
        self.stitch_block(block, stats)
        return True

    def stitch_block(self, block, stats):
        row = block.rows[self.reference]
        stats.size = row.size
        if row.strand == "-":
            block = block.turned_around()
            row = block.rows[self.reference]
        trim = Trim(block, self.reference, stats.taken_end)
        if trim.bases:
            if self.overlaps == "error":
                raise ToolError(f"MAF {self.path} block at line {block.line}: the reference {row.src!r} at positions"
                                f" {row.start + 1}-{row.end} overlaps positions up to {stats.taken_end} taken by"
                                " an earlier block; each reference position may be aligned once only"
                                " (--overlaps trim keeps only the block's columns past them)")
            stats.trimmed_bases += trim.bases
            if trim.dropped:
                stats.dropped_blocks += 1
                return
            stats.trimmed_blocks += 1
        stats.taken_end = max(stats.taken_end, row.end)
        stats.blocks += 1
        for species in block.rows:
            if species not in self.species:
                self.species.append(species)
        width = block.width() - trim.first_column
        reference_text = row.text[trim.first_column:]
        stats.modelled += sum(reference_text.count(residue) for residue in RESIDUE_VALUES)
        for species, other in block.rows.items():
            runs = stats.runs.get(species)
            if runs is None:
                runs = stats.runs[species] = GapRuns(self.long_gap)
            runs.add(other.text[trim.first_column:].translate(VALUE_TABLE), stats.columns)
        for species, runs in stats.runs.items():
            if species not in block.rows:
                runs.add("5" * width, stats.columns)
        stats.columns += width

    def finish(self):
        """Check what only the whole file shows; order the species, reference first."""
        if self.blocks == 0:
            raise ToolError(f"MAF {self.path} holds no alignment block")
        if not self.reference_chromosomes:
            raise ToolError(f"--reference {self.reference!r}: no block of MAF {self.path} holds that species"
                            f" (species: {listing(self.seen_species)})")
        if self.chromosome is not None and not self.chromosomes:
            raise ToolError(f"--chrom {self.chromosome!r}: no block of MAF {self.path} has the reference"
                            f" {self.reference!r} on it (its sequences: {listing(self.reference_chromosomes)})")
        self.species = [self.reference] + [name for name in self.species if name != self.reference]
        if len(self.species) < 2:
            where = listing(self.chromosomes)
            raise ToolError(f"MAF {self.path}: only the reference {self.reference!r} is in the blocks of {where};"
                            " the sampler needs at least two species")

    def skipped(self):
        """Blocks left out, by reason."""
        reasons = {"without the reference species": self.without_reference,
                   "on other reference sequences": sum(self.reference_chromosomes.values())
                   - sum(self.reference_chromosomes[name] for name in self.chromosomes)}
        return {reason: count for reason, count in reasons.items() if count}


def scan(path, reference=None, chromosome=None, overlaps="trim", long_gap=100):
    """The first pass over the file: a Scan, and {chromosome: blocks sorted in memory} when the file is not
    in reference order (None when it is, and the second pass streams it)."""
    result = Scan(path, reference, chromosome, overlaps, long_gap)
    for block in _Reader(path).blocks():
        if not result.add(block):
            break
    if result.sorted:
        result.finish()
        return result, None
    # Out of reference order: read every kept block into memory, sort, count again.
    unsorted_at = result.unsorted_at
    result = Scan(path, reference, chromosome, overlaps, long_gap)
    kept = {}
    for block in _Reader(path).blocks():
        name = result.note(block)
        if name is not None:
            kept.setdefault(name, []).append(block)
    for name, blocks in kept.items():
        blocks.sort(key=lambda block: (block.rows[result.reference].start, block.line))
        stats = result.chromosomes[name] = ChromosomeStats(name)
        for block in blocks:
            result.stitch_block(block, stats)
    result.sorted, result.unsorted_at = False, unsorted_at
    result.finish()
    return result, kept


def blocks_in_order(scan_result, kept):
    """(chromosome, block) of every kept block, each chromosome's in reference order: the file streamed a
    second time, or the blocks sorted in memory."""
    if kept is not None:
        for name, blocks in kept.items():
            yield from ((name, block) for block in blocks)
        return
    for block in _Reader(scan_result.path).blocks():
        name = scan_result.kept_chromosome(block, count=False)
        if name is not None:
            yield name, block


def describe_overlaps(scan_result):
    """The report's line on trimmed and dropped blocks (None when no block overlapped)."""
    trimmed = sum(stats.trimmed_blocks for stats in scan_result.chromosomes.values())
    dropped = sum(stats.dropped_blocks for stats in scan_result.chromosomes.values())
    bases = sum(stats.trimmed_bases for stats in scan_result.chromosomes.values())
    if not (trimmed or dropped):
        return None
    return (f"{plural(trimmed, 'block')} overlapping earlier ones on the reference trimmed,"
            f" {plural(dropped, 'block')} wholly inside them dropped, {plural(bases, 'reference base')} left out"
            " (each aligned reference position is kept once)")
