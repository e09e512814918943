#include "updates/rate_sampler.h"

#include <cmath>
#include <iomanip>
#include <ios>
#include <stdexcept>

#include "io/diagnostics.h"
#include "random/variates.h"

namespace {

// Diagnostic lines use two significant decimals in scientific notation; the
// setting stays on the stream afterwards.
std::ostream& short_scientific(std::ostream& out) { return out << std::scientific << std::setprecision(2); }

}  // namespace

RateSampler::RateSampler(int event_type, int steps_per_call)
    : _event_type(event_type), _steps_per_call(steps_per_call) {}

// The indicator that describes this sampler's event on the branch above a node:
// `deletion` and `insertion` are 1 for the event, `bond` is 0 for a mutation.
int RateSampler::_event_indicator(const NodeState& node) const {
  if (_event_type == _deletion_code) return node.deletion;
  if (_event_type == _insertion_code) return node.insertion;
  if (_event_type == _mutation_code) return node.bond == -1 ? -1 : 1 - node.bond;
  return -1;
}

RateSampler::Tuning RateSampler::tuning() const {
  return {_step_size,      _adjustment_factor, _lower_step_bound, _upper_step_bound,
          _acceptance_rate, std::vector<double>(_acceptance_window.begin(), _acceptance_window.end())};
}

void RateSampler::restore_tuning(const Tuning& tuning) {
  if (tuning.acceptance_window.size() != static_cast<std::size_t>(_window_length)) {
    throw std::invalid_argument("acceptance window of another length");
  }
  _step_size = tuning.step_size;
  _adjustment_factor = tuning.adjustment_factor;
  _lower_step_bound = tuning.lower_step_bound;
  _upper_step_bound = tuning.upper_step_bound;
  _acceptance_rate = tuning.acceptance_rate;
  _acceptance_window.assign(tuning.acceptance_window.begin(), tuning.acceptance_window.end());
}

double RateSampler::compute_initial_rate(const ColumnStates& states, const std::vector<long>& columns,
                                         double mean_length) {
  std::ostream* out = diagnostics();
  for (const long column : columns) {
    if (column < 0 || static_cast<std::size_t>(column) >= states.columns()) {
      throw std::out_of_range("column beyond the alignment");
    }
  }
  _total_events = 0.0;
  _exposure = 0.0;
  double no_event_total = 0.0;
  _node_count = static_cast<int>(states.nodes());
  _branch_lengths.assign(_node_count, 0.0);
  _event_counts.assign(_node_count, 0.0);

  for (int b = 1; b < _node_count; ++b) {
    _branch_lengths[b] = states.topology().length_above(b);
    double no_events = 0.0;
    for (const long column : columns) {
      const int indicator = _event_indicator(states.at(static_cast<std::size_t>(column), b));
      if (indicator == 1) _event_counts[b] += 1;
      if (indicator == 0) no_events += 1;
    }
    _total_events = _total_events + _event_counts[b];
    _exposure = _exposure + no_events * _branch_lengths[b];
    no_event_total = no_event_total + no_events;
    if (out != nullptr) {
      short_scientific(*out) << _event_counts[b] << "\t" << no_events * _branch_lengths[b] << "\t" << _branch_lengths[b]
                             << "\t" << no_events << "\n";
    }
  }
  if (out != nullptr) {
    *out << "_event_type:" << _event_type << "_deletion_event:" << _deletion_code << "\n";
    short_scientific(*out) << _total_events << "\t" << _exposure << "\t" << mean_length << "\t" << no_event_total
                           << "\n";
  }

  // With few events the gamma posterior mean ignoring the saturation of
  // 1 - exp(-x t) is good enough; otherwise match the no-event fraction q to
  // exp(-x m) on a branch of mean length.
  const double observed = no_event_total + _total_events + 0.0001;
  const double event_fraction = (_total_events + 0.0001) / observed;
  if (event_fraction < 0.1) return (_total_events + _prior_shape) / (_exposure + _prior_rate);
  double no_event_fraction = (no_event_total + 0.0001) / observed;
  if (no_event_fraction == 1.0) no_event_fraction = 0.9999;
  return std::log(no_event_fraction) * (-1 / mean_length);
}

