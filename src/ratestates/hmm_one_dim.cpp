#include "ratestates/hmm_one_dim.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <string>

#include "io/errors.h"
#include "random/sampler.h"

namespace {

// ln p for a probability (or a sum of weights), with ln 0 replaced by the log of the smallest
// positive normal double so that an impossible transition keeps a tiny weight
// instead of producing minus infinity (and NaN after a max shift). The test
// is written !(p >= 0) so that a NaN is rejected along with negatives.
double safe_log(double p, const std::string& message) {
  static const double log_floor = std::log(2.2250738585072014e-308);
  if (!(p >= 0)) throw InternalError(message);
  if (p == 0.0) return log_floor;
  return std::log(p);
}

// First entry starts the maximum; only a strictly greater one replaces it.
double running_max(const std::vector<double>& values) {
  double max = values[0];
  for (std::size_t i = 1; i < values.size(); ++i) {
    if (values[i] > max) max = values[i];
  }
  return max;
}

const std::string initial_message = "error: initial state probability less than 0. exit!";
const std::string transition_message = "error: state transition probability less than 0. exit!";
const std::string max_message = "error: max in forward summation cannot be computed. exit!";
const std::string sum_message = "error: sum in forward summation less than 0. exit!";

}  // namespace

HMM_OneDim::HMM_OneDim(long length, int n_states, const std::vector<double>& initial_probs,
                       const std::vector<std::vector<double>>& transition_probs,
                       const std::vector<std::vector<double>>& emission_probs)
    : _length(length),
      _n_states(n_states),
      _state_labels(static_cast<std::size_t>(std::max(n_states, 0))),
      _initial_probs(initial_probs),
      _transition_probs(transition_probs),
      _emission_probs(emission_probs),
      _forward(static_cast<std::size_t>(std::max(length, 0L)),
               std::vector<std::vector<double>>(_state_labels.size(), std::vector<double>(_state_labels.size(), 0.0))) {
  for (std::size_t i = 0; i < _state_labels.size(); ++i) _state_labels[i] = static_cast<int>(i);
}

// Forward filtering in log space. For t < n-1 the slice _forward[t][j][i]
// first holds ln P(state i at t, state j at t+1, columns 0..t); when column
// t+1 is processed each row j is replaced by exp(row - max row), the
// unnormalised weights of the previous state given the next one, which is
// exactly what backward sampling needs. The last column's weights end in
// _forward[n-1][0].
void HMM_OneDim::forward_summation() {
  const auto n_states = static_cast<std::size_t>(std::max(_n_states, 0));
  std::vector<double> alpha(n_states, 0.0);
  for (long t = 0; t < _length; ++t) {
    const auto column = static_cast<std::size_t>(t);
    if (t == 0) {
      const std::vector<double>& emissions = _emission_probs.at(0);
      for (std::size_t j = 0; j < n_states; ++j) {
        alpha[j] = emissions.at(j) + safe_log(_initial_probs.at(j), initial_message);
      }
    } else {
      const std::vector<double>& emissions = _emission_probs.at(column);
      for (std::size_t j = 0; j < n_states; ++j) {
        std::vector<double>& previous = _forward[column - 1][j];
        const double max = running_max(previous);
        double sum = 0.0;
        for (double& weight : previous) {
          weight = std::exp(weight - max);
          sum += weight;
        }
        alpha[j] = safe_log(sum, sum_message) + max;
        alpha[j] = alpha[j] + emissions.at(j);
      }
    }
    // The transition messages are formed at the first column even when it is
    // also the last, so a bad matrix is reported whatever the length.
    if (t == 0 || t < _length - 1) {
      for (std::size_t i = 0; i < n_states; ++i) {
        const std::vector<double>& from = _transition_probs.at(i);
        for (std::size_t j = 0; j < n_states; ++j) {
          _forward[column][j][i] = alpha[i] + safe_log(from.at(j), transition_message);
        }
      }
    }
    // Includes the one-column case: the single state is then drawn from
    // exp(alpha - max alpha), overwriting the transition messages of row 0.
    if (t == _length - 1) {
      if (n_states == 0) throw InternalError(max_message);
      std::vector<double>& last = _forward[column][0];
      for (std::size_t j = 0; j < n_states; ++j) last[j] = alpha[j];
      const double max = running_max(last);
      for (double& weight : last) weight = std::exp(weight - max);
    }
  }
}

// Draws the last column's state from its filtered weights, then each earlier
// column's state given the one just drawn for the column after it.
void HMM_OneDim::backward_sampling(std::vector<int>& states) {
  for (long t = _length - 1; t >= 0; --t) {
    const auto column = static_cast<std::size_t>(t);
    const std::vector<double>& weights = t == _length - 1
                                             ? _forward[column].at(0)
                                             : _forward[column].at(static_cast<std::size_t>(states.at(column + 1)));
    Sampler<int, double> sampler(_state_labels, weights);
    states.at(column) = sampler.draw_w_replace(1)[0];
  }
}
