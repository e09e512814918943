#pragma once

#include <vector>

// Upper tail probability of a chi-square statistic with `dof` (a whole
// number >= 1) degrees of freedom: the regularised upper incomplete gamma
// Q(dof/2, statistic/2).
double chi_square_p_value(double statistic, double dof);

// Pearson's statistic of observed counts against expected probabilities
// (cells with expected count below `min_expected` are pooled together).
// Returns the p-value.
double chi_square_test(const std::vector<double>& observed, const std::vector<double>& probabilities,
                       double min_expected = 5.0);

// Kolmogorov-Smirnov p-value (asymptotic) of a sample against a continuous
// cdf given as a function.
template <typename Cdf>
double ks_test(std::vector<double> sample, Cdf cdf);

double ks_p_value(double statistic, std::size_t n);

#include <algorithm>
#include <cmath>

template <typename Cdf>
double ks_test(std::vector<double> sample, Cdf cdf) {
  std::sort(sample.begin(), sample.end());
  const double n = static_cast<double>(sample.size());
  double d = 0.0;
  for (std::size_t i = 0; i < sample.size(); ++i) {
    const double f = cdf(sample[i]);
    d = std::max({d, f - static_cast<double>(i) / n, static_cast<double>(i + 1) / n - f});
  }
  return ks_p_value(d, sample.size());
}
