#include "tree/trans_probs.h"

#include <cmath>

namespace {
constexpr double probability_floor = 2.2250738585072014e-308;
}

TransProbs::TransProbs(const std::vector<double>& freqs, double deletion_rate, double insertion_rate,
                       double mutation_rate, const std::vector<int>& nonempty_values, const std::vector<int>& children,
                       const std::vector<double>& lengths)
    : _trans_probs(lengths.size()) {
  const std::size_t n = nonempty_values.size();
  for (std::size_t b = 0; b < children.size() && b < lengths.size(); ++b) {
    const double t = lengths[b];
    const double p_del = 1 - std::exp(-deletion_rate * t);
    const double p_ins = 1 - std::exp(-insertion_rate * t);
    const double p_mut = 1 - std::exp(-mutation_rate * t);
    auto& matrix = _trans_probs.at(children[b] - 1);
    matrix.resize(n + 1);
    for (auto& row : matrix) row.assign(n + 1, 0.0);
    // The complements are taken of the computed probabilities and the
    // products formed in this order, so every entry is reproducible.
    matrix[0][0] = 1 - p_ins;
    for (std::size_t k = 0; k < n; ++k) matrix[0][k + 1] = p_ins * freqs[k];
    for (std::size_t i = 0; i < n; ++i) {
      matrix[i + 1][0] = p_del;
      for (std::size_t j = 0; j < n; ++j) {
        if (nonempty_values[j] == nonempty_values[i]) {
          matrix[i + 1][j + 1] = (p_mut * freqs[j] + (1 - p_mut)) * (1 - p_del);
        } else {
          matrix[i + 1][j + 1] = (p_mut * (1 - p_del)) * freqs[j];
        }
      }
    }
    // The floor keeps every event on a real branch possible, if only just.
    // No time passes on a branch of length 0, so nothing can happen there:
    // the exact zeros make the likelihood passes drop those transitions
    // instead of weighing them against the equally floored insertions.
    if (t == 0.0) continue;
    for (auto& row : matrix) {
      for (auto& entry : row) {
        if (entry == 0.0) entry = probability_floor;
      }
    }
  }
}
