#include "updates/marginal_rate_moves.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <random>
#include <tuple>
#include <vector>

#include "numerics/worker_pool.h"
#include "support/statistics.h"
#include "support/test_trees.h"
#include "updates/zv_sampler.h"

namespace {

using Matrix = std::vector<std::vector<double>>;
constexpr double prior_shape = 0.01;
constexpr double prior_rate = 0.01;

// A few columns on the three-leaf tree (root 0 -> node 1, leaf 2; node 1 ->
// leaves 3, 4), one segment, roots never empty, one or two rate states.
struct MoveCase {
  TreeTable table = three_leaf_table();
  std::vector<std::vector<int>> columns;
  std::vector<double> deletion, insertion, mutation;  // per rate state
  Matrix state_transitions;
  std::vector<double> initial_state_probs;
  std::vector<double> thetas{0.1, 0.2, 0.3, 0.4};
  Matrix betas{{0.7, 0.1, 0.1, 0.1}, {0.2, 0.5, 0.2, 0.1}, {0.1, 0.1, 0.6, 0.2}, {0.25, 0.25, 0.25, 0.25}};

  int states() const { return static_cast<int>(deletion.size()); }
  Segmentation segmentation(double gamma, double eta) const { return {{{0, last()}}, {thetas}, {betas}, {gamma}, {eta}}; }
  EventRates rates() const { return {deletion, insertion, mutation}; }
  long last() const { return static_cast<long>(columns.size()) - 1; }
  CollapsedChainModel model() const {
    return {{{0, last()}},
            {root_transitions(segmentation(0.0, 0.0), 0)},
            {0.0, 0.25, 0.25, 0.25, 0.25},
            state_transitions,
            initial_state_probs};
  }

  // P(leaves of column c | rate state k, root r), node 1 enumerated.
  double column_likelihood(std::size_t c, int k, int r) const {
    const auto p = [&](int from, int to, std::size_t branch) {
      return model_probability(from, to, deletion[k], insertion[k], mutation[k], table.lengths[branch], thetas);
    };
    double total = 0.0;
    for (int v = 0; v < 5; ++v)
      total += p(r, v, 0) * p(r, columns[c][0], 1) * p(v, columns[c][1], 2) * p(v, columns[c][2], 3);
    return total;
  }

  long paths() const { return std::lround(std::pow(states(), columns.size())); }
  // P(data, path) as a plain sum over every root sequence; digit c of `path`
  // (base: the number of rate states) is column c's rate state.
  double joint(long path, const std::vector<double>& lik) const {
    double total = 0.0;
    for (long roots = 0; roots < std::lround(std::pow(4, columns.size())); ++roots) {
      double p = 1.0;
      long rest_k = path, rest_r = roots;
      for (std::size_t c = 0, k0 = 0, r0 = 0; c < columns.size(); ++c) {
        const auto k = static_cast<std::size_t>(rest_k % states()), r = static_cast<std::size_t>(rest_r % 4);
        rest_k /= states();
        rest_r /= 4;
        p *= (c == 0 ? initial_state_probs[k] * 0.25 : state_transitions[k0][k] * betas[r0][r]) *
             lik[(c * states() + k) * 4 + r];
        k0 = k;
        r0 = r;
      }
      total += p;
    }
    return total;
  }
  std::vector<double> column_table() const {  // [c][k][r - 1]
    std::vector<double> lik;
    for (std::size_t c = 0; c < columns.size(); ++c) {
      for (int k = 0; k < states(); ++k) {
        for (int r = 1; r <= 4; ++r) lik.push_back(column_likelihood(c, k, r));
      }
    }
    return lik;
  }
  double likelihood() const {
    const std::vector<double> lik = column_table();
    double total = 0.0;
    for (long path = 0; path < paths(); ++path) total += joint(path, lik);
    return total;
  }
};

// The columns, the parameters, the engine's tables and the chain of a case,
// as the run holds them.
struct Fixture {
  ColumnStates states;
  Versioned<Segmentation> segments;
  Versioned<EventRates> rates;
  WorkerPool pool{2};
  std::unique_ptr<LikelihoodEngine> engine;
  CollapsedChain chain;

