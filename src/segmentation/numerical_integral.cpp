#include <algorithm>
#include <cmath>
#include <cstddef>

#include "io/errors.h"
#include "segmentation/gauss_legendre.h"
#include "segmentation/partition_sampler.h"

// The integrated event-rate marginal: the log of
//   integral over lambda of Gamma(lambda; 0.1, 0.1) * prod_b (1 - exp(-lambda t_b))^(n_b) * exp(-lambda B).
// Above lambda = 0.01 it is a trapezoid sum on a fixed grid; below, where
// 1 - exp(-lambda t) is close to lambda t, the integrand is a gamma density
// and its integral a regularised lower incomplete gamma function.
void PartitionSampler::_pre_compute_constant_for_numerical_integral(const std::vector<double>& branch_lengths) {
  if (branch_lengths.empty()) throw InternalError("no length of tree branch is given! \n", 1);
  _num_branches = static_cast<int>(branch_lengths.size());

  _rate_lower = 0.01;
  _rate_upper = 126.0;
  _num_intervals = 40.0;
  _rate_step = 3.14975;
  _log_rate_step = std::log(_rate_step);
  _num_grid_points = 41;
  _num_interval_count = 40;
  // Repeated addition, not lower + i * step: the grid's bits depend on it.
  _rate_grid.assign(_num_grid_points, _rate_lower);
  for (int i = 1; i < _num_grid_points; ++i) _rate_grid[i] = _rate_grid[i - 1] + _rate_step;

  // Row 0 would be the root's branch, which does not exist.
  _log_branch_event_prob.assign(_num_branches, std::vector<double>());
  for (int b = 1; b < _num_branches; ++b) {
    const double length = branch_lengths[b];
    for (const double rate : _rate_grid) _log_branch_event_prob[b].push_back(std::log(1 - std::exp(-rate * length)));
  }
  _log_integrand.assign(_num_grid_points, 0.0);

  _prior_shape = 0.1;
  _prior_rate = 0.1;
  _log_prior_norm = _prior_shape * std::log(_prior_rate) - std::lgamma(_prior_shape);
  _log_prior_on_grid.clear();
  for (const double rate : _rate_grid) {
    _log_prior_on_grid.push_back((_prior_shape - 1) * std::log(rate) - _prior_rate * rate);
  }

  _num_series_terms = 5.0;
  _num_quad_points = 18;
  _log_zero = -1e300;
  // The lower half of the 36-point rule on [0, 2]: nodes in (0, 1) whose
  // weights sum to 1. Used on an integrand that has died out by the
  // mid-point, it acts as the full rule on [0, 2].
  const QuadratureRule rule = gauss_legendre_rule(2 * _num_quad_points, 0.0, 2.0);
  _quad_nodes.assign(rule.nodes.begin(), rule.nodes.begin() + _num_quad_points);
  _quad_weights.assign(rule.weights.begin(), rule.weights.begin() + _num_quad_points);
}

// The log-sum-exp of the grid piece G and the lower piece Lo, from the
// larger one. Both pieces carry the prior's normalising constant, so the
// result is the log integral of one function over [0, 126].
double PartitionSampler::_compute_numerical_integral(const std::vector<double>& counts, double& a, double& B,
                                                     double& c) {
  double max_log_integrand = 0.0;
  for (int i = 0; i < _num_grid_points; ++i) {
    double log_events = 0.0;
    for (int b = 1; b < _num_branches; ++b) log_events += counts.at(b) * _log_branch_event_prob[b][i];
    _log_integrand[i] = _log_prior_on_grid[i] + log_events - _rate_grid[i] * B;
    if (i == 0 || _log_integrand[i] > max_log_integrand) max_log_integrand = _log_integrand[i];
  }
  double trapezoid_sum = 0.0;
  double previous = std::exp(_log_integrand[0] - max_log_integrand);
  for (int i = 1; i < _num_grid_points; ++i) {
    const double current = std::exp(_log_integrand[i] - max_log_integrand);
    trapezoid_sum += (previous + current) * 0.5;
    previous = current;
  }
  const double grid_piece = std::log(trapezoid_sum) + max_log_integrand + _log_rate_step + _log_prior_norm;

  const double alpha = a + _prior_shape;
  const double beta = B + _prior_rate;
  const double x = beta * _rate_lower;
  const double lower_piece =
      c + _log_prior_norm + std::lgamma(alpha) - alpha * std::log(beta) + _log_lower_incomplete_gamma(alpha, x);

  if (grid_piece > lower_piece) return grid_piece + std::log(std::exp(lower_piece - grid_piece) + 1);
  return lower_piece + std::log(std::exp(grid_piece - lower_piece) + 1);
}

// ln P(alpha, x). Small x: the series
//   P = x^alpha e^(-x) / Gamma(alpha + 1) * sum_n x^n / ((alpha + 1) ... (alpha + n)),
// cut after five terms. Larger x with alpha > 1: quadrature of
// t^(alpha-1) e^(-t) over the stretch between x and a point xu far enough
// from the mode alpha - 1 that the integrand has died out there. Larger x
// with alpha <= 1: the mass below x is taken as all of it.
double PartitionSampler::_log_lower_incomplete_gamma(double alpha, double x) const {
  if (x <= 1) {
    const double log_gamma_alpha_plus_one = std::lgamma(alpha + 1);
    double log_gamma_running = log_gamma_alpha_plus_one;
    double terms = 0;
    for (double n = 1; n <= _num_series_terms; ++n) {
      log_gamma_running += std::log(alpha + n);
      terms += std::exp(n * std::log(x) - (log_gamma_running - log_gamma_alpha_plus_one));
    }
    return std::log(1 + terms) + alpha * std::log(x) - x - log_gamma_alpha_plus_one;
  }
  if (alpha > 1) return _log_lower_gamma_by_quadrature(alpha, x);
  return 0;
}

// The integrand is scaled by its value at the mode a1 = alpha - 1,
// (t / a1)^a1 e^(a1 - t), to stay in range; q restores the scale.
// x at or below the mode: the integral from xu up to x is P itself.
// x above the mode: the integral from x up to xu is the upper tail 1 - P.
double PartitionSampler::_log_lower_gamma_by_quadrature(double alpha, double x) const {
  const double a1 = alpha - 1;
  const double log_a1 = std::log(a1);
  const double sqrt_a1 = std::sqrt(a1);
  const double upper = x > a1 ? std::max(a1 + 11.5 * sqrt_a1, x + 6.0 * sqrt_a1)
                              : std::max(0.0, std::min(a1 - 7.5 * sqrt_a1, x - 5.0 * sqrt_a1));
  double sum = 0;
  for (int j = 0; j < _num_quad_points; ++j) {
    const double t = x + (upper - x) * _quad_nodes[j];
    sum += _quad_weights[j] * std::exp((std::log(t) - log_a1) * a1 + (a1 - t));
  }
  if (sum == 0) return x > a1 ? 0 : _log_zero;
  if (x > upper) return std::log((x - upper) * sum) + a1 * (log_a1 - 1) - std::lgamma(alpha);
  const double q = std::exp(a1 * (log_a1 - 1) - std::lgamma(alpha));
  if (upper > x) return std::log(1 - (upper - x) * sum * q);
  return _log_zero;
}
