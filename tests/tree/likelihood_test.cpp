#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "support/test_trees.h"
#include "tree/phy_tree.h"
#include "tree/trans_probs.h"

namespace {

using Table = std::vector<std::vector<std::vector<double>>>;
using Matrix = std::vector<std::vector<double>>;

constexpr int n_states = 5;
const std::vector<int> all_values{0, 1, 2, 3, 4};
const std::vector<int> nonempty_values{1, 2, 3, 4};

bool absent(const Node* node) { return node->value == 5; }

void collect_below(Node* node, std::vector<Node*>& below) {
  if (node->is_leaf()) return;
  for (Node* child : node->child_nodes) {
    if (absent(child)) continue;
    below.push_back(child);
    collect_below(child, below);
  }
}

// P(leaf values below `node` | node in state s) as a plain sum over every
// state of every present internal node below it (absent subtrees are left
// out). The test trees keep every product far above the underflow range.
double brute_force_lik(const PhyTree& tree, Node* node, int s, const Table& table) {
  if (node->is_leaf()) return node->value == s ? 1.0 : 0.0;
  std::vector<Node*> below, free_nodes;
  collect_below(node, below);
  std::vector<int> state(tree.nodes.size(), 0);
  for (Node* u : below) {
    state[u->_label] = u->value;
    if (!u->is_leaf()) free_nodes.push_back(u);
  }
  state[node->_label] = s;
  double total = 0.0;
  for (long assignment = 0; assignment < std::lround(std::pow(n_states, free_nodes.size())); ++assignment) {
    long rest = assignment;
    for (Node* u : free_nodes) {
      state[u->_label] = static_cast<int>(rest % n_states);
      rest /= n_states;
    }
    double product = 1.0;
    for (Node* u : below) product *= table[u->_label - 1][state[u->parent->_label]][state[u->_label]];
    total += product;
  }
  return total;
}

// Leaf values drawn from 0..5; an internal node is absent exactly when both
// children are, otherwise it gets an arbitrary non-absent value (the pass
// only asks whether an internal value is 5).
void random_column(PhyTree& tree, std::mt19937& engine) {
  std::uniform_int_distribution<int> leaf_value(0, 5), internal_value(0, 4);
  for (int label = tree.last_internal_label + 1; label < static_cast<int>(tree.nodes.size()); ++label) {
    tree.nodes[label]->value = leaf_value(engine);
  }
  for (int label = tree.last_internal_label; label >= 0; --label) {
    Node* node = tree.nodes[label];
    node->value = absent(node->child_nodes[0]) && absent(node->child_nodes[1]) ? 5 : internal_value(engine);
  }
}

// Branch matrices for random rates and frequencies; in half of the tables
// about a quarter of the entries are set to 0, so that some states become
// impossible.
TransProbs random_trans_probs(const TreeTable& tree, std::mt19937& engine) {
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  std::vector<double> freqs(4);
  double total = 0.0;
  for (double& f : freqs) total += (f = 0.05 + unit(engine));
  for (double& f : freqs) f /= total;
  TransProbs probs(freqs, 2 * unit(engine), 2 * unit(engine), 2 * unit(engine), nonempty_values, tree.children,
                   tree.lengths);
  if (unit(engine) < 0.5) {
    for (auto& matrix : probs.get_trans_probs()) {
      for (auto& row : matrix) {
        for (double& p : row) p = unit(engine) < 0.25 ? 0.0 : p;
      }
    }
  }
  return probs;
}

// After a pass with `table`: every state the pass evaluates is flagged valid
// exactly where the brute-force likelihood is positive, and then holds its
// log; row s of every present node's weights (the pass's own table) is
// P[s][j] L(j) scaled to a largest entry of exactly 1 where positive. With
// `anc_not_exist` the root is evaluated for the empty state alone, and so are
// its children's rows.
void check_pass(PhyTree& tree, TransProbs& probs, bool anc_not_exist) {
  if (anc_not_exist) {
    tree.bottomup_anc_not_exist(probs, all_values, nullptr);
  } else {
    tree.bottomup(probs, all_values, nullptr);
  }
  const Table& table = probs.get_trans_probs();
  for (Node* node : tree.nodes) {
    for (int s = 0; s < (anc_not_exist && node == tree.root ? 1 : n_states); ++s) {
      const double expected = absent(node) ? 0.0 : brute_force_lik(tree, node, s, table);
      SCOPED_TRACE(testing::Message() << "label " << node->_label << " state " << s);
      ASSERT_EQ(node->flag_subtree_lik_valid[s], expected > 0.0);
      const double log_expected = expected > 0.0 ? std::log(expected) : 0.0;
      EXPECT_NEAR(expected > 0.0 ? node->subtree_lik[s] : 0.0, log_expected, 1e-10 * std::max(1.0, std::fabs(log_expected)));
    }
    if (node == tree.root || absent(node) || absent(node->parent)) continue;
    const Matrix& weights = anc_not_exist ? node->top_down_sampling_probs_no_anc : node->top_down_sampling_probs;
    for (int s = 0; s < (anc_not_exist && node->parent == tree.root ? 1 : n_states); ++s) {
      std::vector<double> w(n_states, 0.0);
      for (int j = 0; j < n_states; ++j) w[j] = table[node->_label - 1][s][j] * brute_force_lik(tree, node, j, table);
      const double max = *std::max_element(w.begin(), w.end());
      double largest = max > 0.0 ? 0.0 : 1.0;
      for (int j = 0; j < n_states; ++j) {
        if (w[j] == 0.0) continue;
        EXPECT_NEAR(weights[s][j], w[j] / max, 1e-10) << "label " << node->_label;
        largest = std::max(largest, weights[s][j]);
      }
      EXPECT_EQ(largest, 1.0);
    }
  }
}

// Passes with different tables on the same column, ordinary and with the
// root restricted to the empty state: each overwrites what is valid for it.
TEST(Bottomup, MatchesEnumerationOfInternalStates) {
  std::mt19937 engine(2024);
  for (const TreeTable& table : {three_leaf_table(), four_leaf_table(), random_table(6, 3)}) {
    for (int trial = 0; trial < 60; ++trial) {
      auto tree = table.make_tree();
      random_column(*tree, engine);
      for (const bool anc_not_exist : {false, false, true, true, false}) {
        TransProbs probs = random_trans_probs(table, engine);
        check_pass(*tree, probs, anc_not_exist);
      }
      if (HasFailure()) FAIL() << "tree with " << tree->nodes.size() << " nodes, trial " << trial;
    }
  }
}

}  // namespace
