"""The tables and Tracer logs alnsummarize writes."""

import math
import os

import numpy as np

from alncommon.case import COLUMNS_HEADER, ToolError, write_text

from .runs import RATE_KINDS, VALUE_LETTERS, VALUE_NAMES

# Per column, the posterior mean rates of the column's rate state.
COLUMN_RATE_HEADER = ["deletion_rate", "mutation_rate", "total_rate"]
UNMODELLED_LETTER = "N"


def number_text(value):
    """Shortest faithful text of a float for tables; integers stay integers."""
    if isinstance(value, (int, np.integer)):
        return str(int(value))
    if math.isnan(value):
        return "nan"
    if math.isinf(value):
        return "inf" if value > 0 else "-inf"
    return f"{value:.6g}"


def write_table(path, header, rows):
    try:
        with open(path, "w", encoding="utf-8", newline="\n") as handle:
            handle.write("\t".join(header) + "\n")
            for row in rows:
                handle.write("\t".join(number_text(value) if not isinstance(value, str) else value for value in row))
                handle.write("\n")
    except OSError as error:
        raise ToolError(f"cannot write {path}: {error.strerror}") from None


def most_probable(probabilities):
    """Index of the largest probability along the last axis; ties take the first (gap before A)."""
    return np.argmax(probabilities, axis=-1)


def write_columns(path, summary, positions):
    header = list(COLUMNS_HEADER)
    header += [f"p_state{state}" for state in range(summary.n_states)] + ["p_segment_start"]
    if summary.ancestors is not None:
        header += [f"p_root_{name}" for name in VALUE_NAMES] + ["root_most_probable"]
        root = summary.ancestors[0]
        best = most_probable(root)
    header += COLUMN_RATE_HEADER + ["p_conserved"]
    deletion, mutation = summary.column_rates["deletion"], summary.column_rates["mutation"]
    rows = []
    for column in range(summary.n_columns):
        row = [column, int(positions.alignment[column]), int(positions.reference[column])]
        row += [float(p) for p in summary.state_probs[column]] + [float(summary.start_probs[column])]
        if summary.ancestors is not None:
            row += [float(p) for p in root[column]] + [VALUE_LETTERS[best[column]]]
        row += [float(deletion[column]), float(mutation[column]), float(deletion[column] + mutation[column])]
        row.append(float(summary.p_conserved[column]))
        rows.append(row)
    write_table(path, header, rows)


def ancestor_sequences(summary, positions, n_input_columns, modelled_only):
    """The most probable sequence of every internal node: one character per input column
    (unmodelled columns N, nothing being inferred there), or per modelled column."""
    best = np.array(list(VALUE_LETTERS))[most_probable(summary.ancestors)]
    if modelled_only:
        return ["".join(row) for row in best]
    full = np.full((len(best), n_input_columns), UNMODELLED_LETTER)
    full[:, positions.alignment - 1] = best
    return ["".join(row) for row in full]


def write_ancestors(out_dir, summary, titles, sequences):
    fasta = []
    for title, sequence in zip(titles, sequences):
        fasta.append(f">{title}\n")
        fasta.extend(sequence[start:start + 60] + "\n" for start in range(0, len(sequence), 60))
    write_text(os.path.join(out_dir, "ancestors.fasta"), "".join(fasta))
    best = most_probable(summary.ancestors)
    header = ["node", "column"] + [f"p_{name}" for name in VALUE_NAMES] + ["most_probable"]
    rows = (
        [node, column] + [float(p) for p in summary.ancestors[node, column]] + [VALUE_LETTERS[best[node, column]]]
        for node in range(len(titles))
        for column in range(summary.n_columns)
    )
    write_table(os.path.join(out_dir, "ancestors.tsv"), header, rows)


def write_segments(path, summary):
    rows = [
        [k, float(summary.segment_probs[k - 1]), float(summary.segment_conditional[k - 1])]
        for k in range(1, summary.k_max + 1)
    ]
    write_table(path, ["segments", "probability", "conditional_mean"], rows)


def write_rates(path, summary):
    header = ["rate", "mean", "median", "lower_95", "upper_95", "ess", "rhat"]
    write_table(path, header, ([row[name] for name in header] for row in summary.rate_rows))


def summary_rows(summary, warnings):
    """summary.tsv: one (quantity, value) row per figure a pipeline may need."""
    rows = [
        ("chains", len(summary.chains)),
        ("modelled_columns", summary.n_columns),
        ("kept_draws", summary.n_kept),
        ("conserved_by", summary.conserved_by),
        ("relabelled", "yes" if summary.relabel else "no"),
        ("k_max", summary.k_max),
        ("p_k_max", float(summary.segment_probs[-1])),
    ]
    for chain in summary.chains:
        rows += [(f"iterations_seed_{chain.seed}", chain.n), (f"thin_seed_{chain.seed}", chain.thin),
                 (f"burnin_seed_{chain.seed}", chain.burnin), (f"kept_draws_seed_{chain.seed}", chain.n_kept)]
    for state in range(summary.n_states):
        rows.append((f"state_{state}_occupancy", float(summary.occupancy[state])))
    for row in summary.rate_rows:
        rows += [(f"{row['rate']}_{name}", row[name]) for name in ("mean", "lower_95", "upper_95", "ess", "rhat")]
    for kind in RATE_KINDS:
        rows.append((f"mean_column_{kind}_rate", float(summary.column_rates[kind].mean())))
    rows += [("rho", summary.rho), ("reference_mutation_rate", summary.reference[0]),
             ("reference_deletion_rate", summary.reference[1])]
    rows.append(("warnings", len(warnings)))
    rows += [(f"warning_{number}", message) for number, message in enumerate(warnings, start=1)]
    return rows


def tracer_header(summary):
    return ["state", "log_probability", "segments"] + summary.rate_names()


def _tracer_row(state, log_probability, segments, rates):
    return [str(state), f"{log_probability:.10g}", str(int(segments))] + [f"{rate:.10g}" for rate in rates]


def write_tracer_logs(out_dir, summary):
    """trace.log: the kept draws of all chains in turn; trace_SEED.log: every draw of each chain.

    Tracer needs one header row, tab-separated values and an integer state
    column with constant spacing.  trace.log numbers its rows 1, 2, ... and
    needs no further burn-in; the per-chain logs use the iteration numbers
    (every --thin-th of a thinned run), for Tracer's own burn-in and chain
    combination.
    """
    written = []
    header = "\t".join(tracer_header(summary)) + "\n"
    pooled = [header]
    state = 0
    for chain, rates in zip(summary.chains, summary.rates):
        lines = [header]
        for draw, iteration in enumerate(chain.draw_iterations):
            row = _tracer_row(iteration, chain.log_probability[iteration - 1], chain.segments[draw], rates[draw])
            lines.append("\t".join(row) + "\n")
            if draw >= chain.first_kept:
                state += 1
                row[0] = str(state)
                pooled.append("\t".join(row) + "\n")
        name = f"trace_{chain.seed}.log"
        write_text(os.path.join(out_dir, name), "".join(lines))
        written.append(name)
    write_text(os.path.join(out_dir, "trace.log"), "".join(pooled))
    return ["trace.log"] + written
