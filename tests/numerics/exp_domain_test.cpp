// Bit-for-bit agreement of the vector exp with std::exp on 10^8 inputs over
// the whole domain of doubles: a benchmark-sized check (a few seconds in a
// Release build) with its own label, run once by CI in the Release build.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>

#include "numerics/exp_kernels.h"

namespace {

double from_bits(std::uint64_t b) {
  double x;
  std::memcpy(&x, &b, sizeof x);
  return x;
}

// A quarter of the inputs are random bit patterns (every exponent, both
// signs, subnormals, infinities and NaNs); the rest are uniform over the
// range of finite, nonzero results [-746, 710], and over its special parts.
TEST(ExpDomain, VectorExpGivesStdExpBitsOnAHundredMillionInputs) {
  const numerics::ExpKernel* vector = numerics::avx2_exp_kernel();
  if (vector == nullptr) GTEST_SKIP() << "no AVX2 and FMA on this CPU";
  std::mt19937_64 engine(20261207);
  std::uniform_real_distribution<double> whole(-746.0, 710.0);
  std::uniform_real_distribution<double> edges(-1.0, 1.0);
  constexpr std::size_t batch = 1 << 16;
  std::vector<double> in(batch);
  std::vector<double> out(batch);
  std::size_t differences = 0;
  for (std::size_t done = 0; done < 100'000'000; done += batch) {
    for (std::size_t i = 0; i < batch; ++i) {
      switch (i % 8) {
        case 0:
        case 1:
          in[i] = from_bits(engine());
          break;
        case 2:
          in[i] = edges(engine) < 0 ? -512.0 - 234.0 * std::fabs(edges(engine)) : 512.0 + 198.0 * std::fabs(edges(engine));
          break;
        default:
          in[i] = whole(engine);
      }
    }
    vector->exp_array(in.data(), out.data(), batch);
    for (std::size_t i = 0; i < batch; ++i) {
      const double expected = std::exp(in[i]);
      if (std::memcmp(&expected, &out[i], sizeof expected) != 0 && ++differences <= 5) {
        ADD_FAILURE() << std::hexfloat << "exp(" << in[i] << "): std::exp " << expected << ", vector " << out[i];
      }
    }
  }
  EXPECT_EQ(differences, 0u);
}

}  // namespace
