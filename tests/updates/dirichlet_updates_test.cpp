#include "updates/dirichlet_updates.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <iostream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

#include "random/variates.h"
#include "support/errors.h"
#include "support/test_trees.h"

namespace {

const std::vector<int> nonempty_value_index{0, 0, 1, 2, 3};

using Rows = std::vector<std::vector<double>>;
using FromTos = std::vector<std::vector<long>>;

// Column trees of the three-leaf tree (root 0 -> 1, leaf 2; 1 -> leaves 3, 4)
// with the given root values; every indicator starts at -1.
TreeSet trees_with_roots(const std::vector<int>& roots) {
  TreeSet set;
  for (const int root : roots) {
    set.add(three_leaf_table().make_tree({1, 2, 3}));
    set.trees.back()->root->value = root;
  }
  return set;
}

// Both updates count from the column trees or from their compact states (as
// the run does): every test runs on both, with the same counts, draws and text.
Rows betas_of(TreeSet& set, bool compact, const FromTos& from_tos, std::ostream* out, std::size_t row = 0) {
  std::vector<Rows> betas(from_tos.size(), Rows(4));
  if (compact) {
    sample_gammas_etas_betas(ColumnStates(set.trees), from_tos, betas, 4, nonempty_value_index, out);
  } else {
    sample_gammas_etas_betas(set.trees, from_tos, betas, 4, nonempty_value_index, out);
  }
  return betas.at(row);
}

Rows thetas_of(TreeSet& set, bool compact, const FromTos& from_tos, std::ostream* out) {
  Rows thetas(from_tos.size());
  if (compact) {
    sample_thetas(ColumnStates(set.trees), from_tos, thetas, 4, nonempty_value_index, out);
  } else {
    sample_thetas(set.trees, from_tos, thetas, 4, nonempty_value_index, out);
  }
  return thetas;
}

// The Dirichlet draws that the given parameter rows produce, in order, right
// after srand(seed).
Rows expected_draws(unsigned seed, const Rows& parameters) {
  std::srand(seed);
  Rows draws;
  for (const auto& row : parameters) draws.push_back(sample_dirichlet(1, row)[0]);
  return draws;
}

const std::string flat = "0.25 0.25 0.25 0.25\n";

}  // namespace

// Roots 1 1 2 2 3 in segments [0, 2], [3, 3], [4, 4]. Segment 0 starts at
// column 0, so it counts 1->1 and 1->2 only; each one-column segment counts
// the pair that leads into it. Unobserved rows stay flat (0.25); a segment
// beyond the columns is an error.
TEST(BetaUpdate, CountsTransitionsIntoEachSegment) {
  for (const bool compact : {false, true}) {
    TreeSet set = trees_with_roots({1, 1, 2, 2, 3});
    std::ostringstream summary;
    std::srand(11);
    const Rows first = betas_of(set, compact, {{0, 2}, {3, 3}, {4, 4}}, &summary);
    EXPECT_EQ(summary.str(), "0.333333 0.333333 0.166667 0.166667\n" + flat + flat + flat +  //
                                 flat + "0.2 0.4 0.2 0.2\n" + flat + flat +                  //
                                 flat + "0.2 0.2 0.4 0.2\n" + flat + flat);
    EXPECT_EQ(first[0], expected_draws(11, {{2, 2, 1, 1}})[0]);  // the first draw, from 1 + counts
    std::ostringstream two_segments;
    betas_of(set, compact, {{0, 0}, {1, 1}}, &two_segments);
    EXPECT_EQ(two_segments.str(), flat + flat + flat + flat + "0.4 0.2 0.2 0.2\n" + flat + flat + flat);
    EXPECT_THROW(betas_of(set, compact, {{0, 4}, {5, 5}}, nullptr), std::out_of_range);
  }
}

// A root that empties or fills between adjacent columns ends the run. The
// first case also shows the empty root value and the column's leaves.
// An empty root followed by an empty root counts for nothing.
TEST(BetaUpdate, RootChangingBetweenEmptyAndNonEmptyEndsTheRun) {
  for (const bool compact : {false, true}) {
    TreeSet emptying = trees_with_roots({2, 0});
    emptying.trees[1]->init_leave_values({1, 0, 2});
    EXPECT_TRUE(throws_error<InternalError>(
        [&] {
          betas_of(emptying, compact, {{0, 1}}, nullptr);
        },
        -1, "^01 0 2\ntransition from non-empty to empty occurs unexpectedly! \n$"));
    TreeSet filling = trees_with_roots({0, 0, 2});
    EXPECT_TRUE(throws_error<InternalError>(
        [&] {
          betas_of(filling, compact, {{0, 2}}, nullptr);
        },
        -1, "^transition from empty to non-empty occurs unexpectedly! \n$"));
  }
}

// New residues: an insertion on a branch, a mutation (deletion 0, bond 0),
// and a root that follows an empty root. The root's own indicators and kept
// residues (bond 1) count for nothing.
TEST(ThetaUpdate, CountsNewlyArisingValues) {
  for (const bool compact : {false, true}) {
    TreeSet set = trees_with_roots({2, 0, 1});
    const auto set_node = [&](std::size_t column, int label, int value, int deletion, int insertion, int bond) {
      Node& node = *set.trees[column]->nodes[label];
      std::tie(node.value, node.deletion, node.insertion, node.bond) = std::tuple(value, deletion, insertion, bond);
    };
    set.trees[0]->root->insertion = 1;
    set_node(0, 1, 3, 0, -1, 0);   // mutation
    set_node(0, 3, 4, -1, 1, -1);  // insertion
    set_node(0, 2, 2, 0, -1, 1);   // kept
    set_node(0, 4, 0, 1, -1, -1);  // deletion
    set_node(2, 2, 4, 0, -1, 0);   // mutation
    std::ostringstream summary;
    std::srand(3);
    const Rows thetas = thetas_of(set, compact, {{0, 1}, {2, 2}}, &summary);
    EXPECT_EQ(summary.str(), "0.166667 0.166667 0.333333 0.333333\n0.333333 0.166667 0.166667 0.333333\n");
    EXPECT_EQ(thetas, expected_draws(3, {{1, 1, 2, 2}, {2, 1, 1, 2}}));
    EXPECT_THROW(thetas_of(set, compact, {{0, 3}}, nullptr), std::out_of_range);
  }
}

TEST(ClusterProportions, DrawsFromOnePlusClusterSizes) {
  const std::vector<std::vector<long>> clusters{{1, 2, 3}, {}, {4}};
  std::ostringstream summary;
  double log_density = 0.5;
  std::srand(8);
  const std::vector<double> p = sample_cluster_proportions(clusters, log_density, &summary, true);
  EXPECT_EQ(summary.str(), "4 1 2\n");
  EXPECT_EQ(p, expected_draws(8, {{4, 1, 2}})[0]);
  EXPECT_DOUBLE_EQ(log_density, 0.5 + 3 * std::log(p[0]) + std::log(p[2]));
  double untouched = 0.5;
  sample_cluster_proportions(clusters, untouched, &summary, false);
  EXPECT_EQ(untouched, 0.5);
}
