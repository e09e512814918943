// The rate and shape updates count the same events from the compact column
// states as from the trees: same numbers, same draws, same output text.
#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <sstream>
#include <vector>

#include "support/test_trees.h"
#include "tree/column_states.h"
#include "updates/dirichlet_updates.h"
#include "updates/rate_sampler.h"

namespace {

const std::vector<int> nonempty_value_index{0, 0, 1, 2, 3};

// Columns on a random 10-leaf tree, with initial internal values and
// indicators; a few absent leaves. Sequence 0 always holds a residue.
TreeSet initialised_columns(const TreeTable& table, int columns, unsigned seed) {
  std::mt19937 engine(seed);
  TreeSet set;
  std::srand(seed);
  for (int c = 0; c < columns; ++c) {
    std::vector<int> column(10);
    for (int& value : column) value = static_cast<int>(engine() % 12) % 6;
    column[0] = 1 + static_cast<int>(engine() % 4);
    set.add(table.make_tree(column));
    set.trees.back()->init_nodes();
  }
  return set;
}

// Values and indicators are compared by every test below and by the engine's
// top-down test; the leaf values feed the root-transition error message.
TEST(ColumnStates, LeafValuesAreTheTreesLeaves) {
  TreeSet set = initialised_columns(random_table(10, 3), 40, 3);
  const ColumnStates states(set.trees);
  for (std::size_t c = 0; c < 40; ++c) EXPECT_EQ(states.leaf_values(c), set.trees[c]->retrieve_leave_values());
}

TEST(ColumnStates, RateCountsEqualTheTreeCounts) {
  const TreeTable table = random_table(10, 4);
  TreeSet set = initialised_columns(table, 60, 4);
  const ColumnStates states(set.trees);
  const std::vector<long> columns{0, 3, 4, 10, 11, 12, 30, 59};
  for (const int event_type : {0, 1, 2}) {
    RateSampler by_trees(event_type, 10, 0), by_states(event_type, 10, 0);
    std::ostringstream tree_text, state_text;
    EXPECT_EQ(by_trees.compute_initial_rate(set.trees, columns, 0.3, true, &tree_text),
              by_states.compute_initial_rate(states, columns, 0.3, true, &state_text));
    EXPECT_EQ(by_trees.event_counts(), by_states.event_counts());
    EXPECT_EQ(by_trees.exposure(), by_states.exposure());
    EXPECT_EQ(tree_text.str(), state_text.str());
  }
  RateSampler sampler(0, 10, 0);
  EXPECT_THROW(sampler.compute_initial_rate(states, {60}, 0.3, false, nullptr), std::out_of_range);
}

TEST(ColumnStates, ShapeDrawsEqualTheTreeDraws) {
  const TreeTable table = random_table(10, 5);
  TreeSet set = initialised_columns(table, 50, 5);
  const ColumnStates states(set.trees);
  const std::vector<std::vector<long>> from_tos{{0, 19}, {20, 49}};
  std::vector<std::vector<std::vector<double>>> betas_by_trees(2, std::vector<std::vector<double>>(4)),
      betas_by_states = betas_by_trees;
  std::vector<std::vector<double>> thetas_by_trees(2), thetas_by_states(2);
  std::ostringstream tree_text, state_text;
  std::srand(9);
  sample_gammas_etas_betas(set.trees, from_tos, betas_by_trees, 4, nonempty_value_index, &tree_text);
  sample_thetas(set.trees, from_tos, thetas_by_trees, 4, nonempty_value_index, &tree_text);
  std::srand(9);
  sample_gammas_etas_betas(states, from_tos, betas_by_states, 4, nonempty_value_index, &state_text);
  sample_thetas(states, from_tos, thetas_by_states, 4, nonempty_value_index, &state_text);
  EXPECT_EQ(betas_by_trees, betas_by_states);
  EXPECT_EQ(thetas_by_trees, thetas_by_states);
  EXPECT_EQ(tree_text.str(), state_text.str());
  EXPECT_THROW(sample_thetas(states, {{0, 50}}, thetas_by_states, 4, nonempty_value_index, nullptr), std::out_of_range);
}

}  // namespace
