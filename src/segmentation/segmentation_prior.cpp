#include "segmentation/segmentation_prior.h"

#include <algorithm>
#include <cmath>

SegmentationPrior::SegmentationPrior(long max_partitions, long num_columns) : _num_columns(num_columns) {
  const long partition_entries = std::max(0L, max_partitions) + 1;
  _position_weights.resize(partition_entries);
  for (long p = 1; p < partition_entries; ++p) _position_weights[p].assign(std::max(0L, num_columns - p), 0.0);
  _log_position_prior.assign(partition_entries, 0.0);
  _log_whole.resize(num_columns + 1);
  for (long n = 0; n <= num_columns; ++n) _log_whole[n] = std::log(static_cast<double>(n));
}

void SegmentationPrior::advance_position_weight(long p, long v) {
  const long x = v - (p + 1);
  std::vector<double>& weights = _position_weights[p];
  weights[x] = x == 0 ? 0.0 : weights[x - 1] + _log_whole[v - p - 1] - _log_whole[v - 2];
  if (v == _num_columns) _log_position_prior[p] = weights[x];
}
