#include "driver/options.h"

#include <iostream>
#include <optional>

#include "driver/output_tracks.h"
#include "io/errors.h"
#include "io/string_conversion.h"

namespace {

constexpr int max_threads = 256;
constexpr long max_marginal_rate_moves = 1000;

struct RawValues {
  std::optional<std::string> seed;
  std::optional<std::string> n_iterations;
  std::optional<std::string> k_max;
  std::optional<std::string> threads;
  std::optional<std::string> thin;
  std::optional<std::string> checkpoint_seconds;
  std::optional<std::string> marginal_rate_moves;
};

[[noreturn]] void refuse_value(const std::string& option, const std::string& expected, const std::string& text) {
  throw InputError("alnsampler: option " + option + " needs " + expected + ", got " + quoted_value(text) + "\n", "", 0,
                   text);
}

template <typename T>
T numeric_value(const std::string& option, const std::string& text, const std::string& expected) {
  const auto value = parse_exact<T>(text);
  if (!value) refuse_value(option, expected, text);
  return *value;
}

long whole_number_at_least(const std::string& option, const std::string& text, long least) {
  const std::string expected = "a whole number of at least " + to_string(least);
  const long value = numeric_value<long>(option, text, expected);
  if (value < least) refuse_value(option, expected, text);
  return value;
}

void check_numeric_values(const RawValues& raw, RunSettings& settings) {
  if (raw.seed) settings.seed = numeric_value<unsigned int>("-s", *raw.seed, "a whole number from 0 to 4294967295");
  if (raw.n_iterations) settings.n_iterations = numeric_value<long>("-n", *raw.n_iterations, "a whole number");
  if (raw.k_max) {
    settings.k_max = numeric_value<long>("-k", *raw.k_max, "a whole number of at least 1");
    if (settings.k_max < 1) refuse_value("-k", "a whole number of at least 1", *raw.k_max);
  }
  if (raw.thin) settings.thin = whole_number_at_least("--thin", *raw.thin, 1);
  if (raw.checkpoint_seconds) {
    settings.checkpoint_seconds = whole_number_at_least("--checkpoint-seconds", *raw.checkpoint_seconds, 0);
  }
  if (raw.marginal_rate_moves) {
    const std::string expected = "a whole number from 0 to " + to_string(max_marginal_rate_moves);
    settings.marginal_rate_moves = numeric_value<long>("--marginal-rate-moves", *raw.marginal_rate_moves, expected);
    if (settings.marginal_rate_moves < 0 || settings.marginal_rate_moves > max_marginal_rate_moves) {
      refuse_value("--marginal-rate-moves", expected, *raw.marginal_rate_moves);
    }
  }
  if (raw.threads) {
    const std::string expected = "a whole number from 1 to " + to_string(max_threads);
    settings.threads = numeric_value<int>("--threads", *raw.threads, expected);
    if (settings.threads < 1 || settings.threads > max_threads) {
      refuse_value("--threads", expected, *raw.threads);
    }
  }
}

std::string as_folder(const std::string& text) {
  if (text.empty() || text.back() == '/') return text;
  return text + "/";
}

void report_unknown(const std::string& argument) {
  std::cerr << "ignoring unknown argument " << quoted_value(argument) << " (see --help)\n";
}

}  // namespace

RunSettings parse_options(int argc, const char* const* argv) {
  RunSettings settings;
  RawValues raw;
  settings.command_line.assign(argv, argv + argc);
  for (int i = 0; i < argc; ++i) {
    const std::string argument = argv[i];
    const bool has_value = i + 1 < argc;
    if (argument == "-h" || argument == "--help") {
      settings.show_help = true;
    } else if (argument == "--version") {
      settings.show_version = true;
    } else if (argument == "--ancestors") {
      settings.write_ancestors = true;
    } else if (argument == "--progress") {
      settings.progress_lines = true;
    } else if (argument == "--resume") {
      settings.resume = true;
    } else if (has_value && argument == "-s") {
      raw.seed = argv[++i];
    } else if (has_value && argument == "-r") {
      settings.root_dir = argv[++i];
    } else if (has_value && argument == "-n") {
      raw.n_iterations = argv[++i];
    } else if (has_value && argument == "-t") {
      settings.test_case = argv[++i];
    } else if (has_value && argument == "-d") {
      settings.data_file = argv[++i];
    } else if (has_value && argument == "-k") {
      raw.k_max = argv[++i];
    } else if (has_value && argument == "--threads") {
      raw.threads = argv[++i];
    } else if (has_value && argument == "--thin") {
      raw.thin = argv[++i];
    } else if (has_value && argument == "--checkpoint-seconds") {
      raw.checkpoint_seconds = argv[++i];
    } else if (has_value && argument == "--marginal-rate-moves") {
      raw.marginal_rate_moves = argv[++i];
    } else if (i > 0) {  // argument 0 is the program's own name
      report_unknown(argument);
    }
  }
  settings.root_dir = settings.root_dir.empty() ? "./" : as_folder(settings.root_dir);
  settings.test_case = as_folder(settings.test_case);
  if (!settings.show_help && !settings.show_version) check_numeric_values(raw, settings);
  return settings;
}

