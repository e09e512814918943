#include <gtest/gtest.h>

#include <cmath>
#include <tuple>
#include <vector>

#include "segmentation/gauss_legendre.h"
#include "segmentation/partition_sampler.h"
#include "support/errors.h"

namespace {

// Branch lengths by child label; entry 0 (the root) is not a branch.
const std::vector<double> lengths{0.0, 0.08, 0.12, 0.05, 0.1, 0.2, 0.15, 0.07, 0.09, 0.11, 0.06};

struct Events {
  std::vector<double> counts;  // per branch, entry 0 unused
  double exposure;             // B
};

// ln of Gamma(rate; 0.1, 0.1) * prod_b (1 - exp(-rate t_b))^(n_b) * exp(-rate B).
double log_integrand(const Events& events, double rate) {
  double value = 0.1 * std::log(0.1) - std::lgamma(0.1) - 0.9 * std::log(rate) - 0.1 * rate - rate * events.exposure;
  for (std::size_t b = 1; b < lengths.size(); ++b)
    value += events.counts[b] * std::log(-std::expm1(-rate * lengths[b]));
  return value;
}

// Composite Simpson rule in s = ln(rate) over rate in (e^-300, 126], where
// the integrand f(e^s) e^s is smooth and its left tail below 1e-12 of the total.
double reference_log_integral(const Events& events) {
  const int intervals = 400000;
  const double lower = -300.0;
  const double upper = std::log(126.0);
  const double step = (upper - lower) / intervals;
  std::vector<double> logs(intervals + 1);
  double top = -INFINITY;
  for (int i = 0; i <= intervals; ++i) {
    const double s = lower + step * i;
    logs[i] = log_integrand(events, std::exp(s)) + s;
    top = std::max(top, logs[i]);
  }
  double sum = 0.0;
  for (int i = 0; i <= intervals; ++i) {
    const double weight = (i == 0 || i == intervals) ? 1.0 : (i % 2 == 1 ? 4.0 : 2.0);
    sum += weight * std::exp(logs[i] - top);
  }
  return top + std::log(sum * step / 3.0);
}

// Relative error bound of the 40-interval trapezoid sum on [0.01, 126]:
// (h^2 / 12) * integral |f''| / integral f, with f'' = f ((ln f)'' + (ln f)'^2)
// taken analytically and integrated on a fine grid.
double trapezoid_relative_error(const Events& events, double log_integral) {
  const double h = 3.14975;
  const int points = 200000;
  const double step = (126.0 - 0.01) / points;
  double sum = 0.0;
  for (int i = 0; i <= points; ++i) {
    const double rate = 0.01 + step * i;
    double first = -0.9 / rate - 0.1 - events.exposure;
    double second = 0.9 / (rate * rate);
    for (std::size_t b = 1; b < lengths.size(); ++b) {
      const double t = lengths[b];
      const double grow = std::expm1(rate * t);
      first += events.counts[b] * t / grow;
      second -= events.counts[b] * t * t * (grow + 1) / (grow * grow);
    }
    const double weight = (i == 0 || i == points) ? 0.5 : 1.0;
    sum += weight * std::exp(log_integrand(events, rate) - log_integral) * std::fabs(second + first * first);
  }
  return h * h / 12.0 * sum * step;
}

double method_log_integral(Events events) {
  PartitionSampler sampler;
  sampler._pre_compute_constant_for_numerical_integral(lengths);
  double a = 0.0;
  double c = 0.0;
  for (std::size_t b = 1; b < lengths.size(); ++b) {
    a += events.counts[b];
    c += events.counts[b] * std::log(lengths[b]);
  }
  return sampler._compute_numerical_integral(events.counts, a, events.exposure, c);
}

}  // namespace

