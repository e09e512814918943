#include "simulation/rate_state_oracle.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "io/tree_input.h"
#include "support/process.h"
#include "tree/trans_probs.h"

namespace {

double log_sum_exp(const std::vector<double>& terms) {
  const double top = *std::max_element(terms.begin(), terms.end());
  if (top == -std::numeric_limits<double>::infinity()) return top;
  double sum = 0.0;
  for (const double term : terms) sum += std::exp(term - top);
  return top + std::log(sum);
}

using Matrix = std::vector<std::vector<double>>;

Matrix multiply(const Matrix& a, const Matrix& b) {
  Matrix product(a.size(), std::vector<double>(b[0].size(), 0.0));
  for (std::size_t i = 0; i < a.size(); ++i) {
    for (std::size_t k = 0; k < b.size(); ++k) {
      for (std::size_t j = 0; j < b[0].size(); ++j) product[i][j] += a[i][k] * b[k][j];
    }
  }
  return product;
}

Matrix log_power(const Matrix& matrix, long power) {
  Matrix result = matrix;
  for (long p = 1; p < power; ++p) result = multiply(result, matrix);
  for (auto& row : result) {
    for (double& value : row) value = std::log(value);
  }
  return result;
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
  const std::size_t n = e.size();
  const std::size_t states = p.initial_state_probs.size();
  std::vector<Matrix> log_steps(n);
  for (std::size_t c = 1; c < n; ++c) {
    log_steps[c] = log_power(p.state_transitions, truth.modelled_columns[c] - truth.modelled_columns[c - 1]);
  }
  Matrix forward(n, std::vector<double>(states)), backward(n, std::vector<double>(states, 0.0));
  const long first_gap = truth.modelled_columns[0];
  std::vector<double> first = p.initial_state_probs;
  for (long g = 0; g < first_gap; ++g) first = multiply({first}, p.state_transitions)[0];
  for (std::size_t k = 0; k < states; ++k) forward[0][k] = std::log(first[k]) + e[0][k];
  for (std::size_t c = 1; c < n; ++c) {
    for (std::size_t k = 0; k < states; ++k) {
      std::vector<double> terms;
      for (std::size_t j = 0; j < states; ++j) terms.push_back(forward[c - 1][j] + log_steps[c][j][k]);
      forward[c][k] = log_sum_exp(terms) + e[c][k];
    }
  }
  for (std::size_t c = n - 1; c > 0; --c) {
    for (std::size_t j = 0; j < states; ++j) {
      std::vector<double> terms;
      for (std::size_t k = 0; k < states; ++k) terms.push_back(log_steps[c][j][k] + e[c][k] + backward[c][k]);
      backward[c - 1][j] = log_sum_exp(terms);
    }
  }
  std::vector<int> modes(n);
  for (std::size_t c = 0; c < n; ++c) {
    std::size_t best = 0;
    for (std::size_t k = 1; k < states; ++k) {
      if (forward[c][k] + backward[c][k] > forward[c][best] + backward[c][best]) best = k;
    }
    modes[c] = static_cast<int>(best);
  }
  return modes;
}

double fraction_equal(const std::vector<int>& a, const std::vector<int>& b) {
  std::size_t equal = 0;
  for (std::size_t i = 0; i < a.size() && i < b.size(); ++i) equal += a[i] == b[i];
  return a.empty() ? 0.0 : static_cast<double>(equal) / static_cast<double>(a.size());
}
