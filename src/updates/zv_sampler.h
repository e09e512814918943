#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "tree/column_states.h"
#include "tree/likelihood_engine.h"
#include "tree/model_parameters.h"

// Root transition matrix of one segment (rows the previous column's root
// value, columns the next one's, both positions of all_values): an empty root
// stays empty with 1 - eta and fills with eta * theta; a non-empty one
// empties with gamma and otherwise moves by the segment's beta row.
std::vector<std::vector<double>> root_transitions(const Segmentation& segmentation, std::size_t segment);

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
  // `initial_value_probs`: the first column's root distribution over the
  // values 0..4.
  ZVSampler(long num_columns, std::vector<double> initial_value_probs);
  ZVSampler(const ZVSampler&) = default;
  ZVSampler& operator=(const ZVSampler&) = default;

  // Forward filtering over the root chain: the engine's tables are
  // evaluated for these segments, frequencies and rates (if they are not
  // already), and each column reads its root's likelihoods under its rate
  // state. Returns ln P(alignment) (0.0 for an alignment of one column); an
  // InternalError of status 1 when it is minus infinity.
  double forward(const Versioned<Segmentation>& segmentation, const Versioned<EventRates>& rates,
                 const std::vector<int>& column_rate_states, LikelihoodEngine& engine);
  // Draws every root value into `states`, last column first.
  void backward_sample_ancestors(ColumnStates& states);
  // Draws the other internal values and all indicators, column by column,
  // from the engine's pattern tables of the last forward (which must have
  // used these segments and rates).
  void sample_internal_nodes(const Versioned<Segmentation>& segmentation, const Versioned<EventRates>& rates,
                             const std::vector<int>& column_rate_states, LikelihoodEngine& engine,
                             ColumnStates& states);

  const std::vector<std::vector<double>>& log_forward() const { return _log_forward; }

 private:
  // A column root's log-likelihood per value position, where valid.
  struct RootLikelihoods {
    const double* subtree_lik;
    std::uint32_t valid;  // bit s: position s is possible
    std::size_t size;
    bool is_valid(std::size_t s) const;
  };
  static RootLikelihoods _root_likelihoods(const PatternTables& root);
  // Column 0 of the recursion, from the first root's distribution.
  void _forward_first_column(const RootLikelihoods& root);
  // Column c >= 1 through the transition matrix of its segment; also fills
  // the backward weights of column c.
  void _forward_column(long c, const RootLikelihoods& root, const std::vector<std::vector<double>>& transitions);
  // ln P(alignment) from the last column; an InternalError of status 1 when no
  // root value of that column is possible.
  double _log_likelihood(long last);
  std::optional<double> _largest_valid(long column) const;

  long _num_columns = 0;
  int _num_values = 0;
  std::vector<double> _initial_value_probs;
  std::vector<std::vector<double>> _log_forward;
  std::vector<std::vector<bool>> _log_forward_valid;
  std::vector<std::vector<std::vector<double>>> _backward_weights;
};
