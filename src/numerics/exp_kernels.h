#pragma once

#include <cstddef>
#include <vector>

// The exponential in bulk, bit for bit the C library's std::exp.
//
// The sampler's traces must not depend on the machine, so every exp the
// recursion takes must be the double std::exp returns. A vector kernel does
// the C library's own arithmetic four lanes at a time; it is used only where
// the CPU has the instructions that arithmetic needs and where it agrees with
// std::exp on a fixed set of inputs at start-up. Everywhere else the scalar
// kernel, which calls std::exp, gives the same bits more slowly.

namespace numerics {

struct ExpKernel {
  const char* name;
  // out[i] = std::exp(in[i]) for i < count; in and out may be the same array.
  void (*exp_array)(const double* in, double* out, std::size_t count);
};

// Calls std::exp on every element.
const ExpKernel& scalar_exp_kernel();
// The AVX2 + FMA kernel, or null when this CPU lacks either instruction set.
const ExpKernel* avx2_exp_kernel();

// The kernel the run uses, chosen once: the vector kernel when the CPU has it,
// it agrees with std::exp on every input of `exp_check_inputs`, and the
// environment variable ALNSAMPLER_SCALAR_EXP is unset or empty (it forces the
// scalar kernel, to check that the traces do not change); otherwise the
// scalar one.
const ExpKernel& exp_kernel();
// The choice `exp_kernel` makes for a candidate: the candidate if it is not
// null and agrees, otherwise the scalar kernel.
const ExpKernel& choose_exp_kernel(const ExpKernel* candidate, bool force_scalar);

// A few thousand fixed inputs covering every path of the C library's exp:
// zero, tiny and subnormal arguments, each of the 128 table entries with
// both signs, the range of normal results, the rescaled ranges near overflow
// and in the subnormal results, the overflow and underflow edges, the
// infinities and NaN.
std::vector<double> exp_check_inputs();
// True when kernel.exp_array, called on the inputs from each of the first
// four starts (so that every input meets every lane and the partial last
// vector), returns std::exp's bits on every input.
bool agrees_with_std_exp(const ExpKernel& kernel, const std::vector<double>& inputs);

}  // namespace numerics
