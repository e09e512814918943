#include "support/statistics.h"

#include <cmath>

namespace {

// Regularised lower incomplete gamma P(a, x) by its series, and the upper one
// by Lentz's continued fraction, whichever converges fast.
double lower_series(double a, double x) {
  double term = 1.0 / a;
  double sum = term;
  for (int n = 1; n < 10000; ++n) {
    term *= x / (a + n);
    sum += term;
    if (std::fabs(term) < std::fabs(sum) * 1e-16) break;
  }
  return sum * std::exp(-x + a * std::log(x) - std::lgamma(a));
}

double upper_fraction(double a, double x) {
  const double tiny = 1e-300;
  double b = x + 1.0 - a;
  double c = 1.0 / tiny;
  double d = 1.0 / b;
  double h = d;
  for (int i = 1; i < 10000; ++i) {
    const double an = -i * (i - a);
    b += 2.0;
    d = an * d + b;
    if (std::fabs(d) < tiny) d = tiny;
    c = b + an / c;
    if (std::fabs(c) < tiny) c = tiny;
    d = 1.0 / d;
    const double delta = d * c;
    h *= delta;
    if (std::fabs(delta - 1.0) < 1e-16) break;
  }
  return std::exp(-x + a * std::log(x) - std::lgamma(a)) * h;
}

}  // namespace

double chi_square_p_value(double statistic, double dof) {
  const double a = dof / 2.0;
  const double x = statistic / 2.0;
  if (x <= 0.0) return 1.0;
  if (x < a + 1.0) return 1.0 - lower_series(a, x);
  return upper_fraction(a, x);
}

double chi_square_test(const std::vector<double>& observed, const std::vector<double>& probabilities,
                       double min_expected) {
  double total = 0.0;
  for (const double o : observed) total += o;
  double statistic = 0.0;
  int cells = 0;
  double pooled_observed = 0.0;
  double pooled_expected = 0.0;
  for (std::size_t i = 0; i < observed.size(); ++i) {
    const double expected = probabilities[i] * total;
    if (expected < min_expected) {
      pooled_observed += observed[i];
      pooled_expected += expected;
      continue;
    }
    statistic += (observed[i] - expected) * (observed[i] - expected) / expected;
    ++cells;
  }
  if (pooled_expected > 0.0) {
    statistic += (pooled_observed - pooled_expected) * (pooled_observed - pooled_expected) / pooled_expected;
    ++cells;
  } else if (pooled_observed > 0.0) {
    return 0.0;  // draws where none can happen
  }
  return cells > 1 ? chi_square_p_value(statistic, cells - 1) : 1.0;
}

double ks_p_value(double statistic, std::size_t n) {
  const double root_n = std::sqrt(static_cast<double>(n));
  const double lambda = (root_n + 0.12 + 0.11 / root_n) * statistic;
  double sum = 0.0;
  for (int k = 1; k <= 100; ++k) {
    sum += 2.0 * ((k % 2 == 1) ? 1.0 : -1.0) * std::exp(-2.0 * k * k * lambda * lambda);
  }
  return std::min(1.0, std::max(0.0, sum));
}