  explicit Fixture(const MoveCase& c)
      : states(columns_on(c.table, c.columns)), segments(c.segmentation(0.0, 0.0)), rates(c.rates()) {
    engine = std::make_unique<LikelihoodEngine>(states, pool);
    engine->evaluate(segments, rates);
    chain.load(c.model(), *engine, c.states());
  }
};

// Two gapped columns and two variable ones, one rate state.
MoveCase one_state_case() {
  MoveCase c;
  c.columns = {{1, 1, 0}, {2, 3, 2}, {4, 0, 0}, {1, 2, 1}};
  c.deletion = {0.4};
  c.insertion = {0.0};
  c.mutation = {0.7};
  c.state_transitions = {{1.0}};
  c.initial_state_probs = {1.0};
  return c;
}

// Two rate states that like to stay; state 1 fast. With state 0's mutation
// rate near zero the variable column needs state 1 and two switches; with it
// in the bulk all columns can share state 0.
MoveCase two_state_case() {
  MoveCase c;
  c.table.lengths = {0.05, 0.025, 0.1, 0.2};
  c.columns = {{1, 1, 1}, {2, 2, 2}, {1, 1, 2}, {3, 3, 3}};
  c.deletion = {0.3, 0.3};
  c.insertion = {0.0, 0.0};
  c.mutation = {0.5, 20.0};
  c.state_transitions = {{0.95, 0.05}, {0.05, 0.95}};
  c.initial_state_probs = {0.5, 0.5};
  return c;
}

// The exact posterior of ln x for one rate (the others fixed) on a grid in
// ln x from the smallest normal double: density L(x) x^a e^(-b x), coarse
// where x is so small that nothing changes, fine above; cdf by trapezoids.
struct GridPosterior {
  std::vector<double> y, cdf;
  double operator()(double at) const {
    if (at <= y.front()) return 0.0;
    if (at >= y.back()) return 1.0;
    const std::size_t i = std::upper_bound(y.begin(), y.end(), at) - y.begin();
    return cdf[i - 1] + (cdf[i] - cdf[i - 1]) * (at - y[i - 1]) / (y[i] - y[i - 1]);
  }
};

// What a run of moves changes, with the grid value it is followed on:
// a rate (ln x, prior Gamma(0.01, 0.01)); entry 0 of a row of the transition
// matrix (prior flat); or, for tilts only, the shift e of ln x from its start,
// which carries the matrix along (column `state` of every row tilted by
// exp(-e)): the chain then stays on that curve, and its target there is the
// posterior at the curve's points times the Jacobian of the tilt. `set` puts
// a grid value into a case and returns the log of that factor.
struct Moved {
  enum Kind { rate, rate_without_tilt, row, tilt } kind;
  int event, state;
  MoveCase start;
  double set(MoveCase& c, double value) const {
    if (kind == row) {
      c.state_transitions[state] = {value, 1.0 - value};
      return 0.0;
    }
    const double y = kind == tilt ? std::log(start.mutation[state]) + value : value;
    (event == 0 ? c.deletion : c.mutation)[state] = std::exp(y);
    double log_factor = prior_shape * y - prior_rate * std::exp(y);
    if (kind == tilt) {
      for (std::size_t i = 0; i < c.state_transitions.size(); ++i) {
        auto& p = c.state_transitions[i];
        p = start.state_transitions[i];
        const double norm = (1.0 - p[state]) + p[state] * std::exp(-value);
        p[state] *= std::exp(-value);
        for (double& entry : p) entry /= norm;
        log_factor += -value - static_cast<double>(p.size()) * std::log(norm);
      }
    }
    return log_factor;
  }
  double get(const MoveCase& c, const CollapsedChain& chain) const {
    if (kind == row) return chain.state_transitions()[state][0];
    const double y = std::log((event == 0 ? c.deletion : c.mutation)[state]);
    return kind == tilt ? y - std::log(start.mutation[state]) : y;
  }
};

GridPosterior exact_posterior(MoveCase c, const Moved& moved) {
  GridPosterior g;
  std::vector<double> density;
  if (moved.kind == Moved::row) {
    for (double p = 0.0005; p < 1.0; p += 0.001) g.y.push_back(p);
  } else {
    const double from = moved.kind == Moved::tilt ? std::log(c.mutation[moved.state]) : 0.0;
    for (double y = std::log(DBL_MIN); y < 9.0; y += y < -40.0 ? 0.5 : 0.01) g.y.push_back(y - from);
  }
  for (const double y : g.y) {
    const double log_factor = moved.set(c, y);
    density.push_back(c.likelihood() * std::exp(log_factor));
  }
  g.cdf.assign(g.y.size(), 0.0);
  for (std::size_t i = 1; i < g.y.size(); ++i) {
    g.cdf[i] = g.cdf[i - 1] + 0.5 * (density[i] + density[i - 1]) * (g.y[i] - g.y[i - 1]);
  }
  for (double& p : g.cdf) p /= g.cdf.back();
  return g;
}

}  // namespace

