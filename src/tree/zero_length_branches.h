#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "tree/column_states.h"
#include "tree/tree_topology.h"

// A branch of length 0 carries no event, and the model has no insertion
// inside the tree. A column whose leaf values cannot arise that way (a gap
// leaf on a branch of length 0 whose sibling holds a residue, two residues
// joined by branches of length 0 that differ, ...) has likelihood 0 on the
// tree, and no sampler state can hold it.
//
// The child label of the branch of length 0 that needs an event in `column`
// (indexed by sequence id) on the tree `shape`: 0 when the column can evolve
// without one, -1 when no single such branch is to blame (several need one).
int zero_length_branch_needing_an_event(const TreeTopology& shape, const std::vector<int>& column);

// The parsimony start (initialise_column) knows nothing of lengths and may
// put an event on a branch of length 0, and a root value that the leaves
// below such branches rule out. Where it did, this gives the column's
// internal nodes values that need no such event (keeping every value that
// needs none, then preferring the parent's value) and sets every indicator
// from the values. Draws nothing; a tree without branches of length 0 is left
// as it is.
void keep_zero_length_branches_without_events(ColumnStates& states, std::size_t column);

// Throws an InputError naming `data_path`, the line of the column and the
// branch, at the first column of `alignment` (whose file lines are `lines`)
// that needs an event on a branch of length 0.
void check_zero_length_branches(const TreeTopology& shape, const std::vector<std::vector<int>>& alignment,
                                const std::vector<std::size_t>& lines, const std::string& data_path);
