#include "ratestates/emission_probs.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <vector>

#include "numerics/worker_pool.h"
#include "support/reference_likelihood.h"
#include "support/test_trees.h"
#include "tree/trans_probs.h"

namespace {

using Matrix = std::vector<std::vector<double>>;

constexpr double untouched = 99.0;

// Six-leaf columns with their root values set directly (any internal value
// other than 5 works for the likelihood; a node is 5 when both children are).
struct Alignment {
  TreeTable table = six_leaf_table();
  std::vector<std::vector<int>> columns{
      {1, 1, 2, 1, 1, 1}, {0, 3, 3, 5, 3, 4}, {4, 4, 4, 4, 4, 4}, {5, 5, 2, 0, 0, 1}, {2, 3, 4, 1, 0, 5}};
  std::vector<int> root_values{1, 3, 0, 2, 4};

  ColumnStates states() const {
    ColumnStates states = columns_on(table, columns);
    const TreeTopology& tree = states.topology();
    for (std::size_t c = 0; c < columns.size(); ++c) {
      for (int node = static_cast<int>(tree.size()) - 1; node >= 0; --node) {
        if (tree.is_leaf(node)) continue;
        const bool absent = states.at(c, tree.label(tree.first_child(node))).value == 5 &&
                            states.at(c, tree.label(tree.second_child(node))).value == 5;
        states.at(c, tree.label(node)).value = absent ? 5 : 1;
      }
      states.set_root_value(c, root_values[c]);
    }
    return states;
  }
};

struct Rates : EventRates {
  Rates() : EventRates{{0.1, 0.5, 1.2}, {0.0, 0.2, 0.0}, {0.3, 1.0, 2.5}} {}
};

const Matrix thetas{{0.1, 0.2, 0.3, 0.4}, {0.25, 0.25, 0.25, 0.25}, {0.7, 0.1, 0.1, 0.1}};

// ln P(column | rate state k, segment frequencies) from the column's own pass.
double reference_emission(const ColumnStates& states, std::size_t c, const std::vector<double>& freqs,
                          const Rates& rates, std::size_t k) {
  TransProbs probs(states.topology(), freqs, rates.of(k));
  return reference_likelihood(states, c, probs).subtree_lik[0].at(static_cast<std::size_t>(states.root_value(c)));
}

Matrix run(const ColumnStates& states, const Alignment& alignment, const Rates& rates,
           const std::vector<std::vector<long>>& from_tos) {
  WorkerPool pool(1);
  LikelihoodEngine engine(states, pool);
  Matrix emissions(alignment.columns.size(), std::vector<double>(3, untouched));
  const Versioned<Segmentation> segments(Segmentation{from_tos, thetas, {}, {}, {}});
  compute_obs_emission_probs(states, engine, segments, Versioned<EventRates>(rates), emissions);
  return emissions;
}

// Segment s covers its columns with thetas[s]; a one-column segment fills one
// row; columns outside every segment keep their values. Every entry is the
// column's own pass at its root value, bit for bit.
TEST(ComputeObsEmissionProbs, UsesTheSegmentFrequenciesAndTheStateRates) {
  const Alignment alignment;
  const Rates rates;
  const ColumnStates states = alignment.states();
  const std::vector<std::vector<long>> from_tos{{0, 1}, {2, 2}, {3, 3}};
  const Matrix emissions = run(states, alignment, rates, from_tos);
  for (std::size_t s = 0; s < from_tos.size(); ++s) {
    for (auto c = static_cast<std::size_t>(from_tos[s][0]); c <= static_cast<std::size_t>(from_tos[s][1]); ++c) {
      for (std::size_t k = 0; k < 3; ++k) {
        EXPECT_EQ(emissions[c][k], reference_emission(states, c, thetas[s], rates, k))
            << c << " " << k;
      }
    }
  }
  EXPECT_EQ(emissions[4], std::vector<double>(3, untouched));
}

// With the branches from the root to node 2 and from node 2 to leaf 5 of
// length 0, the root must hold leaf 5's value: a root value that differs is
// impossible, and the column's log-likelihood is then minus infinity, not a
// stale number.
TEST(ComputeObsEmissionProbs, ImpossibleRootValueHasMinusInfinity) {
  Alignment alignment;
  alignment.table.lengths[1] = alignment.table.lengths[4] = 0.0;
  const Matrix emissions = run(alignment.states(), alignment, Rates{}, {{0, 4}});
  for (const double e : emissions[1]) EXPECT_EQ(e, -std::numeric_limits<double>::infinity());
  for (const double e : emissions[0]) EXPECT_TRUE(std::isfinite(e));
}

}  // namespace
