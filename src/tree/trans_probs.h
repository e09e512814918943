#pragma once

#include <vector>

#include "tree/model_parameters.h"
#include "tree/tree_topology.h"

// Per-branch transition matrices for one set of event rates and value
// frequencies. The matrix of the branch above the node labelled b is entry
// b - 1; it is (n+1) x (n+1), row = parent value, column = child value, with
// row/column 0 the empty value and k+1 the residue k+1, n the number of
// frequencies.
// A residue is deleted with probability 1 - exp(-delta t); an empty position
// receives an inserted residue (drawn from the frequencies) with probability
// 1 - exp(-iota t); a kept residue mutates by the equal-input model with
// probability 1 - exp(-mu t). On a branch of positive length, entries that
// come out as 0.0 are floored to 2.2250738585072014e-308, so no transition is
// impossible there. A branch of length 0 carries no event: its matrix is the
// exact identity, and every change of value across it has probability 0.
class TransProbs {
 public:
  TransProbs(const TreeTopology& tree, const std::vector<double>& freqs, const StateRates& rates);

  std::vector<std::vector<std::vector<double>>>& get_trans_probs() { return _trans_probs; }

 private:
  std::vector<std::vector<std::vector<double>>> _trans_probs;
};
