#pragma once

#include <vector>

// Hidden Markov chain of rate states along the alignment: forward filtering
// in log space, then one backward draw of the whole path. Zero probabilities
// are floored to ln(2.2250738585072014e-308), never minus infinity.
class HMM_OneDim {
 public:
  HMM_OneDim(long length, int n_states, const std::vector<double>& initial_probs,
             const std::vector<std::vector<double>>& transition_probs,
             const std::vector<std::vector<double>>& emission_probs);

  // Fills the forward table; call once. A negative or NaN initial or
  // transition probability, no states at all, or a negative or NaN sum of
  // weights throws an InternalError with a fixed message. Emission and
  // probability tables smaller than length x states throw std::out_of_range.
  void forward_summation();
  // Overwrites states[0 .. length-1] with a path drawn from its posterior,
  // one rand() value per column from the last column to the first; entries
  // beyond length-1 are left alone. A one-column chain draws its state from
  // initial probability times emission. A vector shorter than the length
  // throws std::out_of_range.
  void backward_sampling(std::vector<int>& states);

 private:
  long _length;
  int _n_states;
  std::vector<int> _state_labels;
  std::vector<double> _initial_probs;
  std::vector<std::vector<double>> _transition_probs;
  std::vector<std::vector<double>> _emission_probs;
  std::vector<std::vector<std::vector<double>>> _forward;
};
