#include "ratestates/emission_probs.h"

#include <cstddef>
#include <limits>

#include "io/vector_writers.h"
#include "tree/trans_probs.h"

namespace {

// The root's log-likelihood at its current value. With floored branch
// matrices every state a residue or an empty position can take is reachable,
// so the entry is valid in a run; should it not be (a leaf value outside the
// alphabet), the table holds a stale number, and the column's true
// log-likelihood, minus infinity, is returned instead.
double root_log_likelihood(const PhyTree& tree) {
  const Node& root = *tree.root;
  const auto state = static_cast<std::size_t>(root.value);
  if (!root.flag_subtree_lik_valid.at(state)) return -std::numeric_limits<double>::infinity();
  return root.subtree_lik.at(state);
}

}  // namespace

void compute_obs_emission_probs(std::vector<PhyTree*>& trees, const std::vector<int>& rate_state_labels,
                                const std::vector<double>& deletion_rates, const std::vector<double>& insertion_rates,
                                const std::vector<double>& mutation_rates,
                                const std::vector<std::vector<long>>& from_tos,
                                const std::vector<std::vector<double>>& thetas, const std::vector<int>& nonempty_values,
                                const std::vector<int>& all_values, const std::vector<int>& children,
                                const std::vector<double>& lengths, std::vector<std::vector<double>>& emission_probs,
                                std::ostream* out) {
  const std::size_t n_states = rate_state_labels.size();
  for (std::size_t segment = 0; segment < from_tos.size(); ++segment) {
    const std::vector<long>& bounds = from_tos[segment];
    const std::vector<double>& freqs = thetas.at(segment);
    for (long column = bounds.at(0); column <= bounds.at(1); ++column) {
      PhyTree& tree = *trees.at(static_cast<std::size_t>(column));
      std::vector<double>& row = emission_probs.at(static_cast<std::size_t>(column));
      for (std::size_t k = 0; k < n_states; ++k) {
        // The branch matrices are rebuilt for every column: they depend on the
        // segment's frequencies as well as on the rate state.
        TransProbs trans_probs(freqs, deletion_rates.at(k), insertion_rates.at(k), mutation_rates.at(k),
                               nonempty_values, children, lengths);
        tree.bottomup(trans_probs, all_values, nullptr);
        row.at(k) = root_log_likelihood(tree);
      }
    }
  }
  if (out != nullptr) write_vectors_two_dim(emission_probs, out);
}

void compute_obs_emission_probs(std::vector<PhyTree*>& trees, LikelihoodEngine& engine,
                                const std::vector<int>& rate_state_labels, const std::vector<double>& deletion_rates,
                                const std::vector<double>& insertion_rates, const std::vector<double>& mutation_rates,
                                const std::vector<std::vector<long>>& from_tos,
                                const std::vector<std::vector<double>>& thetas, const std::vector<int>& nonempty_values,
                                const std::vector<int>& children, const std::vector<double>& lengths,
                                std::vector<std::vector<double>>& emission_probs, std::ostream* out) {
  engine.evaluate(from_tos, thetas, deletion_rates, insertion_rates, mutation_rates, nonempty_values, children,
                  lengths);
  const int n_states = static_cast<int>(rate_state_labels.size());
  for (const std::vector<long>& bounds : from_tos) {
    for (long column = bounds.at(0); column <= bounds.at(1); ++column) {
      const auto root_value = static_cast<std::size_t>(trees.at(static_cast<std::size_t>(column))->root->value);
      std::vector<double>& row = emission_probs.at(static_cast<std::size_t>(column));
      for (int k = 0; k < n_states; ++k) {
        const PatternTables& root = engine.root_tables(column, k);
        const double log_likelihood = root.subtree_lik.at(root_value);
        row.at(k) = LikelihoodEngine::valid(root, static_cast<int>(root_value))
                        ? log_likelihood
                        : -std::numeric_limits<double>::infinity();
      }
    }
  }
  if (out != nullptr) write_vectors_two_dim(emission_probs, out);
}
