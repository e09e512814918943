#include "random/variates.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <numeric>
#include <utility>

#include "support/errors.h"

namespace {

double mean_of(const std::vector<double>& draws) {
  return std::accumulate(draws.begin(), draws.end(), 0.0) / static_cast<double>(draws.size());
}

// Checks sample mean and variance against the truth within several standard
// errors; the variance's standard error comes from the fourth central moment.
void expect_moments(const std::vector<double>& draws, double mean, double variance, double excess_kurtosis) {
  const double n = static_cast<double>(draws.size());
  const double sample_mean = mean_of(draws);
  double sample_variance = 0.0;
  for (const double x : draws) sample_variance += (x - sample_mean) * (x - sample_mean) / (n - 1.0);
  EXPECT_NEAR(sample_mean, mean, 5 * std::sqrt(variance / n));
  EXPECT_NEAR(sample_variance, variance, 5 * std::sqrt(variance * variance * (2.0 + excess_kurtosis) / n));
}

class GammaMoments : public ::testing::TestWithParam<double> {};

TEST_P(GammaMoments, MatchShapeOverRate) {
  const double shape = GetParam();
  const double rate = 2.0;
  std::srand(11);
  const auto draws = sample_gamma(200000, shape, rate);
  for (const double x : draws) ASSERT_GT(x, 0.0);
  expect_moments(draws, shape / rate, shape / (rate * rate), 6.0 / shape);
}

INSTANTIATE_TEST_SUITE_P(Shapes, GammaMoments, ::testing::Values(0.01, 0.5, 1.0, 1.5, 50.0));

TEST(Variates, NormalMoments) {
  std::srand(5);
  expect_moments(sample_normal(200000, -1.5, 2.0), -1.5, 4.0, 0.0);
}

// Each component of a Dirichlet draw is Beta(alpha_k, total - alpha_k); a
// single parameter gives 1.
TEST(Variates, DirichletComponentsAreBetaDistributed) {
  std::srand(7);
  const std::vector<double> alpha{0.5, 1.0, 2.5};
  const double total = 4.0;
  const auto draws = sample_dirichlet(100000, alpha);
  for (std::size_t k = 0; k < alpha.size(); ++k) {
    std::vector<double> component;
    for (const auto& draw : draws) component.push_back(draw[k]);
    const double mean = alpha[k] / total;
    const double variance = mean * (1 - mean) / (total + 1);
    EXPECT_NEAR(mean_of(component), mean, 5 * std::sqrt(variance / static_cast<double>(component.size())));
  }
  for (const auto& draw : draws) EXPECT_NEAR(draw[0] + draw[1] + draw[2], 1.0, 1e-12);
  EXPECT_EQ(sample_dirichlet(3, {3.0}), std::vector<std::vector<double>>(3, {1.0}));
}

TEST(Variates, BadParametersStopTheRunEvenForZeroCount) {
  const char* gamma_message = "^error in sample_gamma: shape or inverse_scale is <= 0!$";
  EXPECT_TRUE(throws_error<InternalError>([] { sample_gamma(0, 0.0, 1.0); }, -1, gamma_message));
  EXPECT_TRUE(throws_error<InternalError>([] { sample_gamma(1, 1.0, -1.0); }, -1, gamma_message));
  EXPECT_TRUE(throws_error<InternalError>([] { sample_dirichlet(1, {1.0, 0.0}); }, -1, gamma_message));
  EXPECT_TRUE(throws_error<InternalError>([] { sample_normal(0, 0.0, 0.0); }, -1,
                                          "^error in sample_normal: standard deviation is <= 0!$"));
}

}  // namespace
