#include "ratestates/rate_states.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <sstream>
#include <stdexcept>
#include <vector>

#include "support/statistics.h"
#include "support/test_trees.h"

namespace {

using Matrix = std::vector<std::vector<double>>;

ColumnStates six_leaf_columns(const std::vector<std::vector<int>>& columns) {
  return columns_on(six_leaf_table(), columns);
}

TEST(InitializeRateStates, ConservedColumnsGetHigherStates) {
  const ColumnStates columns = six_leaf_columns({
      {1, 1, 1, 1, 1, 1},  // every leaf the same residue
      {1, 1, 1, 1, 1, 2},  // all but one
      {1, 1, 1, 1, 2, 3},  // all but two
      {1, 1, 1, 2, 2, 3},
      {0, 1, 1, 1, 1, 1},  // an empty leaf: never conserved
      {5, 1, 1, 1, 1, 1},  // absent leaves count neither way
      {5, 5, 4, 4, 4, 4},
      {5, 5, 5, 3, 3, 3},
      {4, 3, 4, 4, 4, 4},
  });
  const RateStatePath path = initialize_rate_states(3, columns);
  EXPECT_EQ(path.column_states, (std::vector<int>{2, 2, 1, 0, 0, 2, 1, 0, 2}));
  EXPECT_EQ(path.state_columns, (std::vector<std::vector<long>>{{3, 4, 7}, {2, 6}, {0, 1, 5, 8}}));

  // Fewer lists than the states the rule produces ends the run.
  EXPECT_THROW(initialize_rate_states(2, columns), std::out_of_range);
}

// P(X <= x) for X ~ Beta(a, b) with integer a, b: P(Binomial(a+b-1, x) >= a).
double beta_cdf(int a, int b, double x) {
  const int n = a + b - 1;
  double cdf = 0.0;
  for (int k = a; k <= n; ++k) {
    cdf += std::exp(std::lgamma(n + 1.0) - std::lgamma(k + 1.0) - std::lgamma(n - k + 1.0)) * std::pow(x, k) *
           std::pow(1 - x, n - k);
  }
  return cdf;
}

// Path 0 0 1 2 2 0 has the pairs (0,0) (0,1) (1,2) (2,2) (2,0), the last one
// included: every row is Dirichlet(1 + counts).
TEST(SampleRateStateTransitions, RowsFollowDirichletOfAllPairCounts) {
  const std::vector<int> path{0, 0, 1, 2, 2, 0};
  const std::vector<std::vector<int>> parameters{{2, 2, 1}, {1, 1, 2}, {2, 1, 2}};
  std::srand(2718);
  const int draws = 20000;
  std::vector<std::vector<std::vector<double>>> samples(3, std::vector<std::vector<double>>(3));
  Matrix transitions;
  for (int draw = 0; draw < draws; ++draw) {
    transitions = sample_rate_state_transitions(3, path).transitions;
    ASSERT_EQ(transitions.size(), 3u);
    for (int i = 0; i < 3; ++i) {
      for (int j = 0; j < 3; ++j) samples[i][j].push_back(transitions[i].at(j));
    }
  }
  for (int i = 0; i < 3; ++i) {
    const int total = parameters[i][0] + parameters[i][1] + parameters[i][2];
    for (int j = 0; j < 3; ++j) {
      const int a = parameters[i][j];
      EXPECT_GT(ks_test(samples[i][j], [&](double x) { return beta_cdf(a, total - a, x); }), 1e-6)
          << "row " << i << " entry " << j;
    }
  }
}

}  // namespace
