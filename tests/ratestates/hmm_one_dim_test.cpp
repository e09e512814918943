#include "ratestates/hmm_one_dim.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "support/errors.h"
#include "support/statistics.h"

namespace {

using Matrix = std::vector<std::vector<double>>;

struct Chain {
  std::vector<double> initial;
  Matrix transitions;
  Matrix emissions;  // one row per column
};

// ln p with the chain's floor for a zero probability.
double floored_log(double p) { return p == 0.0 ? std::log(2.2250738585072014e-308) : std::log(p); }

// Exact posterior of every path, path index sum_t states[t] * K^t.
std::vector<double> exact_path_posterior(const Chain& chain) {
  const std::size_t n = chain.emissions.size();
  const std::size_t k = chain.initial.size();
  std::size_t paths = 1;
  for (std::size_t t = 0; t < n; ++t) paths *= k;
  std::vector<double> log_weights(paths);
  for (std::size_t index = 0; index < paths; ++index) {
    std::size_t rest = index;
    std::size_t previous = 0;
    double log_weight = 0.0;
    for (std::size_t t = 0; t < n; ++t, rest /= k) {
      const std::size_t state = rest % k;
      log_weight += (t == 0 ? floored_log(chain.initial[state]) : floored_log(chain.transitions[previous][state])) +
                    chain.emissions[t][state];
      previous = state;
    }
    log_weights[index] = log_weight;
  }
  const double max = *std::max_element(log_weights.begin(), log_weights.end());
  double total = 0.0;
  for (double& w : log_weights) total += (w = std::exp(w - max));
  for (double& w : log_weights) w /= total;
  return log_weights;
}

// Frequencies of the sampled paths, each draw from a fresh forward pass.
std::vector<double> sampled_path_counts(const Chain& chain, int draws) {
  const auto n = static_cast<long>(chain.emissions.size());
  const int k = static_cast<int>(chain.initial.size());
  std::vector<double> counts(static_cast<std::size_t>(std::pow(k, n)), 0.0);
  std::vector<int> states(static_cast<std::size_t>(n), 0);
  for (int draw = 0; draw < draws; ++draw) {
    HMM_OneDim hmm(n, k, chain.initial, chain.transitions, chain.emissions);
    hmm.forward_summation();
    hmm.backward_sampling(states);
    std::size_t index = 0;
    for (long t = n - 1; t >= 0; --t) index = index * static_cast<std::size_t>(k) + static_cast<std::size_t>(states[t]);
    counts[index] += 1.0;
  }
  return counts;
}

Chain random_chain(std::mt19937& engine, int n) {
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  Chain chain{{0.5, 0.2, 0.3}, Matrix(3, std::vector<double>(3)), Matrix(n, std::vector<double>(3))};
  for (auto& row : chain.transitions) {
    double total = 0.0;
    for (double& p : row) total += (p = 0.1 + unit(engine));
    for (double& p : row) p /= total;
  }
  chain.transitions[1][2] = 0.0;
  for (auto& row : chain.emissions) {
    for (double& e : row) e = -4.0 * unit(engine);
  }
  return chain;
}

// State 1 has probability 0 at the start and from every state, but emissions
// of about e^708 when it matters: its floored weight is then comparable to
// the others, where ln 0 = -inf would give it none.
Chain floor_chain() {
  return {{0.5, 0.0, 0.5},
          {{0.6, 0.0, 0.4}, {0.3, 0.0, 0.7}, {0.2, 0.0, 0.8}},
          {{0.0, 708.0, 0.0}, {-1.0, 707.0, -2.0}, {-0.5, -1.0, 0.0}, {0.0, 0.0, 0.0}}};
}

// A random chain, the floor chain, flat emissions (the path follows the prior
// chain) and single columns (initial times emission, with a floored zero).
TEST(HmmOneDim, SampledPathsFollowTheExactPosterior) {
  std::srand(12345);
  std::mt19937 engine(99);
  Chain flat = random_chain(engine, 4);
  for (auto& row : flat.emissions) row.assign(3, -1.5);
  const Matrix identity{{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
  for (const Chain& chain :
       {random_chain(engine, 4), floor_chain(), flat, Chain{{0.34, 0.33, 0.33}, identity, {{-2.0, -1.0, -1.5}}},
        Chain{{0.5, 0.0, 0.5}, identity, {{0.0, 708.0, 0.5}}}}) {
    EXPECT_GT(chi_square_test(sampled_path_counts(chain, 40000), exact_path_posterior(chain)), 1e-6);
  }
}

TEST(HmmOneDim, BadProbabilitiesEndTheRun) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const Matrix good{{0.5, 0.5, 0.0}, {0.2, 0.3, 0.5}, {0.1, 0.1, 0.8}};
  Matrix negative = good, not_a_number = good;
  negative[2][0] = -0.2;
  not_a_number[0][2] = nan;
  const Matrix emissions(3, {-1.0, -2.0, -3.0});
  Matrix bad_emissions = emissions;
  bad_emissions[0][1] = nan;
  const std::vector<double> initial{0.4, 0.3, 0.3};
  const std::string initial_message = "^error: initial state probability less than 0\\. exit!$";
  const std::string transition_message = "^error: state transition probability less than 0\\. exit!$";
  struct Case {
    long n;
    int k;
    std::vector<double> initial;
    Matrix transitions, emissions;
    std::string message;
  };
  // A bad transition ends the run even for a single column, where none is taken.
  for (const Case& c : std::vector<Case>{
           {3, 3, {0.5, -0.1, 0.6}, good, emissions, initial_message},
           {3, 3, {0.5, nan, 0.6}, good, emissions, initial_message},
           {3, 3, initial, negative, emissions, transition_message},
           {1, 3, initial, negative, emissions, transition_message},
           {3, 3, initial, not_a_number, emissions, transition_message},
           {2, 0, {}, {}, Matrix(2), "^error: max in forward summation cannot be computed\\. exit!$"},
           {3, 3, initial, good, bad_emissions, "^error: sum in forward summation less than 0\\. exit!$"}}) {
    EXPECT_TRUE(throws_error<InternalError>(
        [&] { HMM_OneDim(c.n, c.k, c.initial, c.transitions, c.emissions).forward_summation(); }, -1, c.message));
  }
}

}  // namespace
