#pragma once

#include <array>
#include <cstddef>
#include <vector>

#include "tree/column_states.h"
#include "tree/trans_probs.h"

// The pruning recursion on one column alone, node by node from the leaves up,
// in the arithmetic the likelihood engine must reproduce bit for bit: a
// child's factor for parent state s is the sum over its possible states j
// with P[s][j] != 0 of exp(ln P[s][j] + ln L(j) - max), the first candidate
// setting the maximum and only a strictly greater one replacing it, and
// ln L(s) = ((ln sum_1 + ln sum_2) + max_1) + max_2. An absent child (value
// 5) is a factor 1; an absent node has no possible state.
struct ColumnLikelihood {
  std::vector<std::array<double, 5>> subtree_lik;  // [label], where valid
  std::vector<std::array<bool, 5>> valid;          // [label]
  // [label][parent state * 5 + own state]: the terms exp(... - max) of the
  // parent's factor, 0 for states that are no candidate.
  std::vector<std::array<double, 25>> weights;
};

ColumnLikelihood reference_likelihood(const ColumnStates& states, std::size_t column, TransProbs& probs);