// The lower half of the 36-point rule on [0, 2], as the marginal uses it, and
// the full rule's exactness for polynomials of degree up to 71 (node and
// weight values from a 40-digit calculation); a rule on [1, 3] is exact too.
TEST(GaussLegendre, HalfRuleMatchesKnownNodesAndFullRuleIsExact) {
  const QuadratureRule rule = gauss_legendre_rule(36, 0.0, 2.0);
  ASSERT_EQ(rule.nodes.size(), 36u);
  const auto relative = [](double value, double expected) { return std::fabs(value / expected - 1.0); };
  EXPECT_LT(relative(rule.nodes[0], 0.002169537515914163801), 1e-15);
  EXPECT_LT(relative(rule.weights[0], 0.005565719664245045361), 1e-15);
  EXPECT_LT(relative(rule.nodes[17], 0.9569818015262913928), 1e-15);
  EXPECT_LT(relative(rule.weights[17], 0.08598327567039474749), 1e-15);
  double half_weight = 0.0;
  for (int j = 0; j < 18; ++j) half_weight += rule.weights[j];
  EXPECT_NEAR(half_weight, 1.0, 1e-15);
  for (int degree = 0; degree <= 71; ++degree) {
    double sum = 0.0;
    for (std::size_t j = 0; j < rule.nodes.size(); ++j) sum += rule.weights[j] * std::pow(rule.nodes[j], degree);
    const double exact = std::pow(2.0, degree + 1) / (degree + 1);
    EXPECT_NEAR(sum / exact, 1.0, 1e-13) << "degree " << degree;
  }
  const QuadratureRule shifted = gauss_legendre_rule(3, 1.0, 3.0);
  double fifth_power = 0.0;
  for (std::size_t j = 0; j < 3; ++j) fifth_power += shifted.weights[j] * std::pow(shifted.nodes[j], 5);
  EXPECT_NEAR(fifth_power, (729.0 - 1.0) / 6, 1e-11);
}

// Small rates: a large exposure keeps almost all mass below 0.01, where the
// integrand is an exact gamma kernel up to replacing 1 - exp(-rate t) by
// rate t, a relative error of at most rate t / 2 per event.
TEST(NumericalIntegral, SmallRatesMatchAnAccurateQuadrature) {
  const Events no_events{std::vector<double>(11, 0.0), 5000.0};
  EXPECT_NEAR(method_log_integral(no_events), reference_log_integral(no_events), 1e-9);

  std::vector<double> counts(11, 0.0);
  counts[2] = 1;
  counts[5] = 2;
  const Events few_events{counts, 5000.0};
  const double linearisation_bound = (0.12 + 2 * 0.2) * 0.01 / 2;
  EXPECT_NEAR(method_log_integral(few_events), reference_log_integral(few_events), linearisation_bound);
}

// Large rates: the mass lies on the coarse grid, whose trapezoid error is
// bounded by the curvature of the integrand. (The errors seen are far
// smaller, since these integrands vanish at both ends of the grid.)
TEST(NumericalIntegral, LargeRatesMatchWithinTheTrapezoidError) {
  for (const Events& events :
       {Events{{0, 2, 3, 1, 2, 4, 1, 3, 2, 1, 2}, 0.05}, Events{{0, 1, 0, 2, 0, 1, 0, 3, 0, 1, 0}, 0.0},
        Events{{0, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4}, 0.5}, Events{{0, 40, 40, 40, 40, 40, 40, 40, 40, 40, 40}, 0.5}}) {
    const double reference = reference_log_integral(events);
    const double bound = trapezoid_relative_error(events, reference);
    EXPECT_LT(bound, 0.1);
    EXPECT_NEAR(method_log_integral(events), reference, bound);
  }
}

// The lower piece, ln P(alpha, x), against the integral of t^(alpha-1) e^-t
// taken with Simpson's rule in ln t: the five-term series for x <= 1 (its
// truncation sets the tolerance), the quadrature below and above the mode.
TEST(NumericalIntegral, LowerIncompleteGammaMatchesItsIntegral) {
  PartitionSampler sampler;
  sampler._pre_compute_constant_for_numerical_integral(lengths);
  for (const auto& [alpha, x, tolerance] : std::vector<std::tuple<double, double, double>>{{0.1, 0.001, 1e-12},
                                                                                           {2.5, 0.5, 1e-6},
                                                                                           {1.3, 1.0, 2e-4},
                                                                                           {3.1, 5.0, 1e-5},
                                                                                           {10.0, 2.0, 1e-9},
                                                                                           {30.0, 12.0, 1e-9}}) {
    const int intervals = 20000;
    const double lower = std::log(x) - 60.0 / alpha;
    const double step = (std::log(x) - lower) / intervals;
    double sum = 0.0;
    for (int i = 0; i <= intervals; ++i) {
      const double s = lower + step * i;
      sum += ((i == 0 || i == intervals) ? 1.0 : (i % 2 == 1 ? 4.0 : 2.0)) * std::exp(alpha * s - std::exp(s));
    }
    EXPECT_NEAR(sampler._log_lower_incomplete_gamma(alpha, x), std::log(sum * step / 3.0) - std::lgamma(alpha),
                tolerance)
        << "alpha " << alpha << " x " << x;
  }
}

TEST(NumericalIntegral, NoBranchLengthsEndsTheRun) {
  PartitionSampler sampler;
  EXPECT_TRUE(throws_error<InternalError>([&] { sampler._pre_compute_constant_for_numerical_integral({}); }, 1,
                                          "^no length of tree branch is given! \n$"));
}
