#include <gtest/gtest.h>

#include <cstdlib>
#include <iostream>
#include <sstream>

#include "support/errors.h"
#include "support/test_trees.h"

namespace {

TEST(PhyTree, RetrieveIsTheInverseOfInit) {
  const std::vector<int> column{1, 0, 5, 4, 3, 2, 2, 0, 1};
  EXPECT_EQ(random_table(9, 4).make_tree(column)->retrieve_leave_values(), column);
  const auto tree = TreeTable{{0, 0, 1, 1}, {1, 2, 3, 4}, {1, 1, 1, 1}, {-1, -1, 2, 0, 1}}.make_tree({7, 8, 9});
  EXPECT_EQ(tree->nodes[2]->value, 9);
  EXPECT_EQ(tree->retrieve_leave_values(), (std::vector<int>{7, 8, 9}));
}

TEST(PhyTree, BadBranchTables) {
  const std::vector<std::pair<TreeTable, std::string>> cases{
      {{{0, 0, 2, 2, 1, 1}, {1, 2, 3, 4, 5, 6}, {1, 1, 1, 1, 1, 1}, std::vector<int>(7, -1)},
       "^tree nodes input order has problem.\ni:2 parents.at\\(i\\):2 p->_label:1\n$"},
      {{{0, 0, 1}, {1, 2, 3}, {1, 1, 1}, std::vector<int>(4, -1)},
       "^Input error: the tree input ends after 3 branches, before internal node 1 has two children\n$"},
      {{{}, {}, {}, {-1}}, "^Input error: no parents from tree input. \n$"},
      {{{9, 0}, {1, 2}, {1, 1}, {-1, -1, -1}}, "^Input error: tree label 9 is outside 0..2\n$"}};
  for (const auto& [table, message] : cases) {
    EXPECT_TRUE(throws_error<InputError>([&] { table.make_tree(); }, -1, message));
  }
}

// Cherry 1 = (3, 4) below the root, leaf 2 beside it; leaf ids 2->0, 3->1, 4->2.
std::unique_ptr<PhyTree> initialise(const std::vector<int>& column, unsigned seed) {
  auto tree = three_leaf_table().make_tree(column);
  std::srand(seed);
  tree->init_nodes();
  return tree;
}

// A node whose children hold different residues takes one coin, in the
// popping order (children before parents).
TEST(InitNodes, DifferentResiduesTakeOneCoinEach) {
  for (unsigned seed = 1; seed <= 6; ++seed) {
    std::srand(seed);
    const double u1 = std::rand() / 2147483647.0;
    const double u2 = std::rand() / 2147483647.0;
    const auto tree = initialise({4, 1, 3}, seed);
    // The cherry (1, 3) takes its first child's residue on heads (u >= 0.5);
    // the root then compares that residue with 4 and tosses again.
    const int cherry = u1 < 0.5 ? 3 : 1;
    EXPECT_EQ(tree->nodes[1]->value, cherry) << seed;
    EXPECT_EQ(tree->nodes[3]->bond, u1 < 0.5 ? 0 : 1);
    EXPECT_EQ(tree->nodes[4]->bond, u1 < 0.5 ? 1 : 0);
    EXPECT_EQ(tree->nodes[0]->value, u2 < 0.5 ? 4 : cherry);
  }
}

}  // namespace
