#include "ratestates/emission_probs.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <vector>

#include "io/vector_writers.h"
#include "support/test_trees.h"
#include "tree/trans_probs.h"

namespace {

using Matrix = std::vector<std::vector<double>>;

const std::vector<int> nonempty_values{1, 2, 3, 4};
const std::vector<int> all_values{0, 1, 2, 3, 4};
const std::vector<int> rate_state_labels{0, 1, 2};
constexpr double untouched = 99.0;

// Six-leaf columns with their root values set directly (any internal value
// other than 5 works for the likelihood; a node is 5 when both children are).
struct Alignment {
  TreeTable table = six_leaf_table();
  std::vector<std::vector<int>> columns{
      {1, 1, 2, 1, 1, 1}, {0, 3, 3, 5, 3, 4}, {4, 4, 4, 4, 4, 4}, {5, 5, 2, 0, 0, 1}, {2, 3, 4, 1, 0, 5}};
  std::vector<int> root_values{1, 3, 0, 2, 4};

  std::unique_ptr<PhyTree> make_tree(std::size_t c) const {
    auto tree = table.make_tree(columns[c]);
    for (int label = tree->last_internal_label; label >= 0; --label) {
      Node* node = tree->nodes[label];
      const bool absent = node->child_nodes[0]->value == 5 && node->child_nodes[1]->value == 5;
      node->value = absent ? 5 : 1;
    }
    tree->root->value = root_values[c];
    return tree;
  }
  TreeSet trees() const {
    TreeSet set;
    for (std::size_t c = 0; c < columns.size(); ++c) set.add(make_tree(c));
    return set;
  }
};

struct Rates {
  std::vector<double> deletion{0.1, 0.5, 1.2};
  std::vector<double> insertion{0.0, 0.2, 0.0};
  std::vector<double> mutation{0.3, 1.0, 2.5};
};

const Matrix thetas{{0.1, 0.2, 0.3, 0.4}, {0.25, 0.25, 0.25, 0.25}, {0.7, 0.1, 0.1, 0.1}};

// ln P(column | rate state k, segment frequencies) from a pass on a fresh tree.
double reference_emission(const Alignment& alignment, std::size_t c, const std::vector<double>& freqs,
                          const Rates& rates, std::size_t k) {
  auto tree = alignment.make_tree(c);
  TransProbs probs(freqs, rates.deletion[k], rates.insertion[k], rates.mutation[k], nonempty_values,
                   alignment.table.children, alignment.table.lengths);
  tree->bottomup(probs, all_values, nullptr);
  return tree->root->subtree_lik.at(static_cast<std::size_t>(tree->root->value));
}

Matrix run(TreeSet& set, const Alignment& alignment, const Rates& rates, const std::vector<std::vector<long>>& from_tos,
           std::ostream* out = nullptr) {
  Matrix emissions(alignment.columns.size(), std::vector<double>(3, untouched));
  compute_obs_emission_probs(set.trees, rate_state_labels, rates.deletion, rates.insertion, rates.mutation, from_tos,
                             thetas, nonempty_values, all_values, alignment.table.children, alignment.table.lengths,
                             emissions, out);
  return emissions;
}

// Segment s covers its columns with thetas[s]; a one-column segment fills one
// row; columns outside every segment keep their values. The engine's shared tables give
// the same matrix, bit for bit, and leave the trees' own tables alone.
TEST(ComputeObsEmissionProbs, UsesTheSegmentFrequenciesAndTheStateRates) {
  const Alignment alignment;
  const Rates rates;
  TreeSet set = alignment.trees();
  const std::vector<std::vector<long>> from_tos{{0, 1}, {2, 2}, {3, 3}};
  const Matrix emissions = run(set, alignment, rates, from_tos);
  TreeSet shared = alignment.trees();
  LikelihoodEngine engine(shared.trees, 1);
  Matrix by_engine(alignment.columns.size(), std::vector<double>(3, untouched));
  compute_obs_emission_probs(shared.trees, engine, rate_state_labels, rates.deletion, rates.insertion, rates.mutation,
                             from_tos, thetas, nonempty_values, alignment.table.children, alignment.table.lengths,
                             by_engine, nullptr);
  EXPECT_EQ(by_engine, emissions);
  EXPECT_TRUE(shared.trees[0]->root->subtree_lik.empty());
  for (std::size_t s = 0; s < from_tos.size(); ++s) {
    for (auto c = static_cast<std::size_t>(from_tos[s][0]); c <= static_cast<std::size_t>(from_tos[s][1]); ++c) {
      for (std::size_t k = 0; k < 3; ++k) {
        EXPECT_EQ(emissions[c][k], reference_emission(alignment, c, thetas[s], rates, k)) << c << " " << k;
      }
    }
  }
  EXPECT_EQ(emissions[4], std::vector<double>(3, untouched));
}

// A leaf value outside the alphabet leaves no state of the root possible:
// the column's log-likelihood is then minus infinity, not a stale number.
TEST(ComputeObsEmissionProbs, ImpossibleColumnHasMinusInfinity) {
  Alignment alignment;
  alignment.columns[2][3] = 7;
  TreeSet set = alignment.trees();
  const Matrix emissions = run(set, alignment, Rates{}, {{0, 4}});
  for (const double e : emissions[2]) EXPECT_EQ(e, -std::numeric_limits<double>::infinity());
  for (const double e : emissions[1]) EXPECT_TRUE(std::isfinite(e));
}

}  // namespace
