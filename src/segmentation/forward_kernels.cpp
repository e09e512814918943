#include "segmentation/forward_kernels.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "numerics/exp_kernels.h"

namespace {

// E(u) is a chain of dependent additions for each p; the partitions of a
// group run side by side so that their chains overlap, and each p still sees
// exactly its own operations in its own order. A term replaces the maximum
// only when strictly greater, the first term of each p setting it.
void partition_group_scalar(const PartitionGroup& group, double* terms, double* maxima, double* sums) {
  const long first = group.first;
  const long last = first + group.count - 1;
  const long v = group.v;
  const double* log_whole = group.log_whole;
  double start_weight[group_lanes];
  double max_term[group_lanes];
  start_partition_group(group, terms, start_weight, max_term);
  const int count = group.count;
  auto term_at = [&](long u, int c) -> double& { return terms[(u - first - 1) * count + c]; };
  for (long u = last + 2; u <= v; ++u) {
    for (int c = 0; c < count; ++c) {
      const long p = first + c;
      start_weight[c] = start_weight[c] + log_whole[u - 3] - log_whole[u - p - 1];
      const double term = group.previous[c][u - p - 1] + group.blocks[u] + start_weight[c];
      term_at(u, c) = term;
      max_term[c] = term > max_term[c] ? term : max_term[c];
    }
  }
  // The weights in place of the terms, then each p's sum in increasing u.
  for (long i = 0; i < v - first; ++i) {
    for (int c = 0; c < count; ++c) terms[i * count + c] = std::exp(terms[i * count + c] - max_term[c]);
  }
  for (int c = 0; c < count; ++c) {
    const long p = first + c;
    double sum = 0.0;
    for (long u = p + 1; u <= v; ++u) sum += terms[(u - first - 1) * count + c];
    maxima[c] = max_term[c];
    sums[c] = sum;
  }
}

void block_row_scalar(const BlockRowInput& input, double* row) { fill_block_row_scalar(input, 4, row); }

const ForwardKernels scalar_kernels{"scalar", partition_group_scalar, block_row_scalar};

}  // namespace

void start_partition_group(const PartitionGroup& group, double* terms, double* start_weight, double* max_term) {
  const long first = group.first;
  const long last = first + group.count - 1;
  const long v = group.v;
  // Only starts u <= first + count precede some p's first start.
  const int count = group.count;
  std::fill(terms, terms + count * count, -std::numeric_limits<double>::infinity());
  for (int c = 0; c < count; ++c) {
    const long p = first + c;
    double* term_row = terms + c;
    start_weight[c] = group.start_weight[c];
    max_term[c] = group.previous[c][0] + group.blocks[p + 1] + start_weight[c];
    term_row[(p - first) * count] = max_term[c];
    for (long u = p + 2; u <= std::min(v, last + 1); ++u) {
      start_weight[c] = start_weight[c] + group.log_whole[u - 3] - group.log_whole[u - p - 1];
      const double term = group.previous[c][u - p - 1] + group.blocks[u] + start_weight[c];
      term_row[(u - first - 1) * count] = term;
      max_term[c] = term > max_term[c] ? term : max_term[c];
    }
  }
}

const ForwardKernels& scalar_forward_kernels() { return scalar_kernels; }

const ForwardKernels& forward_kernels() {
  static const ForwardKernels& chosen = []() -> const ForwardKernels& {
    const ForwardKernels* vector = avx2_forward_kernels();
    return vector != nullptr ? *vector : scalar_kernels;
  }();
  return chosen;
}
