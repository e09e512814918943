#pragma once

#include <memory>
#include <vector>

#include "tree/phy_tree.h"

// A branch table with its leaf map, as read from a tree folder.
struct TreeTable {
  std::vector<int> parents;
  std::vector<int> children;
  std::vector<double> lengths;
  std::vector<int> leaf_map;  // per label: sequence id or -1

  std::unique_ptr<PhyTree> make_tree() const { return std::make_unique<PhyTree>(parents, children, lengths, leaf_map); }
  // A tree whose leaves hold `column` (indexed by sequence id).
  std::unique_ptr<PhyTree> make_tree(const std::vector<int>& column) const {
    auto tree = make_tree();
    tree->init_leave_values(column);
    return tree;
  }
};

// Root 0 with children 1 (internal) and 2 (leaf); 1 has leaves 3 and 4.
// Leaf sequence ids: 2 -> 0, 3 -> 1, 4 -> 2.
TreeTable three_leaf_table();
// Balanced: root 0 -> 1, 2; 1 -> 3, 4; 2 -> 5, 6. Leaves 3..6 -> ids 0..3.
TreeTable four_leaf_table();
// The shipped default tree: root 0 -> 1, 2; 1 -> 3, 4; 2 -> 5, 6; 3 -> 7, 8;
// 4 -> 9, 10: internal nodes 0..4, six leaves 5..10 with ids 0..5.
TreeTable six_leaf_table();
// A random full binary tree with `leaves` leaves, labels in the required
// breadth-first order and lengths uniform in (0.01, 1), from a std::mt19937
// seeded with `seed` (test data only: never the model's generator).
TreeTable random_table(int leaves, unsigned seed);

// The model's probability of child value `to` (0 empty, 1..4 residues) given
// parent value `from` on a branch of length t, written with the survival
// probabilities exp(-rate t) directly: deletion, insertion (from the
// frequencies) and equal-input mutation. No floor: impossible is 0.
double model_probability(int from, int to, double del, double ins, double mut, double t,
                         const std::vector<double>& freqs);

// Owns a set of column trees and exposes them as the raw pointer vector the
// model code takes.
struct TreeSet {
  std::vector<std::unique_ptr<PhyTree>> owned;
  std::vector<PhyTree*> trees;

  void add(std::unique_ptr<PhyTree> tree) {
    trees.push_back(tree.get());
    owned.push_back(std::move(tree));
  }
};
