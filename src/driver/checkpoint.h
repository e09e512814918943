#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "driver/options.h"
#include "driver/run_files.h"
#include "io/errors.h"
#include "random/generator.h"
#include "tree/column_states.h"
#include "updates/rate_sampler.h"

// Everything the next iteration of a run reads, taken after a finished
// iteration, so that a run stopped at any moment continues from its last
// checkpoint exactly as if it had never stopped. The tables of the
// segmentation sampler, the latent sampler and the likelihood engine are not
// in it: each iteration recomputes them from the trees before it reads them.
struct Checkpoint {
  long iteration = 0;  // iterations done; 0 right after start-up

  // What the run must agree with to go on: its seed, the options that shape
  // the chain or its files, and the input files (tree, leaf map, data).
  unsigned int seed = 0;
  long k_max = 0;
  long thin = 1;
  bool write_ancestors = false;  // --ancestors
  std::string data_file;
  std::array<std::uint64_t, 3> input_hashes{};

  // The run files' lengths in bytes, in the order of run_files (driver/output_tracks.h).
  std::array<std::uint64_t, run_file_count> run_file_sizes{};

  GeneratorState generator{};
  std::vector<double> deletion_rates;
  std::vector<double> insertion_rates;
  std::vector<double> mutation_rates;
  // The rate-state path; the per-state column lists follow from it.
  std::vector<int> column_rate_states;
  std::vector<RateSampler::Tuning> deletion_tunings;  // one per rate state
  std::vector<RateSampler::Tuning> mutation_tunings;
  std::vector<NodeState> node_states;  // ColumnStates::all()

  // --marginal-rate-moves, and the moves' tuning state (empty without them).
  long marginal_rate_moves = 0;
  std::vector<double> marginal_tuning;
};

// The three input files of a run, in the order of Checkpoint::input_hashes.
struct InputPaths {
  std::array<std::string, 3> paths;  // tree, leaf map, data file
};
// The hash of each input file's bytes (0 for a file that cannot be read).
std::array<std::uint64_t, 3> hash_input_files(const InputPaths& inputs);

std::string checkpoint_path(const std::string& run_prefix);  // results_dir + seed text + "_checkpoint.bin"

// The file's bytes: a tag, the format version, the fields, and a checksum of
// everything before it.
std::string encode_checkpoint(const Checkpoint& checkpoint);
// The checkpoint, or what is wrong with the bytes (not a checkpoint, another
// format version, damaged).
struct DecodedCheckpoint {
  std::optional<Checkpoint> checkpoint;
  std::string fault;
};
DecodedCheckpoint decode_checkpoint(const std::string& bytes);

// Replaces the checkpoint at `path` so that a kill or a power loss at any
// instant leaves either the old or the new one: the bytes go to PATH.tmp,
// which is flushed to disk and renamed over PATH, and the folder is flushed.
// A failure throws an OutputError. The environment variable
// ALNSAMPLER_TEST_CHECKPOINT_DELAY_MS, for tests only, pauses that long in
// the middle of writing the temporary file.
void write_checkpoint(const std::string& path, const Checkpoint& checkpoint);

// Removes a checkpoint (and a temporary one) left by an earlier run with the
// same seed: it does not describe the files a new run writes.
void remove_checkpoint(const std::string& path);
// Removes PATH.tmp, what a run killed while writing a checkpoint leaves,
// whatever it is (a file, a pipe, an empty folder); throws an OutputError if
// it cannot.
void remove_temporary_checkpoint(const std::string& path);

// Reads the checkpoint at `path` and checks that the run of `settings` can
// continue from it: the same seed, -k, -d, --thin, --ancestors and
// --marginal-rate-moves, the same input files,
// -n not below its iteration, and every run file (run_prefix + suffix) at
// least as long as it recorded. Otherwise throws ResumeRefused (none,
// damaged, another format version, other options or input files, -n below
// its iteration, run files shorter than recorded) naming the first
// difference. Reads only; changes nothing.
Checkpoint checkpoint_to_resume(const std::string& path, const RunSettings& settings, const InputPaths& inputs,
                                const std::string& run_prefix);
