"""Writing the case folder ROOT/data/NAME/ and creating ROOT/results/NAME/.

The case is written into a temporary folder beside ROOT/data/NAME/ and
renamed into place, so a failure (a full disk) leaves an earlier case whole
and never half rewritten.
"""

import os
import shutil
import tempfile

from alncommon.case import (CASE_FILES, COLUMNS_FILE, DATA_FILE, LEAF_MAP_FILE, SEQUENCES_FILE, SEQUENCES_HEADER,
                            TREE_FILE, ToolError, columns_text, plural, tsv_text, write_text)


def case_texts(rows, leaf_labels, names, order, data_lines, columns, chromosome=None):
    """{file name: text} of the sampler's three inputs and the two look-up tables."""
    seq_ids = {names[index]: seq_id for seq_id, index in enumerate(order)}
    by_label = sorted(leaf_labels.items(), key=lambda item: item[1])
    return {
        TREE_FILE: "".join(f"{parent} {child} {length!r}\n" for parent, child, length in rows),
        LEAF_MAP_FILE: "".join(f"{label} {seq_ids[name]}\n" for name, label in by_label),
        DATA_FILE: "".join(line + "\n" for line in data_lines),
        COLUMNS_FILE: columns_text(columns, chromosome),
        SEQUENCES_FILE: tsv_text(SEQUENCES_HEADER, ((seq_id, names[index], leaf_labels[names[index]])
                                                    for seq_id, index in enumerate(order))),
    }


def existing_case_files(root_dir, case):
    data_dir = os.path.join(root_dir, "data", case)
    return [name for name in CASE_FILES if os.path.lexists(os.path.join(data_dir, name))]


def data_folder(root_dir, case):
    return os.path.join(root_dir, "data", case)


def check_case_free(root_dir, case, force):
    existing = existing_case_files(root_dir, case)
    if existing and not force:
        raise ToolError(f"{data_folder(root_dir, case)} already holds {', '.join(existing)}; use --force to overwrite")


def write_case(root_dir, case, texts, force):
    """Write ROOT/data/CASE/ and create ROOT/results/CASE/; returns (data folder, warnings)."""
    data_dir = data_folder(root_dir, case)
    results_dir = os.path.join(root_dir, "results", case)
    check_case_free(root_dir, case, force)
    target = os.path.normpath(data_dir)
    for folder in (results_dir, os.path.dirname(target)):
        _make_folder(folder)
    staging = _temporary_folder(target, ".new")
    try:
        for name, text in texts.items():
            write_text(os.path.join(staging, name), text)
        _move_into_place(staging, target)
    finally:
        shutil.rmtree(staging, ignore_errors=True)
    earlier = os.listdir(results_dir)
    warnings = []
    if earlier:
        warnings.append(
            f"{results_dir} already holds {plural(len(earlier), 'file')} from earlier runs;"
            " the sampler overwrites those of the same seed"
        )
    return data_dir, warnings


def _make_folder(folder):
    try:
        os.makedirs(folder, exist_ok=True)
    except OSError as error:
        raise ToolError(f"cannot create folder {folder}: {error.strerror}") from None


def _temporary_folder(target, suffix):
    try:
        return tempfile.mkdtemp(prefix=f".{os.path.basename(target)}.", suffix=suffix, dir=os.path.dirname(target))
    except OSError as error:
        raise ToolError(f"cannot create a folder beside {target}: {error.strerror}") from None


def _move_into_place(staging, target):
    """Rename the new case folder to `target`, keeping the files of an earlier one that are not case files."""
    if not os.path.lexists(target):
        _rename(staging, target)
        return
    if not os.path.isdir(target):
        raise ToolError(f"cannot write the case into {target}: it is not a folder")
    old = _temporary_folder(target, ".old")
    _rename(target, old)  # onto the empty temporary folder
    moved = []
    try:
        for entry in sorted(set(os.listdir(old)) - set(CASE_FILES)):
            _rename(os.path.join(old, entry), os.path.join(staging, entry))
            moved.append(entry)
        _rename(staging, target)
    except ToolError:
        for entry in moved:
            os.rename(os.path.join(staging, entry), os.path.join(old, entry))
        os.rename(old, target)
        raise
    shutil.rmtree(old, ignore_errors=True)


