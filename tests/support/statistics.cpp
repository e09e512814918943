#include "support/statistics.h"

#include <algorithm>
#include <cmath>

// The dof is a whole number, so the upper tail Q(dof/2, x/2) has a closed
// form: with x = statistic / 2, e^-x times the first dof/2 terms of the
// series of e^x in powers x^i / i! (even dof), or erfc(sqrt x) plus the terms
// in powers x^(i + 1/2) / Gamma(i + 3/2) (odd dof). Every term is positive,
// so the sum stays accurate far into the tail.
double chi_square_p_value(double statistic, double dof) {
  const double x = statistic / 2.0;
  if (x <= 0.0) return 1.0;
  const long whole = std::lround(dof);
  const double half = whole % 2 == 1 ? 0.5 : 0.0;
  double p = half > 0.0 ? std::erfc(std::sqrt(x)) : 0.0;
  for (long i = 0; i < whole / 2; ++i) p += std::exp(-x + (i + half) * std::log(x) - std::lgamma(i + half + 1.0));
  return std::min(p, 1.0);
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
