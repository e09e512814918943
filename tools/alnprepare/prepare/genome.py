"""The second pass over a MAF file: blocks stitched along each reference chromosome and cut into
windows as soon as each is complete, so that memory holds about one window per chromosome.

The first pass (maf.Scan) counted every chromosome's modelled columns, so
the windows' bounds are known before the first block is stitched, and it
found where every species' residues and long gap runs lie, so the
missing-data rules code each window alone exactly as they would code the
whole row.
"""

import bisect

from alncommon.case import ToolError, plural

from .coding import GAP_CHARACTERS, RESIDUE_VALUES, VALUE_TABLE
from .maf import ABSENT_CHARACTER, Trim
from .windows import Window, window_bounds, window_names


def case_stem(case, chromosome, several):
    """The stem of a chromosome's window cases: NAME, or NAME_CHROM when the alignment has several."""
    stem = case.rstrip("/")
    if not several:
        return stem
    safe = "".join(character if character.isalnum() or character in "_-" else "_" for character in chromosome)
    return f"{stem}_{safe}"


def plan_windows(scan, case, width, min_columns):
    """({chromosome: (window bounds in modelled columns, case names)}, [chromosomes left out]); one window
    without --window.  With --window, a chromosome of fewer than min_columns modelled columns is left out
    (too short for the sampler); when all are, the alignment is refused."""
    plans = {}
    stems = set()
    several = len(scan.chromosomes) > 1
    if width is not None and width < min_columns:
        raise ToolError(f"--window {width}: a window needs at least --min-columns {min_columns} modelled columns")
    least = 2 if width is None else min_columns
    short = [name for name, stats in scan.chromosomes.items() if stats.modelled < least]
    if len(short) == len(scan.chromosomes):
        counts = ", ".join(f"{stats.name!r}: {stats.modelled}" for stats in list(scan.chromosomes.values())[:8])
        raise ToolError(f"the reference {scan.reference!r} holds A, C, G, T or U in too few columns ({counts}):"
                        f" the sampler needs at least {least} modelled columns (--min-columns) per case")
    for name, stats in scan.chromosomes.items():
        if name in short:
            continue
        stem = case_stem(case, name, several)
        while stem in stems:  # two names that differ only in characters a folder name cannot hold
            stem += "_"
        stems.add(stem)
        bounds = [(0, stats.modelled - 1)] if width is None else window_bounds(stats.modelled, width, min_columns)
        names = [case] if width is None else window_names(stem + "/", len(bounds))
        plans[name] = (bounds, names)
    return plans, short


class MissingRules:
    """The missing-data rules of one chromosome, from the first pass, applied to a stretch of columns."""

    def __init__(self, stats, terminal_absent, long_absent):
        self.ranges = {species: runs.absent_ranges(terminal_absent, long_absent)
                       for species, runs in stats.runs.items()}
        self.starts = {species: [start for start, _ in ranges] for species, ranges in self.ranges.items()}

    def code(self, species, text, offset):
        """The values of `text` (stitched columns from `offset`) with the rules' gaps coded absent."""
        coded = text.translate(VALUE_TABLE)
        ranges = self.ranges.get(species)
        if not ranges:
            return coded
        end = offset + len(coded)
        index = max(0, bisect.bisect_right(self.starts[species], offset) - 1)
        pieces, done = [], 0
        for start, stop in ranges[index:]:
            if start >= end:
                break
            start, stop = max(start, offset) - offset, min(stop, end) - offset
            if stop <= start:
                continue
            pieces += [coded[done:start], coded[start:stop].replace("0", "5")]
            done = stop
        pieces.append(coded[done:])
        return "".join(pieces)


