#include "updates/dirichlet_updates.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "random/variates.h"
#include "support/test_trees.h"

namespace {

const std::vector<int> nonempty_value_index{0, 0, 1, 2, 3};

using Rows = std::vector<std::vector<double>>;

// Column trees of the three-leaf tree (root 0 -> 1, leaf 2; 1 -> leaves 3, 4)
// with the given root values; every indicator starts at -1.
TreeSet trees_with_roots(const std::vector<int>& roots) {
  TreeSet set;
  const TreeTable table = three_leaf_table();
  for (const int root : roots) {
    auto tree = table.make_tree({1, 2, 3});
    tree->root->value = root;
    set.add(std::move(tree));
  }
  return set;
}

std::vector<std::vector<std::vector<double>>> empty_betas(std::size_t segments) {
  return std::vector<std::vector<std::vector<double>>>(segments, Rows(4));
}

// The Dirichlet draws that the given parameter rows produce, in order, right
// after srand(seed).
Rows expected_draws(unsigned seed, const Rows& parameters) {
  std::srand(seed);
  Rows draws;
  for (const auto& row : parameters) draws.push_back(sample_dirichlet(1, row)[0]);
  return draws;
}

::testing::Matcher<const std::string&> exactly(const std::string& text) { return text; }

}  // namespace

// Roots 1 1 2 2 3 in segments [0, 2], [3, 3], [4, 4]. Segment 0 starts at
// column 0, so it counts 1->1 and 1->2 only; each one-column segment counts
// the pair that leads into it. Unobserved rows stay flat (0.25).
TEST(BetaUpdate, CountsTransitionsIntoEachSegment) {
  TreeSet set = trees_with_roots({1, 1, 2, 2, 3});
  const std::vector<std::vector<long>> from_tos{{0, 2}, {3, 3}, {4, 4}};
  auto betas = empty_betas(3);
  std::ostringstream summary;
  std::srand(11);
  sample_gammas_etas_betas(set.trees, from_tos, betas, 4, nonempty_value_index, &summary);

  const std::string flat = "0.25 0.25 0.25 0.25\n";
  EXPECT_EQ(summary.str(), "0.333333 0.333333 0.166667 0.166667\n" + flat + flat + flat +  //
                               flat + "0.2 0.4 0.2 0.2\n" + flat + flat +                  //
                               flat + "0.2 0.2 0.4 0.2\n" + flat + flat);
  EXPECT_EQ(betas[0][0], expected_draws(11, {{2, 2, 1, 1}})[0]);  // the first draw, from 1 + counts
}

TEST(BetaUpdate, SegmentWithoutTransitionsIsFlat) {
  TreeSet set = trees_with_roots({4, 4});
  auto betas = empty_betas(2);
  std::ostringstream summary;
  sample_gammas_etas_betas(set.trees, {{0, 0}, {1, 1}}, betas, 4, nonempty_value_index, &summary);
  const std::string flat = "0.25 0.25 0.25 0.25\n";
  EXPECT_EQ(summary.str(), flat + flat + flat + flat + flat + flat + flat + "0.2 0.2 0.2 0.4\n");
}

// A root that empties or fills between adjacent columns ends the run. The
// first case also shows the empty root value and the column's leaves on
// standard output (sent to standard error here, where the test can read it).
TEST(BetaUpdateDeathTest, RootChangingBetweenEmptyAndNonEmptyEndsTheRun) {
  TreeSet emptying = trees_with_roots({2, 0});
  emptying.trees[1]->init_leave_values({1, 0, 2});
  auto betas = empty_betas(1);
  EXPECT_EXIT(
      {
        std::cout.rdbuf(std::cerr.rdbuf());
        sample_gammas_etas_betas(emptying.trees, {{0, 1}}, betas, 4, nonempty_value_index, nullptr);
      },
      ::testing::ExitedWithCode(255), exactly("01 0 2\ntransition from non-empty to empty occurs unexpectedly! \n"));

  // An empty root followed by an empty root counts for nothing; the refill
  // after it ends the run.
  TreeSet filling = trees_with_roots({0, 0, 2});
  EXPECT_EXIT(sample_gammas_etas_betas(filling.trees, {{0, 2}}, betas, 4, nonempty_value_index, nullptr),
              ::testing::ExitedWithCode(255), exactly("transition from empty to non-empty occurs unexpectedly! \n"));
}

// New residues: an insertion on a branch, a mutation (deletion 0, bond 0),
// and a root that follows an empty root. The root's own indicators and kept
// residues (bond 1) count for nothing.
TEST(ThetaUpdate, CountsNewlyArisingValues) {
  TreeSet set = trees_with_roots({2, 0, 1});
  const auto set_node = [&](std::size_t column, int label, int value, int deletion, int insertion, int bond) {
    Node& node = *set.trees[column]->nodes[label];
    node.value = value;
    node.deletion = deletion;
    node.insertion = insertion;
    node.bond = bond;
  };
  set.trees[0]->root->insertion = 1;
  set_node(0, 1, 3, 0, -1, 0);   // mutation
  set_node(0, 3, 4, -1, 1, -1);  // insertion
  set_node(0, 2, 2, 0, -1, 1);   // kept
  set_node(0, 4, 0, 1, -1, -1);  // deletion
  set_node(2, 2, 4, 0, -1, 0);   // mutation
  const std::vector<std::vector<long>> from_tos{{0, 1}, {2, 2}};
  std::vector<std::vector<double>> thetas(2);
  std::ostringstream summary;
  std::srand(3);
  sample_thetas(set.trees, from_tos, thetas, 4, nonempty_value_index, &summary);
  EXPECT_EQ(summary.str(), "0.166667 0.166667 0.333333 0.333333\n0.333333 0.166667 0.166667 0.333333\n");
  const Rows draws = expected_draws(3, {{1, 1, 2, 2}, {2, 1, 1, 2}});
  EXPECT_EQ(thetas[0], draws[0]);
  EXPECT_EQ(thetas[1], draws[1]);
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
