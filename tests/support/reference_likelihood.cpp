#include "support/reference_likelihood.h"

#include <cmath>

namespace {

struct ChildFactor {
  double sum = 1.0;
  double max = 0.0;
};

ChildFactor child_factor(const ColumnLikelihood& tables, int child, int value,
                         const std::vector<std::vector<double>>& p, int s, std::array<double, 25>& weights) {
  ChildFactor factor;
  if (value == 5) return factor;
  const auto candidate = [&](int j) { return tables.valid[child][j] && p[s][j] != 0.0; };
  bool found = false;
  for (int j = 0; j < 5; ++j) {
    if (!candidate(j)) continue;
    weights[s * 5 + j] = std::log(p[s][j]) + tables.subtree_lik[child][j];
    if (!found || weights[s * 5 + j] > factor.max) factor.max = weights[s * 5 + j];
    found = true;
  }
  factor.sum = 0.0;
  if (!found) factor.max = 0.0;
  for (int j = 0; found && j < 5; ++j) {
    if (!candidate(j)) continue;
    weights[s * 5 + j] = std::exp(weights[s * 5 + j] - factor.max);
    factor.sum += weights[s * 5 + j];
  }
  return factor;
}

}  // namespace

ColumnLikelihood reference_likelihood(const ColumnStates& states, std::size_t column, TransProbs& probs) {
  const TreeTopology& tree = states.topology();
  const auto& matrices = probs.get_trans_probs();
  ColumnLikelihood result;
  result.subtree_lik.assign(tree.size(), {});
  result.valid.assign(tree.size(), {});
  result.weights.assign(tree.size(), {});
  for (int node = static_cast<int>(tree.size()) - 1; node >= 0; --node) {
    const int label = tree.label(node);
    const int value = states.at(column, label).value;
    if (tree.is_leaf(node) || value == 5) {
      for (int s = 0; s < 5; ++s) result.valid[label][s] = tree.is_leaf(node) && value == s;
      continue;
    }
    const int children[2] = {tree.label(tree.first_child(node)), tree.label(tree.second_child(node))};
    for (int s = 0; s < 5; ++s) {
      ChildFactor factors[2];
      for (int k = 0; k < 2; ++k) {
        factors[k] = child_factor(result, children[k], states.at(column, children[k]).value,
                                  matrices.at(children[k] - 1), s, result.weights[children[k]]);
      }
      result.valid[label][s] = factors[0].sum != 0.0 && factors[1].sum != 0.0;
      if (result.valid[label][s]) {
        result.subtree_lik[label][s] =
            ((std::log(factors[0].sum) + std::log(factors[1].sum)) + factors[0].max) + factors[1].max;
      }
    }
  }
  return result;
}
