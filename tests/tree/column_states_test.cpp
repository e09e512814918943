#include <gtest/gtest.h>

#include <cstdlib>

#include "support/errors.h"
#include "support/test_trees.h"
#include "tree/initial_states.h"

namespace {

TEST(ColumnStates, LeafValuesAreTheColumnsRows) {
  const std::vector<int> column{1, 0, 5, 4, 3, 2, 2, 0, 1};
  EXPECT_EQ(columns_on(random_table(9, 4), {column, column}).leaf_values(1), column);
  const auto states = columns_on(TreeTable{{0, 0, 1, 1}, {1, 2, 3, 4}, {1, 1, 1, 1}, {-1, -1, 2, 0, 1}}, {{7, 8, 9}});
  EXPECT_EQ(states.at(0, 2).value, 9);
  EXPECT_EQ(states.leaf_values(0), (std::vector<int>{7, 8, 9}));
}

TEST(TreeTopology, BadBranchTables) {
  const std::vector<std::pair<TreeTable, std::string>> cases{
      {{{0, 0, 2, 2, 1, 1}, {1, 2, 3, 4, 5, 6}, {1, 1, 1, 1, 1, 1}, std::vector<int>(7, -1)},
       "^tree nodes input order has problem.\ni:2 parents.at\\(i\\):2 p->_label:1\n$"},
      {{{0, 0, 1}, {1, 2, 3}, {1, 1, 1}, std::vector<int>(4, -1)},
       "^Input error: the tree input ends after 3 branches, before internal node 1 has two children\n$"},
      {{{}, {}, {}, {-1}}, "^Input error: no parents from tree input. \n$"},
      {{{9, 0}, {1, 2}, {1, 1}, {-1, -1, -1}}, "^Input error: tree label 9 is outside 0..2\n$"},
      {{{0, 0, 1, 1}, {1, 2, 1, 3}, {1, 1, 1, 1}, std::vector<int>(5, -1)},
       "^Input error: tree label 1 appears twice\n$"}};
  for (const auto& [table, message] : cases) {
    EXPECT_TRUE(throws_error<InputError>([&] { TreeTopology topology(table); }, -1, message));
  }
}

// Cherry 1 = (3, 4) below the root, leaf 2 beside it; leaf ids 2->0, 3->1, 4->2.
ColumnStates initialise(const std::vector<int>& column, unsigned seed) {
  ColumnStates states = columns_on(three_leaf_table(), {column});
  std::srand(seed);
  initialise_columns(states);
  return states;
}

// A node whose children hold different residues takes one coin, in the
// popping order (children before parents).
TEST(InitialStates, DifferentResiduesTakeOneCoinEach) {
  for (unsigned seed = 1; seed <= 6; ++seed) {
    std::srand(seed);
    const double u1 = std::rand() / 2147483647.0;
    const double u2 = std::rand() / 2147483647.0;
    const ColumnStates states = initialise({4, 1, 3}, seed);
    // The cherry (1, 3) takes its first child's residue on heads (u >= 0.5);
    // the root then compares that residue with 4 and tosses again.
    const int cherry = u1 < 0.5 ? 3 : 1;
    EXPECT_EQ(states.at(0, 1).value, cherry) << seed;
    EXPECT_EQ(states.at(0, 3).bond, u1 < 0.5 ? 0 : 1);
    EXPECT_EQ(states.at(0, 4).bond, u1 < 0.5 ? 1 : 0);
    EXPECT_EQ(states.at(0, 0).value, u2 < 0.5 ? 4 : cherry);
    // The root has no branch above it, so no indicator.
    EXPECT_EQ(states.at(0, 0).bond, -1);
  }
}

// Every leaf absent: no root value can be given, and the message shows the
// column's branches.
TEST(InitialStates, AnAbsentRootIsRefused) {
  EXPECT_TRUE(throws_error<InternalError>(
      [] {
        initialise({5, 5, 5}, 1);
      },
      1,
      "^root of a tree becomes pale yellow or double line. \n"
      "p.label: 0\tp.value: 5\tlabel: 1\tvalue: 5\tdeletion: -1\tinsertion: -1\t"
      "bond: -1\tlength: 0.5\n"));
}

}  // namespace