std::string data_file_path(const std::string& data_dir, const std::string& data_file) {
  if (!data_file.empty() && data_file.front() == '/') return data_file;
  return data_dir + data_file;
}

// The output files of the usage text, from the table of outputs: the run
// files, "and per iteration i:", the per-iteration files, each as
// SEED + part, filled into lines of at most 79 characters after two spaces;
// then the optional ones on a line of their own, each as "and with OPTION
// SEED + part + i.txt".
namespace {

std::string output_list() {
  std::vector<std::string> words;
  for (const OutputFile& file : run_files) words.push_back(std::string("SEED") + file.part + ",");
  words.back() += " and per iteration i:";
  std::string optional;
  for (const OutputFile& track : iteration_tracks) {
    const std::string name = std::string("SEED") + track.part + "i.txt";
    if (*track.option != '\0') {
      optional += "  and with " + std::string(track.option) + " " + name;
    } else {
      words.push_back(name + ",");
    }
  }
  words.back().pop_back();
  std::string text;
  std::string line = " ";
  for (const std::string& word : words) {
    if (line.size() + 1 + word.size() > 79) {
      text += line + "\n";
      line = " ";
    }
    line += " " + word;
  }
  return text + line + "\n" + optional;
}

}  // namespace

std::string usage_text() {
  return R"(Usage: alnsampler [-s SEED] [-r ROOT_DIR] [-n ITERATIONS] [-t TEST_CASE] [-d DATA_FILE] [-k K_MAX]
                  [--threads N] [--ancestors] [--progress] [--thin N] [--checkpoint-seconds S] [--resume]
                  [--marginal-rate-moves N]

Bayesian sampler of the evolution of a DNA alignment along a fixed rooted
binary tree: rate states along the alignment, a segmentation, event rates,
per-segment frequencies and every ancestral value, one iteration at a time.

Options (each followed by its value):
  -s SEED        seed of the random generator, 0..4294967295 (default 3);
                 also the prefix of every output file name
  -r ROOT_DIR    folder holding data/ and results/ (default ./); a missing
                 final "/" is added
  -n ITERATIONS  number of sampling iterations (default 1; 0 or less runs none)
  -t TEST_CASE   test-case folder inside data/ and results/ (default
                 test_case_23_6sp/); a missing final "/" is added
  -d DATA_FILE   alignment file inside the data folder, or an absolute path
                 (default data.txt)
  -k K_MAX       largest number of segments, at least 1 and below the number
                 of modelled columns (default 4)
  --ancestors    also write, per iteration, the sampled values of every
                 column's internal nodes (SEED_ancestors_i.txt)
  --threads N    threads for the tree likelihood passes, 1..256 (default 1);
                 the results are identical for every N
  --progress     print a plain progress line at every tenth of the run (for
                 log files); on a terminal a progress line is shown anyway
  --thin N       write the per-iteration files (and --ancestors files) only
                 for iterations N, 2N, 3N...; the run files keep a line per
                 iteration (default 1)
  --checkpoint-seconds S
                 least time between two checkpoints (default 60; 0: after
                 every iteration); one is also written after start-up and
                 after the last iteration
  --resume       continue the run of this seed from its checkpoint, up to -n
                 (also to extend a finished run); needs the same -s, -r, -t,
                 -k, -d, --thin, --ancestors, --marginal-rate-moves and input
                 files. The outputs are then those of one uninterrupted run
  --marginal-rate-moves N
                 N rounds per iteration (0..1000, default 0) of moves on every
                 deletion and mutation rate and on the rate-state transition
                 matrix whose likelihood sums out the rate states and every
                 ancestral value and indicator, then the rate states drawn
                 anew; lets two chains agree where a rate gets stuck near
                 zero. The first 100 iterations tune the moves
  -h, --help     print this text and exit
  --version      print the version and exit

Input, in ROOT_DIR/data/TEST_CASE:
  tree.txt                           one branch per line: parent child length;
                                     root 0, one pair of rows per internal node
                                     in breadth-first order, left child first
  map_from_leave_label_to_seq_id.txt one line per leaf: label sequence_id
  DATA_FILE                          one line per alignment column, one value
                                     per sequence id: 0 gap, 1-4 residues,
                                     5 absent; only lines whose first value
                                     (sequence 0) is 1-4 are modelled

Output, in ROOT_DIR/results/TEST_CASE (which must exist), each name starting
with SEED (existing files of the same names are replaced):
)" + output_list() + R"(: one line per modelled column, the
  values of the internal nodes in label order, the root first.
  SEED_checkpoint.bin holds what --resume needs; SEED_run.lock keeps a second
  run of the same seed out while one runs.

SIGINT or SIGTERM stops the run after the iteration in progress, with a
checkpoint, and prints the command that continues it (status 130 or 143).
)";
}