def _rename(source, destination):
    try:
        os.rename(source, destination)
    except OSError as error:
        raise ToolError(f"cannot move {source} to {destination}: {error.strerror}; the earlier case is unchanged") \
            from None


def check_windows_free(root_dir, cases, table_path, force):
    """Refuse, unless `force`, window cases or a windows table left by an earlier preparation."""
    taken = [case for case in cases if existing_case_files(root_dir, case)]
    if os.path.lexists(table_path):
        taken.append(os.path.basename(table_path))
    if taken and not force:
        raise ToolError(f"{os.path.join(root_dir, 'data')} already holds windows of an earlier preparation"
                        f" ({', '.join(taken[:3])}{', ...' if len(taken) > 3 else ''}); use --force to overwrite")


def write_windows(root_dir, windows, texts_of, table_path, table_text, force):
    """Write every window's case, then the windows table; returns warnings.

    Everything is checked before the first window is written; the table comes
    last (through a temporary file), so that it exists only once every window
    it lists is whole.
    """
    check_windows_free(root_dir, [window.case for window in windows], table_path, force)
    earlier_runs = 0
    for window in windows:
        _, notes = write_case(root_dir, window.case, texts_of(window), True)
        earlier_runs += len(notes)
    return finish_windows(root_dir, windows, table_path, table_text, earlier_runs)


def finish_windows(root_dir, windows, table_path, table_text, earlier_runs):
    """Write the windows table once every window it lists is whole; returns warnings."""
    staging = _temporary_file(table_path)
    try:
        write_text(staging, table_text)
        os.replace(staging, table_path)
    except OSError as error:
        raise ToolError(f"cannot write {table_path}: {error.strerror}") from None
    finally:
        if os.path.exists(staging):
            os.remove(staging)
    warnings = []
    if earlier_runs:
        warnings.append(f"the results folders of {plural(earlier_runs, 'window')} already hold files from earlier"
                        " runs; the sampler overwrites those of the same seed")
    stale = _stale_windows(root_dir, windows)
    if stale:
        warnings.append(f"{plural(len(stale), 'window case')} of an earlier preparation ({', '.join(stale[:3])}"
                        f"{', ...' if len(stale) > 3 else ''}) {'is' if len(stale) == 1 else 'are'} not part of this"
                        f" one; {os.path.basename(table_path)} lists the current windows")
    return warnings


def _temporary_file(path):
    folder = os.path.dirname(path) or os.curdir
    try:
        descriptor, name = tempfile.mkstemp(prefix=f".{os.path.basename(path)}.", dir=folder)
    except OSError as error:
        raise ToolError(f"cannot create a file beside {path}: {error.strerror}") from None
    os.close(descriptor)
    return name


def _stale_windows(root_dir, windows):
    """Window cases STEM_wNNNNN beside the new ones (of any of their stems) that the new windows do not
    include."""
    current = {window.case.rstrip("/") for window in windows}
    stems = {case.rsplit("_w", 1)[0] for case in current}
    stale = []
    for stem in sorted(stems):
        folder = os.path.join(root_dir, "data", os.path.dirname(stem))
        prefix = os.path.basename(stem) + "_w"
        try:
            entries = os.listdir(folder)
        except OSError:
            continue
        stale += [entry for entry in sorted(entries) if entry.startswith(prefix) and entry[len(prefix):].isdigit()
                  and os.path.join(os.path.dirname(stem), entry) not in current
                  and existing_case_files(root_dir, os.path.join(os.path.dirname(stem), entry))]
    return stale
