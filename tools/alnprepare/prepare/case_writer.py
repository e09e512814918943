"""Writing the case folder ROOT/data/NAME/ and creating ROOT/results/NAME/."""

import os

from alncommon.case import (CASE_FILES, COLUMNS_FILE, DATA_FILE, LEAF_MAP_FILE, SEQUENCES_FILE, SEQUENCES_HEADER, TREE_FILE,
                            ToolError, columns_text, plural, tsv_text, write_text)


def prepare_folders(root_dir, case, force):
    """Create ROOT/data/CASE/ and ROOT/results/CASE/; returns (data folder, results folder, warnings)."""
    data_dir = os.path.join(root_dir, "data", case)
    results_dir = os.path.join(root_dir, "results", case)
    existing = [name for name in CASE_FILES if os.path.lexists(os.path.join(data_dir, name))]
    if existing and not force:
        raise ToolError(f"{data_dir} already holds {', '.join(existing)}; use --force to overwrite")
    for folder in (data_dir, results_dir):
        try:
            os.makedirs(folder, exist_ok=True)
        except OSError as error:
            raise ToolError(f"cannot create folder {folder}: {error.strerror}") from None
    warnings = []
    earlier = os.listdir(results_dir)
    if earlier:
        warnings.append(
            f"{results_dir} already holds {plural(len(earlier), 'file')} from earlier runs;"
            " the sampler overwrites those of the same seed"
        )
    return data_dir, results_dir, warnings


def case_texts(rows, leaf_labels, names, order, data_lines, columns):
    """{file name: text} of the sampler's three inputs and the two look-up tables."""
    seq_ids = {names[index]: seq_id for seq_id, index in enumerate(order)}
    by_label = sorted(leaf_labels.items(), key=lambda item: item[1])
    return {
        TREE_FILE: "".join(f"{parent} {child} {length!r}\n" for parent, child, length in rows),
        LEAF_MAP_FILE: "".join(f"{label} {seq_ids[name]}\n" for name, label in by_label),
        DATA_FILE: "".join(line + "\n" for line in data_lines),
        COLUMNS_FILE: columns_text(columns),
        SEQUENCES_FILE: tsv_text(SEQUENCES_HEADER, ((seq_id, names[index], leaf_labels[names[index]])
                                                    for seq_id, index in enumerate(order))),
    }


def write_case(data_dir, texts):
    for name, text in texts.items():
        write_text(os.path.join(data_dir, name), text)
