#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <numeric>

#include "random/variates.h"

namespace {

struct Moments {
  double mean = 0.0;
  double variance = 0.0;
};

Moments moments(const std::vector<double>& draws) {
  Moments m;
  const double n = static_cast<double>(draws.size());
  m.mean = std::accumulate(draws.begin(), draws.end(), 0.0) / n;
  for (const double x : draws) m.variance += (x - m.mean) * (x - m.mean);
  m.variance /= n - 1.0;
  return m;
}

// Checks sample mean and variance against the truth within several standard
// errors; the variance's standard error comes from the fourth central moment.
void expect_moments(const std::vector<double>& draws, double mean, double variance, double excess_kurtosis) {
  const double n = static_cast<double>(draws.size());
  const Moments m = moments(draws);
  const double mean_se = std::sqrt(variance / n);
  const double variance_se = std::sqrt(variance * variance * (2.0 + excess_kurtosis) / n);
  EXPECT_NEAR(m.mean, mean, 5 * mean_se);
  EXPECT_NEAR(m.variance, variance, 5 * variance_se);
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
    const double n = static_cast<double>(component.size());
    EXPECT_NEAR(moments(component).mean, mean, 5 * std::sqrt(variance / n));
  }
  for (const auto& draw : draws) EXPECT_NEAR(draw[0] + draw[1] + draw[2], 1.0, 1e-12);
}

TEST(Variates, SingleParameterDirichletIsOne) {
  std::srand(1);
  for (const auto& draw : sample_dirichlet(10, {3.0})) EXPECT_EQ(draw, std::vector<double>{1.0});
}

TEST(Variates, UniformStaysInItsIntervalEvenReversed) {
  std::srand(2);
  for (const double u : sample_unif(1000, 2.0, 3.0)) {
    EXPECT_GE(u, 2.0);
    EXPECT_LE(u, 3.0);
  }
  for (const double u : sample_unif(1000, 3.0, 2.0)) {
    EXPECT_GE(u, 2.0);
    EXPECT_LE(u, 3.0);
  }
}

TEST(Variates, UniformIsAScaledRandValue) {
  std::srand(9);
  const int r = std::rand();
  std::srand(9);
  EXPECT_EQ(sample_unif(1, 0.0, 1.0)[0], r / 2147483647.0);
  std::srand(9);
  EXPECT_EQ(draw_unit_uniform(), r / 2147483647.0);
}

TEST(Variates, ZeroCountConsumesNothing) {
  std::srand(4);
  const int first = std::rand();
  std::srand(4);
  EXPECT_TRUE(sample_unif(0, 0, 1).empty());
  EXPECT_TRUE(sample_normal(0, 0, 1).empty());
  EXPECT_TRUE(sample_gamma(0, 2, 1).empty());
  EXPECT_TRUE(sample_dirichlet(0, {1, 1}).empty());
  EXPECT_EQ(std::rand(), first);
}

TEST(Variates, LanczosGamma) {
  EXPECT_NEAR(log_gamma(1.0, true), 0.0, 1e-9);
  EXPECT_NEAR(log_gamma(2.0, true), 0.0, 1e-9);
  EXPECT_NEAR(log_gamma(5.0, false), 24.0, 1e-7);
  EXPECT_NEAR(log_gamma(10.5, true), std::lgamma(10.5), 1e-9);
}

TEST(VariatesDeath, BadParametersStopTheRunEvenForZeroCount) {
  EXPECT_EXIT(sample_gamma(0, 0.0, 1.0), ::testing::ExitedWithCode(255),
              "^error in sample_gamma: shape or inverse_scale is <= 0!$");
  EXPECT_EXIT(sample_gamma(1, 1.0, -1.0), ::testing::ExitedWithCode(255),
              "^error in sample_gamma: shape or inverse_scale is <= 0!$");
  EXPECT_EXIT(sample_normal(0, 0.0, 0.0), ::testing::ExitedWithCode(255),
              "^error in sample_normal: standard deviation is <= 0!$");
  EXPECT_EXIT(sample_dirichlet(1, {1.0, 0.0}), ::testing::ExitedWithCode(255),
              "^error in sample_gamma: shape or inverse_scale is <= 0!$");
}

}  // namespace
