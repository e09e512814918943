// Cost of one latent-value update (forward filtering over the engine's
// tables, evaluated once, backward root draws, top-down internal draws),
// reported per alignment column, on the shipped 6-leaf tree and on a balanced 64-leaf tree.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <memory>
#include <vector>

#include "numerics/worker_pool.h"
#include "tree/initial_states.h"
#include "tree/likelihood_engine.h"
#include "updates/zv_sampler.h"

namespace {

// The tree of data/test_case_23_6sp.
BranchTable default_six_leaf_tree() {
  return BranchTable{{0, 0, 1, 1, 2, 2, 3, 3, 4, 4},
                     {1, 2, 3, 4, 5, 6, 7, 8, 9, 10},
                     {0.08, 0.12, 0.05, 0.1, 0.2, 0.15, 0.07, 0.09, 0.11, 0.06},
                     {-1, -1, -1, -1, -1, 0, 1, 2, 3, 4, 5}};
}

// A balanced tree in breadth-first labels: node p has children 2p+1, 2p+2.
BranchTable balanced_tree(int leaves) {
  BranchTable table;
  const int internal = leaves - 1;
  for (int p = 0; p < internal; ++p) {
    for (int child : {2 * p + 1, 2 * p + 2}) {
      table.parents.push_back(p);
      table.children.push_back(child);
      table.lengths.push_back(0.02 + 0.01 * (child % 7));
    }
  }
  table.leaf_map.assign(internal + leaves, -1);
  for (int label = internal; label < internal + leaves; ++label) table.leaf_map[label] = label - internal;
  return table;
}

// A column mostly conserved along the alignment, with some substitutions and
// gaps, and sequence 0 always holding a residue.
std::vector<std::vector<int>> make_alignment(int columns, int sequences) {
  std::srand(12345);
  std::vector<std::vector<int>> alignment(columns, std::vector<int>(sequences));
  for (auto& column : alignment) {
    const int consensus = 1 + std::rand() % 4;
    for (int s = 0; s < sequences; ++s) {
      const int r = std::rand() % 10;
      column[s] = r < 7 ? consensus : (r < 9 ? 1 + std::rand() % 4 : 0);
    }
    if (column[0] == 0) column[0] = consensus;
  }
  return alignment;
}

void latent_update(benchmark::State& state, const BranchTable& table) {
  const int columns = static_cast<int>(state.range(0));
  const int sequences = static_cast<int>(table.children.size() + 1 - table.parents.size() / 2);
  ColumnStates states(std::make_shared<const TreeTopology>(table), make_alignment(columns, sequences));
  initialise_columns(states);

  const std::vector<std::vector<double>> beta_rows{
      {0.7, 0.1, 0.1, 0.1}, {0.1, 0.7, 0.1, 0.1}, {0.1, 0.1, 0.7, 0.1}, {0.1, 0.1, 0.1, 0.7}};
  const Versioned<Segmentation> segments(Segmentation{{{0, columns / 2 - 1}, {columns / 2, columns - 1}},
                                                      {{0.3, 0.2, 0.2, 0.3}, {0.25, 0.25, 0.25, 0.25}},
                                                      {beta_rows, beta_rows},
                                                      {0.0},
                                                      {0.0}});
  const Versioned<EventRates> rates(EventRates{{0.1, 0.3, 0.6}, {0.0, 0.0, 0.0}, {0.2, 0.8, 2.0}});
  std::vector<int> rate_states(columns);
  for (int c = 0; c < columns; ++c) rate_states[c] = c % 3;

  WorkerPool pool(1);
  LikelihoodEngine engine(states, pool);
  ZVSampler sampler(columns, {0.0, 0.25, 0.25, 0.25, 0.25});
  std::srand(1);
  for (auto _ : state) {
    const double log_likelihood = sampler.forward(segments, rates, rate_states, engine);
    sampler.backward_sample_ancestors(states);
    sampler.sample_internal_nodes(segments, rates, rate_states, engine, states);
    benchmark::DoNotOptimize(log_likelihood);
  }
  state.SetItemsProcessed(state.iterations() * columns);
  state.counters["per_column"] = benchmark::Counter(
      static_cast<double>(columns), benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void BM_LatentUpdateSixLeaves(benchmark::State& state) { latent_update(state, default_six_leaf_tree()); }
void BM_LatentUpdateSixtyFourLeaves(benchmark::State& state) { latent_update(state, balanced_tree(64)); }

}  // namespace

BENCHMARK(BM_LatentUpdateSixLeaves)->Arg(322)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_LatentUpdateSixtyFourLeaves)->Arg(322)->Unit(benchmark::kMicrosecond);
