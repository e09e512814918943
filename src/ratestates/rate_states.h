#pragma once

#include <ostream>
#include <vector>

#include "tree/column_states.h"

// The number of rate states of the model, from the table of outputs that
// the companion tools read too (tools/alncommon/sampler_outputs.def): the
// rate traces hold one value per rate state.
#define RATE_STATES(count) count
#define RUN_FILE(...)
#define ITERATION_FILE(...)
#define OPTIONAL_ITERATION_FILE(...)
inline constexpr int rate_state_count =
#include "sampler_outputs.def"
    ;
#undef RATE_STATES
#undef RUN_FILE
#undef ITERATION_FILE
#undef OPTIONAL_ITERATION_FILE

// The probabilities of the first column's rate state: 0.34, 0.33, 0.33.
std::vector<double> initial_rate_state_probs();

// The rate state of every column and, per rate state, its columns in
// increasing order.
struct RateStatePath {
  std::vector<int> column_states;
  std::vector<std::vector<long>> state_columns;

  // Rebuilds state_columns from column_states for `rate_states` states; a
  // state outside 0 .. rate_states - 1 throws std::out_of_range.
  void rebuild_state_columns(int rate_states);
};

// First rate state of every column from how conserved its leaves are:
// 2 when every leaf (or all but one) holds the same residue and none is empty,
// 1 when all but two do, 0 otherwise; absent leaves count for neither.
// n_rate_states below 3 throws std::out_of_range when a column reaches state
// 2. With diagnostics on, writes the per-column residue counts, the states
// and the column list of every state.
RateStatePath initialize_rate_states(int n_rate_states, const ColumnStates& states);

// Every row of the rate-state transition matrix drawn from its Dirichlet
// posterior: pseudo-count 1 plus the count of every adjacent pair of the path
// (N-1 pairs for N columns), rows in order; and those parameters, whose row
// means the run writes. A state outside 0 .. n_rate_states-1 throws
// std::out_of_range.
struct TransitionDraw {
  std::vector<std::vector<double>> counts;
  std::vector<std::vector<double>> transitions;
};
TransitionDraw sample_rate_state_transitions(int n_rate_states, const std::vector<int>& column_rate_states);

// Each row's entries divided by the row's sum, separated by " ", one line
// per row: the means of Dirichlet rows with these parameters.
void write_row_means(const std::vector<std::vector<double>>& counts, std::ostream& out);

// ln P(path | transition matrix) over its N-1 transitions, without the
// initial state's probability; a zero probability counts as
// ln(2.2250738585072014e-308) per transition, a negative one as nothing.
double compute_post_para_rate_states(int n_rate_states, const std::vector<int>& column_rate_states,
                                     const std::vector<std::vector<double>>& state_transitions);
