#include "segmentation/gauss_legendre.h"

#include <cmath>
#include <limits>
#include <numbers>

namespace {

struct LegendreValue {
  long double value;       // P_n(z)
  long double derivative;  // P_n'(z)
};

// Three-term recurrence (j + 1) P_(j+1) = (2j + 1) z P_j - j P_(j-1), and the
// derivative from P_n and P_(n-1).
LegendreValue legendre(int n, long double z) {
  long double current = 1.0L;
  long double previous = 0.0L;
  for (int j = 1; j <= n; ++j) {
    const long double before = previous;
    previous = current;
    current = ((2.0L * j - 1.0L) * z * previous - (j - 1.0L) * before) / j;
  }
  return {current, n * (z * current - previous) / (z * z - 1.0L)};
}

// Newton's iteration from the classical first guess cos(pi (i + 3/4) / (n + 1/2)),
// which is close enough to converge to the i-th largest root.
long double legendre_root(int n, int i) {
  long double z = std::cos(std::numbers::pi_v<long double> * (i + 0.75L) / (n + 0.5L));
  for (int iteration = 0; iteration < 100; ++iteration) {
    const LegendreValue p = legendre(n, z);
    const long double step = p.value / p.derivative;
    z -= step;
    if (std::fabs(step) <= 4.0L * std::numeric_limits<long double>::epsilon()) break;
  }
  return z;
}

}  // namespace

QuadratureRule gauss_legendre_rule(int points, double lower, double upper) {
  QuadratureRule rule;
  rule.nodes.resize(points);
  rule.weights.resize(points);
  const long double half_width = (static_cast<long double>(upper) - lower) / 2.0L;
  for (int i = 0; i < points; ++i) {
    const long double z = legendre_root(points, i);
    const long double derivative = legendre(points, z).derivative;
    // Roots come largest first; store them in increasing order. 1 + z is
    // formed in extended precision, before the node is rounded to double.
    const int at = points - 1 - i;
    rule.nodes[at] = static_cast<double>(lower + half_width * (1.0L + z));
    rule.weights[at] = static_cast<double>(half_width * 2.0L / ((1.0L - z * z) * derivative * derivative));
  }
  return rule;
}