// The forward recursion over (rate state, root value) pairs gives the summed
// likelihood, and the path it draws follows P(path | data). Also where a
// column can only be reached by a transition of probability 1e-290 and its
// leaves pin its root (a mutation rate so small that every change is floored
// at 2.2e-308): that column is done in logarithms.
TEST(CollapsedChain, LikelihoodAndPathMatchEnumeration) {
  MoveCase pinned = one_state_case();
  pinned.columns = {{1, 1, 1}, {2, 2, 2}};
  pinned.mutation = {1e-100};
  for (auto& row : pinned.betas) row = {0.5, 1e-290, 0.25, 0.25};
  EXPECT_NEAR(Fixture(pinned).chain.log_likelihood(), std::log(pinned.likelihood()), 1e-9);
  // The latent sampler's recursion works in logarithms throughout; with one
  // rate state the two must agree: where deletions are floored too, so that
  // the leaves (empty, 1, empty) are likelier below an empty root (one
  // floored insertion) than below any root the chain can reach (two floored
  // deletions), and on 3000 random columns whose roots may empty and refill.
  pinned.columns = {{1, 1, 1}, {0, 1, 0}};
  pinned.deletion = {1e-100};
  MoveCase long_case = one_state_case();
  std::mt19937 random(3);
  long_case.columns.assign(3000, std::vector<int>(3));
  for (auto& column : long_case.columns) {
    for (int& value : column) value = std::uniform_int_distribution<int>(0, 4)(random);
  }
  for (const auto& [test, gamma, eta] : {std::tuple{pinned, 0.0, 0.0}, std::tuple{long_case, 0.1, 0.3}}) {
    const std::vector<double> first_root =
        gamma == 0.0 ? std::vector<double>{0.0, 0.25, 0.25, 0.25, 0.25} : std::vector<double>{0.2, 0.2, 0.2, 0.2, 0.2};
    CollapsedChainModel model = test.model();
    const Versioned<Segmentation> segments(test.segmentation(gamma, eta));
    model.root_transitions = {root_transitions(*segments, 0)};
    model.initial_value_probs = first_root;
    Fixture f(test);
    f.chain.load(model, *f.engine, 1);
    ZVSampler latent(static_cast<long>(test.columns.size()), first_root);
    const double expected = latent.forward(segments, f.rates, std::vector<int>(test.columns.size(), 0), *f.engine);
    EXPECT_LT(expected, -1000.0);
    EXPECT_NEAR(f.chain.log_likelihood(), expected, 1e-9 * std::abs(expected));
  }

  const MoveCase c = two_state_case();
  Fixture f(c);
  CollapsedChain& chain = f.chain;
  EXPECT_NEAR(chain.log_likelihood(), std::log(c.likelihood()), 1e-10);

  std::vector<double> exact(16, 0.0), observed(16, 0.0);
  for (long path = 0; path < 16; ++path) exact[path] = c.joint(path, c.column_table()) / c.likelihood();
  std::srand(11);
  std::vector<int> drawn;
  for (int i = 0; i < 40000; ++i) {
    chain.draw_path(drawn);
    observed[drawn[0] + 2 * drawn[1] + 4 * drawn[2] + 8 * drawn[3]] += 1;
  }
  EXPECT_GT(chi_square_test(observed, exact), 1e-6);
}

// After the warm-up, the moves of one rate or transition row (the rest
// fixed) follow its exact posterior with the path, the roots and node 1
// summed out: gapped columns for a deletion rate, variable ones for a
// mutation rate (all kernels; with one rate state a tilt changes no matrix),
// a rate of a second state whose posterior has a spike near zero and a bulk,
// each holding a good share of the mass (random walk and independence
// kernels, which leave the matrix alone), the same rate by tilts alone (on
// their curve), and a row of the transition matrix between two states.
TEST(MarginalRateMoves, DrawsFollowTheExactPosterior) {
  const MoveCase one = one_state_case(), two = two_state_case();
  for (const Moved& moved :
       {Moved{Moved::rate, 0, 0, one}, Moved{Moved::rate, 2, 0, one}, Moved{Moved::rate_without_tilt, 2, 0, two},
        Moved{Moved::tilt, 2, 0, two}, Moved{Moved::row, -1, 1, two}}) {
    MoveCase c = moved.start;
    const GridPosterior exact = exact_posterior(c, moved);
    Fixture f(c);
    double total_length = 0.0;
    for (const double t : c.table.lengths) total_length += t;
    MarginalRateMoves moves(1, c.states(), total_length);
    MarginalState state{*f.engine, f.chain, f.segments, f.rates, f.chain.log_likelihood()};
    std::srand(7);
    std::vector<double> draws;
    const long iterations = 60000, thin = 20;
    for (long i = 1; i <= iterations; ++i) {
      if (moved.kind == Moved::row) {
        moves.move_transition_row(i, moved.state, f.chain, state.log_likelihood);
      } else if (moved.kind == Moved::rate) {
        moves.move(i, moved.event, moved.state, state);
      } else {
        const RateKernel kernel = moved.kind == Moved::tilt ? RateKernel::tilt
                                  : i % 2 == 0              ? RateKernel::random_walk
                                                            : RateKernel::independence;
        moves.move(i, kernel, moved.event, moved.state, state);
      }
      c.deletion = f.rates->deletion;
      c.mutation = f.rates->mutation;
      if (i > MarginalRateMoves::warm_up_iterations && i % thin == 0) draws.push_back(moved.get(c, f.chain));
    }
    moved.set(c, draws.back());
    EXPECT_NEAR(state.log_likelihood, std::log(c.likelihood()), 1e-9);
    EXPECT_GT(ks_test(draws, exact), 1e-4) << "kind " << moved.kind << " event " << moved.event;
    if (moved.kind == Moved::rate_without_tilt) {
      const double cut = std::log(1e-6);
      double below = 0;
      for (const double y : draws) below += y < cut;
      const double p = exact(cut), n = static_cast<double>(draws.size());
      EXPECT_GT(p, 0.2);
      EXPECT_LT(p, 0.8);
      EXPECT_NEAR(below / n, p, 5 * std::sqrt(p * (1 - p) / n));
    }
  }
}
