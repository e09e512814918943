#include "ratestates/rate_states.h"

#include <cmath>
#include <cstddef>

#include "io/diagnostics.h"
#include "io/vector_writers.h"
#include "random/variates.h"
#include "tree/model_parameters.h"

namespace {

using Matrix = std::vector<std::vector<double>>;

// Adds one count per adjacent pair (path[t-1], path[t]), t = 1 .. N-1: every
// transition of the path, the last one included. Leaving the last pair out
// would make the matrix update sample from the wrong conditional. A state
// outside 0 .. K-1 ends the run through the range check.
void add_transition_counts(const std::vector<int>& path, Matrix& counts) {
  for (std::size_t t = 1; t < path.size(); ++t) {
    counts.at(static_cast<std::size_t>(path[t - 1])).at(static_cast<std::size_t>(path[t])) += 1.0;
  }
}

Matrix transition_counts(int n_states, double pseudo_count, const std::vector<int>& path) {
  const auto k = static_cast<std::size_t>(n_states);
  Matrix counts(k, std::vector<double>(k, pseudo_count));
  add_transition_counts(path, counts);
  return counts;
}

// Counts per residue over the column's leaves, and whether no leaf is empty.
// Absent leaves (5) neither count nor make the column incomplete.
struct ColumnConservation {
  std::vector<int> residue_counts;
  bool complete = true;
};

ColumnConservation column_conservation(const std::vector<int>& leaves, std::size_t n_residues,
                                       const std::vector<int>& nonempty_value_index) {
  ColumnConservation column{std::vector<int>(n_residues, 0), true};
  for (const int value : leaves) {
    if (value >= 1 && value <= 4) {
      column.residue_counts.at(static_cast<std::size_t>(nonempty_value_index.at(static_cast<std::size_t>(value)))) += 1;
    } else if (value == 0) {
      column.complete = false;
    }
  }
  return column;
}

// 2 when every leaf or all but one hold the same residue, 1 when all but two
// do, 0 otherwise; a column with an empty leaf is always 0.
int conservation_state(const ColumnConservation& column, long n_leaves) {
  long max = 0;
  for (const int count : column.residue_counts) {
    if (count > max) max = count;
  }
  if (column.complete && n_leaves - 1 <= max && max <= n_leaves) return 2;
  if (column.complete && max == n_leaves - 2) return 1;
  return 0;
}

void write_initial_states(int n_rate_states, const std::vector<ColumnConservation>& columns,
                          const RateStatePath& path, std::ostream* out) {
  const std::vector<int>& column_rate_states = path.column_states;
  const std::vector<std::vector<long>>& rate_state_columns = path.state_columns;
  std::vector<std::vector<int>> counts;
  counts.reserve(columns.size());
  for (const auto& column : columns) counts.push_back(column.residue_counts);
  write_vectors_two_dim(counts, *out);
  write_vector_column(column_rate_states, *out);
  write_vectors_two_dim(rate_state_columns, *out);
  for (int r = 0; r < n_rate_states; ++r) {
    *out << "rate_state:" << r << "\n";
    write_vector_row(rate_state_columns.at(static_cast<std::size_t>(r)), *out);
  }
}

}  // namespace

std::vector<double> initial_rate_state_probs() {
  std::vector<double> probs(rate_state_count, 0.33);
  probs[0] = 0.34;
  return probs;
}

void RateStatePath::rebuild_state_columns(int rate_states) {
  state_columns.assign(static_cast<std::size_t>(rate_states), {});
  for (std::size_t c = 0; c < column_states.size(); ++c) {
    state_columns.at(static_cast<std::size_t>(column_states[c])).push_back(static_cast<long>(c));
  }
}

// Row means of the Dirichlet posterior: each count over its row's sum.
void write_row_means(const Matrix& counts, std::ostream& out) {
  for (const auto& row : counts) {
    double sum = 0.0;
    for (const double count : row) sum += count;
    for (std::size_t j = 0; j < row.size(); ++j) out << row[j] / sum << (j + 1 == row.size() ? "\n" : " ");
  }
}

RateStatePath initialize_rate_states(int n_rate_states, const ColumnStates& states) {
  const Alphabet& alphabet = model_alphabet();
  const long n_leaves = static_cast<long>(states.topology().sequence_count());
  std::vector<ColumnConservation> columns;
  columns.reserve(states.columns());
  for (std::size_t c = 0; c < states.columns(); ++c) {
    columns.push_back(column_conservation(states.leaf_values(c), alphabet.residues.size(), alphabet.residue_index));
  }

  RateStatePath path;
  path.column_states.assign(states.columns(), 0);
  for (std::size_t c = 0; c < columns.size(); ++c) path.column_states[c] = conservation_state(columns[c], n_leaves);
  // Needs n_rate_states >= 3: a state beyond the lists ends the run.
  path.rebuild_state_columns(n_rate_states);
  if (std::ostream* out = diagnostics()) write_initial_states(n_rate_states, columns, path, out);
  return path;
}

TransitionDraw sample_rate_state_transitions(int n_rate_states, const std::vector<int>& column_rate_states) {
  // Dirichlet(1, ..., 1) prior on every row, conjugate to the pair counts.
  TransitionDraw draw{transition_counts(n_rate_states, 1.0, column_rate_states), {}};
  for (const auto& row : draw.counts) draw.transitions.push_back(sample_dirichlet(1, row)[0]);
  return draw;
}

double compute_post_para_rate_states(int n_rate_states, const std::vector<int>& column_rate_states,
                                     const std::vector<std::vector<double>>& state_transitions) {
  static const double log_floor = std::log(2.2250738585072014e-308);
  const Matrix counts = transition_counts(n_rate_states, 0.0, column_rate_states);
  double log_probability = 0.0;
  for (std::size_t i = 0; i < counts.size(); ++i) {
    for (std::size_t j = 0; j < counts.size(); ++j) {
      const double p = state_transitions.at(i).at(j);
      // A zero probability is floored like everywhere else in the chain; a
      // negative one (never produced by the Dirichlet draw) adds nothing.
      if (p > 0) {
        log_probability += counts[i][j] * std::log(p);
      } else if (p == 0.0) {
        log_probability += log_floor * counts[i][j];
      }
    }
  }
  return log_probability;
}
