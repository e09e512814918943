#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "numerics/worker_pool.h"
#include "support/errors.h"
#include "support/statistics.h"
#include "support/test_trees.h"
#include "tree/likelihood_engine.h"
#include "tree/trans_probs.h"

namespace {

const std::vector<double> freqs{0.1, 0.2, 0.3, 0.4};

using Rates = StateRates;

TransProbs branch_probs(const TreeTable& table, const Rates& rates) {
  return TransProbs(TreeTopology(table), freqs, rates);
}

bool is_residue(int value) { return value >= 1 && value <= 4; }

// Internal nodes absent exactly where every leaf below is, present ones 1
// (the likelihood asks only whether a node is absent).
ColumnStates with_internal_nodes(ColumnStates states) {
  const TreeTopology& tree = states.topology();
  for (int node = static_cast<int>(tree.size()) - 1; node >= 0; --node) {
    if (tree.is_leaf(node)) continue;
    const bool absent = states.at(0, tree.label(tree.first_child(node))).value == 5 &&
                        states.at(0, tree.label(tree.second_child(node))).value == 5;
    states.at(0, tree.label(node)).value = absent ? 5 : 1;
  }
  return states;
}

// One column in one segment under one rate state, drawn by the engine as the
// run draws it: the root is set, everything below it is drawn.
struct TopDown {
  TreeTable table;
  Rates rates;
  ColumnStates states;
  WorkerPool pool{1};
  LikelihoodEngine engine;
  Versioned<Segmentation> segments{Segmentation{{{0, 0}}, {freqs}, {}, {}, {}}};
  Versioned<EventRates> event_rates;

  TopDown(const TreeTable& t, const std::vector<int>& leaves, const Rates& r)
      : table(t), rates(r), states(with_internal_nodes(columns_on(t, {leaves}))), engine(states, pool) {
    event_rates.change() = {{rates.deletion}, {rates.insertion}, {rates.mutation}};
    engine.evaluate(segments, event_rates);
  }
  void draw(int root) {
    states.set_root_value(0, root);
    engine.sample_internal_nodes(segments, event_rates, {0}, states);
  }
  const NodeState& node(int label) const { return states.at(0, label); }
  int parent_value(int label) const {
    const TreeTopology& tree = states.topology();
    return states.at(0, tree.label(tree.parent(tree.node_of(label)))).value;
  }
};

}  // namespace

// Four-leaf tree, root fixed at 1, leaves 1 2 | 0 0. The internal values
// (v1, v2) drawn by the engine must follow
// P(v1, v2 | root, leaves) ~ P1[1][v1] P2[1][v2] P3[v1][1] P4[v1][2] P5[v2][0] P6[v2][0],
// and a bond between equal residues v must be 1 with probability
// e^(-mu t) / (e^(-mu t) + (1 - e^(-mu t)) freq[v]).
TEST(TopDown, DrawsFollowTheExactConditionalPosterior) {
  const TreeTable table = four_leaf_table();
  const Rates rates{1.0, 0.0, 1.5};
  TransProbs probs = branch_probs(table, rates);
  const auto& p = probs.get_trans_probs();
  TopDown column(table, {1, 2, 0, 0}, rates);

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
    column.draw(1);
    observed[5 * column.node(1).value + column.node(2).value] += 1;
    for (int label = 1; label <= 6; ++label) {
      const NodeState& node = column.node(label);
      const int parent = column.parent_value(label);
      const int value = node.value;
      const std::vector<int> indicators{node.deletion, node.insertion, node.bond};
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
        ASSERT_EQ(indicators, std::vector<int>({1, -1, -1}));
      } else {
        ASSERT_EQ(indicators, std::vector<int>({-1, 0, -1}));
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
  TopDown column(six_leaf_table(), {2, 3, 5, 5, 1, 0}, {0.5, 0.0, 0.8});
  for (const int label : {3, 7, 8}) column.states.at(0, label).deletion = column.states.at(0, label).insertion = 9;
  for (unsigned seed = 1; seed <= 50; ++seed) {
    std::srand(seed);
    column.draw(2);
    for (const int label : {3, 7, 8}) {
      const NodeState& node = column.node(label);
      EXPECT_EQ(std::vector<int>({node.value, node.deletion, node.insertion}), std::vector<int>({5, 9, 9}));
    }
  }
}

// A zero-length branch keeps its residue without a mutation event, so the
// bond is 1 whatever the draw.
TEST(TopDown, ZeroLengthBranchAlwaysKeepsTheResidue) {
  TreeTable table = three_leaf_table();
  table.lengths[1] = 0.0;
  TopDown column(table, {3, 3, 0}, {0.5, 0.0, 2.0});
  for (unsigned seed = 1; seed <= 200; ++seed) {
    std::srand(seed);
    column.draw(3);
    const NodeState& leaf = column.node(2);
    EXPECT_EQ(std::vector<int>({leaf.deletion, leaf.insertion, leaf.bond}), std::vector<int>({0, -1, 1}));
  }
}

// The draw needs the tables of the very segmentation and rates it is given:
// a new version of either (or of both) since the evaluation is refused.
TEST(TopDown, TablesOfOtherParametersAreRefused) {
  for (const int changed : {1, 2, 3}) {
    TopDown column(three_leaf_table(), {3, 3, 0}, {0.5, 0.0, 1.0});
    if (changed & 1) column.segments.change();
    if (changed & 2) column.event_rates.change();
    EXPECT_TRUE(throws_error<InternalError>([&] { column.draw(3); }, -1, "needs the tables of its own")) << changed;
  }
}

TEST(TopDown, ResidueBelowAnEmptyParentEndsTheRun) {
  TopDown column(three_leaf_table(), {3, 0, 0}, {0.5, 0.0, 1.0});
  EXPECT_TRUE(
      throws_error<InternalError>([&] { column.draw(0); }, -1, "^insertion inside a tree occurs unexpectedly!$"));
}
