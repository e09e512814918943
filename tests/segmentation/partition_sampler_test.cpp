#include "segmentation/partition_sampler.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <map>
#include <random>
#include <sstream>
#include <stdexcept>
#include <vector>

#include "support/statistics.h"

namespace {

using FromTos = std::vector<std::vector<long>>;

// Every admissible placement of p partitions on columns 1..L, as 0-based
// from_tos: partition 1 starts at column 1, the other starts are p - 1
// distinct columns of 3..L.
void add_placements(long columns, long p, std::vector<long>& starts, std::vector<FromTos>& all) {
  if (static_cast<long>(starts.size()) == p) {
    FromTos from_tos;
    for (std::size_t k = 0; k < starts.size(); ++k) {
      const long end = k + 1 < starts.size() ? starts[k + 1] - 1 : columns;
      from_tos.push_back({starts[k] - 1, end - 1});
    }
    all.push_back(from_tos);
    return;
  }
  for (long s = std::max(3L, starts.back() + 1); s <= columns; ++s) {
    starts.push_back(s);
    add_placements(columns, p, starts, all);
    starts.pop_back();
  }
}

std::vector<FromTos> placements(long columns, long p) {
  std::vector<FromTos> all;
  std::vector<long> starts{1};
  add_placements(columns, p, starts, all);
  return all;
}

double log_binomial(long n, long k) { return std::lgamma(n + 1.0) - std::lgamma(k + 1.0) - std::lgamma(n - k + 1.0); }

double summed_blocks(const PartitionSampler& sampler, const FromTos& from_tos) {
  double sum = 0.0;
  for (const auto& from_to : from_tos) sum += sampler.block_log_likelihood(from_to[1] + 1, from_to[0] + 1);
  return sum;
}

double log_sum_exp(const std::vector<double>& terms) {
  const double top = *std::max_element(terms.begin(), terms.end());
  double sum = 0.0;
  for (const double term : terms) sum += std::exp(term - top);
  return top + std::log(sum);
}

// A sampler whose block log likelihoods are arbitrary values in [-6, 6].
PartitionSampler random_blocks_sampler(long max_partitions, long columns, std::mt19937& engine) {
  std::vector<PhyTree*> no_trees;
  PartitionSampler sampler(max_partitions, columns, 4, no_trees);
  std::uniform_real_distribution<double> block(-6.0, 6.0);
  for (long v = 1; v <= columns; ++v) {
    for (long u = 1; u <= v; ++u) sampler.set_block_log_likelihood(v, u, block(engine));
  }
  return sampler;
}

struct Configuration {
  long columns;
  long max_partitions;
};

std::vector<Configuration> small_configurations() {
  std::vector<Configuration> all;
  for (long columns = 2; columns <= 9; ++columns) {
    for (long p = 1; p <= std::min(4L, columns - 1); ++p) all.push_back({columns, p});
  }
  return all;
}

bool covers_all_columns(const FromTos& from_tos, long columns) {
  if (from_tos.empty() || from_tos.front()[0] != 0 || from_tos.front()[1] < 1) return false;
  for (std::size_t k = 0; k < from_tos.size(); ++k) {
    if (from_tos[k].size() != 2 || from_tos[k][1] < from_tos[k][0]) return false;
    if (k > 0 && from_tos[k][0] != from_tos[k - 1][1] + 1) return false;
  }
  return from_tos.back()[1] == columns - 1;
}

}  // namespace

