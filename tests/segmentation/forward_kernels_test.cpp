#include "segmentation/forward_kernels.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

namespace {

bool same_bits(const double* a, const double* b, std::size_t count) {
  return std::memcmp(a, b, count * sizeof(double)) == 0;
}

// Random groups of every size and position, with values on a coarse grid
// (ties for the maximum) spread over up to 2,000 (weights that underflow to
// subnormals and zero): the vector kernel must give the scalar kernel's
// maxima, sums and weights bit for bit.
TEST(ForwardKernels, VectorGroupKernelGivesTheScalarBits) {
  const ForwardKernels* vector = avx2_forward_kernels();
  if (vector == nullptr) GTEST_SKIP() << "the run uses the scalar kernels here";
  std::mt19937 engine(26);
  std::vector<double> log_whole(400);
  for (std::size_t n = 0; n < log_whole.size(); ++n) log_whole[n] = std::log(static_cast<double>(n));
  for (int trial = 0; trial < 400; ++trial) {
    const double spread = trial % 2 == 0 ? 20.0 : 2000.0;
    std::uniform_real_distribution<double> value(-spread, 0.0);
    auto coarse = [&] { return trial % 3 == 0 ? std::round(value(engine)) : value(engine); };
    PartitionGroup group;
    group.count = 1 + trial % 4;
    group.first = 2 + static_cast<long>(engine() % 5);
    group.v = group.first + group.count + static_cast<long>(engine() % 300);
    group.log_whole = log_whole.data();
    std::vector<double> blocks(group.v + 1);
    for (double& b : blocks) b = coarse();
    group.blocks = blocks.data();
    std::vector<std::vector<double>> previous(group.count, std::vector<double>(group.v));
    for (int c = 0; c < group.count; ++c) {
      for (double& f : previous[c]) f = coarse();
      group.previous[c] = previous[c].data();
      group.start_weight[c] = -std::fabs(coarse());
    }
    const std::size_t size = (group.v - group.first + 1) * group_lanes;
    std::vector<double> terms[2] = {std::vector<double>(size), std::vector<double>(size)};
    double maxima[2][group_lanes];
    double sums[2][group_lanes];
    scalar_forward_kernels().partition_group(group, terms[0].data(), maxima[0], sums[0]);
    vector->partition_group(group, terms[1].data(), maxima[1], sums[1]);
    const std::size_t weights = (group.v - group.first) * group.count;
    ASSERT_TRUE(same_bits(maxima[0], maxima[1], group.count)) << "trial " << trial;
    ASSERT_TRUE(same_bits(sums[0], sums[1], group.count)) << "trial " << trial;
    ASSERT_TRUE(same_bits(terms[0].data(), terms[1].data(), weights)) << "trial " << trial;
  }
}

}  // namespace
