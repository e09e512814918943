"""What alnprepare and alnsummarize share: the files of a test case, the
tables that map the sampler's numbers back to the user's names and
coordinates, reading text safely and error reporting (the commands they tell
the user to run next are in recipe.py).

A test case lives in ROOT/data/NAME/ and its runs in ROOT/results/NAME/.
Besides the sampler's three inputs, alnprepare writes two look-up tables:
columns.tsv (modelled column -> alignment position and reference
coordinate) and sequences.tsv (sequence id -> name and leaf label).
"""

import contextlib
import math
import os
import sys
import threading

DATA_FILE = "data.txt"
TREE_FILE = "tree.txt"
LEAF_MAP_FILE = "map_from_leave_label_to_seq_id.txt"
COLUMNS_FILE = "columns.tsv"
SEQUENCES_FILE = "sequences.tsv"
CASE_FILES = (TREE_FILE, LEAF_MAP_FILE, DATA_FILE, COLUMNS_FILE, SEQUENCES_FILE)

COLUMNS_HEADER = ("column", "alignment_position", "reference_position")
# A case cut from a genome alignment adds the reference chromosome of every
# column; reference_position is then the coordinate on that chromosome.
CHROMOSOME_FIELD = "chromosome"
SEQUENCES_HEADER = ("seq_id", "name", "leaf_label")

READ_CHUNK = 1 << 20
# Enough for trees tens of thousands of nodes deep; the stack is only reserved.
DEEP_RECURSION_LIMIT = 100_000
DEEP_STACK_BYTES = 512 << 20


class ToolError(Exception):
    """A fault in the user's input or output location; the message is shown as is."""


def plural(count, word):
    if count == 1:
        return f"{count} {word}"
    return f"{count} {word}es" if word.endswith("ch") else f"{count} {word}s"


def listing(items, limit=8):
    """Quoted, comma-separated names, shortened after `limit` entries."""
    quoted = [repr(str(item)) for item in items]
    if len(quoted) > limit:
        return ", ".join(quoted[:limit]) + f", ... ({len(quoted)} in all)"
    return ", ".join(quoted)


def with_slash(text):
    return text if text.endswith("/") else text + "/"


def normal_case_name(case):
    """The case folder as 'a/b/', or None unless it is a relative path without '..'."""
    parts = [part for part in case.split("/") if part not in ("", ".")]
    if not parts or case.startswith("/") or ".." in parts:
        return None
    return "/".join(parts) + "/"


# ---------------------------------------------------------------------------
# Reading and writing text
# ---------------------------------------------------------------------------


@contextlib.contextmanager
def reading_errors(path, what):
    """Turns the faults of opening and reading a file into messages naming it."""
    try:
        yield
    except FileNotFoundError:
        raise ToolError(f"{what} {path} does not exist") from None
    except IsADirectoryError:
        raise ToolError(f"{what} {path} is a directory") from None
    except UnicodeDecodeError as error:
        raise ToolError(f"{what} {path} is not a text file ({error.reason} at byte {error.start})") from None
    except (OSError, EOFError) as error:
        detail = getattr(error, "strerror", None) or str(error) or "cut short"
        raise ToolError(f"cannot read {what} {path}: {detail}") from None


def read_text(path, what):
    """The whole text of a file; `what` names it in messages ("tree file").

    Read in chunks so that a binary stream such as /dev/zero is refused at
    its first NUL byte instead of filling the memory.
    """
    chunks = []
    with reading_errors(path, what), open(path, encoding="utf-8") as handle:
        while True:
            chunk = handle.read(READ_CHUNK)
            if not chunk:
                break
            if "\0" in chunk:
                raise ToolError(f"{what} {path} is not a text file (it holds NUL bytes)")
            chunks.append(chunk)
    return "".join(chunks)


def read_lines(path, what):
    return read_text(path, what).splitlines()


def content_lines(path, what):
    """(line number, fields) of every non-blank line."""
    return [(number, line.split()) for number, line in enumerate(read_lines(path, what), start=1) if line.strip()]


def save_figure(figure, pyplot, path):
    """Writes a matplotlib figure as a PNG of 100 dpi and closes it, also when the write fails."""
    try:
        figure.savefig(path, dpi=100)
    except OSError as error:
        raise ToolError(f"cannot write {path}: {error.strerror}") from None
    finally:
        pyplot.close(figure)


def write_text(path, text):
    try:
        with open(path, "w", encoding="utf-8", newline="\n") as handle:
            handle.write(text)
    except OSError as error:
        raise ToolError(f"cannot write {path}: {error.strerror}") from None


def parse_float(text, path, line_number):
    try:
        value = float(text)
    except ValueError:
        raise ToolError(f"{path} line {line_number}: {text!r} is not a number") from None
    if not math.isfinite(value):
        raise ToolError(f"{path} line {line_number}: {text!r} is not a finite number")
    return value


def parse_int(text, path, line_number, low, high):
    """An integer in low..high (inclusive)."""
    try:
        value = int(text)
    except ValueError:
        raise ToolError(f"{path} line {line_number}: {text!r} is not a whole number") from None
    if not low <= value <= high:
        raise ToolError(f"{path} line {line_number}: {value} is outside {low}..{high}")
    return value


