#pragma once

#include <ostream>
#include <vector>

#include "tree/phy_tree.h"

// First rate state of every column from how conserved its leaves are:
// 2 when every leaf (or all but one) holds the same residue and none is empty,
// 1 when all but two do, 0 otherwise. Rebuilds rate_state_columns.
void initialize_rate_states(int n_rate_states, std::vector<PhyTree*>& trees, std::vector<int>& column_rate_states,
                            std::vector<std::vector<long>>& rate_state_columns, const std::vector<int>& nonempty_values,
                            const std::vector<int>& nonempty_value_index, std::ostream* out);

// Draws every row of the rate-state transition matrix from its Dirichlet
// posterior: pseudo-count 1 plus the count of each adjacent pair of the path.
// With a stream, first writes each row's posterior mean as one line.
void sample_rate_state_transitions(int n_rate_states, const std::vector<int>& column_rate_states,
                                   std::vector<std::vector<double>>& state_transitions, std::ostream* out);

// ln P(path | transition matrix), without the initial state's probability.
double compute_post_para_rate_states(int n_rate_states, const std::vector<int>& column_rate_states,
                                     const std::vector<std::vector<double>>& state_transitions);
