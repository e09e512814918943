#pragma once

#include <cstddef>

#include "tree/column_states.h"

// The start of a run: gives every column's internal nodes values and every
// node its indicators by a parsimony-like rule from the leaves up, then keeps
// events off the branches of length 0 (keep_zero_length_branches_without_events).
// The only random draws are one fair coin per internal node whose two
// children hold different residues, column after column, each column's
// nodes in reverse breadth-first order; this order fixes a run's start.
// A column whose root is absent (every leaf absent) throws an InternalError
// of status 1 that shows the column's tree.
void initialise_columns(ColumnStates& states);

// The parsimony start of one column, without the zero-length step.
void initialise_column(ColumnStates& states, std::size_t column);
