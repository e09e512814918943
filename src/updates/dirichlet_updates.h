#pragma once

#include <ostream>
#include <vector>

#include "tree/column_states.h"

// Draws every segment's root-value transition rows (betas) from their
// Dirichlet posteriors: pseudo-count 1 plus the count of each transition
// between adjacent non-empty roots, counted in the segment of the column it
// leads into. With a stream, writes each row's normalised counts (n lines of
// n numbers per segment). A root changing between empty and non-empty throws
// an InternalError.
void sample_gammas_etas_betas(const ColumnStates& states, const std::vector<std::vector<long>>& from_tos,
                              std::vector<std::vector<std::vector<double>>>& betas, int n,
                              const std::vector<int>& nonempty_value_index, std::ostream* out);

// Draws every segment's distribution of newly arising values (thetas): values
// inserted or mutated on a branch, and roots that follow an empty root. With a
// stream, writes the normalised counts (one line per segment).
void sample_thetas(const ColumnStates& states, const std::vector<std::vector<long>>& from_tos,
                   std::vector<std::vector<double>>& thetas, int n, const std::vector<int>& nonempty_value_index,
                   std::ostream* out);
