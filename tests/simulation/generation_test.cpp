#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <memory>
#include <optional>

#include "random/sampler.h"
#include "simulation/data_generation.h"
#include "support/errors.h"
#include "support/statistics.h"
#include "support/test_trees.h"

namespace {

const std::vector<int> residues{1, 2, 3, 4};
const std::vector<double> even{0.25, 0.25, 0.25, 0.25};

// Every parameter of generate_columns besides the tree, with a harmless
// default: one segment, one rate state, no events, no empty roots.
struct Simulation {
  TreeTable table = three_leaf_table();
  std::vector<std::vector<long>> from_tos{{0, 99}};
  std::vector<int> first_root_values = residues;
  std::vector<double> first_root_weights = even, gammas{0.0}, etas{1.0};
  std::vector<std::vector<std::vector<double>>> betas{{even, even, even, even}};
  std::vector<std::vector<double>> thetas{even};
  std::vector<double> initial_state_probs{1.0};
  std::vector<std::vector<double>> state_transitions{{1.0}};
  std::vector<double> deletion_rates{0.0}, insertion_rates{0.0}, mutation_rates{0.0};

  std::optional<SimulatedColumns> result{};  // of run()
  std::vector<int> states{};
  std::vector<std::vector<int>> leaf_rows{};

  void run(unsigned int seed) {
    GenerationParameters parameters;
    parameters.from_tos = from_tos;
    parameters.gammas = gammas;
    parameters.etas = etas;
    parameters.betas = betas;
    parameters.thetas = thetas;
    parameters.deletion_rates = deletion_rates;
    parameters.insertion_rates = insertion_rates;
    parameters.mutation_rates = mutation_rates;
    parameters.initial_state_probs = initial_state_probs;
    parameters.state_transitions = state_transitions;
    parameters.first_root_values = first_root_values;
    parameters.first_root_weights = first_root_weights;
    std::srand(seed);
    result.emplace(generate_columns(std::make_shared<const TreeTopology>(table), parameters, residues));
    states = result->rate_states;
    leaf_rows.clear();
    for (std::size_t c = 0; c < result->states.columns(); ++c) leaf_rows.push_back(result->states.leaf_values(c));
  }

