#pragma once

#include <vector>

#include "tree/column_states.h"
#include "tree/likelihood_engine.h"
#include "tree/model_parameters.h"

// Fills emission_probs[c][k] = ln P(leaf values of column c | rate state k)
// for every column of every segment and every rate state of `rates`: the
// engine is evaluated for these segments, frequencies and rates (a no-op when
// it already is), and entry [c][k] is the root table of column c under rate
// state k read at the root's current value in `states` (minus infinity if
// the leaves make that value impossible). Columns outside every segment are
// left as they are. A segment bound beyond the columns or the matrix throws
// std::out_of_range. With diagnostics on, the finished matrix is written one
// row per column.
void compute_obs_emission_probs(const ColumnStates& states, LikelihoodEngine& engine,
                                const Versioned<Segmentation>& segmentation, const Versioned<EventRates>& rates,
                                std::vector<std::vector<double>>& emission_probs);
