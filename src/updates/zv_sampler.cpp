#include "updates/zv_sampler.h"

#include <algorithm>
#include <cmath>
#include <optional>
#include <stdexcept>

#include "io/errors.h"
#include "random/sampler.h"

using Matrix = std::vector<std::vector<double>>;

Matrix root_transitions(const Segmentation& segmentation, std::size_t segment) {
  const std::vector<int>& all_values = model_alphabet().all_values;
  const std::vector<double>& thetas = segmentation.thetas.at(segment);
  const Matrix& betas = segmentation.betas.at(segment);
  const double gamma = segmentation.gammas.at(0);
  const double eta = segmentation.etas.at(0);
  const std::size_t m = all_values.size();
  Matrix transitions(m, std::vector<double>(m, 0.0));
  for (std::size_t r = 0; r < m; ++r) {
    for (std::size_t s = 0; s < m; ++s) {
      const bool from_empty = all_values[r] == 0;
      const bool to_empty = all_values[s] == 0;
      if (from_empty && to_empty) {
        transitions[r][s] = 1 - eta;
      } else if (from_empty) {
        transitions[r][s] = eta * thetas.at(s - 1);
      } else if (to_empty) {
        transitions[r][s] = gamma;
      } else {
        transitions[r][s] = (1 - gamma) * betas.at(r - 1).at(s - 1);
      }
    }
  }
  return transitions;
}

namespace {

// Draws one position's value from all_values with the given weights.
int draw_value(const std::vector<double>& weights) {
  Sampler<int, double> sampler(model_alphabet().all_values, weights);
  return sampler.draw_w_replace(1)[0];
}

}  // namespace

ZVSampler::ZVSampler() = default;

ZVSampler::ZVSampler(long num_columns, std::vector<double> initial_value_probs)
    : _num_columns(num_columns),
      _num_values(model_alphabet().value_count()),
      _initial_value_probs(std::move(initial_value_probs)),
      _log_forward(num_columns, std::vector<double>(_num_values, 0.0)),
      _log_forward_valid(num_columns, std::vector<bool>(_num_values, false)),
      _backward_weights(num_columns, Matrix(_num_values, std::vector<double>(_num_values, 0.0))) {}

double ZVSampler::forward(const Versioned<Segmentation>& segmentation, const Versioned<EventRates>& rates,
                          const std::vector<int>& column_rate_states, LikelihoodEngine& engine) {
  engine.evaluate(segmentation, rates);
  const auto& from_tos = segmentation->from_tos;
  for (std::size_t k = 0; k < from_tos.size(); ++k) {
    const Matrix transitions = root_transitions(*segmentation, k);
    for (long c = from_tos[k].at(0); c <= from_tos[k].at(1); ++c) {
      const RootLikelihoods root = _root_likelihoods(engine.root_tables(c, column_rate_states.at(c)));
      if (c == 0) {
        _forward_first_column(root);
      } else {
        _forward_column(c, root, transitions);
      }
    }
  }
  const long last = from_tos.empty() ? 0 : from_tos.back().at(1);
  return last >= 1 ? _log_likelihood(last) : 0.0;
}

bool ZVSampler::RootLikelihoods::is_valid(std::size_t s) const {
  if (s >= size) throw std::out_of_range("root value position beyond the likelihood table");
  return ((valid >> s) & 1u) != 0;
}

ZVSampler::RootLikelihoods ZVSampler::_root_likelihoods(const PatternTables& root) {
  return {root.subtree_lik.data(), root.valid, root.subtree_lik.size()};
}

// Column 0: the first root's distribution times the likelihood of its leaves.
void ZVSampler::_forward_first_column(const RootLikelihoods& root) {
  const std::vector<double>& initial_value_probs = _initial_value_probs;
  auto& valid = _log_forward_valid.at(0);
  auto& log_forward = _log_forward.at(0);
  for (std::size_t s = 0; s < valid.size(); ++s) {
    valid[s] = root.is_valid(s) && initial_value_probs.at(s) != 0.0;
    if (valid[s]) log_forward[s] = root.subtree_lik[s] + std::log(initial_value_probs[s]);
  }
}

