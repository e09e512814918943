#include "updates/collapsed_chain.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <unordered_map>
#include <utility>

#include "random/sampler.h"

namespace {

constexpr int n_values = 5;
constexpr int max_states = 3;
constexpr double minus_infinity = -std::numeric_limits<double>::infinity();
// Below this normaliser a column is done again in logarithms: its forward
// vector would keep too few significant digits. It happens where the root
// value likeliest for a column's leaves is one the chain cannot reach (an
// empty root, whose one floored insertion of probability 2.2e-308 can beat
// two floored deletions), so that the others lie far below the shift.
constexpr double smallest_normaliser = 1e-280;
// exp(d) for d below this is subnormal or 0 (and slow to compute); such a
// weight is too small to change any sum it adds to.
constexpr double least_exponent = -708.0;
// A replacing state whose shift lies this far above a column's largest is
// scaled afresh (its factor would overflow).
constexpr double greatest_exponent = 700.0;

double scaled_exp(double d) { return d < least_exponent ? 0.0 : std::exp(d); }

// prior[k][s] += sum_k' A[k'][k] sum_r before(k', r) T[r][s] for every
// value s. Each sum adds its terms in order (of r, then of k') from 0.0, and
// the loops run over s side by side, which gives the same bits as one sum at
// a time. The inner sums start as 0.0 + their first term (the same bits as
// adding it to a zeroed array, without the zeroing).
void propagate(const double* before, const double (&t)[n_values][n_values],
               const double (&a)[max_states][max_states], int states, double (&prior)[max_states][n_values]) {
  double moved[max_states][n_values];
  for (int k = 0; k < states; ++k) {
    const double b = before[k * n_values];
    for (int s = 0; s < n_values; ++s) moved[k][s] = 0.0 + b * t[0][s];
    for (int r = 1; r < n_values; ++r) {
      const double b_r = before[k * n_values + r];
      for (int s = 0; s < n_values; ++s) moved[k][s] += b_r * t[r][s];
    }
  }
  for (int k = 0; k < states; ++k) {
    for (int from = 0; from < states; ++from) {
      const double w = a[from][k];
      for (int s = 0; s < n_values; ++s) prior[k][s] += w * moved[from][s];
    }
  }
}

// The root values 1..4 side by side, one lane each: a lane's additions and
// multiplications are those of the scalar code for its value (no fused
// operations), so the results are the same bits on any machine.
typedef double ValueLanes __attribute__((vector_size(4 * sizeof(double))));

// One column of the recursion where the empty root value cannot occur (its
// terms are exact zeros): the prior of values 1..4 as propagate computes it,
// then the column's weighted terms (written to `now`, value 0's as 0) and
// their sum, in the scalar code's order. Every term is a product of
// non-negative numbers, so the scalar sums' leading 0.0 + x is x and the
// value-0 terms add nothing: leaving both out changes no bit.
double live_column(const double* before, const ValueLanes (&t)[n_values], const double (&a)[max_states][max_states],
                   int states, const double* const (&weights)[max_states], const std::array<double, 3>& scales,
                   double (&prior)[max_states][n_values], double* now) {
  ValueLanes moved[max_states];
  for (int k = 0; k < states; ++k) {
    const double* b = before + k * n_values;
    ValueLanes m = b[1] * t[1];
    m += b[2] * t[2];
    m += b[3] * t[3];
    m += b[4] * t[4];
    moved[k] = m;
  }
  double total = 0.0;
  for (int k = 0; k < states; ++k) {
    ValueLanes p = a[0][k] * moved[0];
    for (int from = 1; from < states; ++from) p += a[from][k] * moved[from];
    prior[k][0] = 0.0;
    std::memcpy(&prior[k][1], &p, sizeof p);
    ValueLanes weight;
    std::memcpy(&weight, weights[k] + 1, sizeof weight);
    const ValueLanes term = (p * weight) * scales[k];
    now[k * n_values] = 0.0;
    std::memcpy(now + k * n_values + 1, &term, sizeof term);
    total = total + term[0] + term[1] + term[2] + term[3];
  }
  return total;
}

}  // namespace

