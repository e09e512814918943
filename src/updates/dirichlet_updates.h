#pragma once

#include <ostream>

#include "tree/column_states.h"
#include "tree/model_parameters.h"

// Draws every segment's root-value transition rows (the segmentation's
// betas, one 4 x 4 matrix per segment of its from_tos) from their Dirichlet
// posteriors: pseudo-count 1 plus the count of each transition between
// adjacent non-empty roots, counted in the segment of the column it leads
// into. Writes each row's normalised counts to `out` (n lines of n numbers
// per segment). A root changing between empty and non-empty throws an
// InternalError; a segment beyond the columns std::out_of_range.
void sample_betas(const ColumnStates& states, Segmentation& segmentation, std::ostream& out);

// Draws every segment's distribution of newly arising values (the
// segmentation's thetas): values inserted or mutated on a branch, and roots
// that follow an empty root. Writes the normalised counts to `out` (one line
// per segment).
void sample_thetas(const ColumnStates& states, Segmentation& segmentation, std::ostream& out);
