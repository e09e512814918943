#include "tree/likelihood_engine.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include "support/test_trees.h"
#include "tree/phy_tree.h"
#include "tree/trans_probs.h"

namespace {

const std::vector<int> all_values{0, 1, 2, 3, 4};
const std::vector<int> all_value_index{0, 1, 2, 3, 4};
const std::vector<int> nonempty_values{1, 2, 3, 4};

bool absent(const Node* node) { return node->value == 5; }

// A random alignment on a random tree, with its segments, frequencies, rates
// and rate states. Leaf values come from a small pool of columns, so that
// whole columns and subtrees repeat; internal nodes are absent exactly when
// both children are and otherwise hold a residue (as after init_nodes).
struct RandomCase {
  TreeTable table;
  TreeSet set;
  std::vector<std::vector<long>> from_tos;
  std::vector<std::vector<double>> thetas;
  std::vector<double> deletion_rates, insertion_rates, mutation_rates;
  std::vector<int> rate_states;

  RandomCase(int leaves, long columns, unsigned seed, double absent_share = 0.15) : table(random_table(leaves, seed)) {
    std::mt19937 engine(seed);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::vector<std::vector<int>> pool(1 + columns / 3, std::vector<int>(leaves));
    for (auto& column : pool) {
      for (int& value : column) value = unit(engine) < absent_share ? 5 : static_cast<int>(unit(engine) * 5) % 5;
      column[0] = 1 + static_cast<int>(unit(engine) * 4) % 4;
    }
    for (long c = 0; c < columns; ++c) {
      auto tree = table.make_tree(pool[static_cast<std::size_t>(unit(engine) * pool.size()) % pool.size()]);
      for (int label = tree->last_internal_label; label >= 0; --label) {
        Node* node = tree->nodes[label];
        node->value = absent(node->child_nodes[0]) && absent(node->child_nodes[1]) ? 5 : 1 + (label + c) % 4;
      }
      set.add(std::move(tree));
      rate_states.push_back(static_cast<int>(unit(engine) * 3) % 3);
    }
    const long cut = columns / 3;
    from_tos = {{0, cut}, {cut + 1, columns - 1}};
    for (int k = 0; k < 2; ++k) {
      std::vector<double> freqs(4);
      double total = 0.0;
      for (double& f : freqs) total += (f = 0.05 + unit(engine));
      for (double& f : freqs) f /= total;
      thetas.push_back(freqs);
    }
    for (int r = 0; r < 3; ++r) {
      deletion_rates.push_back(0.1 + 2 * unit(engine));
      insertion_rates.push_back(0.0);
      mutation_rates.push_back(0.1 + 3 * unit(engine));
    }
  }

