#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "support/errors.h"
#include "support/statistics.h"
#include "support/test_trees.h"
#include "tree/phy_tree.h"
#include "tree/trans_probs.h"

namespace {

const std::vector<int> all_values{0, 1, 2, 3, 4};
const std::vector<int> all_value_index{0, 1, 2, 3, 4};
const std::vector<int> nonempty_values{1, 2, 3, 4};
const std::vector<double> freqs{0.1, 0.2, 0.3, 0.4};

struct Rates {
  double deletion, insertion, mutation;
};

TransProbs branch_probs(const TreeTable& table, const Rates& rates) {
  return TransProbs(freqs, rates.deletion, rates.insertion, rates.mutation, nonempty_values, table.children,
                    table.lengths);
}

bool is_residue(int value) { return value >= 1 && value <= 4; }

}  // namespace

// Four-leaf tree, root fixed at 1, leaves 1 2 | 0 0. The internal values
// (v1, v2) drawn by bottomup + topdown must follow
// P(v1, v2 | root, leaves) ~ P1[1][v1] P2[1][v2] P3[v1][1] P4[v1][2] P5[v2][0] P6[v2][0],
// and a bond between equal residues v must be 1 with probability
// e^(-mu t) / (e^(-mu t) + (1 - e^(-mu t)) freq[v]).
TEST(TopDown, DrawsFollowTheExactConditionalPosterior) {
  const TreeTable table = four_leaf_table();
  const Rates rates{1.0, 0.0, 1.5};
  TransProbs probs = branch_probs(table, rates);
  const auto& p = probs.get_trans_probs();
  auto tree = table.make_tree({1, 2, 0, 0});
  tree->root->value = 1;
  tree->bottomup(probs, all_values, nullptr);

  std::vector<double> exact(25, 0.0);
  for (int v1 = 0; v1 < 5; ++v1) {
    for (int v2 = 0; v2 < 5; ++v2) {
      exact[5 * v1 + v2] = p[0][1][v1] * p[1][1][v2] * p[2][v1][1] * p[3][v1][2] * p[4][v2][0] * p[5][v2][0];
    }
  }
  double total = 0.0;
  for (const double weight : exact) total += weight;
  for (double& weight : exact) weight /= total;

  // Per label: bonds drawn between equal residues and how many came out 1.
  std::vector<double> kept(7, 0.0);
  std::vector<double> equal(7, 0.0);
  std::vector<double> observed(25, 0.0);
  std::srand(424242);
  const int draws = 100000;
  for (int i = 0; i < draws; ++i) {
    tree->topdown(all_values, all_value_index, rates.mutation, freqs, nullptr);
    observed[5 * tree->nodes[1]->value + tree->nodes[2]->value] += 1;
    for (int label = 1; label <= 6; ++label) {
      const Node& node = *tree->nodes[label];
      const int parent = node.parent->value;
      const int value = node.value;
      if (is_residue(parent) && is_residue(value)) {
        ASSERT_EQ(node.deletion, 0);
        ASSERT_EQ(node.insertion, -1);
        if (value == parent) {
          equal[label] += 1;
          kept[label] += node.bond;
        } else {
          ASSERT_EQ(node.bond, 0);
        }
      } else if (is_residue(parent)) {
        ASSERT_EQ(std::vector<int>({node.deletion, node.insertion, node.bond}), std::vector<int>({1, -1, -1}));
      } else {
        ASSERT_EQ(std::vector<int>({node.deletion, node.insertion, node.bond}), std::vector<int>({-1, 0, -1}));
      }
    }
  }
  EXPECT_GT(chi_square_test(observed, exact), 1e-6);

  int bond_cells = 0;
  for (int label = 1; label <= 6; ++label) {
    if (equal[label] < 100) continue;
    ++bond_cells;
    const double no_event = std::exp(-rates.mutation * table.lengths[label - 1]);
    // Only leaf 3 (value 1) and leaf 4 (value 2) can match their parent among
    // the leaves; internal nodes match the root's 1.
    const int value = label == 4 ? 2 : 1;
    const double p_kept = no_event / (no_event + (1 - no_event) * freqs[value - 1]);
    EXPECT_GT(chi_square_test({kept[label], equal[label] - kept[label]}, {p_kept, 1 - p_kept}), 1e-6) << label;
  }
  EXPECT_GE(bond_cells, 3);
}

// Six-leaf tree with leaves 7 and 8 absent: node 3 is absent and neither it
// nor its leaves are touched.
TEST(TopDown, LeavesAbsentSubtreesAlone) {
  const TreeTable table = six_leaf_table();
  TransProbs probs = branch_probs(table, {0.5, 0.0, 0.8});
  auto tree = table.make_tree({2, 3, 5, 5, 1, 0});
  std::srand(17);
  tree->init_nodes();
  tree->root->value = 2;
  tree->bottomup(probs, all_values, nullptr);
  for (const int label : {3, 7, 8}) tree->nodes[label]->deletion = tree->nodes[label]->insertion = 9;
  for (unsigned seed = 1; seed <= 50; ++seed) {
    std::srand(seed);
    tree->topdown(all_values, all_value_index, 0.8, freqs, nullptr);
    for (const int label : {3, 7, 8}) {
      const Node& node = *tree->nodes[label];
      EXPECT_EQ(std::vector<int>({node.value, node.deletion, node.insertion}), std::vector<int>({5, 9, 9}));
    }
  }
}

// A zero-length branch keeps its residue without a mutation event, so the
// bond is 1 whatever the draw.
TEST(TopDown, ZeroLengthBranchAlwaysKeepsTheResidue) {
  TreeTable table = three_leaf_table();
  table.lengths[1] = 0.0;
  TransProbs probs = branch_probs(table, {0.5, 0.0, 2.0});
  auto tree = table.make_tree({3, 3, 0});
  tree->root->value = 3;
  tree->bottomup(probs, all_values, nullptr);
  for (unsigned seed = 1; seed <= 200; ++seed) {
    std::srand(seed);
    tree->topdown(all_values, all_value_index, 2.0, freqs, nullptr);
    const Node& leaf = *tree->nodes[2];
    EXPECT_EQ(std::vector<int>({leaf.deletion, leaf.insertion, leaf.bond}), std::vector<int>({0, -1, 1}));
  }
}

TEST(TopDown, ResidueBelowAnEmptyParentEndsTheRun) {
  const TreeTable table = three_leaf_table();
  TransProbs probs = branch_probs(table, {0.5, 0.0, 1.0});
  auto tree = table.make_tree({3, 0, 0});
  tree->root->value = 0;
  tree->bottomup(probs, all_values, nullptr);
  EXPECT_TRUE(throws_error<InternalError>([&] { tree->topdown(all_values, all_value_index, 1.0, freqs, nullptr); }, -1,
                                          "^insertion inside a tree occurs unexpectedly!$"));
}
