#include "updates/zv_sampler.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "numerics/worker_pool.h"
#include "support/errors.h"
#include "support/statistics.h"
#include "support/test_trees.h"
#include "tree/trans_probs.h"

namespace {

using Matrix = std::vector<std::vector<double>>;

// Index of a sequence of values 0..4, first value the fastest.
std::size_t sequence_index(const std::vector<int>& values) {
  std::size_t index = 0;
  for (auto it = values.rbegin(); it != values.rend(); ++it) index = 5 * index + *it;
  return index;
}

std::vector<int> sequence_at(std::size_t index, std::size_t length) {
  std::vector<int> values(length);
  for (auto& value : values) {
    value = static_cast<int>(index % 5);
    index /= 5;
  }
  return values;
}

// Everything the latent sampler is given, on the three-leaf tree
// (root 0 -> node 1, leaf 2; node 1 -> leaves 3, 4; leaf ids 0, 1, 2).
struct LatentModel {
  TreeTable table = three_leaf_table();
  std::vector<std::vector<int>> columns;
  std::vector<std::vector<long>> from_tos;
  std::vector<std::vector<double>> thetas{{0.1, 0.2, 0.3, 0.4}, {0.4, 0.3, 0.2, 0.1}};
  std::vector<Matrix> betas{
      {{0.7, 0.1, 0.1, 0.1}, {0.2, 0.5, 0.2, 0.1}, {0.1, 0.1, 0.6, 0.2}, {0.25, 0.25, 0.25, 0.25}},
      {{0.4, 0.3, 0.2, 0.1}, {0.1, 0.8, 0.05, 0.05}, {0.3, 0.3, 0.3, 0.1}, {0.1, 0.2, 0.3, 0.4}}};
  std::vector<int> rate_states;
  std::vector<double> deletion_rates{0.3, 0.6};
  std::vector<double> insertion_rates{0.2, 0.1};
  std::vector<double> mutation_rates{0.5, 1.2};
  std::vector<double> initial_value_probs{0.2, 0.2, 0.2, 0.2, 0.2};
  std::vector<double> gammas{0.1};
  std::vector<double> etas{0.3};
  std::optional<ColumnStates> states;
  std::vector<std::vector<Matrix>> column_probs;  // branch matrices per column
  Versioned<Segmentation> segments;                // as the last forward saw them
  Versioned<EventRates> rates;

  // Call once every parameter is set. Node 1 is absent exactly when both of
  // its leaves are.
  void build_columns() {
    states.emplace(columns_on(table, columns));
    for (std::size_t c = 0; c < columns.size(); ++c) {
      if (columns[c][1] == 5 && columns[c][2] == 5) states->at(c, 1).value = 5;
      column_probs.push_back(probs_of(c).get_trans_probs());
    }
  }

  std::size_t segment_of(std::size_t c) const {
    for (std::size_t k = 0; k < from_tos.size(); ++k) {
      if (static_cast<long>(c) <= from_tos[k][1]) return k;
    }
    return from_tos.size();
  }

  TransProbs probs_of(std::size_t c) const {
    const int r = rate_states[c];
    return TransProbs(TreeTopology(table), thetas[segment_of(c)],
                      {deletion_rates[r], insertion_rates[r], mutation_rates[r]});
  }

  // P(leaves of column c, node 1 = v | root = z), straight from the branch
  // matrices.
  double tree_joint(std::size_t c, int z, int v) const {
    const auto& p = column_probs[c];
    const auto& leaves = columns[c];
    return p[0][z][v] * p[1][z][leaves[0]] * p[2][v][leaves[1]] * p[3][v][leaves[2]];
  }

  double root_transition(std::size_t c, int from, int to) const {
    const std::size_t k = segment_of(c);
    if (from == 0) return to == 0 ? 1 - etas[0] : etas[0] * thetas[k][to - 1];
    return to == 0 ? gammas[0] : (1 - gammas[0]) * betas[k][from - 1][to - 1];
  }

  // Exact joint probability of the roots z and the node-1 values v of every
  // column together with all leaves.
  double joint(const std::vector<int>& z, const std::vector<int>& v) const {
    double p = initial_value_probs[z[0]] * tree_joint(0, z[0], v[0]);
    for (std::size_t c = 1; c < z.size(); ++c) p *= root_transition(c, z[c - 1], z[c]) * tree_joint(c, z[c], v[c]);
    return p;
  }

  double root_marginal(const std::vector<int>& z) const {
    double total = 0.0;
    for (std::size_t i = 0; i < std::pow(5, z.size()); ++i) total += joint(z, sequence_at(i, z.size()));
    return total;
  }

  // On the engine's shared tables, as the run does.
  double forward(ZVSampler& sampler, LikelihoodEngine& engine) {
    segments.change() = {from_tos, thetas, betas, gammas, etas};
    rates.change() = {deletion_rates, insertion_rates, mutation_rates};
    return sampler.forward(segments, rates, rate_states, engine);
  }

  // The draws that follow a forward pass: roots, then the other internal nodes.
  void draw_latent_values(ZVSampler& sampler, LikelihoodEngine& engine) {
    sampler.backward_sample_ancestors(*states);
    sampler.sample_internal_nodes(segments, rates, rate_states, engine, *states);
  }
};

// Three columns in two segments with two rate states, roots free to empty
// (gamma 0.1) and refill (eta 0.3), and insertions allowed.
LatentModel three_column_model() {
  LatentModel model;
  model.columns = {{1, 1, 2}, {0, 3, 3}, {2, 0, 0}};
  model.from_tos = {{0, 1}, {2, 2}};
  model.rate_states = {0, 1, 0};
  model.build_columns();
  return model;
}

}  // namespace