// One step of the forward recursion: for every root value s of column c,
// sum over the previous root value r of T[r][s] * alpha[c - 1][r], taken
// around the largest exponent. The terms, kept as the backward weights, are
// exactly the unnormalised probabilities of r given s at column c.
void ZVSampler::_forward_column(long c, const RootLikelihoods& root, const Matrix& transitions) {
  const auto& previous_valid = _log_forward_valid.at(c - 1);
  const auto& previous = _log_forward.at(c - 1);
  auto& valid = _log_forward_valid.at(c);
  auto& log_forward = _log_forward.at(c);
  auto& weights = _backward_weights.at(c);
  const std::size_t m = valid.size();
  std::vector<double> exponents(m, 0.0);
  std::vector<bool> candidate(m, false);
  for (std::size_t s = 0; s < m; ++s) {
    double max = 0.0;
    bool found = false;
    for (std::size_t r = 0; r < m; ++r) {
      candidate[r] = previous_valid[r] && transitions[r][s] != 0.0;
      if (!candidate[r]) continue;
      exponents[r] = std::log(transitions[r][s]) + previous[r];
      if (!found || exponents[r] > max) max = exponents[r];
      found = true;
    }
    double sum = 0.0;
    for (std::size_t r = 0; r < m; ++r) {
      weights[r][s] = candidate[r] ? std::exp(exponents[r] - max) : 0.0;
      sum += weights[r][s];
    }
    valid[s] = found && root.is_valid(s) && sum != 0.0;
    if (valid[s]) log_forward[s] = (std::log(sum) + root.subtree_lik[s]) + max;
  }
}

// The largest valid log forward value of a column (the first valid one starts
// the maximum, only a strictly larger one replaces it); none if no value is valid.
std::optional<double> ZVSampler::_largest_valid(long column) const {
  const auto& valid = _log_forward_valid.at(column);
  const auto& log_forward = _log_forward.at(column);
  std::optional<double> max;
  for (std::size_t s = 0; s < valid.size(); ++s) {
    if (valid[s] && (!max || log_forward[s] > *max)) max = log_forward[s];
  }
  return max;
}

// ln P(alignment) = ln sum_s alpha[last][s], around the largest valid term.
double ZVSampler::_log_likelihood(long last) {
  const auto& valid = _log_forward_valid.at(last);
  const auto& log_forward = _log_forward.at(last);
  const std::optional<double> largest = _largest_valid(last);
  const bool found = largest.has_value();
  const double max = largest.value_or(0.0);
  if (!found) throw InternalError("error: observed data log-likelihood is negative infinity. \n", 1);
  double sum = 0.0;
  for (std::size_t s = 0; s < valid.size(); ++s) {
    if (valid[s]) sum += std::exp(log_forward[s] - max);
  }
  return std::log(sum) + max;
}

void ZVSampler::backward_sample_ancestors(ColumnStates& states) {
  const std::vector<int>& all_value_index = model_alphabet().all_value_index;
  if (_num_columns == 0) return;
  const long last = _num_columns - 1;
  const auto& valid = _log_forward_valid.at(last);
  const auto& log_forward = _log_forward.at(last);
  const std::optional<double> largest = _largest_valid(last);
  const bool found = largest.has_value();
  const double max = largest.value_or(0.0);
  std::vector<double> weights(valid.size(), 1.0);
  if (found) {
    for (std::size_t s = 0; s < valid.size(); ++s) weights[s] = valid[s] ? std::exp(log_forward[s] - max) : 0.0;
  }
  int value = draw_value(weights);
  states.set_root_value(static_cast<std::size_t>(last), value);

  for (long c = last; c >= 1; --c) {
    const auto& column_weights = _backward_weights.at(c);
    const std::size_t s = all_value_index.at(value);
    for (std::size_t r = 0; r < weights.size(); ++r) weights[r] = column_weights.at(r).at(s);
    value = draw_value(weights);
    states.set_root_value(static_cast<std::size_t>(c - 1), value);
  }
}

void ZVSampler::sample_internal_nodes(const Versioned<Segmentation>& segmentation, const Versioned<EventRates>& rates,
                                      const std::vector<int>& column_rate_states, LikelihoodEngine& engine,
                                      ColumnStates& states) {
  engine.sample_internal_nodes(segmentation, rates, column_rate_states, states);
}
