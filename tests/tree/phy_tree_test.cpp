#include <gtest/gtest.h>

#include <cstdlib>
#include <iostream>
#include <sstream>

#include "support/process.h"
#include "support/test_trees.h"

namespace {

TEST(PhyTree, BuildsNodesByLabel) {
  const auto tree = three_leaf_table().make_tree();
  EXPECT_EQ(tree->last_internal_label, 1);
  ASSERT_EQ(tree->nodes.size(), 5u);
  EXPECT_EQ(tree->root, tree->nodes[0]);
  EXPECT_EQ(tree->root->child_nodes[0]->_label, 1);
  EXPECT_EQ(tree->root->child_nodes[1]->_label, 2);
  EXPECT_EQ(tree->nodes[4]->parent, tree->nodes[1]);
  EXPECT_DOUBLE_EQ(tree->nodes[4]->length, 2.0);
  EXPECT_TRUE(tree->nodes[2]->is_leaf());
}

TEST(PhyTree, RetrieveIsTheInverseOfInit) {
  const auto table = random_table(9, 4);
  const std::vector<int> column{1, 0, 5, 4, 3, 2, 2, 0, 1};
  EXPECT_EQ(table.make_tree(column)->retrieve_leave_values(), column);
  const auto shuffled = TreeTable{{0, 0, 1, 1}, {1, 2, 3, 4}, {1, 1, 1, 1}, {-1, -1, 2, 0, 1}};
  const auto tree = shuffled.make_tree({7, 8, 9});
  EXPECT_EQ(tree->nodes[2]->value, 9);
  EXPECT_EQ(tree->retrieve_leave_values(), (std::vector<int>{7, 8, 9}));
}

TEST(PhyTreeDeath, RowsOutOfBreadthFirstOrder) {
  const TreeTable table{{0, 0, 2, 2, 1, 1}, {1, 2, 3, 4, 5, 6}, {1, 1, 1, 1, 1, 1}, std::vector<int>(7, -1)};
  EXPECT_EXIT(table.make_tree(), ::testing::ExitedWithCode(255),
              "^tree nodes input order has problem.\ni:2 parents.at\\(i\\):2 p->_label:1\n$");
}

TEST(PhyTreeDeath, RowsRunOutAndEmptyTable) {
  const TreeTable incomplete{{0, 0, 1}, {1, 2, 3}, {1, 1, 1}, std::vector<int>(4, -1)};
  EXPECT_EXIT(incomplete.make_tree(), ::testing::ExitedWithCode(255),
              "^Input error: the tree input ends after 3 branches, before internal node 1 has two children\n$");
  const TreeTable empty{{}, {}, {}, {-1}};
  EXPECT_EXIT(empty.make_tree(), ::testing::ExitedWithCode(255), "^Input error: no parents from tree input. \n$");
}

// Cherry 1 = (3, 4) below the root, leaf 2 beside it; leaf ids 2->0, 3->1, 4->2.
struct InitCase {
  std::unique_ptr<PhyTree> tree;
  Node* node(int label) const { return tree->nodes[label]; }
};

InitCase initialise(const std::vector<int>& column, unsigned seed) {
  InitCase c{three_leaf_table().make_tree(column)};
  std::srand(seed);
  c.tree->init_nodes();
  return c;
}

TEST(InitNodes, EqualResiduesTakeNoDraw) {
  std::srand(12);
  const int first = std::rand();
  const auto c = initialise({2, 2, 2}, 12);
  EXPECT_EQ(std::rand(), first);
  EXPECT_EQ(c.node(1)->value, 2);
  EXPECT_EQ(c.node(0)->value, 2);
  for (int label = 1; label <= 4; ++label) {
    EXPECT_EQ(c.node(label)->bond, 1);
    EXPECT_EQ(c.node(label)->deletion, 0);
    EXPECT_EQ(c.node(label)->insertion, -1);
  }
}

TEST(InitNodes, DifferentResiduesTakeOneCoinEach) {
  for (unsigned seed = 1; seed <= 6; ++seed) {
    std::srand(seed);
    const double u1 = std::rand() / 2147483647.0;
    const double u2 = std::rand() / 2147483647.0;
    const int third = std::rand();
    const auto c = initialise({4, 1, 3}, seed);
    EXPECT_EQ(std::rand(), third) << "exactly two coins for two disagreeing cherries";
    // The cherry (1, 3) takes its first child's residue on heads (u >= 0.5);
    // the root then compares that residue with 4 and tosses again.
    const int cherry = u1 < 0.5 ? 3 : 1;
    EXPECT_EQ(c.node(1)->value, cherry) << seed;
    EXPECT_EQ(c.node(3)->bond, u1 < 0.5 ? 0 : 1);
    EXPECT_EQ(c.node(4)->bond, u1 < 0.5 ? 1 : 0);
    EXPECT_EQ(c.node(0)->value, u2 < 0.5 ? 4 : cherry);
  }
}

TEST(InitNodes, EmptyLeafBesideAResidueIsADeletion) {
  const auto c = initialise({3, 0, 3}, 1);
  EXPECT_EQ(c.node(1)->value, 3);
  EXPECT_EQ(c.node(3)->bond, -1);
  EXPECT_EQ(c.node(3)->deletion, 1);
  EXPECT_EQ(c.node(4)->bond, 1);
  EXPECT_EQ(c.node(4)->deletion, 0);
}

TEST(InitNodes, AllEmptyColumnGetsRootOne) {
  const auto c = initialise({0, 0, 0}, 1);
  EXPECT_EQ(c.node(0)->value, 1);
  EXPECT_EQ(c.node(1)->value, 0);
  EXPECT_EQ(c.node(1)->deletion, 1);
  EXPECT_EQ(c.node(2)->deletion, 1);
  EXPECT_EQ(c.node(3)->insertion, 0);
  EXPECT_EQ(c.node(3)->deletion, -1);
}

TEST(InitNodes, AbsentLeavesMakeAnAbsentParent) {
  const auto c = initialise({2, 5, 5}, 1);
  EXPECT_EQ(c.node(1)->value, 5);
  for (int label : {1, 3, 4}) {
    EXPECT_EQ(c.node(label)->deletion, -1) << label;
    EXPECT_EQ(c.node(label)->insertion, -1) << label;
  }
  EXPECT_EQ(c.node(3)->bond, -1);
  EXPECT_EQ(c.node(4)->bond, -1);
  EXPECT_EQ(c.node(1)->bond, -1);
  EXPECT_EQ(c.node(0)->value, 2);
  EXPECT_EQ(c.node(2)->bond, 1);
}

TEST(InitNodes, RootEndsWithEveryIndicatorNotApplicable) {
  for (const auto& column : {std::vector<int>{1, 2, 3}, {0, 0, 4}, {5, 1, 0}}) {
    const auto c = initialise(column, 3);
    EXPECT_EQ(c.node(0)->deletion, -1);
    EXPECT_EQ(c.node(0)->insertion, -1);
    EXPECT_EQ(c.node(0)->bond, -1);
  }
}

TEST(InitNodesDeath, AbsentRootDumpsTheTreeToStandardOutput) {
  auto tree = three_leaf_table().make_tree({5, 5, 5});
  EXPECT_EXIT(
      {
        std::cout.rdbuf(std::cerr.rdbuf());
        tree->init_nodes();
      },
      ::testing::ExitedWithCode(1),
      "^root of a tree becomes pale yellow or double line. \n"
      "p.label: 0\tp.value: 5\tlabel: 1\tvalue: 5\tdeletion: -1\tinsertion: -1\tbond: -1\tlength: 0.5\n");
}

TEST(PhyTree, TextDumps) {
  const auto c = initialise({2, 2, 0}, 1);
  std::ostringstream values, deletions, insertions, bonds, walk;
  c.tree->output_internal_values(&values);
  c.tree->output_deletions(&deletions);
  c.tree->output_insertions(&insertions);
  c.tree->output_bonds(&bonds);
  c.tree->depth_first_search(&walk);
  EXPECT_EQ(values.str(), "2 2  leaves: 2 2 0 \n");
  EXPECT_EQ(deletions.str(), "-1 0 0 0 1 \n");
  EXPECT_EQ(insertions.str(), "-1 -1 -1 -1 -1 \n");
  EXPECT_EQ(bonds.str(), "-1 1 1 1 -1 \n");
  EXPECT_EQ(walk.str(),
            "p.label: 0\tp.value: 2\tlabel: 1\tvalue: 2\tdeletion: 0\tinsertion: -1\tbond: 1\tlength: 0.5\n"
            "p.label: 1\tp.value: 2\tlabel: 3\tvalue: 2\tdeletion: 0\tinsertion: -1\tbond: 1\tlength: 1\n"
            "p.label: 1\tp.value: 2\tlabel: 4\tvalue: 0\tdeletion: 1\tinsertion: -1\tbond: -1\tlength: 2\n"
            "p.label: 0\tp.value: 2\tlabel: 2\tvalue: 2\tdeletion: 0\tinsertion: -1\tbond: 1\tlength: 0.25\n");
}

TEST(PhyTree, SelfTestReport) {
  TempDir dir;
  write_file(dir.path() / "leaves.txt", "3 3 3\n");
  auto tree = three_leaf_table().make_tree();
  std::ostringstream out;
  tree->test_init((dir.path() / "leaves.txt").string(), &out);
  EXPECT_EQ(out.str().substr(0, 104),
            "in test_init:\none set of leaves:\n3 3 3\nafter initialization: \nleaves are initialized as:\n3 3 3\n"
            "ancestor ");
  EXPECT_NE(out.str().find("ancestor is initialized as:\n3\ndfs display: \np.label: 0"), std::string::npos);
}

TEST(PhyTree, InitializeTreesMakesOneTreePerColumn) {
  const auto table = three_leaf_table();
  std::vector<PhyTree*> trees;
  std::ostringstream out;
  initialize_trees(trees, table.parents, table.children, table.lengths, table.leaf_map, {{1, 2, 3}, {0, 5, 4}}, &out);
  ASSERT_EQ(trees.size(), 2u);
  EXPECT_EQ(out.str(), "1 2 3\n0 5 4\n");
  for (PhyTree* tree : trees) delete tree;
}

}  // namespace