// Every prefix 1..v in every number of partitions p: the log of the mean,
// over all admissible placements, of the product of block likelihoods.
TEST(PartitionSampler, ForwardGivesTheMeanOverEnumeratedPlacements) {
  std::mt19937 engine(7);
  for (const Configuration& config : small_configurations()) {
    PartitionSampler sampler = random_blocks_sampler(config.max_partitions, config.columns, engine);
    sampler.forward(nullptr);
    for (long p = 1; p <= config.max_partitions; ++p) {
      for (long v = p + 1; v <= config.columns; ++v) {
        std::vector<double> terms;
        for (const FromTos& from_tos : placements(v, p)) terms.push_back(summed_blocks(sampler, from_tos));
        const double expected = log_sum_exp(terms) - std::log(static_cast<double>(terms.size()));
        EXPECT_NEAR(sampler.log_marginal(p, v), expected, 1e-12 * std::max(1.0, std::fabs(expected)))
            << "L=" << config.columns << " p=" << p << " v=" << v;
        if (p == 1) continue;
        double largest = 0.0;
        for (long u = p + 1; u <= v; ++u) largest = std::max(largest, sampler.backward_weight(p, v, u));
        EXPECT_EQ(largest, 1.0);
      }
      EXPECT_NEAR(sampler.log_position_prior(p), -log_binomial(config.columns - 2, p - 1), 1e-12);
    }
  }
}

// Exact posterior of (p, placement) under a uniform prior on p and on the
// placements given p, against many draws; every draw also gets its
// posterior term checked.
TEST(PartitionSampler, DrawsFollowTheEnumeratedPosterior) {
  std::mt19937 engine(11);
  std::srand(12345);
  for (const Configuration& config : small_configurations()) {
    PartitionSampler sampler = random_blocks_sampler(config.max_partitions, config.columns, engine);
    sampler.forward(nullptr);
    std::map<FromTos, std::size_t> cell;
    std::vector<double> log_weights;
    for (long p = 1; p <= config.max_partitions; ++p) {
      for (const FromTos& from_tos : placements(config.columns, p)) {
        cell[from_tos] = log_weights.size();
        log_weights.push_back(summed_blocks(sampler, from_tos) - log_binomial(config.columns - 2, p - 1));
      }
    }
    const double log_total = log_sum_exp(log_weights);
    std::vector<double> probabilities;
    for (const double log_weight : log_weights) probabilities.push_back(std::exp(log_weight - log_total));

    std::vector<double> observed(log_weights.size(), 0.0);
    for (int draw = 0; draw < 5000; ++draw) {
      const long p = sampler.sample_number_partitions(nullptr);
      ASSERT_GE(p, 1);
      ASSERT_LE(p, config.max_partitions);
      const FromTos from_tos = sampler.sample_partition_positions(p, nullptr);
      ASSERT_EQ(static_cast<long>(from_tos.size()), p);
      ASSERT_TRUE(covers_all_columns(from_tos, config.columns));
      observed[cell.at(from_tos)] += 1;

      double log_posterior_term = 0.0;
      const double log_prior = sampler.compute_post_para(from_tos, log_posterior_term);
      EXPECT_NEAR(log_prior, -log_binomial(config.columns - 2, p - 1), 1e-12);
      EXPECT_NEAR(log_posterior_term, log_prior + summed_blocks(sampler, from_tos), 1e-12);
    }
    EXPECT_GT(chi_square_test(observed, probabilities), 1e-6)
        << "L=" << config.columns << " P=" << config.max_partitions;
  }
}

// The run's start-up: a default sampler takes a copy of a built one, which
// then goes away; the copy must carry every table.
TEST(PartitionSampler, AssignedCopyDrawsLikeItsSource) {
  std::mt19937 engine(3);
  PartitionSampler copy;
  std::vector<long> source_draws;
  {
    PartitionSampler source = random_blocks_sampler(3, 8, engine);
    source.forward(nullptr);
    copy = source;
    std::srand(99);
    for (int i = 0; i < 20; ++i) {
      const long p = source.sample_number_partitions(nullptr);
      source_draws.push_back(p);
      for (const auto& from_to : source.sample_partition_positions(p, nullptr)) source_draws.push_back(from_to[0]);
    }
  }
  std::srand(99);
  std::vector<long> copy_draws;
  for (int i = 0; i < 20; ++i) {
    const long p = copy.sample_number_partitions(nullptr);
    copy_draws.push_back(p);
    for (const auto& from_to : copy.sample_partition_positions(p, nullptr)) copy_draws.push_back(from_to[0]);
  }
  EXPECT_EQ(copy_draws, source_draws);
}

