// One full segmentation step of the sampling run (block likelihoods, forward
// recursion, draw of the number of partitions, draw of the boundaries) on the
// shipped default tree, with k_max = 4, next to its floor: L (L-1) / 2 * k_max
// calls of exp in a tight loop, about what the forward recursion must make.
// Reports the process's peak resident memory as a counter; run one size per
// process for a clean figure:
//   /usr/bin/time -v segmentation_bench --benchmark_filter='BM_SegmentationStep/20000/1$'
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <cmath>
#include <cstdlib>
#include <memory>
#include <random>
#include <vector>

#include "numerics/worker_pool.h"
#include "segmentation/partition_sampler.h"
#include "tree/column_states.h"
#include "tree/initial_states.h"

namespace {

// data/test_case_23_6sp/tree.txt and its leaf map: internal nodes 0..4,
// leaves 5..10 holding sequences 0..5.
const BranchTable tree{{0, 0, 1, 1, 2, 2, 3, 3, 4, 4},
                       {1, 2, 3, 4, 5, 6, 7, 8, 9, 10},
                       {0.08, 0.12, 0.05, 0.1, 0.2, 0.15, 0.07, 0.09, 0.11, 0.06},
                       {-1, -1, -1, -1, -1, 0, 1, 2, 3, 4, 5}};

// Modelled columns (sequence 0 holds a residue); the other sequences hold a
// gap one time in five, otherwise a residue. Internal values and indicators
// come from the run's own start.
ColumnStates make_columns(long columns) {
  std::mt19937 engine(2024);
  std::uniform_int_distribution<int> residue(1, 4);
  std::bernoulli_distribution gap(0.2);
  std::srand(2024);
  std::vector<std::vector<int>> alignment;
  for (long c = 0; c < columns; ++c) {
    std::vector<int> column(6);
    column[0] = residue(engine);
    for (int s = 1; s < 6; ++s) column[s] = gap(engine) ? 0 : residue(engine);
    alignment.push_back(column);
  }
  ColumnStates states(std::make_shared<const TreeTopology>(tree), alignment);
  initialise_columns(states);
  return states;
}

constexpr long max_partitions = 4;

void BM_SegmentationStep(benchmark::State& state) {
  const long columns = state.range(0);
  const ColumnStates states = make_columns(columns);
  PartitionSampler sampler(max_partitions, columns, 4);
  WorkerPool pool(static_cast<int>(state.range(1)));
  sampler.use_worker_pool(&pool);
  std::srand(1);
  for (auto _ : state) {
    sampler.compute_single_blocks(states);
    sampler.forward();
    const long p = sampler.sample_number_partitions().p;
    std::vector<std::vector<long>> from_tos = sampler.sample_partition_positions(p);
    benchmark::DoNotOptimize(from_tos.data());
  }
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  state.counters["peak_rss_MB"] = static_cast<double>(usage.ru_maxrss) / 1024.0;
}

// L (L-1) / 2 * k_max exponentials of arguments in [-20, 0], read from a row
// of L values as the recursion reads its terms, summed.
void BM_ExpFloor(benchmark::State& state) {
  const long columns = state.range(0);
  std::vector<double> arguments(columns);
  for (long i = 0; i < columns; ++i) arguments[i] = -20.0 * static_cast<double>(i % 997) / 997.0;
  const long rows = (columns - 1) / 2 * max_partitions;
  for (auto _ : state) {
    double sum = 0.0;
    for (long row = 0; row < rows; ++row) {
      for (const double argument : arguments) sum += std::exp(argument);
    }
    benchmark::DoNotOptimize(sum);
  }
}

}  // namespace

// Arguments: columns, threads. 1,790 columns is the modelled part of an 18S
// rRNA-shaped alignment.
BENCHMARK(BM_SegmentationStep)
    ->Args({1790, 1})
    ->Args({1790, 2})
    ->Args({2000, 1})
    ->Args({8000, 1})
    ->Args({8000, 2})
    ->Args({20000, 1})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ExpFloor)->Arg(2000)->Arg(8000)->Arg(20000)->Unit(benchmark::kMillisecond);
