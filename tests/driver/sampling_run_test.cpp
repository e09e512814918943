#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "driver/finite_guard.h"
#include "driver/output_tracks.h"
#include "driver/sampler_case.h"
#include "support/errors.h"

namespace {

namespace fs = std::filesystem;
constexpr std::size_t kept_columns = SamplerCase::kept_columns;

// A write that fails in iteration r ends the run with status 1 and leaves
// the files of iterations 1 to r-1 complete.
TEST(SamplingRun, FailedWriteInALaterIterationKeepsTheEarlierOnes) {
  SamplerCase c;
  fs::create_symlink("/dev/full", c.file("_theta_shapes_2.txt"));
  const auto result = c.run({"-n", "3"});
  EXPECT_EQ(result.exit_status, 1);
  EXPECT_EQ(result.err, "cannot write output file " + c.file("_theta_shapes_2.txt") + "\n");
  EXPECT_EQ(read_lines(c.file("_post_para.txt")).size(), 1u);
  EXPECT_EQ(read_lines(c.file("_map_column_to_rate_state_1.txt")).size(), kept_columns);
  EXPECT_EQ(read_lines(c.file("_rate_state_transitions.txt")).size(), 3u);
  EXPECT_FALSE(fs::exists(c.file("_map_column_to_rate_state_2.txt")));

  SamplerCase log_probability;
  fs::create_symlink("/dev/full", log_probability.file("_post_para.txt"));
  const auto failed = log_probability.run({"-n", "2"});
  EXPECT_EQ(failed.exit_status, 1);
  EXPECT_EQ(failed.err, "cannot write output file " + log_probability.file("_post_para.txt") + "\n");
  EXPECT_TRUE(fs::exists(log_probability.file("_map_column_to_rate_state_1.txt")));
  EXPECT_FALSE(fs::exists(log_probability.file("_from_tos_2.txt")));
}

// --ancestors adds the ancestor files and changes no other byte; another seed
// writes files of its own. No residue can sit below an empty node, and no
// root is empty (leaves 2, 3, 4 hold sequences 0, 1, 2; node 1 is the parent
// of leaves 3 and 4).
TEST(SamplingRun, AncestorsOptionAddsOnlyTheAncestorFilesAndTheSeedDecidesTheRest) {
  SamplerCase plain;
  SamplerCase with_ancestors;
  ASSERT_EQ(plain.run({"-n", "3"}).exit_status, 0);
  const auto result = with_ancestors.run({"-n", "3", "--ancestors"});
  ASSERT_EQ(result.exit_status, 0) << result.err;
  Files ancestors = with_ancestors.outputs();
  for (int i = 1; i <= 3; ++i) ancestors.erase("3_ancestors_" + std::to_string(i) + ".txt");
  EXPECT_TRUE(ancestors == plain.outputs());
  ASSERT_EQ(plain.run({"-n", "3", "-s", "12"}).exit_status, 0);
  EXPECT_EQ(plain.output_count(), 2 * ancestors.size());
  EXPECT_NE(read_file(plain.file("_post_para.txt")), read_file(plain.file("_post_para.txt", "12")));

  const std::vector<std::vector<int>> kept{{1, 1, 1}, {2, 2, 3}, {3, 0, 3}, {4, 4, 5}, {1, 2, 3},
                                           {2, 2, 2}, {3, 3, 0}, {4, 1, 4}, {1, 1, 2}};
  const auto is_residue = [](int value) { return value >= 1 && value <= 4; };
  for (int i = 1; i <= 3; ++i) {
    const auto rows = read_rows<int>(with_ancestors.file("_ancestors_" + std::to_string(i) + ".txt"));
    ASSERT_EQ(rows.size(), kept.size());
    for (std::size_t c = 0; c < rows.size(); ++c) {
      ASSERT_EQ(rows[c].size(), 2u);
      EXPECT_TRUE(is_residue(rows[c][0])) << "root of column " << c;
      EXPECT_TRUE(rows[c][1] != 0 || !(is_residue(kept[c][1]) || is_residue(kept[c][2]))) << "column " << c;
    }
  }
}

// A branch of length 0 carries no event. With the branch above leaf 5
// (sequence 0) of the shipped case at length 0, long runs complete with every
// trace finite, and the parent of leaf 5 (node 2) holds sequence 0's residue
// in every column of every iteration.
TEST(SamplingRun, ZeroLengthLeafBranchCarriesNoEvent) {
  SamplerCase c;
  c.copy_shipped_case("test_case_23_6sp");
  std::string tree = read_file(c.data_dir() / "tree.txt");
  tree.replace(tree.find("2 5 0.2"), 7, "2 5 0");
  c.write_data("tree.txt", tree);
  std::vector<int> reference;  // sequence 0 of every modelled column
  for (const auto& row : read_rows<int>(c.data_dir() / "data.txt")) {
    if (row.at(0) >= 1 && row.at(0) <= 4) reference.push_back(row[0]);
  }
  for (const char* seed : {"1", "2", "3"}) {
    const auto result = c.run({"-s", seed, "-n", "120", "--ancestors"});
    ASSERT_EQ(result.exit_status, 0) << "seed " << seed << ": " << result.err;
    ASSERT_EQ(c.first_non_finite_word(), "") << "seed " << seed;
    for (int i = 1; i <= 120; ++i) {
      const auto rows = read_rows<int>(c.file("_ancestors_" + std::to_string(i) + ".txt", seed));
      ASSERT_EQ(rows.size(), reference.size());
      for (std::size_t column = 0; column < rows.size(); ++column) {
        ASSERT_EQ(rows[column].at(2), reference[column]) << "seed " << seed << " iteration " << i << " col " << column;
      }
    }
  }
}

// The same with the branch from the root to leaf 2 (sequence 0) at length 0:
// the parsimony start must not leave the root at another residue.
TEST(SamplingRun, ZeroLengthBranchBelowTheRootFromTheFirstIteration) {
  SamplerCase c;
  c.write_data("tree.txt", "0 1 0.5\n0 2 0\n1 3 1\n1 4 2\n");
  for (const char* seed : {"1", "2", "3", "4", "5", "6", "7", "8"}) {
    const auto result = c.run({"-s", seed, "-n", "5", "-k", "2", "--ancestors"});
    ASSERT_EQ(result.exit_status, 0) << "seed " << seed << ": " << result.err;
    const auto rows = read_rows<int>(c.file("_ancestors_1.txt", seed));
    for (std::size_t column = 0; column < rows.size(); ++column)
      EXPECT_EQ(rows[column].at(0), "123412341"[column] - '0');
  }
}

// The whole sampler with and without the marginal rate moves targets the
// same posterior: on the small case, where both chains mix, long runs agree
// on the number of segments and on how often the middle and the slowest
// mutation rates lie near zero (within five standard errors of thinned,
// nearly independent draws).
TEST(SamplingRun, MarginalRateMovesKeepThePosterior) {
  const long iterations = 20000, thin = 20, first = 2000;
  const double draws = static_cast<double>((iterations - first) / thin + 1);
  std::vector<std::vector<double>> shares;  // per run: P(k = 1), P(k = 4), P(middle rate < 1e-6), P(lowest < 1e-6)
  for (const char* moves : {"0", "1"}) {
    SamplerCase c;
    const auto result =
        c.run({"-n", std::to_string(iterations), "--thin", std::to_string(thin), "--marginal-rate-moves", moves});
    ASSERT_EQ(result.exit_status, 0) << result.err;
    std::vector<double> share(4, 0.0);
    for (long i = first; i <= iterations; i += thin) {
      const std::string at = std::to_string(i) + ".txt";
      const std::size_t k = read_lines(c.file("_from_tos_" + at)).size();
      std::vector<double> sorted;
      for (const auto& row : read_rows<double>(c.file("_mutations_" + at)))
        sorted.insert(sorted.end(), row.begin(), row.end());
      std::sort(sorted.begin(), sorted.end());
      share[0] += k == 1;
      share[1] += k == 4;
      share[2] += sorted.at(1) < 1e-6;
      share[3] += sorted.at(0) < 1e-6;
    }
    for (double& p : share) p /= draws;
    shares.push_back(share);
  }
  for (std::size_t j = 0; j < 4; ++j) {
    const double p = 0.5 * (shares[0][j] + shares[1][j]);
    EXPECT_NEAR(shares[0][j], shares[1][j], 5 * std::sqrt(2 * p * (1 - p) / draws) + 1e-9) << "share " << j;
  }
}

// A value that is not finite stops the run before it is written, naming the
// quantity and the iteration; headers and finite numbers pass.
TEST(FiniteGuard, NonFiniteValuesStopTheRun) {
  ensure_finite_text("#event_rate\n0.25\n1e-300\n-0\n", "deletion rates", 1);
  ensure_finite_value(-1e300, "log posterior total (post_para)", 1);
  EXPECT_TRUE(throws_error<InternalError>(
      [] { ensure_finite_text("#event_rate\n0.5\ninf\n", iteration_track(Track::deletions).what, 7); }, -1,
      "^internal error: iteration 7 would write the value inf to the deletion rates; the run stops"));
  EXPECT_TRUE(
      throws_error<InternalError>([] { ensure_finite_text("0.2 -nan 0.3\n", iteration_track(Track::theta_shapes).what, 2); }, -1,
                                  "value -nan to the theta shapes"));
  EXPECT_TRUE(throws_error<InternalError>([] { ensure_finite_value(-HUGE_VAL, "log posterior total", 3); }, -1,
                                          "iteration 3 would write the value -inf to the log posterior total"));
}

}  // namespace
