// Cost of the tree likelihoods of one iteration on an alignment shaped like a
// real 18S rRNA one (29 leaves, 1,800 modelled columns, about 30% gaps): the
// emissions of every column under the three rate states from the shared
// pattern tables of the likelihood engine (on 1 and 2 threads), and the
// top-down draws of every column from the engine's tables.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdlib>
#include <deque>
#include <memory>
#include <random>
#include <vector>

#include "numerics/worker_pool.h"
#include "ratestates/emission_probs.h"
#include "tree/initial_states.h"
#include "tree/likelihood_engine.h"

namespace {

// A random rooted binary tree in the sampler's row order, and columns evolved
// down it in three rate classes (deletions, substitutions, a few absent cells).
struct Case {
  std::vector<int> parents, children, leaf_map;
  std::vector<double> lengths;
  std::unique_ptr<ColumnStates> states;
  Versioned<Segmentation> segments;
  Versioned<EventRates> rates{EventRates{{0.4, 1.0, 2.0}, {0.0, 0.0, 0.0}, {0.2, 1.0, 4.0}}};
  std::vector<double> deletion{0.4, 1.0, 2.0}, mutation{0.2, 1.0, 4.0};
  std::vector<int> rate_states;

  Case(int leaves, int columns) {
    std::mt19937 rng(1);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::vector<std::vector<int>> kids(1);
    std::vector<int> open{0};
    while (static_cast<int>(open.size()) < leaves) {
      const std::size_t at = rng() % open.size();
      const int node = open[at];
      open.erase(open.begin() + static_cast<long>(at));
      for (int k = 0; k < 2; ++k) {
        kids[node].push_back(static_cast<int>(kids.size()));
        open.push_back(static_cast<int>(kids.size()));
        kids.emplace_back();
      }
    }
    std::vector<int> order, label(kids.size());
    std::deque<int> queue{0};
    while (!queue.empty()) {
      order.push_back(queue.front());
      for (int child : kids[queue.front()]) queue.push_back(child);
      queue.pop_front();
    }
    int next_internal = 0, next_leaf = leaves - 1;
    for (int node : order) label[node] = kids[node].empty() ? next_leaf++ : next_internal++;
    leaf_map.assign(kids.size(), -1);
    for (int node : order) {
      if (kids[node].empty()) leaf_map[label[node]] = label[node] - (leaves - 1);
      for (int child : kids[node]) {
        parents.push_back(label[node]);
        children.push_back(label[child]);
        lengths.push_back(0.02 + 0.28 * unit(rng));
      }
    }
    std::vector<std::vector<int>> alignment;
    int state = 0;
    while (static_cast<int>(alignment.size()) < columns) {
      if (unit(rng) < 0.02) state = static_cast<int>(rng() % 3);
      std::vector<int> value(kids.size(), 0);
      value[0] = 1 + static_cast<int>(rng() % 4);
      for (std::size_t row = 0; row < parents.size(); ++row) {
        const int v = value[parents[row]];
        const double t = lengths[row];
        if (v == 0 || unit(rng) < 1 - std::exp(-deletion[state] * t)) {
          value[children[row]] = 0;
        } else {
          value[children[row]] = unit(rng) < 1 - std::exp(-mutation[state] * t) ? 1 + static_cast<int>(rng() % 4) : v;
        }
      }
      std::vector<int> column(leaves);
      for (int l = leaves - 1; l < static_cast<int>(kids.size()); ++l) column[leaf_map[l]] = value[l];
      if (unit(rng) < 0.01) column[1 + rng() % (leaves - 1)] = 5;
      if (column[0] >= 1 && column[0] <= 4) alignment.push_back(column);
    }
    states = std::make_unique<ColumnStates>(
        std::make_shared<const TreeTopology>(BranchTable{parents, children, lengths, leaf_map}), alignment);
    std::srand(7);
    initialise_columns(*states);
    segments.change() = {{{0, columns / 3}, {columns / 3 + 1, columns - 1}},
                         {{0.3, 0.2, 0.2, 0.3}, {0.25, 0.25, 0.25, 0.25}}, {}, {}, {}};
    for (int c = 0; c < columns; ++c) rate_states.push_back(c % 3);
  }
};

Case& rrna_case() {
  static Case c(29, 1800);
  return c;
}

// Both steps of an iteration read one evaluation; the rates change between
// benchmark iterations so that every one evaluates afresh.
void BM_EmissionByEngine(benchmark::State& state) {
  Case& c = rrna_case();
  WorkerPool pool(static_cast<int>(state.range(0)));
  LikelihoodEngine engine(*c.states, pool);
  std::vector<std::vector<double>> emissions(c.states->columns(), std::vector<double>(3, 0.0));
  for (auto _ : state) {
    double& rate = c.rates.change().mutation[0];
    rate = rate == c.mutation[0] ? c.mutation[0] * 1.01 : c.mutation[0];
    compute_obs_emission_probs(*c.states, engine, c.segments, c.rates, emissions);
    benchmark::DoNotOptimize(emissions.data());
  }
}
BENCHMARK(BM_EmissionByEngine)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_TopDownFromEngineTables(benchmark::State& state) {
  Case& c = rrna_case();
  WorkerPool pool(1);
  LikelihoodEngine engine(*c.states, pool);
  engine.evaluate(c.segments, c.rates);
  std::srand(11);
  for (auto _ : state) engine.sample_internal_nodes(c.segments, c.rates, c.rate_states, *c.states);
}
BENCHMARK(BM_TopDownFromEngineTables)->Unit(benchmark::kMillisecond);

}  // namespace
