#pragma once

#include <ostream>
#include <vector>

#include "tree/column_states.h"

// First rate state of every column from how conserved its leaves are:
// 2 when every leaf (or all but one) holds the same residue and none is empty,
// 1 when all but two do, 0 otherwise; absent leaves count for neither.
// Replaces column_rate_states (one entry per column) and rebuilds
// rate_state_columns; n_rate_states below 3 throws std::out_of_range when a
// column reaches state 2. With a stream, writes the per-column residue counts,
// the states and the column list of every state.
void initialize_rate_states(int n_rate_states, const ColumnStates& states, std::vector<int>& column_rate_states,
                            std::vector<std::vector<long>>& rate_state_columns, const std::vector<int>& nonempty_values,
                            const std::vector<int>& nonempty_value_index, std::ostream* out);

// Draws every row of the rate-state transition matrix from its Dirichlet
// posterior: pseudo-count 1 plus the count of every adjacent pair of the path
// (N-1 pairs for N columns), rows in order. With a stream, first writes each
// row's posterior mean as one line. A state outside 0 .. n_rate_states-1
// throws std::out_of_range.
void sample_rate_state_transitions(int n_rate_states, const std::vector<int>& column_rate_states,
                                   std::vector<std::vector<double>>& state_transitions, std::ostream* out);

// ln P(path | transition matrix) over its N-1 transitions, without the
// initial state's probability; a zero probability counts as
// ln(2.2250738585072014e-308) per transition, a negative one as nothing.
double compute_post_para_rate_states(int n_rate_states, const std::vector<int>& column_rate_states,
                                     const std::vector<std::vector<double>>& state_transitions);
