#include "tree/trans_probs.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numeric>
#include <random>
#include <vector>

#include "support/test_trees.h"
#include "tree/tree_topology.h"

namespace {

constexpr double probability_floor = 2.2250738585072014e-308;

std::vector<double> random_frequencies(std::mt19937& engine) {
  std::uniform_real_distribution<double> unit(0.05, 1.0);
  std::vector<double> freqs(4);
  for (double& f : freqs) f = unit(engine);
  const double total = std::accumulate(freqs.begin(), freqs.end(), 0.0);
  for (double& f : freqs) f /= total;
  return freqs;
}

// Random rates and frequencies, and three cases with impossible transitions:
// all rates 0, a branch of length 0 (both the identity) and a frequency of 0
// (never inserted nor reached by a mutation, yet kept once there). Every
// probability that the model makes 0 is floored instead, except on the
// branch of length 0, which carries no event: its matrix is the exact identity.
// The rows of the random tree do not list the child labels in order, and the
// matrix of a branch is found by its child label.
TEST(TransProbs, MatchesTheModelWithZerosFloored) {
  const TreeTable tree = random_table(6, 2);
  ASSERT_FALSE(std::is_sorted(tree.children.begin(), tree.children.end()));
  std::mt19937 engine(11);
  std::uniform_real_distribution<double> rate(0.0, 3.0);
  for (int trial = 0; trial < 50; ++trial) {
    std::vector<double> freqs = random_frequencies(engine);
    double del = rate(engine), ins = rate(engine), mut = rate(engine);
    TreeTable shape = tree;
    std::vector<double>& lengths = shape.lengths;
    if (trial == 1) del = ins = mut = 0.0;
    if (trial == 2) lengths[3] = 0.0;
    if (trial == 3) freqs = {0.3, 0.3, 0.0, 0.4};
    TransProbs probs(TreeTopology(shape), freqs, {del, ins, mut});
    const auto& table = probs.get_trans_probs();
    ASSERT_EQ(table.size(), lengths.size());
    for (std::size_t b = 0; b < tree.children.size(); ++b) {
      const auto& matrix = table.at(tree.children[b] - 1);
      ASSERT_EQ(matrix.size(), 5u);
      for (int from = 0; from < 5; ++from) {
        ASSERT_EQ(matrix[from].size(), 5u);
        EXPECT_NEAR(std::accumulate(matrix[from].begin(), matrix[from].end(), 0.0), 1.0, 1e-12);
        for (int to = 0; to < 5; ++to) {
          const double expected = model_probability(from, to, del, ins, mut, lengths[b], freqs);
          if (expected == 0.0) {
            EXPECT_EQ(matrix[from][to], lengths[b] == 0.0 ? 0.0 : probability_floor) << trial << ": " << from << "->" << to;
          } else {
            EXPECT_NEAR(matrix[from][to], expected, 1e-14) << trial << ": " << from << "->" << to;
          }
        }
      }
    }
  }
}

}  // namespace
