// End to end: simulate a case with known rate states, rates and segments,
// run the real sampler on it and check that its posterior finds them again.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <iostream>
#include <numeric>

#include "simulation/rate_state_oracle.h"
#include "support/process.h"

namespace {

namespace fs = std::filesystem;

const fs::path recovery_dir = fs::path(ALNSAMPLER_TEST_DATA_DIR) / "recovery_16_leaves";
constexpr int leaf_count = 16;
constexpr int iterations = 300;
constexpr int burn_in = 100;
const std::string simulation_seed = "11";
const std::string sampler_seed = "7";

// Thresholds. With the true parameters the posterior mode of the rate state
// is right for 97.6% of the modelled columns of this case (oracle); the
// sampler must also learn the rates, the segments and every ancestral value,
// so it is asked for 85%.
constexpr double min_rate_state_agreement = 0.85;
constexpr double min_right_segment_count = 0.5;

// Every number of a trace file (a "#event_rate" heading gives none).
std::vector<double> read_numbers(const fs::path& path) {
  std::vector<double> numbers;
  for (const auto& row : read_rows<double>(path)) numbers.insert(numbers.end(), row.begin(), row.end());
  return numbers;
}

// One post-burn-in iteration of the sampler, its rate states renamed by rank
// of their mutation rate, so that state labels mean the same in every
// iteration and match the truth (whose rates are ranked the same way).
struct Draw {
  std::vector<int> column_states;
  std::vector<double> deletion_rates;
  std::vector<double> mutation_rates;
  std::size_t segment_count = 0;
};

std::vector<int> ranks(const std::vector<double>& rates) {
  std::vector<int> order(rates.size());
  std::iota(order.begin(), order.end(), 0);
  std::sort(order.begin(), order.end(), [&](int a, int b) { return rates[a] < rates[b]; });
  std::vector<int> rank(rates.size());
  for (std::size_t r = 0; r < order.size(); ++r) rank[order[r]] = static_cast<int>(r);
  return rank;
}

Draw read_draw(const std::string& prefix, int iteration) {
  const std::string i = std::to_string(iteration);
  const auto deletions = read_numbers(prefix + "_deletions_" + i + ".txt");
  const auto mutations = read_numbers(prefix + "_mutations_" + i + ".txt");
  const auto states = read_numbers(prefix + "_map_column_to_rate_state_" + i + ".txt");
  const std::vector<int> rank = ranks(mutations);
  Draw draw;
  draw.deletion_rates.resize(rank.size());
  draw.mutation_rates.resize(rank.size());
  for (std::size_t k = 0; k < rank.size(); ++k) {
    draw.deletion_rates[rank[k]] = deletions.at(k);
    draw.mutation_rates[rank[k]] = mutations.at(k);
  }
  for (const double state : states) draw.column_states.push_back(rank.at(static_cast<int>(state)));
  draw.segment_count = read_lines(prefix + "_from_tos_" + i + ".txt").size();
  return draw;
}

std::vector<int> posterior_modes(const std::vector<Draw>& draws, std::size_t columns, std::size_t states) {
  std::vector<int> modes(columns);
  for (std::size_t c = 0; c < columns; ++c) {
    std::vector<int> votes(states, 0);
    for (const auto& draw : draws) ++votes.at(draw.column_states.at(c));
    modes[c] = static_cast<int>(std::max_element(votes.begin(), votes.end()) - votes.begin());
  }
  return modes;
}

// The true rate of every state (ranked) lies within the range of its draws.
void expect_within_draws(const std::vector<Draw>& draws, const std::vector<double> Draw::*rates,
                         const std::vector<double>& true_rates, const std::string& what) {
  for (std::size_t k = 0; k < true_rates.size(); ++k) {
    std::vector<double> values;
    for (const auto& draw : draws) values.push_back((draw.*rates)[k]);
    const auto [low, high] = std::minmax_element(values.begin(), values.end());
    std::cout << what << " rate of state " << k << ": true " << true_rates[k] << ", posterior " << *low << " .. "
              << *high << "\n";
    EXPECT_GE(true_rates[k], *low) << what << " rate of state " << k;
    EXPECT_LE(true_rates[k], *high) << what << " rate of state " << k;
  }
}

TEST(Recovery, TheSamplerFindsTheTrueRateStatesRatesAndSegments) {
  TempDir root;
  const fs::path case_dir = root.path() / "data" / "recovery";
  fs::create_directories(root.path() / "results" / "recovery");
  const ProcessResult simulated = run_process(
      ALNSIMULATE_EXECUTABLE, {"-p", (recovery_dir / "parameters").string(), "-T", (recovery_dir / "tree").string(),
                               "-o", case_dir.string(), "-s", simulation_seed});
  ASSERT_EQ(simulated.exit_status, 0) << simulated.err;
  const ProcessResult sampled = run_process(
      sampler_executable(),
      {"-r", root.dir(), "-t", "recovery/", "-n", std::to_string(iterations), "-s", sampler_seed, "-k", "4"});
  ASSERT_EQ(sampled.exit_status, 0) << sampled.err;

  const auto parameters = read_parameters(recovery_dir / "parameters", leaf_count);
  const CaseTruth truth = read_case_truth(case_dir, parameters);
  const std::vector<int> true_rank = ranks(parameters.mutation_rates);
  std::vector<int> true_states;
  for (const int state : truth.rate_states) true_states.push_back(true_rank[state]);
  const std::size_t true_segments = read_lines(case_dir / "truth" / "modelled_from_tos.txt").size();

  const std::string prefix = (root.path() / "results" / "recovery" / sampler_seed).string();
  ASSERT_TRUE(fs::exists(prefix + "_map_column_to_rate_state_" + std::to_string(iterations) + ".txt"))
      << "alnsampler wrote no per-iteration files: it needs its full sampling loop";
  std::vector<Draw> draws;
  for (int i = burn_in + 1; i <= iterations; ++i) draws.push_back(read_draw(prefix, i));
  ASSERT_EQ(draws.front().column_states.size(), true_states.size());

  const std::vector<int> modes = posterior_modes(draws, true_states.size(), parameters.mutation_rates.size());
  const double agreement = fraction_equal(modes, true_states);
  const double oracle = fraction_equal(oracle_rate_states(truth, parameters), truth.rate_states);
  std::size_t right_segments = 0;
  for (const auto& draw : draws) right_segments += draw.segment_count == true_segments;
  const double segment_fraction = static_cast<double>(right_segments) / static_cast<double>(draws.size());

  std::cout << "modelled columns " << true_states.size() << ", rate-state agreement " << agreement << " (oracle "
            << oracle << "), right number of segments (" << true_segments << ") in " << segment_fraction
            << " of the draws\n";
  RecordProperty("rate_state_agreement", std::to_string(agreement));
  RecordProperty("oracle_agreement", std::to_string(oracle));
  RecordProperty("right_segment_count_fraction", std::to_string(segment_fraction));

  EXPECT_GE(agreement, min_rate_state_agreement);
  EXPECT_GE(segment_fraction, min_right_segment_count);
  std::vector<double> true_deletions(true_rank.size()), true_mutations(true_rank.size());
  for (std::size_t k = 0; k < true_rank.size(); ++k) {
    true_deletions[true_rank[k]] = parameters.deletion_rates[k];
    true_mutations[true_rank[k]] = parameters.mutation_rates[k];
  }
  expect_within_draws(draws, &Draw::deletion_rates, true_deletions, "deletion");
  expect_within_draws(draws, &Draw::mutation_rates, true_mutations, "mutation");
}

}  // namespace
