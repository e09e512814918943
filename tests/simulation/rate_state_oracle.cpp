#include "simulation/rate_state_oracle.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "io/tree_input.h"
#include "support/process.h"
#include "tree/trans_probs.h"

namespace {

using Matrix = std::vector<std::vector<double>>;

// The square matrix m to the power `exponent` >= 0.
Matrix power(const Matrix& m, long exponent) {
  Matrix result(m.size(), std::vector<double>(m.size(), 0.0));
  for (std::size_t i = 0; i < m.size(); ++i) result[i][i] = 1.0;
  for (long e = 0; e < exponent; ++e) {
    Matrix product(m.size(), std::vector<double>(m.size(), 0.0));
    for (std::size_t i = 0; i < m.size(); ++i) {
      for (std::size_t k = 0; k < m.size(); ++k) {
        for (std::size_t j = 0; j < m.size(); ++j) product[i][j] += result[i][k] * m[k][j];
      }
    }
    result = product;
  }
  return result;
}

// Scales to sum 1: forward and backward messages only matter up to a factor.
void normalise(std::vector<double>& p) {
  double total = 0.0;
  for (const double value : p) total += value;
  for (double& value : p) value /= total;
}

// ln P(leaves | root value, rate state k) for every modelled column.
Matrix emissions(const CaseTruth& truth, const GenerationParameters& p) {
  const std::vector<int> residues{1, 2, 3, 4};
  const std::vector<int> all_values{0, 1, 2, 3, 4};
  const std::size_t states = p.deletion_rates.size();
  Matrix result(truth.modelled_rows.size(), std::vector<double>(states, 0.0));
  for (std::size_t c = 0; c < truth.modelled_rows.size(); ++c) {
    auto tree = truth.table.make_tree(truth.modelled_rows[c]);
    for (std::size_t k = 0; k < states; ++k) {
      TransProbs probabilities(p.thetas[truth.segments[c]], p.deletion_rates[k], p.insertion_rates[k],
                               p.mutation_rates[k], residues, truth.table.children, truth.table.lengths);
      tree->bottomup(probabilities, all_values, nullptr);
      const int root = truth.root_values[c];
      result[c][k] = tree->root->flag_subtree_lik_valid[root] ? tree->root->subtree_lik[root]
                                                              : -std::numeric_limits<double>::infinity();
    }
  }
  return result;
}

}  // namespace

GenerationParameters read_parameters(const std::filesystem::path& parameter_dir, std::size_t leaf_count) {
  return load_generation_parameters(parameter_dir.string() + "/", std::nullopt, leaf_count);
}

CaseTruth read_case_truth(const std::filesystem::path& case_dir, const GenerationParameters& parameters) {
  CaseTruth truth;
  std::vector<int> nonempty_values, nonempty_value_index, all_values, all_value_index;
  std::ostream* no_report = nullptr;
  read_tree_parameters(case_dir.string() + "/", truth.table.parents, truth.table.children, truth.table.lengths,
                       truth.table.leaf_map, nonempty_values, nonempty_value_index, all_values, all_value_index,
                       no_report);
  const auto data = read_rows<int>(case_dir / "data.txt");
  const auto values = read_rows<int>(case_dir / "truth" / "values.txt");
  const auto states = read_rows<int>(case_dir / "truth" / "rate_states.txt");
  for (std::size_t c = 0; c < data.size(); ++c) {
    if (data[c].empty() || data[c][0] < 1 || data[c][0] > 4) continue;
    truth.modelled_columns.push_back(static_cast<long>(c));
    truth.modelled_rows.push_back(data[c]);
    truth.root_values.push_back(values[c][0]);
    truth.rate_states.push_back(states[c][0]);
    int segment = 0;
    while (parameters.from_tos[segment][1] < static_cast<long>(c)) ++segment;
    truth.segments.push_back(segment);
  }
  return truth;
}

std::vector<int> oracle_rate_states(const CaseTruth& truth, const GenerationParameters& p) {
  const Matrix e = emissions(truth, p);
  const std::size_t n = e.size(), states = p.initial_state_probs.size();
  // Each column's likelihoods relative to its most likely state, so that none underflows.
  Matrix likelihood(n);
  for (std::size_t c = 0; c < n; ++c) {
    const double top = *std::max_element(e[c].begin(), e[c].end());
    for (const double log_value : e[c]) likelihood[c].push_back(std::exp(log_value - top));
  }
  // steps[c]: transitions from the state of the previous modelled column (or
  // from the initial distribution) over every generated column up to c.
  std::vector<Matrix> steps(n);
  for (std::size_t c = 0; c < n; ++c) {
    steps[c] = power(p.state_transitions, truth.modelled_columns[c] - (c == 0 ? 0 : truth.modelled_columns[c - 1]));
  }
  Matrix forward(n, std::vector<double>(states, 0.0)), backward(n, std::vector<double>(states, 0.0));
  for (std::size_t c = 0; c < n; ++c) {
    const std::vector<double>& before = c == 0 ? p.initial_state_probs : forward[c - 1];
    for (std::size_t k = 0; k < states; ++k) {
      for (std::size_t j = 0; j < states; ++j) forward[c][k] += before[j] * steps[c][j][k] * likelihood[c][k];
    }
    normalise(forward[c]);
  }
  backward[n - 1].assign(states, 1.0);
  for (std::size_t c = n - 1; c > 0; --c) {
    for (std::size_t j = 0; j < states; ++j) {
      for (std::size_t k = 0; k < states; ++k) backward[c - 1][j] += steps[c][j][k] * likelihood[c][k] * backward[c][k];
    }
    normalise(backward[c - 1]);
  }
  std::vector<int> modes(n);
  for (std::size_t c = 0; c < n; ++c) {
    std::vector<double> posterior(states);
    for (std::size_t k = 0; k < states; ++k) posterior[k] = forward[c][k] * backward[c][k];
    modes[c] = static_cast<int>(std::max_element(posterior.begin(), posterior.end()) - posterior.begin());
  }
  return modes;
}

double fraction_equal(const std::vector<int>& a, const std::vector<int>& b) {
  std::size_t equal = 0;
  for (std::size_t i = 0; i < a.size() && i < b.size(); ++i) equal += a[i] == b[i];
  return a.empty() ? 0.0 : static_cast<double>(equal) / static_cast<double>(a.size());
}
