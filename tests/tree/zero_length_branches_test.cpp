#include "tree/zero_length_branches.h"

#include <gtest/gtest.h>

#include <vector>

#include "support/test_trees.h"

// Four leaves, 0 -> 1, 2; 1 -> 3, 4; 2 -> 5, 6; the branch 0 -> 1 of length
// 0. A start that gives node 1 another value than the root must be mended:
// node 1 takes the root's value; node 2, on a branch of positive length,
// keeps its own; and the indicators follow the new values.
TEST(ZeroLengthBranches, ANodeOnABranchOfLengthZeroTakesItsParentsValue) {
  TreeTable table = four_leaf_table();
  table.lengths[0] = 0.0;
  ColumnStates states = columns_on(table, {{1, 1, 3, 3}});
  states.set_root_value(0, 2);
  states.at(0, 1).value = 1;
  states.at(0, 2).value = 3;
  keep_zero_length_branches_without_events(states, 0);
  EXPECT_EQ(states.at(0, 1).value, 2);
  EXPECT_EQ(states.at(0, 2).value, 3);
  EXPECT_EQ(states.at(0, 1).bond, 1);  // kept across the branch of length 0
  EXPECT_EQ(states.at(0, 2).bond, 0);  // a mutation below the root
}
