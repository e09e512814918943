#include "segmentation/block_likelihoods.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "segmentation/partition_sampler.h"
#include "support/test_trees.h"

namespace {

const std::vector<int> nonempty_value_index{0, 0, 1, 2, 3};
constexpr int num_values = 4;

// Any value 0..5 and any indicator -1..1 on every node, the root included:
// the counting rule must hold for every state, not only consistent ones.
void randomise_nodes(ColumnStates& states, std::mt19937& engine) {
  std::uniform_int_distribution<int> value(0, 5);
  std::uniform_int_distribution<int> indicator(-1, 1);
  for (std::size_t c = 0; c < states.columns(); ++c) {
    for (std::size_t label = 0; label < states.nodes(); ++label) {
      NodeState& node = states.at(c, static_cast<int>(label));
      node.value = static_cast<std::int8_t>(value(engine));
      node.deletion = static_cast<std::int8_t>(indicator(engine));
      node.insertion = static_cast<std::int8_t>(indicator(engine));
      node.bond = static_cast<std::int8_t>(indicator(engine));
    }
  }
}

struct BlockCounts {
  std::vector<std::vector<long>> transitions = std::vector<std::vector<long>>(4, std::vector<long>(4, 0));
  std::vector<long> values = std::vector<long>(4, 0);
};

// Counts of block u..v (columns 1-based) taken straight from the states.
BlockCounts recount(const ColumnStates& states, long u, long v) {
  BlockCounts counts;
  auto residue = [](int w) { return 1 <= w && w <= 4; };
  for (long c = u; c <= v; ++c) {
    const int b = states.root_value(c - 1);
    if (c >= 2) {
      const int a = states.root_value(c - 2);
      if (residue(a) && residue(b)) ++counts.transitions[a - 1][b - 1];
      if (a == 0 && residue(b)) ++counts.values[b - 1];
    }
    for (std::size_t label = 1; label < states.nodes(); ++label) {
      const NodeState& node = states.at(c - 1, static_cast<int>(label));
      if (node.value == 5) continue;
      if (node.insertion == 1 || (node.deletion == 0 && node.bond == 0))
        ++counts.values[nonempty_value_index[node.value]];
    }
  }
  return counts;
}

// ln Gamma(4) (as the model's literal) + sum ln Gamma(n_k + 1) - ln Gamma(sum (n_k + 1)),
// with direct lgamma calls: the model's lookup tables must give the same bits.
double dirichlet_multinomial(const std::vector<long>& counts) {
  double log_gammas = 0.0;
  double total = 0.0;
  for (const long n : counts) {
    log_gammas += std::lgamma(static_cast<double>(n) + 1);
    total += static_cast<double>(n) + 1;
  }
  return 1.791759 + log_gammas - std::lgamma(total);
}

double expected_block(const BlockCounts& counts) {
  double transition_term = 0.0;
  for (const auto& row : counts.transitions) transition_term += dirichlet_multinomial(row);
  return transition_term + dirichlet_multinomial(counts.values);
}

void expect_table_matches_recount(const PartitionSampler& sampler, const ColumnStates& states) {
  const long columns = static_cast<long>(states.columns());
  EXPECT_EQ(sampler.block_log_likelihood(1, 1), 0.0);
  for (long v = 2; v <= columns; ++v) {
    for (long u = 1; u <= v; ++u) {
      ASSERT_EQ(sampler.block_log_likelihood(v, u), expected_block(recount(states, u, v)))
          << "block " << u << ".." << v;
    }
  }
}

}  // namespace

TEST(BlockLikelihoods, EveryBlockEqualsItsRecountedMarginalBitForBit) {
  std::mt19937 engine(20240611);
  for (unsigned trial = 0; trial < 4; ++trial) {
    const TreeTable table = random_table(3 + static_cast<int>(trial), 100 + trial);
    const long columns = 6 + 3 * trial;
    ColumnStates states = blank_columns(table, columns);
    randomise_nodes(states, engine);

    PartitionSampler sampler(1, columns, num_values);
    sampler.compute_single_blocks(states);
    expect_table_matches_recount(sampler, states);

    // New states: every row must be rebuilt, not accumulated onto the old one.
    randomise_nodes(states, engine);
    sampler.compute_single_blocks(states);
    expect_table_matches_recount(sampler, states);

    // The row sweep gives every block's bits (block 1..v alone stands in
    // for its row when k_max = 1).
    BlockLikelihoods blocks(columns, num_values);
    blocks.count_columns(states);
    for (long v = 2; v <= columns; ++v) {
      std::vector<double> row(v + 1, 0.0);
      blocks.fill_row(v, 1, row);
      for (long u = 1; u <= v; ++u) ASSERT_EQ(row[u], sampler.block_log_likelihood(v, u)) << u << ".." << v;
    }

    std::vector<double> first;
    for (long v = 1; v <= columns; ++v) {
      for (long u = 1; u <= v; ++u) first.push_back(sampler.block_log_likelihood(v, u));
    }
    sampler.compute_single_blocks(states);
    std::size_t at = 0;
    for (long v = 1; v <= columns; ++v) {
      for (long u = 1; u <= v; ++u) EXPECT_EQ(sampler.block_log_likelihood(v, u), first[at++]);
    }
  }
}

// No counts at all: (K + 1) brackets of 1.791759 - ln 6, slightly below 0.
// A single column has no computed block.
TEST(BlockLikelihoods, CountlessBlocksAndTheSingleColumn) {
  const TreeTable table = three_leaf_table();
  ColumnStates states = columns_on(table, std::vector<std::vector<int>>(3, {5, 5, 5}));
  for (std::size_t c = 0; c < 3; ++c) {
    states.at(c, 1).value = 5;
    states.set_root_value(c, 0);
  }
  PartitionSampler sampler(2, 3, num_values);
  sampler.compute_single_blocks(states);
  const double empty = 5 * (1.791759 - std::lgamma(4.0));
  EXPECT_NEAR(empty, -2.35e-6, 1e-8);
  for (long v = 2; v <= 3; ++v) {
    for (long u = 1; u <= v; ++u) EXPECT_DOUBLE_EQ(sampler.block_log_likelihood(v, u), empty);
  }

  PartitionSampler single(0, 1, num_values);
  single.compute_single_blocks(blank_columns(table, 1));
  EXPECT_EQ(single.block_log_likelihood(1, 1), 0.0);
}
