#include "numerics/exp_kernels.h"

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace numerics {
namespace {

void exp_array_scalar(const double* in, double* out, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) out[i] = std::exp(in[i]);
}

const ExpKernel scalar_kernel{"scalar", exp_array_scalar};

bool same_bits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// A fixed stream of 64-bit values (a linear congruential generator), so the
// inputs are the same on every machine without touching the run's rand().
struct InputStream {
  std::uint64_t state = 0x2545f4914f6cdd1dULL;
  double uniform(double lower, double upper) {
    state = state * 6364136223846793005ULL + 1442695040888963407ULL;
    return lower + (upper - lower) * static_cast<double>(state >> 11) * 0x1p-53;
  }
};

}  // namespace

const ExpKernel& scalar_exp_kernel() { return scalar_kernel; }

std::vector<double> exp_check_inputs() {
  const double infinity = std::numeric_limits<double>::infinity();
  std::vector<double> inputs{0.0, -0.0, 0x1p-1074, -0x1p-1074, 0x1p-1022, -0x1p-1030, 0x1p-60, -0x1p-55,
                             0x1p-54, -0x1p-54, 0x1.fffffffffffffp-55, 0x1p-53, -0x1p-40, 1.0, -1.0,
                             511.9999999999999, 512.0, -512.0, -512.0000000000001, 709.782712893384,
                             709.7827128933841, 709.78, -708.3964185322641, -708.4, -708.39, -744.44007192138122,
                             -744.4400719213813, -745.1332191019411, -745.1332191019412, -745.2, -1023.9999999999999,
                             1023.9999999999999, -1024.0, 1024.0, -1075.0, 1e300, -1e300, DBL_MAX, -DBL_MAX,
                             infinity, -infinity, std::numeric_limits<double>::quiet_NaN()};
  // Every table entry, both signs, near the middle and the ends of its
  // reduction interval, at exponents across the whole range.
  const double ln2_128 = 0.693147180559945309417232121458 / 128;
  for (int j = 0; j < 128; ++j) {
    for (const int k : {0, 1, 7, 500, 4096, 60000, 90000, 95000, 128 * 1023}) {
      for (const double offset : {0.0, 0.4999, -0.4999}) {
        const double x = (static_cast<double>(k) * 128 + j + offset) * ln2_128 / 128;
        inputs.push_back(x);
        inputs.push_back(-x);
      }
    }
  }
  InputStream stream;
  for (int i = 0; i < 600; ++i) inputs.push_back(stream.uniform(-746.0, 710.0));
  for (int i = 0; i < 300; ++i) inputs.push_back(stream.uniform(-746.0, -700.0));
  for (int i = 0; i < 200; ++i) inputs.push_back(stream.uniform(700.0, 709.79));
  for (int i = 0; i < 300; ++i) inputs.push_back(stream.uniform(-40.0, 0.0));
  for (int i = 0; i < 200; ++i) inputs.push_back(std::ldexp(stream.uniform(-1.0, 1.0), -static_cast<int>(i % 60)));
  return inputs;
}

bool agrees_with_std_exp(const ExpKernel& kernel, const std::vector<double>& inputs) {
  std::vector<double> out(inputs.size());
  for (std::size_t start = 0; start < 4 && start < inputs.size(); ++start) {
    kernel.exp_array(inputs.data() + start, out.data(), inputs.size() - start);
    for (std::size_t i = start; i < inputs.size(); ++i) {
      if (!same_bits(out[i - start], std::exp(inputs[i]))) return false;
    }
  }
  return true;
}

const ExpKernel& choose_exp_kernel(const ExpKernel* candidate, bool force_scalar) {
  if (force_scalar || candidate == nullptr) return scalar_kernel;
  return agrees_with_std_exp(*candidate, exp_check_inputs()) ? *candidate : scalar_kernel;
}

const ExpKernel& exp_kernel() {
  static const ExpKernel& chosen = []() -> const ExpKernel& {
    const char* force = std::getenv("ALNSAMPLER_SCALAR_EXP");
    return choose_exp_kernel(avx2_exp_kernel(), force != nullptr && force[0] != '\0');
  }();
  return chosen;
}

}  // namespace numerics
