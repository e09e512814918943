#include "simulation/data_generation.h"

#include <cmath>

#include "io/csv_reader.h"
#include "io/errors.h"
#include "io/vector_writers.h"
#include "random/variates.h"

namespace {

template <typename T>
std::vector<std::vector<T>> read_rows(const std::string& path) {
  CSVReader<T> reader(path);
  return reader.read();
}

std::vector<double> read_first_row(const std::string& path) { return read_rows<double>(path).at(0); }

// Block s of the betas file is rows s*n .. s*n+n-1, n being the length of
// the file's first row (one row per previous root value).
std::vector<std::vector<std::vector<double>>> cut_into_blocks(const std::vector<std::vector<double>>& rows,
                                                              std::size_t segment_count) {
  const std::size_t n = rows.at(0).size();
  std::vector<std::vector<std::vector<double>>> blocks(segment_count);
  for (std::size_t s = 0; s < segment_count; ++s) {
    for (std::size_t r = 0; r < n; ++r) blocks[s].push_back(rows.at(s * n + r));
  }
  return blocks;
}

std::vector<int> state_labels(std::size_t count) {
  std::vector<int> labels(count);
  for (std::size_t i = 0; i < count; ++i) labels[i] = static_cast<int>(i);
  return labels;
}

// The whole rate-state path comes first, before any column, so the rate
// states of a given seed do not depend on the shape of the tree.
std::vector<int> draw_rate_states(std::size_t column_count, const std::vector<double>& initial_state_probs,
                                  const std::vector<std::vector<double>>& state_transitions) {
  const std::vector<int> labels = state_labels(initial_state_probs.size());
  std::vector<Sampler<int, double>> row_samplers;
  for (const auto& row : state_transitions) row_samplers.emplace_back(labels, row);

  std::vector<int> states(column_count);
  if (column_count == 0) return states;
  Sampler<int, double> initial_sampler(labels, initial_state_probs);
  states[0] = initial_sampler.draw_w_replace(1)[0];
  for (std::size_t c = 1; c < column_count; ++c) states[c] = row_samplers.at(states[c - 1]).draw_w_replace(1)[0];
  return states;
}

// The branch above `node` and then the subtrees below it, first child first.
void generate_branch(ColumnStates& states, std::size_t column, int node, Sampler<int, double>& mutated_value,
                     const StateRates& rates) {
  const TreeTopology& tree = states.topology();
  const double t = tree.length(node);
  const double u1 = draw_unit_uniform();
  const int parent_value = states.at(column, tree.label(tree.parent(node))).value;
  NodeState& own = states.at(column, tree.label(node));

  if (parent_value == 0) {
    own.deletion = -1;
    own.bond = -1;
    if (u1 < 1.0 - std::exp(-rates.insertion * t)) {
      own.insertion = 1;
      own.value = static_cast<std::int8_t>(mutated_value.draw_w_replace(1)[0]);
      throw InternalError("insertion in simulation occurs unexpectedly! \n");
    }
    own.insertion = 0;
    own.value = 0;
  } else {
    own.insertion = -1;
    if (1.0 - std::exp(-rates.deletion * t) > u1) {
      own.deletion = 1;
      own.bond = -1;
      own.value = 0;
    } else {
      own.deletion = 0;
      const double u2 = draw_unit_uniform();
      // A mutation event redraws the residue from the segment's frequencies,
      // so it may land on the parent's own residue; it still counts as an
      // event (bond 0), as in the equal-input model the sampler fits.
      if (1.0 - std::exp(-rates.mutation * t) > u2) {
        own.bond = 0;
        own.value = static_cast<std::int8_t>(mutated_value.draw_w_replace(1)[0]);
      } else {
        own.bond = 1;
        own.value = static_cast<std::int8_t>(parent_value);
      }
    }
  }
  if (tree.is_leaf(node)) return;
  generate_branch(states, column, tree.first_child(node), mutated_value, rates);
  generate_branch(states, column, tree.second_child(node), mutated_value, rates);
}

void write_indicator_row(const ColumnStates& states, std::size_t column, std::int8_t NodeState::*indicator,
                         std::ostream& out) {
  for (std::size_t label = 0; label < states.nodes(); ++label) {
    out << int{states.at(column, static_cast<int>(label)).*indicator} << " ";
  }
  out << "\n";
}

}  // namespace

void read_segment_parameters(const std::string& dir, std::size_t segment_count, GenerationParameters& p) {
  p.gammas = read_first_row(dir + "gammas.txt");
  p.etas = read_first_row(dir + "etas.txt");
  p.betas = cut_into_blocks(read_rows<double>(dir + "betas.txt"), segment_count);
  p.thetas = read_rows<double>(dir + "thetas.txt");
  p.deletion_rates = read_first_row(dir + "deletion_rates.txt");
  p.insertion_rates = read_first_row(dir + "insertion_rates.txt");
  p.mutation_rates = read_first_row(dir + "mutation_rates.txt");
}

