// The vector exp kernel on arrays, four lanes at a time. exp_kernels.cpp
// hands it out only after checking the CPU and the kernel's results.
#include <immintrin.h>

#include "numerics/exp_avx2.h"
#include "numerics/exp_kernels.h"

namespace numerics {
namespace {

using avx2::exp4;
using avx2::lane_mask;

ALNSAMPLER_AVX2 void exp_array_avx2(const double* in, double* out, std::size_t count) {
  std::size_t i = 0;
  for (; i + 4 <= count; i += 4) _mm256_storeu_pd(out + i, exp4(_mm256_loadu_pd(in + i)));
  if (i == count) return;
  const __m256i mask = lane_mask(count - i);
  _mm256_maskstore_pd(out + i, mask, exp4(_mm256_maskload_pd(in + i, mask)));
}

const ExpKernel avx2_kernel{"avx2-fma", exp_array_avx2};

}  // namespace

const ExpKernel* avx2_exp_kernel() {
  __builtin_cpu_init();
  if (!__builtin_cpu_supports("avx2") || !__builtin_cpu_supports("fma")) return nullptr;
  return &avx2_kernel;
}

}  // namespace numerics
