#pragma once

#include <ostream>
#include <vector>

#include "tree/column_states.h"
#include "tree/phy_tree.h"

// Draws every segment's root-value transition rows (betas) from their
// Dirichlet posteriors: pseudo-count 1 plus the count of each transition
// between adjacent non-empty roots, counted in the segment of the column it
// leads into. With a stream, writes each row's normalised counts (n lines of
// n numbers per segment). A root changing between empty and non-empty throws
// an InternalError.
void sample_gammas_etas_betas(std::vector<PhyTree*>& trees, const std::vector<std::vector<long>>& from_tos,
                              std::vector<std::vector<std::vector<double>>>& betas, int n,
                              const std::vector<int>& nonempty_value_index, std::ostream* out);

// The same draws and counts, bit for bit, from the compact states.
void sample_gammas_etas_betas(const ColumnStates& states, const std::vector<std::vector<long>>& from_tos,
                              std::vector<std::vector<std::vector<double>>>& betas, int n,
                              const std::vector<int>& nonempty_value_index, std::ostream* out);

// Draws every segment's distribution of newly arising values (thetas): values
// inserted or mutated on a branch, and roots that follow an empty root. With a
// stream, writes the normalised counts (one line per segment).
void sample_thetas(std::vector<PhyTree*>& trees, const std::vector<std::vector<long>>& from_tos,
                   std::vector<std::vector<double>>& thetas, int n, const std::vector<int>& nonempty_value_index,
                   std::ostream* out);

// The same draws and counts, bit for bit, from the compact states.
void sample_thetas(const ColumnStates& states, const std::vector<std::vector<long>>& from_tos,
                   std::vector<std::vector<double>>& thetas, int n, const std::vector<int>& nonempty_value_index,
                   std::ostream* out);

// Draws cluster proportions from Dirichlet(1 + cluster sizes), writes the
// parameters as a row to `out` (not null) and, if asked, adds the log density
// kernel to `log_density`.
std::vector<double> sample_cluster_proportions(const std::vector<std::vector<long>>& clusters, double& log_density,
                                               std::ostream* out, bool add_log_density);
