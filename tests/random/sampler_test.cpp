#include "random/sampler.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

#include "support/statistics.h"

namespace {

// Cut-off points are the normalised cumulative weights; u selects the first
// point strictly above it, so u = 1 falls on the last positive weight and a
// zero weight is never chosen. All weights zero give the last value.
TEST(Sampler, SelectionByCutOffPoints) {
  Sampler<int, double> sampler({10, 20, 30}, {1, 1, 2});
  EXPECT_EQ(sampler.cut_off_pts(), (std::vector<double>{0.25, 0.5, 1.0}));
  EXPECT_EQ((Sampler<int, double>({10, 20, 30}, {2, 2, 4}).cut_off_pts()), sampler.cut_off_pts());
  EXPECT_EQ(select_by_cut_off(sampler.cut_off_pts(), 0.2), 0u);
  EXPECT_EQ(select_by_cut_off(sampler.cut_off_pts(), 0.25), 1u);
  EXPECT_EQ(select_by_cut_off(sampler.cut_off_pts(), 0.75), 2u);
  EXPECT_EQ(select_by_cut_off(Sampler<int, double>({1, 2, 3}, {1, 1, 0}).cut_off_pts(), 1.0), 1u);
  EXPECT_EQ(select_by_cut_off(Sampler<int, double>({1, 2, 3}, {1, 1, 1}).cut_off_pts(), 1.0), 2u);
  Sampler<int, double> single({7}, {0.3});
  EXPECT_EQ(single.cut_off_pts(), std::vector<double>{1.0});
  EXPECT_EQ(select_by_cut_off(single.cut_off_pts(), 1.0), 0u);
  Sampler<int, double> zeros_between({0, 1, 2, 3}, {0, 1, 0, 1});
  for (double u = 0.0; u <= 1.0; u += 1.0 / 1024) {
    const auto j = select_by_cut_off(zeros_between.cut_off_pts(), u);
    EXPECT_TRUE(j == 1 || j == 3) << u;
  }
  EXPECT_TRUE(sampler.draw_w_replace(0).empty());
  EXPECT_EQ((Sampler<long, double>({4, 5, 6}, {0, 0, 0}).draw_w_replace(20)), std::vector<long>(20, 6));
}

TEST(Sampler, DrawFrequenciesMatchWeights) {
  std::srand(21);
  const std::vector<double> weights{0.5, 0.0, 3.0, 1.5, 5.0};
  Sampler<int, double> sampler({0, 1, 2, 3, 4}, weights);
  std::vector<double> counts(weights.size(), 0.0);
  for (const int value : sampler.draw_w_replace(100000)) counts[value] += 1;
  EXPECT_EQ(counts[1], 0.0);
  std::vector<double> probabilities;
  for (const double w : weights) probabilities.push_back(w / 10.0);
  EXPECT_GT(chi_square_test(counts, probabilities), 1e-6);
}

}  // namespace
