#include "random/variates.h"

#include <cmath>
#include <cstdlib>

#include "io/errors.h"

namespace {

constexpr double rand_max_as_double = 2147483647.0;
constexpr double smallest_normal = 2.2250738585072014e-308;

double draw_uniform(double lower, double upper) { return sample_unif(1, lower, upper)[0]; }

// Uniforms on [0, 1] redrawn while they are exactly 0, for the logarithms
// that follow: on (0, 1], and on (0, 1) for the ratios u / (1 - u) too.
double draw_uniform_above_zero() {
  double u = draw_uniform(0.0, 1.0);
  while (u == 0.0) u = draw_uniform(0.0, 1.0);
  return u;
}

double draw_open_uniform() {
  double u = draw_uniform(0.0, 1.0);
  while (u == 0.0 || u == 1.0) u = draw_uniform(0.0, 1.0);
  return u;
}

double gamma_exponential_branch() { return -std::log(draw_open_uniform()); }

// Cheng's log-logistic rejection method for shapes above 1.
double gamma_cheng_branch(double a, double lambda) {
  static const double log_four = std::log(4.0);
  while (true) {
    const double u = draw_open_uniform();
    const double x = a * std::pow(u / (1.0 - u), 1.0 / lambda);
    const double w = draw_uniform(0.0, 1.0);
    if (w == 0.0) return x;
    if (std::log(w) < a - log_four + (a + lambda) * std::log(x / a) - x - 2.0 * std::log(u)) return x;
  }
}

// Two-piece rejection for shapes below 1: a power proposal on [0, 1] and an
// exponential tail above 1, mixed in proportion e : a.
double gamma_small_shape_branch(double a) {
  static const double e = 2.718281828459045;
  while (true) {
    const double u = draw_uniform(0.0, 1.0);
    const double p = e / (a + e);
    if (u < p) {
      const double v = draw_open_uniform();
      const double x = std::pow(v, 1.0 / a);
      const double w = draw_uniform(0.0, 1.0);
      if (w == 0.0 || std::log(w) < -x) return x;
    } else {
      const double v = draw_uniform_above_zero();
      const double x = 1.0 - std::log(v);
      const double w = draw_uniform(0.0, 1.0);
      if (w == 0.0 || std::log(w) < (a - 1.0) * std::log(x)) return x;
    }
  }
}

}  // namespace

double draw_unit_uniform() { return static_cast<double>(std::rand()) / rand_max_as_double; }

std::vector<double> sample_unif(long count, double lower, double upper) {
  std::vector<double> values(count > 0 ? count : 0);
  const double width = upper - lower;
  for (auto& value : values) {
    const double r = static_cast<double>(std::rand());
    value = r * width / rand_max_as_double + lower;
  }
  return values;
}

std::vector<double> sample_normal(long count, double mean, double standard_deviation) {
  static const double two_pi = 6.283185307179586;
  static const double neg_two = -2.0;
  if (standard_deviation <= 0) throw InternalError("error in sample_normal: standard deviation is <= 0!");
  std::vector<double> values(count > 0 ? count : 0);
  for (auto& value : values) {
    double u1 = draw_uniform(0.0, 1.0);
    while (u1 == 0.0) u1 = draw_uniform(0.0, 1.0);
    const double r = neg_two * std::log(u1);
    const double theta = draw_uniform(0.0, two_pi);
    const double z = std::sqrt(r) * std::cos(theta);
    value = standard_deviation * z + mean;
  }
  return values;
}

std::vector<double> sample_gamma(long count, double shape, double inverse_scale) {
  if (shape <= 0 || !(inverse_scale > 0)) throw InternalError("error in sample_gamma: shape or inverse_scale is <= 0!");
  const double lambda = std::sqrt(2.0 * shape - 1.0);
  std::vector<double> values(count > 0 ? count : 0);
  for (auto& value : values) {
    double x;
    if (shape == 1.0) {
      x = gamma_exponential_branch();
    } else if (shape > 1.0) {
      x = gamma_cheng_branch(shape, lambda);
    } else {
      x = gamma_small_shape_branch(shape);
    }
    value = x / inverse_scale;
    if (value == 0.0) value = smallest_normal;
  }
  return values;
}

double sample_log_gamma(double shape, double rate) {
  if (shape <= 0 || !(rate > 0)) throw InternalError("error in sample_log_gamma: shape or rate is <= 0!");
  const double g = sample_gamma(1, shape + 1.0, 1.0)[0];
  const double u = draw_uniform_above_zero();
  return std::log(g) + std::log(u) / shape - std::log(rate);
}

std::vector<std::vector<double>> sample_dirichlet(long count, const std::vector<double>& parameters) {
  std::vector<std::vector<double>> draws;
  for (long n = 0; n < count; ++n) {
    std::vector<double> g(parameters.size());
    double sum = 0.0;
    for (std::size_t k = 0; k < parameters.size(); ++k) {
      g[k] = sample_gamma(1, parameters[k], 1.0)[0];
      sum += g[k];
    }
    for (auto& component : g) {
      component = component / sum;
      if (component == 0.0) component = smallest_normal;
    }
    draws.push_back(g);
  }
  return draws;
}

double log_gamma(double x, bool log_flag) {
  static const double p0 = 1.000000000190015;
  static const double p1 = 76.18009172947146;
  static const double p2 = -86.50532032941678;
  static const double p3 = 24.01409824083091;
  static const double p4 = -1.231739572450155;
  static const double p5 = 0.001208650973866179;
  static const double p6 = -5.395239384953e-06;
  static const double sqrt_two_pi = 2.5066282746310002;
  const double s = p1 / (x + 1) + p2 / (x + 2) + p3 / (x + 3) + p4 / (x + 4) + p5 / (x + 5) + p6 / (x + 6);
  if (!log_flag) {
    return (s + p0) * (sqrt_two_pi / x) * std::pow(x + 5.5, x + 0.5) * std::exp(-(x + 5.5));
  }
  static const double two_pi = 6.283185307179586;
  return 0.5 * std::log(two_pi) - std::log(x) + std::log(s + p0) + (x + 0.5) * std::log(x + 5.5) - x - 5.5;
}
