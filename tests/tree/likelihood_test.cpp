#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "support/test_trees.h"
#include "tree/phy_tree.h"
#include "tree/trans_probs.h"

namespace {

using Table = std::vector<std::vector<std::vector<double>>>;
using Matrix = std::vector<std::vector<double>>;

constexpr int n_states = 5;
constexpr double minus_inf = -std::numeric_limits<double>::infinity();
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

double log_sum_exp(const std::vector<double>& terms) {
  const double max = *std::max_element(terms.begin(), terms.end());
  if (max == minus_inf) return minus_inf;
  double sum = 0.0;
  for (const double term : terms) sum += std::exp(term - max);
  return std::log(sum) + max;
}

// ln P(leaf values below `node` | node in state s) by enumerating every state
// of every present internal node below it; absent subtrees are left out.
double brute_force_log_lik(const PhyTree& tree, Node* node, int s, const Table& table) {
  if (node->is_leaf()) return node->value == s ? 0.0 : minus_inf;
  std::vector<Node*> below;
  collect_below(node, below);
  std::vector<Node*> free_nodes;
  std::vector<int> state(tree.nodes.size(), 0);
  state[node->_label] = s;
  for (Node* u : below) {
    if (u->is_leaf()) {
      state[u->_label] = u->value;
    } else {
      free_nodes.push_back(u);
    }
  }
  std::vector<double> terms;
  std::vector<int> assignment(free_nodes.size(), 0);
  while (true) {
    for (std::size_t i = 0; i < free_nodes.size(); ++i) state[free_nodes[i]->_label] = assignment[i];
    double log_weight = 0.0;
    for (Node* u : below) {
      const double p = table[u->_label - 1][state[u->parent->_label]][state[u->_label]];
      log_weight += p == 0.0 ? minus_inf : std::log(p);
    }
    terms.push_back(log_weight);
    std::size_t i = 0;
    while (i < assignment.size() && ++assignment[i] == n_states) assignment[i++] = 0;
    if (i == assignment.size()) break;
  }
  return log_sum_exp(terms);
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
        for (double& p : row) {
          if (unit(engine) < 0.25) p = 0.0;
        }
      }
    }
  }
  return probs;
}

struct NodeTables {
  std::vector<double> subtree_lik = std::vector<double>(n_states, 0.0);
  std::vector<bool> flags = std::vector<bool>(n_states, false);
  Matrix weights = Matrix(n_states, std::vector<double>(n_states, 0.0));
  Matrix weights_no_anc = Matrix(n_states, std::vector<double>(n_states, 0.0));
};

// The tables of every node before a pass; a node not yet visited by any pass
// counts as holding zeros.
std::vector<NodeTables> snapshot(const PhyTree& tree) {
  std::vector<NodeTables> tables(tree.nodes.size());
  for (std::size_t label = 0; label < tree.nodes.size(); ++label) {
    const Node* node = tree.nodes[label];
    if (!node->subtree_lik.empty()) tables[label].subtree_lik = node->subtree_lik;
    if (!node->flag_subtree_lik_valid.empty()) tables[label].flags = node->flag_subtree_lik_valid;
    if (!node->top_down_sampling_probs.empty()) tables[label].weights = node->top_down_sampling_probs;
    if (!node->top_down_sampling_probs_no_anc.empty())
      tables[label].weights_no_anc = node->top_down_sampling_probs_no_anc;
  }
  return tables;
}

void expect_log_near(double actual, double expected, const char* what) {
  EXPECT_NEAR(actual, expected, 1e-10 * std::max(1.0, std::fabs(expected))) << what;
}

// After a pass with `table`: every state the pass evaluates holds the
// brute-force value or, where that is ln 0, is flagged invalid and keeps its
// old number. With `root_empty_only` the root is evaluated for state 0 alone.
void expect_likelihoods(const PhyTree& tree, const Table& table, const std::vector<NodeTables>& before,
                        bool root_empty_only) {
  for (Node* node : tree.nodes) {
    const NodeTables& old = before[node->_label];
    const int states = root_empty_only && node == tree.root ? 1 : n_states;
    for (int s = 0; s < n_states; ++s) {
      const double expected = absent(node) ? minus_inf : brute_force_log_lik(tree, node, s, table);
      if (s >= states) {
        EXPECT_EQ(node->flag_subtree_lik_valid[s], old.flags[s]) << "root state " << s;
        EXPECT_EQ(node->subtree_lik[s], old.subtree_lik[s]) << "root state " << s;
      } else if (expected == minus_inf) {
        EXPECT_FALSE(node->flag_subtree_lik_valid[s]) << "label " << node->_label << " state " << s;
        EXPECT_EQ(node->subtree_lik[s], old.subtree_lik[s]);
      } else {
        EXPECT_TRUE(node->flag_subtree_lik_valid[s]) << "label " << node->_label << " state " << s;
        expect_log_near(node->subtree_lik[s], expected, "subtree_lik");
      }
    }
  }
}

// Row s of a present node's weights is P[s][j] * L_child(j) scaled to a
// maximum of exactly 1 over the j with both factors positive; every other
// entry, and every row without such a j, keeps its old value.
void expect_weights(const PhyTree& tree, const Table& table, const std::vector<NodeTables>& before, bool no_anc) {
  for (Node* node : tree.nodes) {
    if (node == tree.root) continue;
    const Matrix& old = no_anc ? before[node->_label].weights_no_anc : before[node->_label].weights;
    const Matrix& weights = no_anc ? node->top_down_sampling_probs_no_anc : node->top_down_sampling_probs;
    const Matrix& untouched = no_anc ? node->top_down_sampling_probs : node->top_down_sampling_probs_no_anc;
    const Matrix& untouched_old = no_anc ? before[node->_label].weights : before[node->_label].weights_no_anc;
    if (!untouched.empty()) {
      EXPECT_EQ(untouched, untouched_old);
    }
    if (absent(node) || absent(node->parent)) {
      if (!weights.empty()) {
        EXPECT_EQ(weights, old);
      }
      continue;
    }
    const int parent_states = no_anc && node->parent == tree.root ? 1 : n_states;
    const auto& p = table[node->_label - 1];
    for (int s = 0; s < n_states; ++s) {
      std::vector<double> exponent(n_states, minus_inf);
      for (int j = 0; j < n_states; ++j) {
        const double child = brute_force_log_lik(tree, node, j, table);
        if (p[s][j] > 0.0 && child > minus_inf) exponent[j] = std::log(p[s][j]) + child;
      }
      const double max = *std::max_element(exponent.begin(), exponent.end());
      double largest = 0.0;
      for (int j = 0; j < n_states; ++j) {
        if (s >= parent_states || exponent[j] == minus_inf) {
          EXPECT_EQ(weights[s][j], old[s][j]);
        } else {
          EXPECT_NEAR(weights[s][j], std::exp(exponent[j] - max), 1e-10) << "label " << node->_label;
          largest = std::max(largest, weights[s][j]);
        }
      }
      if (s < parent_states && max > minus_inf) {
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