// ln P(alignment) from the forward recursion equals the log of the sum over
// all 125 root sequences (and all node-1 values) of the exact joint, and the
// roots drawn backwards follow P(roots | alignment).
TEST(LatentSampler, MatchesBruteForceOverRootSequences) {
  LatentModel model = three_column_model();
  std::vector<double> posterior(125, 0.0);
  double total = 0.0;
  for (std::size_t i = 0; i < posterior.size(); ++i) {
    posterior[i] = model.root_marginal(sequence_at(i, 3));
    total += posterior[i];
  }
  for (double& p : posterior) p /= total;

  ZVSampler sampler(3, model.initial_value_probs);
  WorkerPool pool(1);
  LikelihoodEngine engine(*model.states, pool);
  EXPECT_NEAR(model.forward(sampler, engine), std::log(total), 1e-10);

  std::vector<double> observed(125, 0.0);
  std::srand(77);
  for (int i = 0; i < 100000; ++i) {
    sampler.backward_sample_ancestors(*model.states);
    std::vector<int> roots;
    for (std::size_t c = 0; c < 3; ++c) roots.push_back(model.states->root_value(c));
    observed[sequence_index(roots)] += 1;
  }
  EXPECT_GT(chi_square_test(observed, posterior), 1e-6);
}

// Whole updates (forward, backward roots, top-down internal nodes) with the
// run's settings: roots never empty, no insertions. The forward tables
// depend only on the leaves and the parameters, so one forward pass serves
// all draws. The joint draw of all roots and node-1 values follows the exact
// posterior, which checks that every column gets its own rate state's rates
// and its segment's frequencies. (The bonds' law given the values is checked
// in the top-down test.)
TEST(LatentSampler, FullUpdateFollowsTheJointPosterior) {
  LatentModel model;
  model.columns = {{1, 1, 2}, {3, 0, 0}, {2, 4, 4}};
  model.from_tos = {{0, 1}, {2, 2}};
  model.rate_states = {1, 0, 1};
  model.insertion_rates = {0.0, 0.0};
  model.gammas = {0.0};
  model.etas = {0.0};
  model.initial_value_probs = {0.0, 0.25, 0.25, 0.25, 0.25};
  model.build_columns();

  const std::size_t cells = 15625;  // roots z0..z2 then node-1 values v0..v2
  std::vector<double> exact(cells, 0.0);
  double total = 0.0;
  for (std::size_t i = 0; i < cells; ++i) {
    const std::vector<int> values = sequence_at(i, 6);
    exact[i] = model.joint({values[0], values[1], values[2]}, {values[3], values[4], values[5]});
    total += exact[i];
  }
  for (double& p : exact) p /= total;

  ZVSampler sampler(3, model.initial_value_probs);
  WorkerPool pool(2);
  LikelihoodEngine engine(*model.states, pool);
  std::vector<double> observed(cells, 0.0);
  EXPECT_NEAR(model.forward(sampler, engine), std::log(total), 1e-10);
  std::srand(2024);
  for (int i = 0; i < 30000; ++i) {
    model.draw_latent_values(sampler, engine);
    std::vector<int> values;
    for (std::size_t c = 0; c < 3; ++c) values.push_back(model.states->root_value(c));
    for (std::size_t c = 0; c < 3; ++c) values.push_back(model.states->at(c, 1).value);
    observed[sequence_index(values)] += 1;
  }
  EXPECT_GT(chi_square_test(observed, exact), 1e-6);
}

TEST(LatentSampler, SingleColumn) {
  LatentModel model;
  model.columns = {{2, 2, 0}};
  model.from_tos = {{0, 0}};
  model.rate_states = {1};
  model.build_columns();

  ZVSampler sampler(1, model.initial_value_probs);
  WorkerPool pool(1);
  LikelihoodEngine engine(*model.states, pool);
  EXPECT_EQ(model.forward(sampler, engine), 0.0);

  std::vector<double> posterior(5), observed(5, 0.0);
  double total = 0.0;
  for (int z = 0; z < 5; ++z) {
    posterior[z] = model.root_marginal({z});
    total += posterior[z];
    EXPECT_NEAR(sampler.log_forward()[0][z], std::log(posterior[z]), 1e-12);
  }
  for (double& p : posterior) p /= total;
  std::srand(5);
  for (int i = 0; i < 20000; ++i) {
    sampler.backward_sample_ancestors(*model.states);
    observed[model.states->root_value(0)] += 1;
  }
  EXPECT_GT(chi_square_test(observed, posterior), 1e-6);
}

// A last column whose every root value is impossible (a wholly absent column)
// leaves the data log-likelihood at minus infinity.
TEST(LatentSampler, ImpossibleAlignmentEndsTheRun) {
  LatentModel model;
  model.columns = {{1, 1, 2}, {0, 3, 3}, {5, 5, 5}};
  model.from_tos = {{0, 1}, {2, 2}};
  model.rate_states = {0, 1, 0};
  model.build_columns();
  for (int label = 0; label < 2; ++label) model.states->at(2, label).value = 5;
  ZVSampler sampler(3, model.initial_value_probs);
  WorkerPool pool(1);
  LikelihoodEngine engine(*model.states, pool);
  EXPECT_TRUE(throws_error<InternalError>([&] { model.forward(sampler, engine); }, 1,
                                          "^error: observed data log-likelihood is negative infinity. \n$"));
}
