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

#include "io/diagnostics.h"
#include "numerics/worker_pool.h"
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
  PartitionSampler sampler(max_partitions, columns, 4);
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
    sampler.forward();
    for (long p = 1; p <= config.max_partitions; ++p) {
      for (long v = p + 1; v <= config.columns; ++v) {
        std::vector<double> terms;
        for (const FromTos& from_tos : placements(v, p)) terms.push_back(summed_blocks(sampler, from_tos));
        const double expected = log_sum_exp(terms) - std::log(static_cast<double>(terms.size()));
        EXPECT_NEAR(sampler.log_marginal(p, v), expected, 1e-12 * std::max(1.0, std::fabs(expected)))
            << "L=" << config.columns << " p=" << p << " v=" << v;
        if (p == 1) continue;
        double largest = 0.0;
        for (const double weight : sampler.backward_weights(p, v)) largest = std::max(largest, weight);
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
    sampler.forward();
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
      const long p = sampler.sample_number_partitions().p;
      ASSERT_GE(p, 1);
      ASSERT_LE(p, config.max_partitions);
      const FromTos from_tos = sampler.sample_partition_positions(p);
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

// The forward recursion shared among threads (pipelines of one to five
// threads, some with more threads than tasks) gives every value, and so every
// draw, of the single-threaded one, bit for bit; so does one thread with the
// diagnostics on (shown as 0 threads), which also do the last partition at
// every end column.
TEST(PartitionSampler, EveryNumberOfThreadsGivesTheSameValuesAndDraws) {
  for (long max_partitions = 2; max_partitions <= 6; ++max_partitions) {
    const long columns = 5 + 4 * max_partitions;
    std::vector<std::vector<double>> results;
    for (const int threads : {1, 2, 3, 5, 0}) {
      std::ostringstream shown;
      std::ostream* const before = set_diagnostics(threads == 0 ? &shown : nullptr);
      std::mt19937 engine(static_cast<unsigned>(max_partitions));
      PartitionSampler sampler = random_blocks_sampler(max_partitions, columns, engine);
      WorkerPool pool(std::max(threads, 1));
      sampler.use_worker_pool(&pool);
      sampler.forward();
      std::vector<double> values;
      for (long p = 1; p <= max_partitions; ++p) {
        for (long v = p + 1; v <= columns; ++v) values.push_back(sampler.log_marginal(p, v));
      }
      std::srand(7);
      for (int draw = 0; draw < 20; ++draw) {
        const long p = sampler.sample_number_partitions().p;
        for (const auto& from_to : sampler.sample_partition_positions(p)) values.push_back(from_to[0]);
      }
      set_diagnostics(before);
      results.push_back(values);
      EXPECT_EQ(results.back(), results.front()) << "k_max " << max_partitions << ", " << threads << " threads";
      if (threads == 0) {
        EXPECT_NE(shown.str().find("number of partitions p="), std::string::npos);
      }
    }
  }
}

