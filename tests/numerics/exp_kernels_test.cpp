#include "numerics/exp_kernels.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>

namespace {

using numerics::ExpKernel;

std::uint64_t bits(double x) {
  std::uint64_t b;
  std::memcpy(&b, &x, sizeof b);
  return b;
}

// A kernel that is std::exp except for one input, one unit in the last place off.
void exp_off_by_one_ulp(const double* in, double* out, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) {
    out[i] = std::exp(in[i]);
    if (in[i] == -700.5) out[i] = std::nextafter(out[i], 1.0);
  }
}

TEST(ExpKernels, VectorKernelGivesStdExpBitsOnTheCheckInputs) {
  const ExpKernel* vector = numerics::avx2_exp_kernel();
  if (vector == nullptr) GTEST_SKIP() << "no AVX2 and FMA on this CPU";
  const std::vector<double> inputs = numerics::exp_check_inputs();
  EXPECT_GT(inputs.size(), 2000u);
  EXPECT_TRUE(numerics::agrees_with_std_exp(*vector, inputs));
  EXPECT_TRUE(numerics::agrees_with_std_exp(numerics::scalar_exp_kernel(), inputs));
  // Every length of a partial last vector, in place.
  for (std::size_t count = 0; count <= 9; ++count) {
    std::vector<double> values(inputs.begin() + 100, inputs.begin() + 100 + static_cast<long>(count));
    vector->exp_array(values.data(), values.data(), count);
    for (std::size_t i = 0; i < count; ++i) EXPECT_EQ(bits(values[i]), bits(std::exp(inputs[100 + i])));
  }
}

// The start-up choice keeps a candidate only if it agrees everywhere, and
// the run's choice follows ALNSAMPLER_SCALAR_EXP (CTest also runs this test
// with it set).
TEST(ExpKernels, ChoiceFallsBackToScalarOnAnyDifference) {
  const ExpKernel off{"off", exp_off_by_one_ulp};
  std::vector<double> inputs = numerics::exp_check_inputs();
  EXPECT_TRUE(numerics::agrees_with_std_exp(off, inputs));
  inputs.push_back(-700.5);
  EXPECT_FALSE(numerics::agrees_with_std_exp(off, inputs));
  const ExpKernel& scalar = numerics::scalar_exp_kernel();
  EXPECT_EQ(&numerics::choose_exp_kernel(nullptr, false), &scalar);
  EXPECT_EQ(&numerics::choose_exp_kernel(&scalar, true), &scalar);
  const ExpKernel* vector = numerics::avx2_exp_kernel();
  if (vector != nullptr) {
    EXPECT_EQ(&numerics::choose_exp_kernel(vector, false), vector);
    EXPECT_EQ(&numerics::choose_exp_kernel(vector, true), &scalar);
  }
  const char* forced = std::getenv("ALNSAMPLER_SCALAR_EXP");
  const bool scalar_expected = vector == nullptr || (forced != nullptr && forced[0] != '\0');
  EXPECT_EQ(&numerics::exp_kernel(), scalar_expected ? &scalar : vector);
}

}  // namespace
