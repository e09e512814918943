#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "numerics/worker_pool.h"
#include "support/reference_likelihood.h"
#include "support/test_trees.h"
#include "tree/likelihood_engine.h"
#include "tree/trans_probs.h"

namespace {

using Table = std::vector<std::vector<std::vector<double>>>;

constexpr int n_states = 5;

// The labels below `node` (by breadth-first number) that take part: absent
// subtrees are left out.
void collect_below(const ColumnStates& states, std::size_t column, int node, std::vector<int>& below) {
  const TreeTopology& tree = states.topology();
  if (tree.is_leaf(node)) return;
  for (const int child : {tree.first_child(node), tree.second_child(node)}) {
    if (states.at(column, tree.label(child)).value == 5) continue;
    below.push_back(child);
    collect_below(states, column, child, below);
  }
}

// P(leaf values below `node` | node in state s) as a plain sum over every
// state of every present internal node below it. The test trees keep every
// product far above the underflow range.
double brute_force_lik(const ColumnStates& states, std::size_t column, int node, int s, const Table& table) {
  const TreeTopology& tree = states.topology();
  if (tree.is_leaf(node)) return states.at(column, tree.label(node)).value == s ? 1.0 : 0.0;
  std::vector<int> below, free_nodes;
  collect_below(states, column, node, below);
  std::vector<int> state(tree.size(), 0);
  for (const int u : below) {
    state[u] = states.at(column, tree.label(u)).value;
    if (!tree.is_leaf(u)) free_nodes.push_back(u);
  }
  state[node] = s;
  double total = 0.0;
  for (long assignment = 0; assignment < std::lround(std::pow(n_states, free_nodes.size())); ++assignment) {
    long rest = assignment;
    for (const int u : free_nodes) {
      state[u] = static_cast<int>(rest % n_states);
      rest /= n_states;
    }
    double product = 1.0;
    for (const int u : below) product *= table[tree.label(u) - 1][state[tree.parent(u)]][state[u]];
    total += product;
  }
  return total;
}

// Leaf values drawn from 0..5; an internal node is absent exactly when both
// children are, otherwise it gets an arbitrary non-absent value (the pass
// only asks whether an internal value is 5).
void random_column(ColumnStates& states, std::size_t column, std::mt19937& engine) {
  const TreeTopology& tree = states.topology();
  std::uniform_int_distribution<int> leaf_value(0, 5), internal_value(0, 4);
  for (int node = static_cast<int>(tree.size()) - 1; node >= 0; --node) {
    NodeState& own = states.at(column, tree.label(node));
    if (tree.is_leaf(node)) {
      own.value = static_cast<std::int8_t>(leaf_value(engine));
      continue;
    }
    const bool absent = states.at(column, tree.label(tree.first_child(node))).value == 5 &&
                        states.at(column, tree.label(tree.second_child(node))).value == 5;
    own.value = static_cast<std::int8_t>(absent ? 5 : internal_value(engine));
  }
}

std::vector<double> random_freqs(std::mt19937& engine) {
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  std::vector<double> freqs(4);
  double total = 0.0;
  for (double& f : freqs) total += (f = 0.05 + unit(engine));
  for (double& f : freqs) f /= total;
  return freqs;
}

// After the reference pass with `probs`: every state is flagged valid exactly
// where the brute-force likelihood is positive, and then holds its log; row
// s of every present node's weights is P[s][j] L(j) scaled to a largest entry
// of exactly 1 where positive.
void check_reference(const ColumnStates& states, std::size_t column, TransProbs& probs) {
  const ColumnLikelihood pass = reference_likelihood(states, column, probs);
  const Table& table = probs.get_trans_probs();
  const TreeTopology& tree = states.topology();
  for (int node = 0; node < static_cast<int>(tree.size()); ++node) {
    const int label = tree.label(node);
    const bool absent = states.at(column, label).value == 5;
    for (int s = 0; s < n_states; ++s) {
      const double expected = absent ? 0.0 : brute_force_lik(states, column, node, s, table);
      SCOPED_TRACE(testing::Message() << "label " << label << " state " << s);
      ASSERT_EQ(pass.valid[label][s], expected > 0.0);
      const double log_expected = expected > 0.0 ? std::log(expected) : 0.0;
      EXPECT_NEAR(expected > 0.0 ? pass.subtree_lik[label][s] : 0.0, log_expected,
                  1e-10 * std::max(1.0, std::fabs(log_expected)));
    }
    if (node == 0 || absent || states.at(column, tree.label(tree.parent(node))).value == 5) continue;
    for (int s = 0; s < n_states; ++s) {
      std::vector<double> w(n_states, 0.0);
      for (int j = 0; j < n_states; ++j)
        w[j] = table[label - 1][s][j] * brute_force_lik(states, column, node, j, table);
      const double max = *std::max_element(w.begin(), w.end());
      double largest = max > 0.0 ? 0.0 : 1.0;
      for (int j = 0; j < n_states; ++j) {
        if (w[j] == 0.0) continue;
        EXPECT_NEAR(pass.weights[label][s * 5 + j], w[j] / max, 1e-10) << "label " << label;
        largest = std::max(largest, pass.weights[label][s * 5 + j]);
      }
      EXPECT_EQ(largest, 1.0);
    }
  }
}

// The reference pass against enumeration, with tables of random rates and
// frequencies; in half of them about a quarter of the entries are set to 0,
// so that some states become impossible.
TEST(ReferenceLikelihood, MatchesEnumerationOfInternalStates) {
  std::mt19937 engine(2024);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  for (const TreeTable& table : {three_leaf_table(), four_leaf_table(), random_table(6, 3)}) {
    ColumnStates states = blank_columns(table, 60);
    for (std::size_t column = 0; column < states.columns(); ++column) {
      random_column(states, column, engine);
      for (int pass = 0; pass < 3; ++pass) {
        const std::vector<double> freqs = random_freqs(engine);
        TransProbs probs(states.topology(), freqs, {2 * unit(engine), 2 * unit(engine), 2 * unit(engine)});
        for (auto& matrix : probs.get_trans_probs()) {
          const bool zeroes = pass == 1;
          for (auto& row : matrix) {
            for (double& p : row) p = zeroes && unit(engine) < 0.25 ? 0.0 : p;
          }
        }
        check_reference(states, column, probs);
      }
      if (HasFailure()) FAIL() << "tree with " << states.nodes() << " nodes, column " << column;
    }
  }
}

// The engine's shared tables hold, for every column, segment and rate state,
// the very doubles of the column's own pass: log-likelihoods, flags and
// top-down weights of every internal node, on random columns with absent
// subtrees, two segments and two rate states.
TEST(LikelihoodEngine, TablesAreTheColumnPassBitForBit) {
  std::mt19937 engine(77);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  const TreeTable table = random_table(7, 5);
  ColumnStates states = blank_columns(table, 40);
  for (std::size_t column = 0; column < states.columns(); ++column) random_column(states, column, engine);
  Versioned<Segmentation> segments;
  segments.change().from_tos = {{0, 24}, {25, 39}};
  segments.change().thetas = {random_freqs(engine), random_freqs(engine)};
  const Versioned<EventRates> rates(EventRates{{0.3, 1.7}, {0.2, 0.0}, {0.9, 0.05}});
  for (const int threads : {1, 3}) {
    WorkerPool pool(threads);
    LikelihoodEngine shared(states, pool);
    shared.evaluate(segments, rates);
    const TreeTopology& tree = states.topology();
    for (std::size_t column = 0; column < states.columns(); ++column) {
      const std::size_t segment = column < 25 ? 0 : 1;
      for (int k = 0; k < 2; ++k) {
        TransProbs probs(tree, segments->thetas[segment], rates->of(k));
        const ColumnLikelihood pass = reference_likelihood(states, column, probs);
        for (int node = 0; node < static_cast<int>(tree.size()); ++node) {
          const int label = tree.label(node);
          if (tree.is_leaf(node) || states.at(column, label).value == 5) continue;
          const PatternTables& tables = shared.node_tables(static_cast<long>(column), k, node);
          for (int s = 0; s < n_states; ++s) {
            ASSERT_EQ(LikelihoodEngine::valid(tables, s), pass.valid[label][s]) << column << " " << label;
            if (pass.valid[label][s]) {
              ASSERT_EQ(tables.subtree_lik[s], pass.subtree_lik[label][s]);
            }
          }
          if (node != 0) {
            ASSERT_EQ(tables.top_down_weights, pass.weights[label]) << column << " " << label;
          }
        }
      }
    }
  }
}

}  // namespace
