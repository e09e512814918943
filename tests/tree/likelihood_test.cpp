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

// Every node's tables before a pass; a node that no pass has visited yet
// counts as holding zeros.
struct NodeTables {
  std::vector<double> lik;
  std::vector<bool> flags;
  Matrix weights, weights_no_anc;
};

template <typename T>
T or_zeros(const T& table, const T& zeros) {
  return table.empty() ? zeros : table;
}

std::vector<NodeTables> snapshot(const PhyTree& tree) {
  const Matrix zero_matrix(n_states, std::vector<double>(n_states, 0.0));
  std::vector<NodeTables> tables;
  for (const Node* node : tree.nodes) {
    tables.push_back({or_zeros(node->subtree_lik, std::vector<double>(n_states, 0.0)),
                      or_zeros(node->flag_subtree_lik_valid, std::vector<bool>(n_states, false)),
                      or_zeros(node->top_down_sampling_probs, zero_matrix),
                      or_zeros(node->top_down_sampling_probs_no_anc, zero_matrix)});
  }
  return tables;
}

// After a pass with `table`: every state the pass evaluates holds the log of
// the brute-force value or, where that is 0, is flagged invalid and keeps its
// old number. With `root_empty_only` the root is evaluated for state 0 alone.
void expect_likelihoods(const PhyTree& tree, const Table& table, const std::vector<NodeTables>& before,
                        bool root_empty_only) {
  for (Node* node : tree.nodes) {
    const NodeTables& old = before[node->_label];
    const int states = root_empty_only && node == tree.root ? 1 : n_states;
    for (int s = 0; s < n_states; ++s) {
      const double expected = absent(node) || s >= states ? 0.0 : brute_force_lik(tree, node, s, table);
      SCOPED_TRACE(testing::Message() << "label " << node->_label << " state " << s);
      EXPECT_EQ(node->flag_subtree_lik_valid[s], s >= states ? old.flags[s] : expected > 0.0);
      if (expected > 0.0) {
        EXPECT_NEAR(node->subtree_lik[s], std::log(expected), 1e-10 * std::max(1.0, std::fabs(std::log(expected))));
      } else {
        EXPECT_EQ(node->subtree_lik[s], old.lik[s]);
      }
    }
  }
}

// Row s of a present node's weights is P[s][j] * L_child(j) scaled to a
// maximum of exactly 1 over the j where it is positive; every other entry,
// every row without such a j, and the other pass's weights keep their values.
void expect_weights(const PhyTree& tree, const Table& table, const std::vector<NodeTables>& before, bool no_anc) {
  for (Node* node : tree.nodes) {
    if (node == tree.root) continue;
    const NodeTables& old = before[node->_label];
    const Matrix& weights = no_anc ? node->top_down_sampling_probs_no_anc : node->top_down_sampling_probs;
    const Matrix& untouched = no_anc ? node->top_down_sampling_probs : node->top_down_sampling_probs_no_anc;
    if (!untouched.empty()) {
      EXPECT_EQ(untouched, no_anc ? old.weights : old.weights_no_anc);
    }
    const Matrix& old_weights = no_anc ? old.weights_no_anc : old.weights;
    if (absent(node) || absent(node->parent)) {
      if (!weights.empty()) {
        EXPECT_EQ(weights, old_weights);
      }
      continue;
    }
    const int parent_states = no_anc && node->parent == tree.root ? 1 : n_states;
    for (int s = 0; s < n_states; ++s) {
      std::vector<double> w(n_states, 0.0);
      for (int j = 0; s < parent_states && j < n_states; ++j) {
        w[j] = table[node->_label - 1][s][j] * brute_force_lik(tree, node, j, table);
      }
      const double max = *std::max_element(w.begin(), w.end());
      double largest = 0.0;
      for (int j = 0; j < n_states; ++j) {
        if (w[j] == 0.0) {
          EXPECT_EQ(weights[s][j], old_weights[s][j]);
        } else {
          EXPECT_NEAR(weights[s][j], w[j] / max, 1e-10) << "label " << node->_label;
          largest = std::max(largest, weights[s][j]);
        }
      }
      if (max > 0.0) {
        EXPECT_EQ(largest, 1.0);
      }
    }
  }
}

void check_pass(PhyTree& tree, TransProbs& probs, bool anc_not_exist) {
  const std::vector<NodeTables> before = snapshot(tree);
  if (anc_not_exist) {
    tree.bottomup_anc_not_exist(probs, all_values, nullptr);
  } else {
    tree.bottomup(probs, all_values, nullptr);
  }
  expect_likelihoods(tree, probs.get_trans_probs(), before, anc_not_exist);
  expect_weights(tree, probs.get_trans_probs(), before, anc_not_exist);
}

// Passes with different tables on the same column, ordinary and with the
// root restricted to the empty state: each overwrites what is valid for it
// and leaves everything else (for the restricted pass also the ordinary
// weights and the root's other states) as the passes before left it.
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