# ---------------------------------------------------------------------------
# The look-up tables of a prepared case
# ---------------------------------------------------------------------------


def tsv_text(header, rows):
    return "".join("\t".join(map(str, row)) + "\n" for row in [header, *rows])


def columns_text(positions, chromosome=None):
    """columns.tsv from (alignment position, reference coordinate) per modelled column."""
    if chromosome is None:
        return tsv_text(COLUMNS_HEADER, ((column, *pair) for column, pair in enumerate(positions)))
    return tsv_text(COLUMNS_HEADER + (CHROMOSOME_FIELD,),
                    ((column, *pair, chromosome) for column, pair in enumerate(positions)))


def _columns_header(lines, path):
    header = tuple(lines[0].split("\t")) if lines else ()
    if header not in (COLUMNS_HEADER, COLUMNS_HEADER + (CHROMOSOME_FIELD,)):
        raise ToolError(f"{path}: the first line must be the header {chr(9).join(COLUMNS_HEADER)!r}"
                        f" (optionally followed by {CHROMOSOME_FIELD!r})")
    return header


def read_columns(path):
    """(alignment positions, reference coordinates) of the modelled columns, from columns.tsv."""
    lines = read_lines(path, "columns table")
    header = _columns_header(lines, path)
    alignment, reference = [], []
    for number, line in enumerate(lines[1:], start=2):
        fields = line.split("\t")
        if len(fields) != len(header):
            raise ToolError(f"{path} line {number}: expected {len(header)} tab-separated fields, found {len(fields)}")
        column = parse_int(fields[0], path, number, 0, 10**12)
        if column != len(alignment):
            raise ToolError(f"{path} line {number}: column {column}, expected {len(alignment)}")
        alignment.append(parse_int(fields[1], path, number, 1, 10**12))
        reference.append(parse_int(fields[2], path, number, 1, 10**12))
    return alignment, reference


def read_chromosome(data_dir):
    """The reference chromosome of a case's columns, or None when its columns.tsv names none."""
    path = os.path.join(data_dir, COLUMNS_FILE)
    if not os.path.exists(path):
        return None
    lines = read_lines(path, "columns table")
    if _columns_header(lines, path)[-1] != CHROMOSOME_FIELD:
        return None
    names = {line.rsplit("\t", 1)[-1] for line in lines[1:]}
    if len(names) != 1 or "" in names:
        raise ToolError(f"{path}: the columns must all lie on one chromosome, found {listing(sorted(names))}")
    return names.pop()


def read_sequence_names(data_dir):
    """{seq_id text: name} from the case's sequences.tsv, empty without one."""
    path = os.path.join(data_dir, SEQUENCES_FILE)
    names = {}
    if os.path.exists(path):
        for line in read_lines(path, "sequence table")[1:]:
            fields = line.split("\t")
            if len(fields) >= 2 and fields[1]:
                names[fields[0]] = fields[1]
    return names


# ---------------------------------------------------------------------------
# Entry points
# ---------------------------------------------------------------------------


def warning_text(program, message):
    return f"{program}: warning: {message}"


def warn(program, message):
    print(warning_text(program, message), file=sys.stderr)


def run_tool(program, work):
    """Run `work()` (which returns report lines, warnings and optionally closing lines); turn faults
    into messages.

    Returns the exit status: 0 done, 1 a fault in the input or output.  No
    traceback reaches the user.  The work runs in a thread with a large stack:
    Biopython walks trees recursively, and a deep (ladder-like) tree of a few
    thousand leaves would exceed the main thread's recursion limit.
    """
    outcome = {}

    def target():
        try:
            outcome["result"] = work()
        except BaseException as error:  # handed to the main thread
            outcome["error"] = error

    limit = sys.getrecursionlimit()
    try:
        threading.stack_size(DEEP_STACK_BYTES)
        worker = threading.Thread(target=target, daemon=True)
        sys.setrecursionlimit(max(limit, DEEP_RECURSION_LIMIT))
        worker.start()
    except (RuntimeError, ValueError):  # no room for a large stack: run with the usual one
        sys.setrecursionlimit(limit)
        threading.stack_size(0)
        worker = threading.Thread(target=target, daemon=True)
        worker.start()
    worker.join()
    error = outcome.get("error")
    if isinstance(error, ToolError):
        return fail(program, str(error))
    if isinstance(error, MemoryError):
        return fail(program, "out of memory")
    if isinstance(error, RecursionError):
        return fail(program, "the input is nested too deeply to be handled")
    if error is not None:
        raise error
    # The work returns the report's lines, its warnings and, optionally, lines that close the
    # output after the warnings (the step to take next).
    lines, warnings, *closing = outcome["result"]
    print("\n".join(lines), flush=True)
    for message in warnings:
        warn(program, message)
    sys.stderr.flush()
    for closing_lines in closing:
        print("\n".join(closing_lines), flush=True)
    return 0


def fail(program, message):
    print(f"{program}: error: {message}", file=sys.stderr)
    return 1
