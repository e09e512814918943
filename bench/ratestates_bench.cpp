// Cost of the rate-state step of one iteration: the emission log-likelihoods
// (the likelihood engine evaluated afresh, every rate changed) and one forward
// filtering + backward sampling pass of the HMM.
//
// Every benchmark also reports the heap allocations it makes, counted by the
// replaced global operator new below, per column and rate state (emissions)
// or per column (HMM).

#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdlib>
#include <memory>
#include <new>
#include <random>
#include <vector>

#include "numerics/worker_pool.h"
#include "ratestates/emission_probs.h"
#include "ratestates/hmm_one_dim.h"
#include "tree/likelihood_engine.h"

namespace {
std::atomic<long> allocation_count{0};
}

// The replacement pairs malloc with free on purpose; GCC cannot see that
// every operator new of this program is the one below.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

void* operator new(std::size_t size) {
  allocation_count.fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace {

using Matrix = std::vector<std::vector<double>>;

struct Tree {
  BranchTable table;
  int leaves = 0;
};

// The shipped default tree of test case 23 (six leaves).
Tree default_six_leaf_tree() {
  return {{{0, 0, 1, 1, 2, 2, 3, 3, 4, 4},
           {1, 2, 3, 4, 5, 6, 7, 8, 9, 10},
           {0.08, 0.12, 0.05, 0.1, 0.2, 0.15, 0.07, 0.09, 0.11, 0.06},
           {-1, -1, -1, -1, -1, 0, 1, 2, 3, 4, 5}},
          6};
}

// A complete binary tree: node i has children 2i+1 and 2i+2, so breadth-first
// labels put the internal nodes 0 .. leaves-2 before the leaves.
Tree balanced_tree(int leaves) {
  Tree tree;
  BranchTable& table = tree.table;
  tree.leaves = leaves;
  std::mt19937 engine(17);
  std::uniform_real_distribution<double> length(0.02, 0.3);
  for (int node = 0; node < leaves - 1; ++node) {
    for (int child : {2 * node + 1, 2 * node + 2}) {
      table.parents.push_back(node);
      table.children.push_back(child);
      table.lengths.push_back(length(engine));
    }
  }
  table.leaf_map.assign(2 * leaves - 1, -1);
  for (int label = leaves - 1; label < 2 * leaves - 1; ++label) table.leaf_map[label] = label - (leaves - 1);
  return tree;
}

// Columns of mostly residues with some empty and absent leaves; every
// internal node gets a residue (or 5 when both children are absent).
ColumnStates make_columns(const Tree& tree, int n_columns) {
  std::mt19937 engine(23);
  std::discrete_distribution<int> value({1, 4, 4, 4, 4, 1});
  std::vector<std::vector<int>> alignment;
  for (int c = 0; c < n_columns; ++c) {
    std::vector<int> column(tree.leaves);
    for (int& v : column) v = value(engine);
    column[0] = 1 + c % 4;
    alignment.push_back(column);
  }
  ColumnStates states(std::make_shared<const TreeTopology>(tree.table), alignment);
  const TreeTopology& shape = states.topology();
  for (std::size_t c = 0; c < states.columns(); ++c) {
    for (int node = static_cast<int>(shape.size()) - 1; node >= 0; --node) {
      if (shape.is_leaf(node)) continue;
      const bool absent = states.at(c, shape.label(shape.first_child(node))).value == 5 &&
                          states.at(c, shape.label(shape.second_child(node))).value == 5;
      states.at(c, shape.label(node)).value = absent ? 5 : 1;
    }
  }
  return states;
}

void emission_benchmark(benchmark::State& state, const Tree& tree) {
  const int n_columns = 300;
  const ColumnStates columns = make_columns(tree, n_columns);
  const Versioned<Segmentation> segments(
      Segmentation{{{0, 99}, {100, n_columns - 1}}, {{0.1, 0.2, 0.3, 0.4}, {0.25, 0.25, 0.25, 0.25}}, {}, {}, {}});
  Versioned<EventRates> rates(EventRates{{0.1, 0.5, 1.2}, {0.0, 0.0, 0.0}, {0.3, 1.0, 2.5}});
  WorkerPool pool(1);
  LikelihoodEngine engine(columns, pool);
  Matrix emissions(n_columns, std::vector<double>(3, 0.0));
  // A new version every call, so that the engine evaluates every time.
  const auto call = [&] {
    rates.change();
    compute_obs_emission_probs(columns, engine, segments, rates, emissions);
  };
  call();  // the first evaluation sizes the tables
  const long before = allocation_count.load();
  for (auto _ : state) {
    call();
    benchmark::DoNotOptimize(emissions.data());
  }
  const double evaluations = static_cast<double>(n_columns) * 3.0;
  state.counters["per_column_state"] =
      benchmark::Counter(evaluations, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
  state.counters["allocs_per_column_state"] =
      static_cast<double>(allocation_count.load() - before) / (static_cast<double>(state.iterations()) * evaluations);
}

void BM_Emissions_DefaultSixLeafTree(benchmark::State& state) { emission_benchmark(state, default_six_leaf_tree()); }
void BM_Emissions_64LeafTree(benchmark::State& state) { emission_benchmark(state, balanced_tree(64)); }

void BM_Hmm_ForwardBackward(benchmark::State& state) {
  const long n = state.range(0);
  std::mt19937 engine(29);
  std::uniform_real_distribution<double> emission(-40.0, -5.0);
  Matrix emissions(n, std::vector<double>(3));
  for (auto& row : emissions) {
    for (double& e : row) e = emission(engine);
  }
  const std::vector<double> initial{0.34, 0.33, 0.33};
  const Matrix transitions{{0.9, 0.05, 0.05}, {0.1, 0.8, 0.1}, {0.0, 0.2, 0.8}};
  std::vector<int> states(n, 0);
  std::srand(1);
  const long before = allocation_count.load();
  for (auto _ : state) {
    HMM_OneDim hmm(n, 3, initial, transitions, emissions);
    hmm.forward_summation();
    hmm.backward_sampling(states);
    benchmark::DoNotOptimize(states.data());
  }
  state.counters["allocs_per_column"] =
      static_cast<double>(allocation_count.load() - before) / (static_cast<double>(state.iterations()) * n);
}

}  // namespace

BENCHMARK(BM_Emissions_DefaultSixLeafTree)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Emissions_64LeafTree)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Hmm_ForwardBackward)->Arg(10000)->Unit(benchmark::kMillisecond);