CollapsedChain::ScaledRoot CollapsedChain::scaled(const PatternTables& root) {
  ScaledRoot scaled{};
  scaled.possible = false;
  scaled.shift = 0.0;
  for (int s = 0; s < n_values; ++s) {
    scaled.log_lik[s] = minus_infinity;
    if (!LikelihoodEngine::valid(root, s)) continue;
    scaled.log_lik[s] = root.subtree_lik[s];
    if (!scaled.possible || root.subtree_lik[s] > scaled.shift) scaled.shift = root.subtree_lik[s];
    scaled.possible = true;
  }
  for (int s = 0; s < n_values; ++s) {
    scaled.weights[s] = scaled.log_lik[s] == minus_infinity ? 0.0 : scaled_exp(scaled.log_lik[s] - scaled.shift);
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
  find_patterns(engine);
  _roots.assign(rate_states, std::vector<ScaledRoot>(_pattern_column.size()));
  for (int k = 0; k < rate_states; ++k) {
    for (std::size_t p = 0; p < _pattern_column.size(); ++p) {
      _roots[k][p] = scaled(engine.root_tables(_pattern_column[p], k));
    }
  }
  refresh_scales();
  _first_live_value = empty_root_impossible(model) ? 1 : 0;
  _candidate_state = -1;
  _candidate_has_transitions = false;
}

void CollapsedChain::find_patterns(const LikelihoodEngine& engine) {
  std::unordered_map<const PatternTables*, std::size_t> pattern_of_tables;
  _pattern_of.assign(static_cast<std::size_t>(_columns), 0);
  _pattern_column.clear();
  for (long c = 0; c < _columns; ++c) {
    const auto [entry, added] = pattern_of_tables.try_emplace(&engine.root_tables(c, 0), _pattern_column.size());
    if (added) _pattern_column.push_back(c);
    _pattern_of[static_cast<std::size_t>(c)] = entry->second;
  }
}

// The empty root value (0) is out of reach when the first root cannot be
// empty and no non-empty root is ever followed by an empty one (the run's
// roots are never empty): then every forward term of value 0 is 0.
bool CollapsedChain::empty_root_impossible(const CollapsedChainModel& model) {
  if (model.initial_value_probs.at(0) != 0.0) return false;
  for (const auto& t : model.root_transitions) {
    for (int r = 1; r < n_values; ++r) {
      if (t.at(r).at(0) != 0.0) return false;
    }
  }
  return true;
}

void CollapsedChain::refresh_scales() {
  _top.assign(_pattern_column.size(), minus_infinity);
  _scales.assign(_pattern_column.size(), {0.0, 0.0, 0.0});
  for (std::size_t p = 0; p < _pattern_column.size(); ++p) {
    for (int k = 0; k < _states; ++k) {
      if (_roots[k][p].possible && _roots[k][p].shift > _top[p]) _top[p] = _roots[k][p].shift;
    }
    for (int k = 0; k < _states; ++k) {
      if (_roots[k][p].possible) _scales[p][k] = scaled_exp(_roots[k][p].shift - _top[p]);
    }
  }
}

double CollapsedChain::log_likelihood() { return forward(Replacement{}, _model.state_transitions, _alpha); }

double CollapsedChain::candidate_log_likelihood(int rate_state, const LikelihoodEngine& engine,
                                                const std::vector<std::vector<double>>* state_transitions) {
  _candidate_roots.resize(_pattern_column.size());
  for (std::size_t p = 0; p < _pattern_column.size(); ++p) {
    _candidate_roots[p] = scaled(engine.candidate_root_tables(_pattern_column[p]));
  }
  _candidate_state = rate_state;
  _candidate_has_transitions = state_transitions != nullptr;
  if (_candidate_has_transitions) _candidate_transitions = *state_transitions;
  return forward({rate_state, &_candidate_roots},
                 _candidate_has_transitions ? _candidate_transitions : _model.state_transitions, _candidate_alpha);
}

double CollapsedChain::candidate_log_likelihood(const std::vector<std::vector<double>>& state_transitions) {
  _candidate_transitions = state_transitions;
  _candidate_has_transitions = true;
  _candidate_state = -1;
  return forward(Replacement{}, _candidate_transitions, _candidate_alpha);
}

void CollapsedChain::accept_candidate() {
  if (_candidate_state < 0 && !_candidate_has_transitions) {
    throw std::logic_error("collapsed chain: no candidate to accept");
  }
  if (_candidate_has_transitions) std::swap(_model.state_transitions, _candidate_transitions);
  if (_candidate_state >= 0) {
    std::swap(_roots[_candidate_state], _candidate_roots);
    refresh_scales();
  }
  std::swap(_alpha, _candidate_alpha);
  _candidate_state = -1;
  _candidate_has_transitions = false;
}

std::size_t CollapsedChain::segment_of(long column) const {
  for (std::size_t g = 0; g < _model.from_tos.size(); ++g) {
    if (column <= _model.from_tos[g][1]) return g;
  }
  throw std::out_of_range("collapsed chain: column beyond the segments");
}

// alpha_c(k, s) = L_c(k, s) sum_k' A[k'][k] sum_r alpha_c-1(k', r) T[r][s],
// the inner sum over r first (the same for every k), in increasing order.
// The normalisers are multiplied up and their log taken only when the
// product leaves [1e-200, 1e200].
double CollapsedChain::forward(const Replacement& replacement, const std::vector<std::vector<double>>& a,
                               std::vector<double>& alpha) const {
  const int replaced_state = replacement.state;
  const int width = _states * n_values;
  // Every entry is written below; an impossible column leaves the vector
  // zeroed instead.
  alpha.resize(static_cast<std::size_t>(_columns) * width);
  const auto impossible = [&alpha] {
    std::fill(alpha.begin(), alpha.end(), 0.0);
    return minus_infinity;
  };
  double log_likelihood = 0.0;
  double normalisers = 1.0;
  // The matrices in fixed-size arrays, so that the sums below run over the
  // values of s side by side (each sum still adds its terms in order of r,
  // or of the previous state, from 0.0: the same bits as one at a time).
  double aa[max_states][max_states] = {};
  for (int from = 0; from < _states; ++from) {
    for (int k = 0; k < _states; ++k) aa[from][k] = a[from][k];
  }
  for (std::size_t g = 0; g < _model.from_tos.size(); ++g) {
    double t[n_values][n_values];
    ValueLanes t_lanes[n_values];
    for (int r = 0; r < n_values; ++r) {
      for (int s = 0; s < n_values; ++s) t[r][s] = _model.root_transitions[g][r][s];
      std::memcpy(&t_lanes[r], &t[r][1], sizeof t_lanes[r]);
    }
    for (long c = _model.from_tos[g][0]; c <= _model.from_tos[g][1]; ++c) {
      const std::size_t pattern = _pattern_of[static_cast<std::size_t>(c)];
      const ScaledRoot* roots[max_states];
      bool possible = false;
      for (int k = 0; k < _states; ++k) {
        roots[k] = k == replaced_state ? &(*replacement.roots)[pattern] : &_roots[k][pattern];
        possible = possible || roots[k]->possible;
      }
      if (!possible) return impossible();
      double top = _top[pattern];
      std::array<double, 3> scales = _scales[pattern];
      if (replaced_state >= 0) {
        const ScaledRoot& root = *roots[replaced_state];
        if (root.possible && (top == minus_infinity || root.shift - top > greatest_exponent)) {
          top = root.shift;
          for (int k = 0; k < _states; ++k) scales[k] = roots[k]->possible ? scaled_exp(roots[k]->shift - top) : 0.0;
        } else {
          scales[replaced_state] = root.possible ? scaled_exp(root.shift - top) : 0.0;
        }
      }
      // prior[k][s]: the probability of (k, s) at c given the data before c.
      double prior[max_states][n_values];
      double* now = &alpha[static_cast<std::size_t>(c) * width];
      double total = 0.0;
      if (c > 0 && _first_live_value == 1) {
        const double* weights[max_states];
        for (int k = 0; k < _states; ++k) weights[k] = roots[k]->weights.data();
        total = live_column(&alpha[static_cast<std::size_t>(c - 1) * width], t_lanes, aa, _states, weights, scales,
                            prior, now);
      } else {
        for (int k = 0; k < _states; ++k) {
          for (int s = 0; s < n_values; ++s) {
            prior[k][s] = c == 0 ? _model.initial_state_probs[k] * _model.initial_value_probs[s] : 0.0;
          }
        }
        if (c > 0) propagate(&alpha[static_cast<std::size_t>(c - 1) * width], t, aa, _states, prior);
        for (int k = 0; k < _states; ++k) {
          for (int s = 0; s < n_values; ++s)
            total += now[k * n_values + s] = prior[k][s] * roots[k]->weights[s] * scales[k];
        }
      }
      double shift = top;
      if (!(total >= smallest_normaliser)) {
        // The same column in logarithms, around its largest term.
        double terms[max_states * n_values];
        shift = minus_infinity;
        for (int i = 0; i < width; ++i) {
          const double p = prior[i / n_values][i % n_values];
          terms[i] = p > 0.0 ? std::log(p) + roots[i / n_values]->log_lik[i % n_values] : minus_infinity;
          if (terms[i] > shift) shift = terms[i];
        }
        if (shift == minus_infinity) return impossible();
        total = 0.0;
        for (int i = 0; i < width; ++i) total += now[i] = std::exp(terms[i] - shift);
      }
      const double inverse = 1.0 / total;
      for (int i = 0; i < width; ++i) now[i] *= inverse;
      log_likelihood += shift;
      normalisers *= total;
      if (normalisers < 1e-200 || normalisers > 1e200) {
        log_likelihood += std::log(normalisers);
        normalisers = 1.0;
      }
    }
  }
  return log_likelihood + std::log(normalisers);
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
