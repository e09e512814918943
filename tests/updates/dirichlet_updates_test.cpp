#include "updates/dirichlet_updates.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <iostream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "random/variates.h"
#include "support/errors.h"
#include "support/test_trees.h"

namespace {

using Rows = std::vector<std::vector<double>>;
using FromTos = std::vector<std::vector<long>>;

// Columns of the three-leaf tree (root 0 -> 1, leaf 2; 1 -> leaves 3, 4)
// with leaves 1 2 3 and the given root values; every indicator starts at -1.
ColumnStates columns_with_roots(const std::vector<int>& roots) {
  ColumnStates states = columns_on(three_leaf_table(), std::vector<std::vector<int>>(roots.size(), {1, 2, 3}));
  for (std::size_t c = 0; c < roots.size(); ++c) states.set_root_value(c, roots[c]);
  return states;
}

Rows betas_of(const ColumnStates& states, const FromTos& from_tos, std::ostream* out, std::size_t row = 0) {
  Segmentation segments{from_tos, {}, {}, {}, {}};
  std::ostringstream unread;
  sample_betas(states, segments, out != nullptr ? *out : unread);
  return segments.betas.at(row);
}

Rows thetas_of(const ColumnStates& states, const FromTos& from_tos, std::ostream* out) {
  Segmentation segments{from_tos, {}, {}, {}, {}};
  std::ostringstream unread;
  sample_thetas(states, segments, out != nullptr ? *out : unread);
  return segments.thetas;
}

// The Dirichlet draws that the given parameter rows produce, in order, right
// after srand(seed).
Rows expected_draws(unsigned seed, const Rows& parameters) {
  std::srand(seed);
  Rows draws;
  for (const auto& row : parameters) draws.push_back(sample_dirichlet(1, row)[0]);
  return draws;
}

const std::string flat = "0.25 0.25 0.25 0.25\n";

}  // namespace

// Roots 1 1 2 2 3 in segments [0, 2], [3, 3], [4, 4]. Segment 0 starts at
// column 0, so it counts 1->1 and 1->2 only; each one-column segment counts
// the pair that leads into it. Unobserved rows stay flat (0.25); a segment
// beyond the columns is an error.
TEST(BetaUpdate, CountsTransitionsIntoEachSegment) {
  const ColumnStates states = columns_with_roots({1, 1, 2, 2, 3});
  std::ostringstream summary;
  std::srand(11);
  const Rows first = betas_of(states, {{0, 2}, {3, 3}, {4, 4}}, &summary);
  EXPECT_EQ(summary.str(), "0.333333 0.333333 0.166667 0.166667\n" + flat + flat + flat +  //
                               flat + "0.2 0.4 0.2 0.2\n" + flat + flat +                  //
                               flat + "0.2 0.2 0.4 0.2\n" + flat + flat);
  EXPECT_EQ(first[0], expected_draws(11, {{2, 2, 1, 1}})[0]);  // the first draw, from 1 + counts
  std::ostringstream two_segments;
  betas_of(states, {{0, 0}, {1, 1}}, &two_segments);
  EXPECT_EQ(two_segments.str(), flat + flat + flat + flat + "0.4 0.2 0.2 0.2\n" + flat + flat + flat);
  EXPECT_THROW(betas_of(states, {{0, 4}, {5, 5}}, nullptr), std::out_of_range);
}

// A root that empties or fills between adjacent columns ends the run. The
// first case also shows the empty root value and the column's leaves.
// An empty root followed by an empty root counts for nothing.
TEST(BetaUpdate, RootChangingBetweenEmptyAndNonEmptyEndsTheRun) {
  ColumnStates emptying = columns_with_roots({2, 0});
  for (const auto& [label, value] : {std::pair{2, 1}, {3, 0}, {4, 2}}) emptying.at(1, label).value = value;
  EXPECT_TRUE(throws_error<InternalError>(
      [&] {
        betas_of(emptying, {{0, 1}}, nullptr);
      },
      -1, "^01 0 2\ntransition from non-empty to empty occurs unexpectedly! \n$"));
  const ColumnStates filling = columns_with_roots({0, 0, 2});
  EXPECT_TRUE(throws_error<InternalError>(
      [&] {
        betas_of(filling, {{0, 2}}, nullptr);
      },
      -1, "^transition from empty to non-empty occurs unexpectedly! \n$"));
}

// New residues: an insertion on a branch, a mutation (deletion 0, bond 0),
// and a root that follows an empty root. The root's own indicators and kept
// residues (bond 1) count for nothing.
TEST(ThetaUpdate, CountsNewlyArisingValues) {
  ColumnStates states = columns_with_roots({2, 0, 1});
  const auto set_node = [&](std::size_t column, int label, int value, int deletion, int insertion, int bond) {
    states.at(column, label) = {static_cast<std::int8_t>(value), static_cast<std::int8_t>(deletion),
                                static_cast<std::int8_t>(insertion), static_cast<std::int8_t>(bond)};
  };
  states.at(0, 0).insertion = 1;
  set_node(0, 1, 3, 0, -1, 0);   // mutation
  set_node(0, 3, 4, -1, 1, -1);  // insertion
  set_node(0, 2, 2, 0, -1, 1);   // kept
  set_node(0, 4, 0, 1, -1, -1);  // deletion
  set_node(2, 2, 4, 0, -1, 0);   // mutation
  std::ostringstream summary;
  std::srand(3);
  const Rows thetas = thetas_of(states, {{0, 1}, {2, 2}}, &summary);
  EXPECT_EQ(summary.str(), "0.166667 0.166667 0.333333 0.333333\n0.333333 0.166667 0.166667 0.333333\n");
  EXPECT_EQ(thetas, expected_draws(3, {{1, 1, 2, 2}, {2, 1, 1, 2}}));
  EXPECT_THROW(thetas_of(states, {{0, 3}}, nullptr), std::out_of_range);
}
