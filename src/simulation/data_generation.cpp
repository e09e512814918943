#include "simulation/data_generation.h"

#include <fstream>
#include <iostream>

#include "io/csv_reader.h"
#include "io/output_files.h"
#include "io/vector_writers.h"
#include "random/sampler.h"

namespace {

template <typename T>
std::vector<std::vector<T>> read_rows(const std::string& path) {
  CSVReader<T> reader(path);
  return reader.read(true);
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

// The whole rate-state path comes first, before any tree, so the rate states
// of a given seed do not depend on the shape of the tree.
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

}  // namespace

void read_segment_parameters(const std::string& dir, std::size_t segment_count, std::vector<double>& gammas,
                             std::vector<double>& etas, std::vector<std::vector<std::vector<double>>>& betas,
                             std::vector<std::vector<double>>& thetas, std::vector<double>& deletion_rates,
                             std::vector<double>& insertion_rates, std::vector<double>& mutation_rates) {
  gammas = read_first_row(dir + "gammas.txt");
  etas = read_first_row(dir + "etas.txt");
  betas = cut_into_blocks(read_rows<double>(dir + "betas.txt"), segment_count);
  thetas = read_rows<double>(dir + "thetas.txt");
  deletion_rates = read_first_row(dir + "deletion_rates.txt");
  insertion_rates = read_first_row(dir + "insertion_rates.txt");
  mutation_rates = read_first_row(dir + "mutation_rates.txt");
}

void write_data_generation_parameters(const std::vector<std::vector<long>>& from_tos, const std::vector<double>& gammas,
                                      const std::vector<double>& etas,
                                      const std::vector<std::vector<std::vector<double>>>& betas,
                                      const std::vector<std::vector<double>>& thetas,
                                      const std::vector<double>& deletion_rates,
                                      const std::vector<double>& insertion_rates,
                                      const std::vector<double>& mutation_rates, std::ostream* out) {
  *out << "segmentation regions:\n";
  write_vectors_two_dim(from_tos, out);
  *out << "number of segments:\n" << from_tos.size() << "\n";
  *out << "gammas:\n";
  write_vector_row(gammas, out);
  *out << "etas:\n";
  write_vector_row(etas, out);
  *out << "betas:\n";
  write_vectors_three_dim(betas, out);
  *out << "thetas:\n";
  write_vectors_two_dim(thetas, out);
  *out << "deletion_rates:\n";
  write_vector_row(deletion_rates, out);
  *out << "insertion_rates:\n";
  write_vector_row(insertion_rates, out);
  *out << "mutation_rates:\n";
  write_vector_row(mutation_rates, out);
}

void read_data_generation_parameters(const std::string& dir, std::vector<std::vector<long>>& from_tos,
                                     std::vector<double>& gammas, std::vector<double>& etas,
                                     std::vector<std::vector<std::vector<double>>>& betas,
                                     std::vector<std::vector<double>>& thetas, std::vector<double>& deletion_rates,
                                     std::vector<double>& insertion_rates, std::vector<double>& mutation_rates,
                                     std::ostream* out) {
  from_tos = read_rows<long>(dir + "from_tos.txt");
  read_segment_parameters(dir, from_tos.size(), gammas, etas, betas, thetas, deletion_rates, insertion_rates,
                          mutation_rates);
  write_data_generation_parameters(from_tos, gammas, etas, betas, thetas, deletion_rates, insertion_rates,
                                   mutation_rates, out);
}

void generate_trees(std::vector<PhyTree*>& trees, const std::vector<int>& parents, const std::vector<int>& children,
                    const std::vector<double>& lengths, const std::vector<int>& map_from_leave_label_to_seq_id,
                    const std::vector<int>& values, const std::vector<int>& first_root_values,
                    const std::vector<std::vector<long>>& from_tos, const std::vector<double>& first_root_weights,
                    const std::vector<double>& gammas, const std::vector<double>& etas,
                    const std::vector<std::vector<std::vector<double>>>& betas,
                    const std::vector<std::vector<double>>& thetas, const std::vector<double>& initial_state_probs,
                    const std::vector<std::vector<double>>& state_transitions,
                    const std::vector<double>& deletion_rates, const std::vector<double>& insertion_rates,
                    const std::vector<double>& mutation_rates, const std::string& output_file, std::ostream* log,
                    std::ostream* rate_state_out) {
  static const int empty_code = 1;
  const std::size_t column_count = from_tos.empty() ? 0 : static_cast<std::size_t>(from_tos.back().at(1) + 1);
  const std::vector<int> states = draw_rate_states(column_count, initial_state_probs, state_transitions);

  trees.assign(column_count, nullptr);
  std::vector<std::vector<int>> leaf_values(column_count);
  int previous_root_value = -1;

  for (std::size_t s = 0; s < from_tos.size(); ++s) {
    Sampler<int, double> value_sampler(values, thetas.at(s));
    Sampler<int, double> nonempty_previous_sampler({1, 0}, {gammas.at(s), 1.0 - gammas.at(s)});
    Sampler<int, double> empty_previous_sampler({0, 1}, {etas.at(s), 1.0 - etas.at(s)});

    for (long c = from_tos[s].at(0); c <= from_tos[s].at(1); ++c) {
      const int state = states.at(c);
      PhyTree* tree = new PhyTree(parents, children, lengths, map_from_leave_label_to_seq_id);
      trees.at(c) = tree;

      // The root chain: the first column from its own weights; after an
      // empty root the residue is new, so it comes from the frequencies;
      // after a residue r, from the segment's transition row of r.
      const bool first_column = s == 0 && c == 0;
      const std::vector<int>& root_values = first_column ? first_root_values : values;
      const std::vector<double>& root_weights =
          first_column ? first_root_weights
                       : (previous_root_value == 0 ? thetas.at(s) : betas.at(s).at(previous_root_value - 1));
      Sampler<int, double> root_value_sampler(root_values, root_weights);

      leaf_values[c] = tree->generate_data(previous_root_value, nonempty_previous_sampler, empty_previous_sampler,
                                           root_value_sampler, deletion_rates.at(state), insertion_rates.at(state),
                                           mutation_rates.at(state), value_sampler, empty_code);
      previous_root_value = tree->root->value;
      if (log != nullptr) {
        *log << previous_root_value << " : ";
        write_vector_row(leaf_values[c], log);
      }
    }
  }

  std::ofstream output;
  open_output_file(output_file, output, &std::cerr);
  write_vectors_two_dim(leaf_values, &output);
  check_output_file(output, output_file);
  write_vector_column(states, rate_state_out);
}

void output_zvs(std::vector<PhyTree*>& trees, std::ostream* values, std::ostream* deletions, std::ostream* insertions,
                std::ostream* bonds) {
  for (PhyTree* tree : trees) {
    tree->output_internal_values(values);
    tree->output_deletions(deletions);
    tree->output_insertions(insertions);
    tree->output_bonds(bonds);
  }
}