  int root_value(std::size_t column) const { return result->states.root_value(column); }
};

void expect_binomial(double events, double trials, double probability, const std::string& what) {
  ASSERT_GT(trials, 0.0) << what;
  const double standard_error = std::sqrt(probability * (1.0 - probability) / trials);
  EXPECT_NEAR(events / trials, probability, 5.0 * standard_error + 1e-12) << what << " (" << trials << " trials)";
}

// Per branch: deletions among residues below a residue, and mutation events
// among kept residues, against 1 - exp(-rate t); mutated residues against the
// frequencies they are drawn from.
TEST(Generation, BranchEventsFollowTheirRatesAndMutationsTheFrequencies) {
  ColumnStates states = blank_columns(random_table(8, 3), 1);
  const TreeTopology& tree = states.topology();
  const StateRates rates{0.4, 0.0, 1.5};
  const std::vector<double> thetas{0.1, 0.2, 0.3, 0.4};
  Sampler<int, double> value_sampler(residues, thetas), root_sampler(residues, even), unused({0, 1}, {0.5, 0.5});
  const std::size_t node_count = states.nodes();
  std::vector<double> deletions(node_count), residue_parents(node_count), mutations(node_count), kept(node_count);
  std::vector<double> mutated_values(4, 0.0);
  std::srand(11);
  for (int column = 0; column < 20000; ++column) {
    generate_column(states, 0, -1, {unused, unused, root_sampler, value_sampler}, rates);
    for (std::size_t label = 1; label < node_count; ++label) {
      const NodeState& node = states.at(0, static_cast<int>(label));
      const int parent = states.at(0, tree.label(tree.parent(tree.node_of(static_cast<int>(label))))).value;
      if (parent == 0) {
        ASSERT_EQ(node.value, 0);
        ASSERT_EQ(node.insertion, 0);
        continue;
      }
      residue_parents[label] += 1.0;
      if (node.deletion == 1) {
        ASSERT_EQ(node.value, 0);
        deletions[label] += 1.0;
        continue;
      }
      kept[label] += 1.0;
      if (node.bond == 0) {
        mutations[label] += 1.0;
        mutated_values[node.value - 1] += 1.0;
      } else {
        ASSERT_EQ(node.value, parent);
      }
    }
  }
  const double deletion_rate = rates.deletion, mutation_rate = rates.mutation;
  for (std::size_t label = 1; label < node_count; ++label) {
    const double t = tree.length_above(static_cast<int>(label));
    const std::string above = " above node " + std::to_string(label);
    expect_binomial(deletions[label], residue_parents[label], 1.0 - std::exp(-deletion_rate * t), "deletions" + above);
    expect_binomial(mutations[label], kept[label], 1.0 - std::exp(-mutation_rate * t), "mutations" + above);
  }
  EXPECT_GT(chi_square_test(mutated_values, thetas), 1e-6);
}

// A state k is kept for a run of length l with probability A[k][k]^(l-1)
// (1 - A[k][k]), and left for j with probability A[k][j] / (1 - A[k][k]).
TEST(Generation, RateStateRunsFollowTheTransitionMatrix) {
  Simulation simulation{.from_tos = {{0, 19999}},
                        .initial_state_probs = {0.2, 0.3, 0.5},
                        .state_transitions = {{0.9, 0.06, 0.04}, {0.2, 0.7, 0.1}, {0.25, 0.25, 0.5}},
                        .deletion_rates = {0, 0, 0},
                        .insertion_rates = {0, 0, 0},
                        .mutation_rates = {0, 0, 0}};
  simulation.run(23);
  const auto& states = simulation.states;
  ASSERT_EQ(states.size(), 20000u);

  const std::size_t bins = 10;
  std::vector<std::vector<double>> run_lengths(3, std::vector<double>(bins, 0.0));
  std::vector<std::vector<double>> exits(3, std::vector<double>(3, 0.0));
  std::size_t run_start = 0;
  for (std::size_t c = 1; c < states.size(); ++c) {
    if (states[c] == states[c - 1]) continue;
    run_lengths[states[c - 1]][std::min(c - run_start, bins) - 1] += 1.0;
    exits[states[c - 1]][states[c]] += 1.0;
    run_start = c;
  }
  for (int k = 0; k < 3; ++k) {
    const double stay = simulation.state_transitions[k][k];
    std::vector<double> probabilities;
    for (std::size_t l = 1; l < bins; ++l) probabilities.push_back(std::pow(stay, l - 1.0) * (1.0 - stay));
    probabilities.push_back(std::pow(stay, bins - 1.0));
    EXPECT_GT(chi_square_test(run_lengths[k], probabilities), 1e-6) << "run lengths of state " << k;
    std::vector<double> observed, expected;
    for (int j = 0; j < 3; ++j) {
      if (j == k) continue;
      observed.push_back(exits[k][j]);
      expected.push_back(simulation.state_transitions[k][j] / (1.0 - stay));
    }
    EXPECT_GT(chi_square_test(observed, expected), 1e-6) << "exits of state " << k;
  }
}

// Without events every node copies its root, with the indicators of a kept
// residue, or of emptiness below an empty root; the leaf file says the same.
TEST(Generation, WithAllRatesZeroEveryNodeCopiesItsRoot) {
  Simulation simulation{.table = random_table(6, 8), .from_tos = {{0, 299}}, .gammas = {0.3}, .etas = {0.5}};
  simulation.run(7);
  int empty_roots = 0;
  const ColumnStates& states = simulation.result->states;
  for (std::size_t c = 0; c < states.columns(); ++c) {
    const int root = states.root_value(c);
    empty_roots += root == 0;
    for (std::size_t label = 1; label < states.nodes(); ++label) {
      const NodeState& node = states.at(c, static_cast<int>(label));
      ASSERT_EQ(node.value, root);
      ASSERT_EQ(std::vector<int>({node.deletion, node.insertion, node.bond}),
                root == 0 ? std::vector<int>({-1, 0, -1}) : std::vector<int>({0, -1, 1}));
    }
    ASSERT_EQ(simulation.leaf_rows[c], std::vector<int>(6, root));
  }
  EXPECT_GT(empty_roots, 0);
  EXPECT_LT(empty_roots, 300);
}

// With gammas 1 every column after a residue root is empty and etas 0 keep
// it so; the first column still draws its root from the first-root weights.
TEST(Generation, TheFirstColumnNeverStartsEmptyAndEtasZeroKeepEmptyColumnsEmpty) {
  Simulation simulation{.from_tos = {{0, 9}},
                        .first_root_values = {0, 3},
                        .first_root_weights = {0.0, 1.0},
                        .gammas = {1.0},
                        .etas = {0.0},
                        .mutation_rates = {2.0}};
  for (unsigned int seed = 1; seed <= 20; ++seed) {
    simulation.run(seed);
    EXPECT_EQ(simulation.root_value(0), 3);
    for (std::size_t c = 1; c < 10; ++c) {
      EXPECT_EQ(simulation.root_value(c), 0);
      EXPECT_EQ(simulation.leaf_rows[c], std::vector<int>(3, 0));
    }
  }
}

// Two segments with their own gammas, etas, betas and thetas: every
// transition into a column follows the parameters of that column's segment
// (betas after a residue, thetas after an empty root).
TEST(Generation, TheRootChainFollowsTheParametersOfEachSegment) {
  Simulation simulation{
      .from_tos = {{0, 9999}, {10000, 19999}},
      .gammas = {0.15, 0.05},
      .etas = {0.4, 0.7},
      .betas = {{{0.7, 0.1, 0.1, 0.1}, {0.1, 0.6, 0.2, 0.1}, {0.05, 0.05, 0.8, 0.1}, {0.2, 0.2, 0.2, 0.4}},
                {{0.1, 0.7, 0.1, 0.1}, {0.1, 0.1, 0.7, 0.1}, {0.1, 0.1, 0.1, 0.7}, {0.7, 0.1, 0.1, 0.1}}},
      .thetas = {{0.1, 0.2, 0.3, 0.4}, {0.4, 0.3, 0.2, 0.1}}};
  simulation.run(31);

  for (std::size_t s = 0; s < 2; ++s) {
    std::vector<std::vector<double>> next(5, std::vector<double>(5, 0.0));
    const std::size_t from = std::max<std::size_t>(simulation.from_tos[s][0], 1);
    for (std::size_t c = from; c <= static_cast<std::size_t>(simulation.from_tos[s][1]); ++c) {
      next[simulation.root_value(c - 1)][simulation.root_value(c)] += 1.0;
    }
    const std::string segment = "segment " + std::to_string(s);
    double after_residue = 0.0, emptied = 0.0;
    for (int r = 1; r <= 4; ++r) {
      for (int v = 0; v <= 4; ++v) after_residue += next[r][v];
      emptied += next[r][0];
      const std::vector<double> residue_counts(next[r].begin() + 1, next[r].end());
      EXPECT_GT(chi_square_test(residue_counts, simulation.betas[s][r - 1]), 1e-6) << segment << " after " << r;
    }
    expect_binomial(emptied, after_residue, simulation.gammas[s], segment + ": emptied roots");
    double after_empty = 0.0;
    for (int v = 0; v <= 4; ++v) after_empty += next[0][v];
    expect_binomial(after_empty - next[0][0], after_empty, simulation.etas[s], segment + ": refilled roots");
    const std::vector<double> refilled(next[0].begin() + 1, next[0].end());
    EXPECT_GT(chi_square_test(refilled, simulation.thetas[s]), 1e-6) << segment << " after empty";
  }
}

// The generator cannot simulate insertions: one below an empty root ends the run.
TEST(Generation, AnInsertionEventStopsTheRun) {
  ColumnStates states = blank_columns(three_leaf_table(), 1);
  Sampler<int, double> empty_root({0}, {1.0}), value_sampler(residues, even);
  EXPECT_TRUE(throws_error<InternalError>(
      [&] {
        generate_column(states, 0, -1, {empty_root, empty_root, empty_root, value_sampler}, {0.0, 1e300, 0.0});
      },
      -1, "^insertion in simulation occurs unexpectedly! \n$"));
}

}  // namespace
