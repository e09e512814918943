#pragma once

#include <memory>
#include <vector>

#include "io/tree_input.h"
#include "tree/column_states.h"

using TreeTable = BranchTable;

// Columns on the shape of `table`: the leaves hold the rows (indexed by
// sequence id), every other node value 0 and every indicator -1.
ColumnStates columns_on(const TreeTable& table, const std::vector<std::vector<int>>& rows);
// `count` columns whose leaves all hold 0.
ColumnStates blank_columns(const TreeTable& table, std::size_t count);

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
