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

// Lane c of the maxima repeated with the period of the packed weights: the
// entry at index j belongs to p = first + j % count.
ALNSAMPLER_AVX2 __m256d maxima_from(const double* max_term, int count, long start) {
  alignas(32) double lane[4];
  for (int j = 0; j < 4; ++j) lane[j] = max_term[(start + j) % count];
  return _mm256_load_pd(lane);
}

// weights[j] = exp(weights[j] - M of entry j) for j < size. Not inlined, so
// that a profile shows the exps apart from the terms.
__attribute__((noinline)) ALNSAMPLER_AVX2 void exp_of_differences(double* weights, std::size_t size, const double* max_term, int count) {
  // The pattern of the maxima repeats after lcm(count, 4) entries: every 4
  // (count 1, 2, 4) or 12 (count 3) entries, three vectors.
  __m256d pattern[3];
  for (int j = 0; j < 3; ++j) pattern[j] = maxima_from(max_term, count, 4L * j);
  std::size_t i = 0;
  int phase = 0;
  for (; i + 4 <= size; i += 4) {
    const __m256d x = _mm256_sub_pd(_mm256_loadu_pd(weights + i), pattern[phase]);
    _mm256_storeu_pd(weights + i, exp4(x));
    phase = phase == 2 ? 0 : phase + 1;
  }
  if (i == size) return;
  const __m256i mask = numerics::avx2::lane_mask(size - i);
  const __m256d x = _mm256_sub_pd(_mm256_maskload_pd(weights + i, mask), pattern[phase]);
  _mm256_maskstore_pd(weights + i, mask, exp4(x));
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

// The terms of starts u = first+count+1..v, lane c for p = first + c, each
// stored as four lanes at the packed place of lane 0 (the lanes beyond the
// group spill onto places the next start overwrites, the last ones onto the
// buffer's spare start). Lane c reads log_whole[u - p - 1], which runs
// backwards across the lanes, and previous(p)[u - p - 1]; lanes beyond the
// group read lane 0's previous values.
ALNSAMPLER_AVX2 __m256d four_lane_terms(const PartitionGroup& group, const double* start_weight,
                                        const double* max_term, double* terms) {
  const long first = group.first;
  const int count = group.count;
  const long v = group.v;
  const double* log_whole = group.log_whole;
  const double* blocks = group.blocks;
  const long u0 = first + count + 1;
  const double* previous[group_lanes];
  for (int c = 0; c < group_lanes; ++c) {
    const int lane = c < count ? c : 0;
    previous[c] = group.previous[lane] + (u0 - first - 1 - lane);
  }
  __m256d weight = _mm256_loadu_pd(start_weight);
  __m256d maximum = _mm256_loadu_pd(max_term);
  for (long u = u0, at = 0; u <= v; ++u, ++at) {
    const __m256d whole = _mm256_permute4x64_pd(_mm256_loadu_pd(log_whole + (u - first - 4)), 0x1b);
    weight = _mm256_sub_pd(_mm256_add_pd(weight, _mm256_set1_pd(log_whole[u - 3])), whole);
    const __m256d previous_terms = _mm256_set_pd(previous[3][at], previous[2][at], previous[1][at], previous[0][at]);
    const __m256d term = _mm256_add_pd(_mm256_add_pd(previous_terms, _mm256_set1_pd(blocks[u])), weight);
    _mm256_storeu_pd(terms + (u - first - 1) * count, term);
    maximum = _mm256_max_pd(term, maximum);  // term > maximum ? term : maximum
  }
  return maximum;
}

// The same for groups of one or two partitions, in two lanes (a lane 1
// beyond the group reads log_whole one place lower and lane 0's previous
// values).
ALNSAMPLER_AVX2 __m128d two_lane_terms(const PartitionGroup& group, const double* start_weight,
                                       const double* max_term, double* terms) {
  const long first = group.first;
  const int count = group.count;
  const long v = group.v;
  const double* log_whole = group.log_whole;
  const double* blocks = group.blocks;
  const long u0 = first + count + 1;
  const double* previous0 = group.previous[0] + (u0 - first - 1);
  const double* previous1 = count == 2 ? group.previous[1] + (u0 - first - 2) : previous0;
  __m128d weight = _mm_loadu_pd(start_weight);
  __m128d maximum = _mm_loadu_pd(max_term);
  for (long u = u0, at = 0; u <= v; ++u, ++at) {
    const __m128d pair = _mm_loadu_pd(log_whole + (u - first - 2));
    const __m128d whole = _mm_shuffle_pd(pair, pair, 1);
    weight = _mm_sub_pd(_mm_add_pd(weight, _mm_set1_pd(log_whole[u - 3])), whole);
    const __m128d previous_terms = _mm_set_pd(previous1[at], previous0[at]);
    const __m128d term = _mm_add_pd(_mm_add_pd(previous_terms, _mm_set1_pd(blocks[u])), weight);
    _mm_storeu_pd(terms + (u - first - 1) * count, term);
    maximum = _mm_max_pd(term, maximum);  // term > maximum ? term : maximum
  }
  return maximum;
}

// The partitions of a group side by side. Their terms go straight to the
// packed places of their weights; once the maxima are known the weights'
// exps run four at a time whatever the number of partitions.
ALNSAMPLER_AVX2 void partition_group_avx2(const PartitionGroup& group, double* terms, double* maxima, double* sums) {
  const int count = group.count;
  const long starts = group.v - group.first;
  double start_weight[group_lanes];
  double max_term[group_lanes];
  start_partition_group(group, terms, start_weight, max_term);
  for (int c = count; c < group_lanes; ++c) {
    start_weight[c] = start_weight[0];
    max_term[c] = max_term[0];
  }
  if (count <= 2) {
    _mm_storeu_pd(max_term, two_lane_terms(group, start_weight, max_term, terms));
  } else {
    _mm256_storeu_pd(max_term, four_lane_terms(group, start_weight, max_term, terms));
  }
  for (int c = 0; c < count; ++c) maxima[c] = max_term[c];
  exp_of_differences(terms, static_cast<std::size_t>(starts * count), max_term, count);
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
