#pragma once

#include <cmath>
#include <vector>

#include "tree/column_states.h"

// Probability that no mutation event happens on a branch of this length:
// exp(rate * -1.0 * length), the exponent formed in exactly this order.
inline double no_mutation_probability(double mutation_rate, double length) {
  return std::exp(mutation_rate * -1.0 * length);
}

// Sets the deletion, insertion and bond indicators of the branch above
// `node` from its parent's value and its own (already final) value. Where
// both hold the same residue the bond is drawn (one rand() value) from the
// weights ((1 - no_mutation) * freqs[value - 1], no_mutation). A residue
// below an empty parent throws an InternalError "insertion inside a tree
// occurs unexpectedly!". Combinations outside 0..4 change nothing.
void set_branch_indicators(NodeState& node, int parent_value, double no_mutation,
                           const std::vector<int>& all_value_index, const std::vector<double>& freqs);
