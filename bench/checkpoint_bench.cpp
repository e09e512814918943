// Cost of one checkpoint of a run, the way the sampler takes it: the five
// run files flushed to disk, the state copied, encoded with its checksum,
// written to a temporary file that is flushed and renamed, and the folder
// flushed. Arguments: modelled columns, tree nodes (values and indicators of
// each are the bulk of the checkpoint).
//   build/bench/checkpoint_bench
// The shapes: the default case (959 columns, 6 leaves), the 18S-shaped case
// (1,791 columns, 29 leaves) and the 20,000-column synthetic case (6 leaves).
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <string>

#include "driver/checkpoint.h"
#include "driver/run_files.h"

namespace {

Checkpoint state_of_a_run(long columns, long nodes) {
  Checkpoint c;
  c.iteration = 1000;
  c.seed = 3;
  c.k_max = 4;
  c.data_file = "data.txt";
  c.deletion_rates = c.insertion_rates = c.mutation_rates = {0.5, 1.5, 2.5};
  c.column_rate_states.assign(columns, 1);
  const RateSampler::Tuning tuning{0.8, 0.2, 0.02, 100.0, 0.3, std::vector<double>(10, 1.0)};
  c.deletion_tunings.assign(3, tuning);
  c.mutation_tunings.assign(3, tuning);
  c.node_states.assign(columns * nodes, NodeState{1, 0, -1, 1});
  return c;
}

void BM_Checkpoint(benchmark::State& state) {
  std::string pattern = (std::filesystem::temp_directory_path() / "checkpoint-bench-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) {
    state.SkipWithError("mkdtemp failed");
    return;
  }
  const std::string folder = pattern + "/";
  const Checkpoint run_state = state_of_a_run(state.range(0), state.range(1));
  RunFiles files;
  files.open(folder, "3");
  for (auto _ : state) {
    files[RunFile::post_para] << "-12345.678\n";  // the run adds to its files between checkpoints
    Checkpoint checkpoint = run_state;
    checkpoint.run_file_sizes = files.sync();
    write_checkpoint(checkpoint_path(files.prefix), checkpoint);
  }
  state.counters["bytes"] = static_cast<double>(std::filesystem::file_size(checkpoint_path(files.prefix)));
  std::filesystem::remove_all(pattern);
}

}  // namespace

BENCHMARK(BM_Checkpoint)
    ->Args({959, 11})
    ->Args({1791, 57})
    ->Args({20000, 11})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
