#include "tree/trans_probs.h"

#include <cmath>

namespace {
constexpr double probability_floor = 2.2250738585072014e-308;
}

TransProbs::TransProbs(const TreeTopology& tree, const std::vector<double>& freqs, const StateRates& rates)
    : _trans_probs(tree.size() - 1) {
  const std::size_t n = freqs.size();
  for (std::size_t node = 1; node < tree.size(); ++node) {
    const double t = tree.length(static_cast<int>(node));
    const double p_del = 1 - std::exp(-rates.deletion * t);
    const double p_ins = 1 - std::exp(-rates.insertion * t);
    const double p_mut = 1 - std::exp(-rates.mutation * t);
    auto& matrix = _trans_probs.at(tree.label(static_cast<int>(node)) - 1);
    matrix.resize(n + 1);
    for (auto& row : matrix) row.assign(n + 1, 0.0);
    // The complements are taken of the computed probabilities and the
    // products formed in this order, so every entry is reproducible.
    matrix[0][0] = 1 - p_ins;
    for (std::size_t k = 0; k < n; ++k) matrix[0][k + 1] = p_ins * freqs[k];
    for (std::size_t i = 0; i < n; ++i) {
      matrix[i + 1][0] = p_del;
      for (std::size_t j = 0; j < n; ++j) {
        if (j == i) {
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