TEST(PartitionSampler, NumberDrawWritesTheRowOfLogMarginals) {
  std::mt19937 engine(5);
  PartitionSampler sampler = random_blocks_sampler(3, 6, engine);
  sampler.forward(nullptr);
  std::ostringstream expected;
  expected << sampler.log_marginal(1, 6) << " " << sampler.log_marginal(2, 6) << " " << sampler.log_marginal(3, 6)
           << "\n";
  std::ostringstream out;
  sampler.sample_number_partitions(&out);
  EXPECT_EQ(out.str(), expected.str());
}

TEST(PartitionSamplerDeathTest, NumberDrawWithoutPartitionsEndsTheRun) {
  PartitionSampler sampler;
  EXPECT_EXIT(sampler.sample_number_partitions(nullptr), ::testing::ExitedWithCode(255),
              "^no max is initialized in PartitionSampler::sample_number_partitions!$");
}

// Block likelihoods 1..2: 0.5, 1..3: 0.25, 3..3: 1. The weight lines switch
// the stream to scientific notation for good.
TEST(PartitionSampler, DiagnosticStreamsCarryTheirFixedText) {
  std::vector<PhyTree*> no_trees;
  PartitionSampler sampler(2, 3, 4, no_trees);
  sampler.set_block_log_likelihood(2, 1, 0.5);
  sampler.set_block_log_likelihood(3, 1, 0.25);
  sampler.set_block_log_likelihood(3, 3, 1.0);
  std::ostringstream forward_text;
  sampler.forward(&forward_text);
  EXPECT_EQ(forward_text.str(),
            "\n in PartitionSampler::forward \n"
            "number of partitions p=1 v:2 _f.at(p).at(v-(p+1)):0.5\n"
            "number of partitions p=1 v:3 _f.at(p).at(v-(p+1)):0.25\n"
            "number of partitions p=1 log prob=0.25\n"
            "number of partitions p=2 v:3 u:3 _f.at(p-1).at(u-1):5.000000e-01 _b.at(p).at(v).at(u):1.000000e+00\n"
            "number of partitions p=2 v:3 _f.at(p).at(v-(p+1)):1.500000e+00\n"
            "number of partitions p=2 log prob=1.500000e+00\n");
  std::ostringstream positions_text;
  sampler.sample_partition_positions(2, &positions_text);
  EXPECT_EQ(positions_text.str(), "\n in sample_partition_positions: \n0 1\n2 2\n");
}

// The backward weights are rebuilt when asked for, from what the last forward
// saw: changing the blocks afterwards changes neither the weights nor the
// draws until forward runs again. Before any forward, and for one partition,
// every weight is 0.
TEST(PartitionSampler, BackwardWeightsKeepToTheLastForward) {
  std::mt19937 engine(13);
  PartitionSampler sampler = random_blocks_sampler(3, 9, engine);
  EXPECT_EQ(sampler.backward_weights(3, 9), std::vector<double>(6, 0.0));
  sampler.forward(nullptr);
  const std::vector<double> weights = sampler.backward_weights(3, 9);
  EXPECT_EQ(sampler.backward_weights(1, 9), std::vector<double>(8, 0.0));
  EXPECT_EQ(*std::max_element(weights.begin(), weights.end()), 1.0);
  std::srand(5);
  const FromTos before = sampler.sample_partition_positions(3, nullptr);

  for (long u = 1; u <= 9; ++u) sampler.set_block_log_likelihood(9, u, -3.0 * u);
  EXPECT_EQ(sampler.backward_weights(3, 9), weights);
  std::srand(5);
  EXPECT_EQ(sampler.sample_partition_positions(3, nullptr), before);

  sampler.forward(nullptr);
  EXPECT_NE(sampler.backward_weights(3, 9), weights);
  EXPECT_THROW(sampler.backward_weights(4, 9), std::out_of_range);
  EXPECT_THROW(sampler.backward_weights(3, 3), std::out_of_range);
  EXPECT_THROW(sampler.backward_weight(3, 9, 3), std::out_of_range);
}
