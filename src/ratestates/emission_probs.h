#pragma once

#include <ostream>
#include <vector>

#include "tree/column_states.h"
#include "tree/likelihood_engine.h"

// Fills emission_probs[c][k] = ln P(leaf values of column c | rate state k)
// for every column of every segment: the engine is evaluated for these
// segments, frequencies and rates (a no-op when it already is), and entry
// [c][k] is the root table of column c under rate state k read at the root's
// current value in `states` (minus infinity if the leaves make that value
// impossible). Only the length of `rate_state_labels` is used. Columns
// outside every segment are left as they are. A segment bound beyond the
// columns or the matrix, or a rate vector shorter than the labels, throws
// std::out_of_range. With a non-null `out`, the finished matrix is written
// one row per column.
void compute_obs_emission_probs(const ColumnStates& states, LikelihoodEngine& engine,
                                const std::vector<int>& rate_state_labels, const std::vector<double>& deletion_rates,
                                const std::vector<double>& insertion_rates, const std::vector<double>& mutation_rates,
                                const std::vector<std::vector<long>>& from_tos,
                                const std::vector<std::vector<double>>& thetas, const std::vector<int>& nonempty_values,
                                const std::vector<int>& children, const std::vector<double>& lengths,
                                std::vector<std::vector<double>>& emission_probs, std::ostream* out);
