#pragma once

#include <vector>

// The prior of the segmentation, in the form the forward recursion and the
// draws read it: p segments uniform on 1..P (every p the same log weight),
// and, given p, every admissible placement of the p - 1 inner boundaries
// equally likely (partition 1 covers at least columns 1 and 2, so
// C(L-2, p-1) placements). The recursion over end columns v needs, for
// every p, the position weight D(p, v) = -ln C(v-2, p-1), and inside a
// group of starts u the ratio C(u-3, p-2) / C(v-2, p-1), which it carries as
// a running sum of logarithms of whole numbers (ln n, n = 0..L); both are
// kept here, computed in the order that fixes their bits. A prior of
// another form changes this class and the kernels that read log_whole().
class SegmentationPrior {
 public:
  SegmentationPrior() = default;
  SegmentationPrior(long max_partitions, long num_columns);

  // ln of the prior weight of p segments, up to a constant: 0 for every p.
  double log_number_weight(long /*p*/) const { return 0.0; }
  // Moves D(p, v) on from D(p, v-1) (v = p+1 starts at 0), carried as
  // (D + ln(v-p-1)) - ln(v-2); end columns must come in increasing order.
  // At v = L it is also the log prior of a placement of p segments.
  void advance_position_weight(long p, long v);
  // D(p, v) as the last advance left it.
  double position_weight(long p, long v) const { return _position_weights[p][v - (p + 1)]; }
  // ln n for n = 0..L, the steps of the running sums of the recursion.
  const double* log_whole() const { return _log_whole.data(); }
  // -ln C(L-2, p-1): the log prior of one placement of p segments of the L
  // columns, once the recursion has reached end column L.
  double log_position_prior(long p) const { return _log_position_prior.at(p); }

 private:
  long _num_columns = 0;
  // D(p, v) at [p][v-(p+1)]; row 0 (no segment) stays empty.
  std::vector<std::vector<double>> _position_weights;
  std::vector<double> _log_position_prior;
  std::vector<double> _log_whole;
};
