#include "updates/collapsed_chain.h"

#include <cmath>
#include <limits>
#include <stdexcept>
#include <utility>

#include "io/fatal.h"
#include "io/string_conversion.h"
#include "random/sampler.h"

namespace {

constexpr int n_values = 5;
constexpr int max_states = 3;
constexpr double minus_infinity = -std::numeric_limits<double>::infinity();
// A normaliser below this would leave the forward vector with too few
// significant digits; with transition probabilities from Dirichlet draws of
// shape at least 1 it does not happen.
constexpr double smallest_normaliser = 1e-280;

}  // namespace

CollapsedChain::ScaledRoot CollapsedChain::scaled(const PatternTables& root) {
  ScaledRoot scaled{};
  scaled.possible = false;
  scaled.shift = 0.0;
  for (int s = 0; s < n_values; ++s) {
    if (!LikelihoodEngine::valid(root, s)) continue;
    if (!scaled.possible || root.subtree_lik[s] > scaled.shift) scaled.shift = root.subtree_lik[s];
    scaled.possible = true;
  }
  for (int s = 0; s < n_values; ++s) {
    scaled.weights[s] = LikelihoodEngine::valid(root, s) ? std::exp(root.subtree_lik[s] - scaled.shift) : 0.0;
  }
  return scaled;
}

void CollapsedChain::load(const CollapsedChainModel& model, const LikelihoodEngine& engine, int rate_states) {
  if (rate_states < 1 || rate_states > max_states || model.state_transitions.size() != std::size_t(rate_states) ||
      model.initial_state_probs.size() != std::size_t(rate_states) || model.from_tos.empty() ||
      model.root_transitions.size() != model.from_tos.size()) {
    throw std::invalid_argument("collapsed chain: rate states or segments do not fit the model");
  }
  _model = model;
  _states = rate_states;
  _columns = model.from_tos.back().at(1) + 1;
  _roots.assign(rate_states, std::vector<ScaledRoot>(_columns));
  for (int k = 0; k < rate_states; ++k) {
    for (long c = 0; c < _columns; ++c) _roots[k][c] = scaled(engine.root_tables(c, k));
  }
  _candidate_state = -1;
}

double CollapsedChain::log_likelihood() { return forward(-1, nullptr, _alpha); }

double CollapsedChain::candidate_log_likelihood(int rate_state, const LikelihoodEngine& engine) {
  _candidate_roots.resize(_columns);
  for (long c = 0; c < _columns; ++c) _candidate_roots[c] = scaled(engine.candidate_root_tables(c));
  _candidate_state = rate_state;
  return forward(rate_state, &_candidate_roots, _candidate_alpha);
}

void CollapsedChain::accept_candidate() {
  if (_candidate_state < 0) throw std::logic_error("collapsed chain: no candidate to accept");
  std::swap(_roots[_candidate_state], _candidate_roots);
  std::swap(_alpha, _candidate_alpha);
  _candidate_state = -1;
}

std::size_t CollapsedChain::segment_of(long column) const {
  for (std::size_t g = 0; g < _model.from_tos.size(); ++g) {
    if (column <= _model.from_tos[g][1]) return g;
  }
  throw std::out_of_range("collapsed chain: column beyond the segments");
}

// alpha_c(k, s) = L_c(k, s) sum_k' A[k'][k] sum_r alpha_c-1(k', r) T[r][s],
// the inner sum over r first (the same for every k), in increasing order.
double CollapsedChain::forward(int replaced_state, const std::vector<ScaledRoot>* replaced,
                               std::vector<double>& alpha) const {
  const int width = _states * n_values;
  const auto& a = _model.state_transitions;
  alpha.assign(static_cast<std::size_t>(_columns) * width, 0.0);
  double log_likelihood = 0.0;
  for (std::size_t g = 0; g < _model.from_tos.size(); ++g) {
    const auto& t = _model.root_transitions[g];
    for (long c = _model.from_tos[g][0]; c <= _model.from_tos[g][1]; ++c) {
      const ScaledRoot* roots[max_states];
      double top = minus_infinity;
      for (int k = 0; k < _states; ++k) {
        roots[k] = k == replaced_state ? &(*replaced)[c] : &_roots[k][c];
        if (!_model.fixed_path.empty() && k != _model.fixed_path[c]) continue;
        if (roots[k]->possible && roots[k]->shift > top) top = roots[k]->shift;
      }
      if (top == minus_infinity) return minus_infinity;
      double* now = &alpha[static_cast<std::size_t>(c) * width];
      double moved[max_states][n_values] = {};
      if (c > 0) {
        const double* before = now - width;
        for (int k = 0; k < _states; ++k) {
          for (int s = 0; s < n_values; ++s) {
            double sum = 0.0;
            for (int r = 0; r < n_values; ++r) sum += before[k * n_values + r] * t[r][s];
            moved[k][s] = sum;
          }
        }
      }
      double total = 0.0;
      const bool fixed = !_model.fixed_path.empty();
      for (int k = 0; k < _states; ++k) {
        if (!roots[k]->possible) continue;
        if (fixed && k != _model.fixed_path[c]) continue;
        const double scale = std::exp(roots[k]->shift - top);
        for (int s = 0; s < n_values; ++s) {
          double prior = 0.0;
          if (fixed) {
            prior = c == 0 ? _model.initial_value_probs[s] : moved[_model.fixed_path[c - 1]][s];
          } else if (c == 0) {
            prior = _model.initial_state_probs[k] * _model.initial_value_probs[s];
          } else {
            for (int from = 0; from < _states; ++from) prior += a[from][k] * moved[from][s];
          }
          now[k * n_values + s] = prior * roots[k]->weights[s] * scale;
          total += now[k * n_values + s];
        }
      }
      if (!(total >= smallest_normaliser) || !std::isfinite(total)) {
        fatal("internal error: the marginal rate moves' forward recursion lost its precision at column " +
                  to_string(c) + " (normaliser " + to_string(total) + "); run without --marginal-rate-moves\n",
              -1);
      }
      for (int i = 0; i < width; ++i) now[i] /= total;
      log_likelihood += std::log(total) + top;
    }
  }
  return log_likelihood;
}

void CollapsedChain::draw_path(std::vector<int>& column_rate_states) const {
  const int width = _states * n_values;
  column_rate_states.assign(static_cast<std::size_t>(_columns), 0);
  double weights[max_states * n_values];
  const double* last = &_alpha[static_cast<std::size_t>(_columns - 1) * width];
  std::size_t pair = draw_weighted_index(last, static_cast<std::size_t>(width));
  for (long c = _columns - 1;; --c) {
    const int k = static_cast<int>(pair) / n_values;
    const int s = static_cast<int>(pair) % n_values;
    column_rate_states[c] = k;
    if (c == 0) break;
    const auto& t = _model.root_transitions[segment_of(c)];
    const double* before = &_alpha[static_cast<std::size_t>(c - 1) * width];
    for (int from = 0; from < _states; ++from) {
      for (int r = 0; r < n_values; ++r) {
        weights[from * n_values + r] = before[from * n_values + r] * _model.state_transitions[from][k] * t[r][s];
      }
    }
    pair = draw_weighted_index(weights, static_cast<std::size_t>(width));
  }
}
