#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "tree/likelihood_engine.h"
#include "tree/phy_tree.h"

// Root transition matrix of one segment (rows the previous column's root
// value, columns the next one's, both positions of all_values): an empty root
// stays empty with 1 - eta and fills with eta * theta; a non-empty one empties
// with gamma and otherwise moves by the segment's beta row.
std::vector<std::vector<double>> root_transitions(const std::vector<int>& all_values, const std::vector<double>& thetas,
                                                  const std::vector<std::vector<double>>& betas, double gamma,
                                                  double eta);

// Sampler of the latent ancestral values. The roots of the column trees form
// a Markov chain along the alignment (per-segment transition matrix built from
// gammas, etas, betas and thetas), and each root emits its column's leaves
// through the tree. Forward filtering over the chain, a backward draw of every
// root, then a top-down draw of every other internal node given its root.
class ZVSampler {
 public:
  ZVSampler();
  ZVSampler(long num_columns, int num_values);
  ZVSampler(const ZVSampler&) = default;
  ZVSampler& operator=(const ZVSampler&) = default;

  // Runs the tree likelihoods of every column with its rate state's rates and
  // its segment's frequencies, then the forward recursion over the root chain.
  // With `compute_log_likelihood`, stores ln P(alignment) in `log_likelihood`
  // (ends the run with status 1 when it is minus infinity).
  void forward(const std::vector<std::vector<long>>& from_tos, const std::vector<std::vector<double>>& thetas,
               const std::vector<int>& column_rate_states, const std::vector<double>& deletion_rates,
               const std::vector<double>& insertion_rates, const std::vector<double>& mutation_rates,
               const std::vector<int>& children, const std::vector<double>& lengths,
               const std::vector<int>& nonempty_values, std::vector<PhyTree*>& trees,
               const std::vector<int>& all_values, const std::vector<double>& initial_value_probs,
               const std::vector<double>& gammas, const std::vector<double>& etas,
               const std::vector<std::vector<std::vector<double>>>& betas, double& log_likelihood,
               bool compute_log_likelihood);
  // The same, with the tree likelihoods read from the engine's shared
  // pattern tables (evaluated here for these segments, frequencies and rates
  // if they are not already): bit-identical tables and results, and the
  // trees' own likelihood tables are not touched.
  void forward(const std::vector<std::vector<long>>& from_tos, const std::vector<std::vector<double>>& thetas,
               const std::vector<int>& column_rate_states, const std::vector<double>& deletion_rates,
               const std::vector<double>& insertion_rates, const std::vector<double>& mutation_rates,
               const std::vector<int>& children, const std::vector<double>& lengths,
               const std::vector<int>& nonempty_values, LikelihoodEngine& engine, const std::vector<int>& all_values,
               const std::vector<double>& initial_value_probs, const std::vector<double>& gammas,
               const std::vector<double>& etas, const std::vector<std::vector<std::vector<double>>>& betas,
               double& log_likelihood, bool compute_log_likelihood);
  // Draws every root value, last column first.
  void backward_sample_ancestors(std::vector<PhyTree*>& trees, const std::vector<int>& all_values,
                                 const std::vector<int>& all_value_index);
  // Draws the other internal values and all indicators, column by column.
  void sample_internal_nodes(const std::vector<std::vector<long>>& from_tos, std::vector<PhyTree*>& trees,
                             const std::vector<int>& all_values, const std::vector<int>& all_value_index,
                             const std::vector<int>& column_rate_states, const std::vector<double>& mutation_rates,
                             const std::vector<std::vector<double>>& thetas);
  // The same draws, in the same order, from the engine's pattern tables of
  // the last forward (which must have used these segments and rates).
  void sample_internal_nodes(const std::vector<std::vector<long>>& from_tos, LikelihoodEngine& engine,
                             std::vector<PhyTree*>& trees, const std::vector<int>& all_value_index,
                             const std::vector<int>& column_rate_states, const std::vector<double>& mutation_rates,
                             const std::vector<std::vector<double>>& thetas);

  const std::vector<std::vector<double>>& log_forward() const { return _log_forward; }
  const std::vector<std::vector<bool>>& log_forward_valid() const { return _log_forward_valid; }

 private:
  // A column root's log-likelihood per value position, where valid.
  struct RootLikelihoods {
    const double* subtree_lik;
    std::uint32_t valid;  // bit s: position s is possible
    std::size_t size;
    bool is_valid(std::size_t s) const;
  };
  static RootLikelihoods _root_likelihoods(const Node& root);
  static RootLikelihoods _root_likelihoods(const PatternTables& root);
  // Column 0 of the recursion, from the first root's distribution.
  void _forward_first_column(const RootLikelihoods& root, const std::vector<double>& initial_value_probs);
  // Column c >= 1 through the transition matrix of its segment; also fills
  // the backward weights of column c.
  void _forward_column(long c, const RootLikelihoods& root, const std::vector<std::vector<double>>& transitions);
  // ln P(alignment) from the last column; ends the run with status 1 when no
  // root value of that column is possible.
  double _log_likelihood(long last);
  std::optional<double> _largest_valid(long column) const;

  long _num_columns = 0;
  int _num_values = 0;
  std::vector<std::vector<double>> _log_forward;
  std::vector<std::vector<bool>> _log_forward_valid;
  std::vector<std::vector<std::vector<double>>> _backward_weights;
};
