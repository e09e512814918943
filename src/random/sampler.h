#pragma once

#include <cstddef>
#include <cstdlib>
#include <vector>

// Index chosen by a uniform u in [0, 1] from cumulative cut-off points: the
// first j with cut_off[j] > u (strictly). Only u = 1.0 can pass every point;
// then the last value is chosen unless it has zero weight (its cut-off equals
// the one before it), in which case the one before it is.
inline std::size_t select_by_cut_off(const double* cut_off_pts, std::size_t size, double u) {
  for (std::size_t j = 0; j < size; ++j) {
    if (cut_off_pts[j] > u) return j;
  }
  if (size >= 2 && cut_off_pts[size - 1] == cut_off_pts[size - 2]) return size - 2;
  return size - 1;
}

inline std::size_t select_by_cut_off(const std::vector<double>& cut_off_pts, double u) {
  return select_by_cut_off(cut_off_pts.data(), cut_off_pts.size(), u);
}

// One draw of an index 0..n-1 with probabilities proportional to `weights`,
// computed exactly as a Sampler built on these weights followed by
// draw_w_replace(1) (same cut-off arithmetic, one rand() value), but without
// any allocation. Needs 1 <= n <= 16.
inline std::size_t draw_weighted_index(const double* weights, std::size_t n) {
  double cut_off_pts[16];
  double total = 0.0;
  for (std::size_t j = 0; j < n; ++j) total += weights[j];
  double cumulative = 0.0;
  for (std::size_t j = 0; j < n; ++j) {
    cumulative = cumulative + weights[j] / total;
    cut_off_pts[j] = cumulative;
  }
  cut_off_pts[n - 1] = 1.0;
  const double u = static_cast<double>(std::rand()) / 2147483647.0;
  return select_by_cut_off(cut_off_pts, n, u);
}

// Draws values from a finite discrete distribution given by values and
// non-negative weights (which need not sum to 1). The weights are turned into
// cumulative cut-off points once; every draw takes one rand() value and scans
// the points linearly from the start.
template <typename T, typename W = double>
class Sampler {
 public:
  Sampler(const std::vector<T>& values, const std::vector<W>& weights)
      : _values(values), _weights(weights), _cut_off_pts(weights.size(), 0.0) {
    calculate_cut_off_pts();
  }

  // Each weight is divided by the total before it is added, and the last
  // point is forced to exactly 1.0 whatever rounding left there.
  void calculate_cut_off_pts() {
    W total = 0.0;
    for (const W weight : _weights) total += weight;
    W cumulative = 0.0;
    for (std::size_t j = 0; j < _weights.size(); ++j) {
      cumulative = cumulative + _weights[j] / total;
      _cut_off_pts[j] = cumulative;
    }
    if (!_cut_off_pts.empty()) _cut_off_pts.back() = 1.0;
  }

  // n independent draws with replacement; n = 0 consumes no rand() value.
  std::vector<T> draw_w_replace(int n) {
    std::vector<T> result;
    result.reserve(n > 0 ? n : 0);
    for (int i = 0; i < n; ++i) {
      const double u = static_cast<double>(std::rand()) / 2147483647.0;
      result.push_back(_values[select_by_cut_off(_cut_off_pts, u)]);
    }
    return result;
  }

  const std::vector<W>& cut_off_pts() const { return _cut_off_pts; }

 private:
  std::vector<T> _values;
  std::vector<W> _weights;
  std::vector<W> _cut_off_pts;
};
