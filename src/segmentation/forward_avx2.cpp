// The vector (AVX2) forward kernel of a group of partitions: lanes are the
// partitions (their terms) or four consecutive weights (their exps); every
// lane does the scalar kernel's operations in its order, so the two give the
// same bits. These functions run only when the run uses the
// vector exp, which is chosen only on a CPU with AVX2 and FMA.
#include <immintrin.h>

#include <algorithm>

#include "numerics/exp_avx2.h"
#include "numerics/exp_kernels.h"
#include "segmentation/forward_kernels.h"

namespace {

using numerics::avx2::exp4;

ALNSAMPLER_AVX2 void exp_in_place(double* values, std::size_t count) {
  std::size_t i = 0;
  for (; i + 4 <= count; i += 4) _mm256_storeu_pd(values + i, exp4(_mm256_loadu_pd(values + i)));
  if (i == count) return;
  const __m256i mask = numerics::avx2::lane_mask(count - i);
  _mm256_maskstore_pd(values + i, mask, exp4(_mm256_maskload_pd(values + i, mask)));
}

// The sums of `chains` interleaved rows of weights, side by side so that
// their chains of additions overlap.
template <int chains>
ALNSAMPLER_AVX2 void sum_weights(const double* weights, long starts, double* sums) {
  double sum[chains] = {};
  for (long i = 0; i < starts; ++i) {
    for (int c = 0; c < chains; ++c) sum[c] += weights[i * chains + c];
  }
  for (int c = 0; c < chains; ++c) sums[c] = sum[c];
}

// The partitions of a group side by side, lane c for p = first + c; lanes
// beyond the group repeat lane 0 and are not reported.
ALNSAMPLER_AVX2 void partition_group_avx2(const PartitionGroup& group, double* terms, double* maxima, double* sums) {
  const long first = group.first;
  const long last = first + group.count - 1;
  const long v = group.v;
  alignas(32) double start_weight[group_lanes];
  alignas(32) double max_term[group_lanes];
  start_partition_group(group, terms, start_weight, max_term);
  int lane_of[group_lanes];
  for (int c = 0; c < group_lanes; ++c) {
    lane_of[c] = c < group.count ? c : 0;
    start_weight[c] = start_weight[lane_of[c]];
    max_term[c] = max_term[lane_of[c]];
  }
  // Lane c reads log_whole[u - p - 1] and previous(p)[u - p - 1]: pointers
  // that advance by one entry per u.
  const long u0 = last + 2;
  const double* whole[group_lanes];
  const double* previous[group_lanes];
  for (int c = 0; c < group_lanes; ++c) {
    const int lane = lane_of[c];
    whole[c] = group.log_whole + (u0 - first - 1 - lane);
    previous[c] = group.previous[lane] + (u0 - first - 1 - lane);
  }
  __m256d weight = _mm256_load_pd(start_weight);
  __m256d maximum = _mm256_load_pd(max_term);
  for (long u = u0, at = 0; u <= v; ++u, ++at) {
    weight = _mm256_add_pd(weight, _mm256_set1_pd(group.log_whole[u - 3]));
    weight = _mm256_sub_pd(weight, _mm256_set_pd(whole[3][at], whole[2][at], whole[1][at], whole[0][at]));
    const __m256d previous_terms = _mm256_set_pd(previous[3][at], previous[2][at], previous[1][at], previous[0][at]);
    const __m256d term = _mm256_add_pd(_mm256_add_pd(previous_terms, _mm256_set1_pd(group.blocks[u])), weight);
    _mm256_storeu_pd(terms + (u - first - 1) * group_lanes, term);
    maximum = _mm256_max_pd(term, maximum);  // term > maximum ? term : maximum
  }
  // The differences t(u) - M packed to count per start, in place: each
  // store lands below every entry still to be read (and ends within the
  // buffer's spare start). Then their exps, four at a time whatever the lanes.
  const int count = group.count;
  const long starts = v - first;
  for (long i = 0; i < starts; ++i) {
    _mm256_storeu_pd(terms + i * count, _mm256_sub_pd(_mm256_loadu_pd(terms + i * group_lanes), maximum));
  }
  exp_in_place(terms, static_cast<std::size_t>(starts * count));
  _mm256_store_pd(max_term, maximum);
  for (int c = 0; c < count; ++c) maxima[c] = max_term[c];
  // Before its first start a p has the weight exp(-infinity) = 0.0, which
  // leaves its sum at 0.0: each sum is its own, in increasing u.
  switch (count) {
    case 4:
      return sum_weights<4>(terms, starts, sums);
    case 3:
      return sum_weights<3>(terms, starts, sums);
    case 2:
      return sum_weights<2>(terms, starts, sums);
    default:
      return sum_weights<1>(terms, starts, sums);
  }
}

// The block rows stay scalar: each start column needs ten lookups in the
// lgamma tables at data-dependent places, which as AVX2 gathers (with the
// transposes of the count rows) measured two to three times slower than the
// scalar sweep on an AMD Zen 3.
void block_row_scalar(const BlockRowInput& input, double* row) { fill_block_row_scalar(input, 4, row); }

const ForwardKernels avx2_kernels{"avx2-fma", partition_group_avx2, block_row_scalar};

}  // namespace

const ForwardKernels* avx2_forward_kernels() {
  if (numerics::avx2_exp_kernel() == nullptr || &numerics::exp_kernel() != numerics::avx2_exp_kernel()) return nullptr;
  return &avx2_kernels;
}