// Log-likelihood ratio of the event counts between rates x_new and x:
// sum_b c_b [ln(1 - exp(-x_new t_b)) - ln(1 - exp(-x t_b))]. Branches without
// events contribute exactly 0 and are skipped. So is a branch of length 0:
// an event there has probability 0 whatever the rate (both logs are -inf),
// so it says nothing about the rate; only the parsimony start can put one
// there, and the term would otherwise turn the sum into not-a-number.
double RateSampler::_event_log_ratio(double x_new, double x) const {
  double ratio = 0.0;
  for (int b = 1; b < _node_count; ++b) {
    const double t = _branch_lengths[b];
    if (_event_counts[b] == 0.0 || t == 0.0) continue;
    ratio += _event_counts[b] * (std::log(1 - std::exp(-x_new * t)) - std::log(1 - std::exp(-x * t)));
  }
  return ratio;
}

RateSampler::Draw RateSampler::sample_rate(double x) {
  const double x0 = x;
  const double posterior_rate = _exposure + _prior_rate;
  int steps_done = 0;
  int accepted = 0;
  if (_total_events == 0.0) {
    // No event anywhere: the likelihood is exp(-x S) and the posterior is an
    // exact gamma, drawn directly; the tuning starts afresh next time.
    x = sample_gamma(1, _prior_shape, posterior_rate)[0];
    for (int step = 0; step < _steps_per_call; ++step) _reset_tuning(x);
  } else {
    for (int step = 0; step < _steps_per_call; ++step) {
      const double epsilon = sample_normal(1, 0.0, _step_size)[0];
      const double proposal = std::exp(std::log(x) + epsilon);
      // The walk is symmetric on ln x, so the ratio of densities of x picks up
      // the Jacobian x'/x: the prior's (a - 1) ln(x'/x) becomes a ln(x'/x).
      const double log_ratio =
          _prior_shape * std::log(proposal / x) + (_event_log_ratio(proposal, x) - (proposal - x) * posterior_rate);
      bool accept = log_ratio >= 0;
      if (!accept) {
        const double u = sample_unif(1, 0.0, 1.0)[0];
        accept = u == 0.0 || std::log(u) < log_ratio;
      }
      if (accept) {
        x = proposal;
        ++accepted;
      }
      _tune_stepsize(accept ? 1.0 : 0.0, x);
    }
    steps_done = _steps_per_call;
  }

  if (std::ostream* diag = diagnostics()) {
    short_scientific(*diag) << x << "\t" << x0 << "\t" << steps_done << "\t" << accepted << "\t" << _step_size
                            << "\n";
  }
  return {x, (_prior_shape - 1) * std::log(x) - x * _prior_rate};
}

void RateSampler::_reset_tuning(double x) {
  for (auto& entry : _acceptance_window) entry = 0.0;
  _step_size = _initial_step_size;
  _adjustment_factor = _initial_adjustment_factor;
  _lower_step_bound = _initial_lower_step_bound;
  _upper_step_bound = _initial_upper_step_bound;
  _acceptance_rate = _initial_acceptance_rate;
  if (std::ostream* diag = diagnostics()) {
    short_scientific(*diag) << x << "\t" << -1 << "\t" << -1 << "\t" << -1 << "\n";
  }
}

void RateSampler::_tune_stepsize(double indicator, double x) {

  const double oldest = _acceptance_window.front();
  _acceptance_window.pop_front();
  _acceptance_window.push_back(indicator);
  const double n = _window_length;
  _acceptance_rate = (n * _acceptance_rate - oldest + indicator) / n;

  // Shrink or grow the step by the factor while it stays inside its bounds.
  // At a bound only the bound moves (by a factor 10) and the factor is
  // halved or doubled, so the step changes again from the next adjustment.
  if (_acceptance_rate < _lower_target) {
    if (_step_size > _lower_step_bound && _adjustment_factor < 1) {
      _step_size = _step_size - _adjustment_factor * _step_size;
    } else if (_step_size > 0) {
      _lower_step_bound = _lower_step_bound / 10;
      _adjustment_factor = _adjustment_factor * 0.5;
      if (_lower_step_bound < 1e-300) _lower_step_bound = 1e-300;
    }
  } else if (_acceptance_rate > _upper_target) {
    if (_step_size < _upper_step_bound) {
      _step_size = _step_size + _step_size * _adjustment_factor;
    } else {
      _upper_step_bound = _upper_step_bound * 10;
      _adjustment_factor = _adjustment_factor + _adjustment_factor;
      if (_upper_step_bound > 1e+300) _upper_step_bound = 1e+300;
    }
  }
  if (std::ostream* diag = diagnostics()) {
    short_scientific(*diag) << x << "\t" << indicator << "\t" << _acceptance_rate << "\t" << _step_size << "\n";
  }
}