class Stitcher:
    """Lays one chromosome's blocks end to end and yields its windows as they complete."""

    def __init__(self, scan, name, plan, rules):
        self.reference = scan.reference
        self.species = scan.species
        self.name = name
        self.size = scan.chromosomes[name].size
        self.bounds, self.names = plan
        self.rules = rules
        self.taken_end = 0
        self.pieces = {species: [] for species in self.species}
        self.offset = 0  # stitched column of the first buffered column
        self.width = 0  # buffered columns
        self.columns = []  # (stitched column, reference coordinate) of the buffered modelled columns
        self.window = 0  # the next window to yield

    def add(self, block):
        row = block.rows[self.reference]
        if row.strand == "-":
            block = block.turned_around()
            row = block.rows[self.reference]
        trim = Trim(block, self.reference, self.taken_end)
        if trim.dropped:
            return
        self.taken_end = max(self.taken_end, row.end)
        first = trim.first_column
        width = block.width() - first
        for species in self.species:
            other = block.rows.get(species)
            self.pieces[species].append(other.text[first:] if other else ABSENT_CHARACTER * width)
        coordinate = row.start + trim.bases
        column = self.offset + self.width
        for character in row.text[first:]:
            if character not in GAP_CHARACTERS:
                coordinate += 1
                if character in RESIDUE_VALUES:
                    self.columns.append((column, coordinate))
            column += 1
        self.width += width
        yield from self._complete()

    def _complete(self):
        """The windows whose successor's first modelled column is buffered."""
        while self.window + 1 < len(self.bounds):
            first, last = self.bounds[self.window]
            count = last - first + 1
            if len(self.columns) <= count:
                return
            end, next_coordinate = self.columns[count]
            yield self._cut(count, end, next_coordinate - 1)

    def finish(self):
        """The last window, once every block is in."""
        first, last = self.bounds[-1]
        if self.window != len(self.bounds) - 1 or len(self.columns) != last - first + 1:
            raise ToolError(f"the blocks on {self.name!r} held other columns when read a second time: was the MAF"
                            " file changed while it was read?")
        yield self._cut(last - first + 1, self.offset + self.width, self.columns[last - first][1])

    def _cut(self, count, end, last_position):
        size = end - self.offset
        lines_by_species = []
        for species in self.species:
            text = "".join(self.pieces[species])
            self.pieces[species] = [text[size:]]
            lines_by_species.append(self.rules.code(species, text[:size], self.offset))
        own = [(column - self.offset + 1, coordinate) for column, coordinate in self.columns[:count]]
        data_lines = [" ".join(values) for values in zip(*lines_by_species)]
        window = Window(self.names[self.window], data_lines, own, own[0][1], last_position)
        window.chromosome, window.chromosome_size = self.name, self.size
        self.columns = self.columns[count:]
        self.offset, self.width = end, self.width - size
        self.window += 1
        return window


def chromosome_counts(scan, limit=8):
    """'chr1' (1,200 blocks), ... : the prepared chromosomes for messages."""
    items = list(scan.chromosomes.values())
    text = ", ".join(f"{stats.name!r} ({plural(stats.blocks, 'block')})" for stats in items[:limit])
    return text + (f", ... ({len(items)} in all)" if len(items) > limit else "")


def stitch(scan, kept, plans, terminal_absent, long_absent, write):
    """The second pass: every chromosome's windows, each handed to `write` once complete."""
    from .maf import blocks_in_order

    stitchers = {name: Stitcher(scan, name, plans[name], MissingRules(scan.chromosomes[name], terminal_absent,
                                                                        long_absent))
                 for name in plans}
    for name, block in blocks_in_order(scan, kept):
        stitcher = stitchers.get(name)
        if stitcher is not None:
            for window in stitcher.add(block):
                write(window)
    for name, stitcher in stitchers.items():
        for window in stitcher.finish():
            write(window)


class Written:
    """The windows written, and the counts the report gives."""

    def __init__(self):
        self.windows = []
        self.notes = 0
        self.columns = self.modelled = self.cells = self.gaps = self.absent = 0
        self.modelled_by_chromosome = {}
        self.reference_only = []  # windows where no other species is aligned anywhere

    def add(self, window, notes):
        self.notes += len(notes)
        if all(set(line[1:].split()) <= {"5"} for line in window.data_lines):
            self.reference_only.append(window.case.rstrip("/"))
        self.columns += len(window.data_lines)
        self.modelled += len(window.columns)
        self.modelled_by_chromosome[window.chromosome] = \
            self.modelled_by_chromosome.get(window.chromosome, 0) + len(window.columns)
        for line in window.data_lines:
            self.cells += (len(line) + 1) // 2
            self.gaps += line.count("0")
            self.absent += line.count("5")
        window.data_lines = window.columns = None  # written: let the memory go
        self.windows.append(window)

    def reference_only_warnings(self, reference):
        """Windows that hold only the reference: nothing there tells how the sequences evolved."""
        count = len(self.reference_only)
        if not count:
            return []
        shown = ", ".join(self.reference_only[:3]) + (", ..." if count > 3 else "")
        return [f"{count} of {plural(len(self.windows), 'window')} ({shown}) hold only the reference {reference!r},"
                " no other species aligned anywhere in them: the sampler learns nothing of evolution there, and"
                " alnsummarize and alnmerge call nothing conserved in them"]

    def folder_warnings(self):
        return [] if not self.notes else [
            "the results folder already holds files from earlier runs; the sampler overwrites those of the same seed"]


def missing_data(scan, arguments):
    """What the missing-data rules found along the stitched chromosomes, in the report's terms."""
    from .coding import MissingData

    missing = MissingData(arguments.terminal_gaps, arguments.long_gap, arguments.long_gaps)
    for name, stats in scan.chromosomes.items():
        for species, runs in stats.runs.items():
            missing.terminal_cells += runs.terminal_gaps()
            long_runs = runs.long_runs()
            if long_runs:
                missing.long_runs.setdefault(species, []).extend((name, start + 1, end) for start, end in long_runs)
    return missing
