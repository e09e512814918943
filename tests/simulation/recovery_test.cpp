// End to end: simulate a case with known rate states, rates and segments,
// run the real sampler on it and check that its posterior finds them again.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <iostream>
#include <numeric>

#include "support/process.h"

namespace {

namespace fs = std::filesystem;

const fs::path recovery_dir = fs::path(ALNSAMPLER_TEST_DATA_DIR) / "recovery_16_leaves";
constexpr int iterations = 300;
constexpr int burn_in = 100;

// With every generating parameter known, the posterior mode of the rate state
// is right for 97.6% of the modelled columns of this case; the sampler must
// also learn the rates, the segments and every ancestral value, so it is
// asked for 85%.
constexpr double min_rate_state_agreement = 0.85;
constexpr double min_right_segment_count = 0.5;

// Every number of a file (a "#event_rate" heading gives none).
std::vector<double> read_numbers(const fs::path& path) {
  std::vector<double> numbers;
  for (const auto& row : read_rows<double>(path)) numbers.insert(numbers.end(), row.begin(), row.end());
  return numbers;
}

// Rank of every rate state by its mutation rate, so that state labels mean
// the same in every iteration and in the truth (ranked the same way).
std::vector<int> ranks(const std::vector<double>& rates) {
  std::vector<int> order(rates.size());
  std::iota(order.begin(), order.end(), 0);
  std::sort(order.begin(), order.end(), [&](int a, int b) { return rates[a] < rates[b]; });
  std::vector<int> rank(rates.size());
  for (std::size_t r = 0; r < order.size(); ++r) rank[order[r]] = static_cast<int>(r);
  return rank;
}

// Rates by rank, and the column states renamed by rank.
struct Draw {
  std::vector<double> deletion_rates, mutation_rates;
  std::vector<int> column_states;
};

Draw ranked(const std::vector<double>& deletions, const std::vector<double>& mutations, const std::vector<double>& states) {
  const std::vector<int> rank = ranks(mutations);
  Draw draw{std::vector<double>(rank.size()), std::vector<double>(rank.size()), {}};
  for (std::size_t k = 0; k < rank.size(); ++k) {
    draw.deletion_rates[rank[k]] = deletions.at(k);
    draw.mutation_rates[rank[k]] = mutations.at(k);
  }
  for (const double state : states) draw.column_states.push_back(rank.at(static_cast<int>(state)));
  return draw;
}

TEST(Recovery, TheSamplerFindsTheTrueRateStatesRatesAndSegments) {
  TempDir root;
  const fs::path case_dir = root.path() / "data" / "recovery";
  fs::create_directories(root.path() / "results" / "recovery");
  const ProcessResult simulated = run_process(
      ALNSIMULATE_EXECUTABLE, {"-p", (recovery_dir / "parameters").string(), "-T", (recovery_dir / "tree").string(),
                               "-o", case_dir.string(), "-s", "11"});
  ASSERT_EQ(simulated.exit_status, 0) << simulated.err;
  const ProcessResult sampled = run_process(
      sampler_executable(), {"-r", root.dir(), "-t", "recovery/", "-n", std::to_string(iterations), "-s", "7", "-k", "4"});
  ASSERT_EQ(sampled.exit_status, 0) << sampled.err;

  const fs::path parameters = recovery_dir / "parameters";
  const Draw truth = ranked(read_numbers(parameters / "deletion_rates.txt"), read_numbers(parameters / "mutation_rates.txt"),
                            read_numbers(case_dir / "truth" / "modelled_rate_states.txt"));
  const std::size_t true_segments = read_lines(case_dir / "truth" / "modelled_from_tos.txt").size();
  const std::string prefix = (root.path() / "results" / "recovery" / "7").string();
  std::vector<Draw> draws;
  std::size_t right_segments = 0;
  for (int i = burn_in + 1; i <= iterations; ++i) {
    const std::string n = std::to_string(i) + ".txt";
    draws.push_back(ranked(read_numbers(prefix + "_deletions_" + n), read_numbers(prefix + "_mutations_" + n),
                           read_numbers(prefix + "_map_column_to_rate_state_" + n)));
    ASSERT_EQ(draws.back().column_states.size(), truth.column_states.size());
    right_segments += read_lines(prefix + "_from_tos_" + n).size() == true_segments;
  }
  // The posterior mode of every column's rate state against the truth.
  std::size_t agreeing = 0;
  for (std::size_t c = 0; c < truth.column_states.size(); ++c) {
    std::vector<int> votes(3, 0);
    for (const auto& draw : draws) ++votes.at(draw.column_states[c]);
    agreeing += std::max_element(votes.begin(), votes.end()) - votes.begin() == truth.column_states[c];
  }
  const double agreement = static_cast<double>(agreeing) / static_cast<double>(truth.column_states.size());
  const double segment_fraction = static_cast<double>(right_segments) / static_cast<double>(draws.size());
  std::cout << "rate-state agreement " << agreement << ", right number of segments (" << true_segments << ") in "
            << segment_fraction << " of the draws\n";
  EXPECT_GE(agreement, min_rate_state_agreement);
  EXPECT_GE(segment_fraction, min_right_segment_count);
  // The true rate of every state (ranked) lies within the range of its draws.
  for (const auto rates : {&Draw::deletion_rates, &Draw::mutation_rates}) {
    for (std::size_t k = 0; k < 3; ++k) {
      std::vector<double> values;
      for (const auto& draw : draws) values.push_back((draw.*rates)[k]);
      const auto [low, high] = std::minmax_element(values.begin(), values.end());
      EXPECT_GE((truth.*rates)[k], *low) << "state " << k;
      EXPECT_LE((truth.*rates)[k], *high) << "state " << k;
    }
  }
}

}  // namespace