  void evaluate(LikelihoodEngine& engine) {
    engine.evaluate(from_tos, thetas, deletion_rates, insertion_rates, mutation_rates, nonempty_values, table.children,
                    table.lengths);
  }
  TransProbs branch_probs(std::size_t segment, int state) const {
    return TransProbs(thetas[segment], deletion_rates[state], insertion_rates[state], mutation_rates[state],
                      nonempty_values, table.children, table.lengths);
  }
};

bool same_bits(double a, double b) { return std::memcmp(&a, &b, sizeof(double)) == 0; }

// Every table the engine holds for a column equals, to the last bit, what the
// column's own bottom-up pass leaves in its nodes: flags and log-likelihoods
// of every internal node, and every top-down weight that the pass writes (the
// engine holds 0.0 where the pass writes nothing).
void expect_tables_of_column_pass(RandomCase& c, const LikelihoodEngine& engine, long column, int state) {
  const auto segment = static_cast<std::size_t>(column <= c.from_tos[0][1] ? 0 : 1);
  TransProbs probs = c.branch_probs(segment, state);
  PhyTree& tree = *c.set.trees[column];
  tree.bottomup(probs, all_values, nullptr);
  const TreeTopology& topology = engine.topology();
  for (int node = 0; node < static_cast<int>(topology.size()); ++node) {
    if (topology.is_leaf(node)) continue;
    const Node& expected = *tree.nodes[topology.label(node)];
    const PatternTables& actual = engine.node_tables(column, state, node);
    for (int s = 0; s < 5; ++s) {
      ASSERT_EQ(LikelihoodEngine::valid(actual, s), expected.flag_subtree_lik_valid[s])
          << "column " << column << " label " << expected._label << " state " << s;
      if (expected.flag_subtree_lik_valid[s]) {
        ASSERT_TRUE(same_bits(actual.subtree_lik[s], expected.subtree_lik[s]))
            << actual.subtree_lik[s] << " vs " << expected.subtree_lik[s];
      }
    }
    if (node == 0 || absent(&expected) || absent(expected.parent)) continue;
    for (int s = 0; s < 5; ++s) {
      for (int j = 0; j < 5; ++j) {
        const double weight = actual.top_down_weights[s * 5 + j];
        if (expected.flag_subtree_lik_valid[j]) {
          ASSERT_TRUE(same_bits(weight, expected.top_down_sampling_probs[s][j])) << "label " << expected._label;
        } else {
          ASSERT_EQ(weight, 0.0);
        }
      }
    }
  }
}

// With one, two or three threads alike.
TEST(LikelihoodEngine, TablesEqualEachColumnsOwnPassBitForBit) {
  for (unsigned seed = 1; seed <= 12; ++seed) {
    RandomCase c(2 + static_cast<int>(seed % 11), 40, seed, seed % 3 == 0 ? 0.4 : 0.15);
    if (seed % 2 == 0) c.table.lengths[seed % c.table.lengths.size()] = 0.0;  // a branch without events
    LikelihoodEngine engine(c.set.trees, 1 + static_cast<int>(seed % 3));
    c.evaluate(engine);
    for (long column = 0; column < 40; ++column) {
      for (int state = 0; state < 3; ++state) expect_tables_of_column_pass(c, engine, column, state);
    }
  }
}

// The engine's top-down draws consume the same rand() values, in the same
// order, and leave the same values and indicators as the tree walk after each
// column's own pass with its rate state.
TEST(LikelihoodEngine, TopDownDrawsEqualTheColumnWalks) {
  for (unsigned seed = 20; seed < 26; ++seed) {
    RandomCase reference(3 + static_cast<int>(seed % 9), 60, seed);
    RandomCase shared(3 + static_cast<int>(seed % 9), 60, seed);
    std::srand(seed);
    for (std::size_t k = 0; k < reference.from_tos.size(); ++k) {
      for (long column = reference.from_tos[k][0]; column <= reference.from_tos[k][1]; ++column) {
        const int state = reference.rate_states[column];
        TransProbs probs = reference.branch_probs(k, state);
        PhyTree& tree = *reference.set.trees[column];
        tree.bottomup(probs, all_values, nullptr);
        tree.topdown(all_values, all_value_index, reference.mutation_rates[state], reference.thetas[k], nullptr);
      }
    }
    const int next_reference = std::rand();

    LikelihoodEngine engine(shared.set.trees, 2);
    std::srand(seed);
    shared.evaluate(engine);
    engine.sample_internal_nodes(shared.from_tos, shared.set.trees, all_value_index, shared.rate_states,
                                 shared.mutation_rates, shared.thetas);
    EXPECT_EQ(std::rand(), next_reference) << "seed " << seed;
    for (long column = 0; column < 60; ++column) {
      for (std::size_t label = 0; label < reference.set.trees[column]->nodes.size(); ++label) {
        const Node& a = *reference.set.trees[column]->nodes[label];
        const Node& b = *shared.set.trees[column]->nodes[label];
        const NodeState& compact = engine.states().at(static_cast<std::size_t>(column), static_cast<int>(label));
        const std::vector<int> expected{a.value, a.deletion, a.insertion, a.bond};
        ASSERT_EQ(std::vector<int>({b.value, b.deletion, b.insertion, b.bond}), expected)
            << "seed " << seed << " column " << column << " label " << label;
        ASSERT_EQ(std::vector<int>({compact.value, compact.deletion, compact.insertion, compact.bond}), expected);
      }
    }
  }
}

}  // namespace
