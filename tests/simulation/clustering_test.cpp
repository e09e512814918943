#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdlib>
#include <sstream>
#include <tuple>

#include "simulation/rate_clustering.h"
#include "support/errors.h"
#include "support/statistics.h"
#include "support/test_trees.h"

namespace {

// A three-leaf tree (branches above nodes 1..4 of lengths 0.5, 0.25, 1, 2)
// whose branches carry the given {deletion, insertion, bond} indicators.
std::unique_ptr<PhyTree> tree_with(const std::vector<std::array<int, 3>>& branches) {
  auto tree = three_leaf_table().make_tree();
  for (std::size_t label = 1; label < tree->nodes.size(); ++label) {
    std::tie(tree->nodes[label]->deletion, tree->nodes[label]->insertion, tree->nodes[label]->bond) =
        std::tuple(branches[label - 1][0], branches[label - 1][1], branches[label - 1][2]);
  }
  return tree;
}

struct Clusters {
  std::vector<double> proportions;
  std::vector<double> deletion_rates;
  std::vector<double> insertion_rates;
  std::vector<double> mutation_rates;
};

// The column's posterior over clusters as a product of event probabilities
// (not of logs): a kept residue e^(-d b) times e^(-m b) or 1 - e^(-m b), a
// deletion 1 - e^(-d b), below an empty parent e^(-i b) or 1 - e^(-i b).
std::vector<double> exact_posterior(const PhyTree& tree, const Clusters& clusters) {
  std::vector<double> posterior;
  double total = 0.0;
  for (std::size_t c = 0; c < clusters.proportions.size(); ++c) {
    double p = clusters.proportions[c];
    for (std::size_t label = 1; label < tree.nodes.size(); ++label) {
      const Node* node = tree.nodes[label];
      const double keep_residue = std::exp(-clusters.deletion_rates[c] * node->length);
      const double no_mutation = std::exp(-clusters.mutation_rates[c] * node->length);
      const double no_insertion = std::exp(-clusters.insertion_rates[c] * node->length);
      if (node->deletion == 1) p *= 1.0 - keep_residue;
      if (node->deletion == 0) p *= keep_residue * (node->bond == 0 ? 1.0 - no_mutation : no_mutation);
      if (node->deletion == -1 && node->insertion == 1) p *= 1.0 - no_insertion;
      if (node->deletion == -1 && node->insertion == 0) p *= no_insertion;
    }
    posterior.push_back(p);
    total += p;
  }
  for (double& p : posterior) p /= total;
  return posterior;
}

TEST(Clustering, AssignmentFrequenciesMatchTheExactClusterPosterior) {
  TreeSet trees;
  trees.add(tree_with({{0, -1, 1}, {1, -1, -1}, {0, -1, 0}, {0, -1, 1}}));
  trees.add(tree_with({{0, -1, 0}, {0, -1, 0}, {0, -1, 1}, {0, -1, 0}}));
  trees.add(tree_with({{1, -1, -1}, {0, -1, 1}, {-1, 0, -1}, {-1, 1, -1}}));
  const Clusters clusters{{0.5, 0.3, 0.2}, {0.2, 1.0, 3.0}, {0.1, 0.3, 0.05}, {0.3, 1.5, 0.1}};
  std::vector<int> assignment;
  std::vector<std::vector<long>> members(3);
  std::vector<std::vector<double>> counts(3, std::vector<double>(3, 0.0));
  std::srand(41);
  for (int call = 0; call < 20000; ++call) {
    cluster_in_rates(trees.trees, clusters.proportions, assignment, members, clusters.deletion_rates,
                     clusters.insertion_rates, clusters.mutation_rates, nullptr);
    for (std::size_t t = 0; t < 3; ++t) counts[t][assignment[t]] += 1.0;
  }
  for (std::size_t t = 0; t < 3; ++t) {
    EXPECT_GT(chi_square_test(counts[t], exact_posterior(*trees.trees[t], clusters)), 1e-6) << "column " << t;
  }
  // The member lists of the last call list every column once, in order.
  std::vector<std::vector<long>> expected_members(3);
  for (long t = 0; t < 3; ++t) expected_members[assignment[t]].push_back(t);
  EXPECT_EQ(members, expected_members);
}

// Both clusters floor the same impossible deletion, so neither dominates
// through it: the draw follows the remaining terms, as the exact posterior
// with the floor says.
TEST(Clustering, AZeroRateKeepsAClusterDrawableWhenEveryClusterFloors) {
  TreeSet trees;
  trees.add(tree_with({{0, -1, 0}, {1, -1, -1}, {-1, -1, -1}, {-1, -1, -1}}));
  std::vector<int> assignment;
  std::vector<std::vector<long>> members(2);
  double first = 0.0;
  std::srand(3);
  const int calls = 20000;
  for (int call = 0; call < calls; ++call) {
    cluster_in_rates(trees.trees, {0.5, 0.5}, assignment, members, {0.0, 0.0}, {0.0, 0.0}, {1.0, 3.0}, nullptr);
    first += assignment[0] == 0;
  }
  // Only the mutation on the branch of length 0.5 differs.
  const double w0 = 1.0 - std::exp(-0.5);
  const double w1 = 1.0 - std::exp(-1.5);
  EXPECT_GT(chi_square_test({first, calls - first}, {w0 / (w0 + w1), w1 / (w0 + w1)}), 1e-6);
}

TEST(Clustering, AZeroProportionIsNeverDrawnAndItsListEndsEmpty) {
  TreeSet trees;
  for (int t = 0; t < 50; ++t) trees.add(tree_with({{0, -1, 1}, {0, -1, 1}, {0, -1, 1}, {0, -1, 1}}));
  std::vector<int> assignment(50, 0);
  // Stale entries must not survive the call.
  std::vector<std::vector<long>> members{{0, 1, 2}, {7}, {9}};
  std::srand(8);
  for (int call = 0; call < 100; ++call) {
    // Cluster 0 explains the conserved columns best but has proportion 0.
    cluster_in_rates(trees.trees, {0.0, 0.5, 0.5}, assignment, members, {0.0, 5.0, 5.0}, {0.0, 0.0, 0.0},
                     {0.0, 5.0, 5.0}, nullptr);
    for (const int a : assignment) ASSERT_NE(a, 0);
    ASSERT_TRUE(members[0].empty());
  }
  EXPECT_EQ(members[1].size() + members[2].size(), 50u);
}

TEST(ClusteringDeathTest, EveryLogWeightMinusInfinityStopsWithAMessage) {
  TreeSet trees;
  for (int t = 0; t < 2; ++t) trees.add(tree_with({{0, -1, 1}, {0, -1, 1}, {0, -1, 1}, {0, -1, 1}}));
  std::vector<int> assignment;
  std::vector<std::vector<long>> members(2);
  EXPECT_TRUE(throws_error<InternalError>(
      [&] {
        cluster_in_rates(trees.trees, {0.0, 0.0}, assignment, members, {1.0, 1.0}, {0.0, 0.0}, {1.0, 1.0}, nullptr);
      },
      -1,
      "^cluster_in_rates: column 0 has a log weight of minus infinity \\(or not a number\\) under every "
      "cluster: no cluster can hold it"));
}

}  // namespace
