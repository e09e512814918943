#include "updates/dirichlet_updates.h"

#include <cmath>
#include <sstream>
#include <stdexcept>

#include "io/errors.h"
#include "io/vector_writers.h"
#include "random/variates.h"

namespace {

bool is_residue(int value) { return value >= 1 && value <= 4; }

// The columns' values and indicators as the counts read them, with every
// column checked against the alignment.
class StateColumns {
 public:
  explicit StateColumns(const ColumnStates& states) : _states(states) {}
  int root_value(long column) const { return _states.root_value(checked(column)); }
  std::vector<int> leaf_values(long column) const { return _states.leaf_values(checked(column)); }
  std::size_t nodes(long column) const {
    checked(column);
    return _states.nodes();
  }
  const NodeState& node(long column, std::size_t label) const {
    return _states.at(checked(column), static_cast<int>(label));
  }

 private:
  std::size_t checked(long column) const {
    if (column < 0 || static_cast<std::size_t>(column) >= _states.columns()) {
      throw std::out_of_range("column beyond the alignment");
    }
    return static_cast<std::size_t>(column);
  }
  const ColumnStates& _states;
};

// The model keeps a root non-empty for good once it is: root emptying and
// re-filling probabilities are fixed at zero. A change either way means the
// ancestral values are corrupt, so the run stops. The non-empty to empty case
// also shows the offending column: the empty root value, then its leaves.
template <class Columns>
void check_root_transition(const Columns& columns, long column, int previous, int current) {
  if (is_residue(previous) && current == 0) {
    std::ostringstream shown;
    shown << current;
    write_vector_row(columns.leaf_values(column), shown);
    throw InternalError(shown.str() + "transition from non-empty to empty occurs unexpectedly! \n");
  }
  if (previous == 0 && is_residue(current))
    throw InternalError("transition from empty to non-empty occurs unexpectedly! \n");
}

// Each entry divided by the sum of all entries, separated by " ", ended by "\n".
void write_normalised_row(const std::vector<double>& counts, std::ostream& out) {
  double total = 0.0;
  for (const double count : counts) total += count;
  for (std::size_t j = 0; j < counts.size(); ++j) out << counts[j] / total << (j + 1 == counts.size() ? "\n" : " ");
}

// A node whose residue arose on its own branch: inserted below an empty
// parent, or mutated below a residue (deletion 0 and bond 0).
template <class NodeFields>
bool holds_new_residue(const NodeFields& node) {
  return node.insertion == 1 || (node.deletion == 0 && node.bond == 0);
}

template <class Columns>
void sample_betas_from(const Columns& columns, Segmentation& segmentation, std::ostream& out) {
  const std::vector<std::vector<long>>& from_tos = segmentation.from_tos;
  const std::vector<int>& nonempty_value_index = model_alphabet().residue_index;
  const int n = model_alphabet().residue_count();
  auto& betas = segmentation.betas;
  betas.assign(from_tos.size(), std::vector<std::vector<double>>(n));
  for (std::size_t s = 0; s < from_tos.size(); ++s) {
    // Pseudo-count 1 in every cell: the flat Dirichlet prior of every row.
    std::vector<std::vector<double>> counts(n, std::vector<double>(n, 1.0));
    // Every transition belongs to the segment of the column it leads into,
    // so a segment starting at f > 0 counts the pair (f - 1, f).
    for (long c = from_tos[s].at(0); c <= from_tos[s].at(1); ++c) {
      if (c == 0) continue;
      const int previous = columns.root_value(c - 1);
      const int current = columns.root_value(c);
      check_root_transition(columns, c, previous, current);
      if (is_residue(previous) && is_residue(current)) {
        counts.at(nonempty_value_index.at(previous)).at(nonempty_value_index.at(current)) += 1.0;
      }
    }
    for (const auto& row : counts) write_normalised_row(row, out);
    for (int i = 0; i < n; ++i) betas.at(s).at(i) = sample_dirichlet(1, counts[i])[0];
  }
}

template <class Columns>
void sample_thetas_from(const Columns& columns, Segmentation& segmentation, std::ostream& out) {
  const std::vector<std::vector<long>>& from_tos = segmentation.from_tos;
  const std::vector<int>& nonempty_value_index = model_alphabet().residue_index;
  const int n = model_alphabet().residue_count();
  auto& thetas = segmentation.thetas;
  thetas.assign(from_tos.size(), std::vector<double>());
  for (std::size_t s = 0; s < from_tos.size(); ++s) {
    std::vector<double> counts(n, 1.0);
    for (long c = from_tos[s].at(0); c <= from_tos[s].at(1); ++c) {
      const int current = columns.root_value(c);
      if (c > 0 && columns.root_value(c - 1) == 0 && is_residue(current)) {
        counts.at(nonempty_value_index.at(current)) += 1.0;
      }
      const std::size_t nodes = columns.nodes(c);
      for (std::size_t label = 1; label < nodes; ++label) {
        const auto& node = columns.node(c, label);
        if (holds_new_residue(node)) counts.at(nonempty_value_index.at(node.value)) += 1.0;
      }
    }
    write_normalised_row(counts, out);
    thetas.at(s) = sample_dirichlet(1, counts)[0];
  }
}

}  // namespace

void sample_betas(const ColumnStates& states, Segmentation& segmentation, std::ostream& out) {
  sample_betas_from(StateColumns(states), segmentation, out);
}

void sample_thetas(const ColumnStates& states, Segmentation& segmentation, std::ostream& out) {
  sample_thetas_from(StateColumns(states), segmentation, out);
}