void write_model_parameters(const GenerationParameters& p, std::ostream& out) {
  out << "segmentation regions:\n";
  write_vectors_two_dim(p.from_tos, out);
  out << "number of segments:\n" << p.from_tos.size() << "\n";
  out << "gammas:\n";
  write_vector_row(p.gammas, out);
  out << "etas:\n";
  write_vector_row(p.etas, out);
  out << "betas:\n";
  write_vectors_three_dim(p.betas, out);
  out << "thetas:\n";
  write_vectors_two_dim(p.thetas, out);
  out << "deletion_rates:\n";
  write_vector_row(p.deletion_rates, out);
  out << "insertion_rates:\n";
  write_vector_row(p.insertion_rates, out);
  out << "mutation_rates:\n";
  write_vector_row(p.mutation_rates, out);
}

// The first column has no predecessor, so it never draws emptiness. Later
// columns first decide whether the root position exists at all (it empties
// with probability gamma after a residue and refills with probability eta
// after an empty root), and only then draw which residue it holds.
void generate_column(ColumnStates& states, std::size_t column, int previous_root_value, const ColumnSamplers& samplers,
                     const StateRates& rates) {
  static const int empty_code = 1;
  const TreeTopology& tree = states.topology();
  NodeState& root = states.at(column, tree.root_label());
  root.deletion = -1;
  root.insertion = -1;
  root.bond = -1;
  if (previous_root_value == -1) {
    root.value = static_cast<std::int8_t>(samplers.root_value.draw_w_replace(1)[0]);
  } else {
    Sampler<int, double>& emptiness = previous_root_value == 0 ? samplers.after_empty : samplers.after_residue;
    const int x = emptiness.draw_w_replace(1)[0];
    root.value = static_cast<std::int8_t>(x == empty_code ? 0 : samplers.root_value.draw_w_replace(1)[0]);
  }
  if (tree.is_leaf(0)) return;
  generate_branch(states, column, tree.first_child(0), samplers.mutated_value, rates);
  generate_branch(states, column, tree.second_child(0), samplers.mutated_value, rates);
}

SimulatedColumns generate_columns(const std::shared_ptr<const TreeTopology>& topology,
                                  const GenerationParameters& parameters, const std::vector<int>& residues) {
  const auto& from_tos = parameters.from_tos;
  const std::size_t column_count = from_tos.empty() ? 0 : static_cast<std::size_t>(from_tos.back().at(1) + 1);
  std::vector<int> rate_states =
      draw_rate_states(column_count, parameters.initial_state_probs, parameters.state_transitions);
  const std::vector<std::vector<int>> no_leaves(column_count, std::vector<int>(topology->sequence_count(), 0));
  SimulatedColumns simulated{ColumnStates(topology, no_leaves), std::move(rate_states)};

  int previous_root_value = -1;
  for (std::size_t s = 0; s < from_tos.size(); ++s) {
    const auto& thetas = parameters.thetas.at(s);
    Sampler<int, double> mutated_value(residues, thetas);
    Sampler<int, double> after_residue({1, 0}, {parameters.gammas.at(s), 1.0 - parameters.gammas.at(s)});
    Sampler<int, double> after_empty({0, 1}, {parameters.etas.at(s), 1.0 - parameters.etas.at(s)});
    for (long c = from_tos[s].at(0); c <= from_tos[s].at(1); ++c) {
      const int state = simulated.rate_states.at(c);
      // The root chain: the first column from its own weights; after an
      // empty root the residue is new, so it comes from the frequencies;
      // after a residue r, from the segment's transition row of r.
      const bool first_column = s == 0 && c == 0;
      const std::vector<int>& root_values = first_column ? parameters.first_root_values : residues;
      const std::vector<double>& root_weights =
          first_column ? parameters.first_root_weights
                       : (previous_root_value == 0 ? thetas : parameters.betas.at(s).at(previous_root_value - 1));
      Sampler<int, double> root_value(root_values, root_weights);
      const StateRates rates{parameters.deletion_rates.at(state), parameters.insertion_rates.at(state),
                             parameters.mutation_rates.at(state)};
      generate_column(simulated.states, static_cast<std::size_t>(c), previous_root_value,
                      {after_residue, after_empty, root_value, mutated_value}, rates);
      previous_root_value = simulated.states.root_value(static_cast<std::size_t>(c));
    }
  }
  return simulated;
}

void write_column_truth(const ColumnStates& states, std::ostream& values, std::ostream& deletions,
                        std::ostream& insertions, std::ostream& bonds) {
  const int last_internal = states.topology().last_internal_label();
  for (std::size_t column = 0; column < states.columns(); ++column) {
    for (int label = 0; label <= last_internal; ++label) values << int{states.at(column, label).value} << " ";
    values << " leaves: ";
    for (std::size_t label = last_internal + 1; label < states.nodes(); ++label) {
      values << int{states.at(column, static_cast<int>(label)).value} << " ";
    }
    values << "\n";
    write_indicator_row(states, column, &NodeState::deletion, deletions);
    write_indicator_row(states, column, &NodeState::insertion, insertions);
    write_indicator_row(states, column, &NodeState::bond, bonds);
  }
}
