// One full segmentation step of the sampling run (block likelihoods, forward
// recursion, draw of the number of partitions, draw of the boundaries) on the
// shipped default tree, with k_max = 4. Reports the process's peak resident
// memory as a counter; run one size per process for a clean figure:
//   segmentation_bench --benchmark_filter='/2000$'
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <cstdlib>
#include <random>
#include <vector>

#include "segmentation/partition_sampler.h"
#include "tree/phy_tree.h"

namespace {

// data/test_case_23_6sp/tree.txt and its leaf map: internal nodes 0..4,
// leaves 5..10 holding sequences 0..5.
const std::vector<int> parents{0, 0, 1, 1, 2, 2, 3, 3, 4, 4};
const std::vector<int> children{1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
const std::vector<double> lengths{0.08, 0.12, 0.05, 0.1, 0.2, 0.15, 0.07, 0.09, 0.11, 0.06};
const std::vector<int> leaf_map{-1, -1, -1, -1, -1, 0, 1, 2, 3, 4, 5};
const std::vector<int> nonempty_value_index{0, 0, 1, 2, 3};

// Modelled columns (sequence 0 holds a residue); the other sequences hold a
// gap one time in five, otherwise a residue. Internal values and indicators
// come from the trees' own initialisation.
std::vector<PhyTree*> make_trees(long columns) {
  std::mt19937 engine(2024);
  std::uniform_int_distribution<int> residue(1, 4);
  std::bernoulli_distribution gap(0.2);
  std::srand(2024);
  std::vector<PhyTree*> trees;
  for (long c = 0; c < columns; ++c) {
    std::vector<int> column(6);
    column[0] = residue(engine);
    for (int s = 1; s < 6; ++s) column[s] = gap(engine) ? 0 : residue(engine);
    auto* tree = new PhyTree(parents, children, lengths, leaf_map);
    tree->init_leave_values(column);
    tree->init_nodes();
    trees.push_back(tree);
  }
  return trees;
}

void BM_SegmentationStep(benchmark::State& state) {
  const long columns = state.range(0);
  std::vector<PhyTree*> trees = make_trees(columns);
  PartitionSampler sampler(4, columns, 4, trees);
  std::srand(1);
  for (auto _ : state) {
    sampler.compute_single_blocks(trees, nonempty_value_index, nullptr);
    sampler.forward(nullptr);
    const long p = sampler.sample_number_partitions(nullptr);
    std::vector<std::vector<long>> from_tos = sampler.sample_partition_positions(p, nullptr);
    benchmark::DoNotOptimize(from_tos.data());
  }
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  state.counters["peak_rss_MB"] = static_cast<double>(usage.ru_maxrss) / 1024.0;
  for (PhyTree* tree : trees) delete tree;
}

}  // namespace

BENCHMARK(BM_SegmentationStep)->Arg(500)->Arg(2000)->Arg(8000)->Unit(benchmark::kMillisecond);
