#pragma once

#include <string>
#include <vector>

// The settings of one run, as given on the command line.
struct RunSettings {
  unsigned int seed = 3;
  std::string root_dir = "./";
  long n_iterations = 1;
  std::string test_case = "test_case_23_6sp/";
  std::string data_file = "data.txt";
  long k_max = 4;
  bool write_ancestors = false;           // --ancestors: also write every column's internal values
  int threads = 1;                        // --threads: threads of the deterministic likelihood passes
  bool progress_lines = false;            // --progress: a plain progress line at every tenth of the run
  bool resume = false;                    // --resume: continue from the run's checkpoint
  long thin = 1;                          // --thin: per-iteration files only every thin-th iteration
  long checkpoint_seconds = 60;           // --checkpoint-seconds: least time between two checkpoints
  long marginal_rate_moves = 0;            // --marginal-rate-moves: moves per rate and iteration, latent values summed out
  std::vector<std::string> command_line;  // every argument as given, the program first
  bool show_help = false;
  bool show_version = false;
};

// Reads the options -s, -r, -n, -t, -d, -k, each followed by its value, in any
// order; an option given twice takes its last value, and a value is never
// examined as an option. An unknown argument, or an option without a following
// value, is ignored after a line on standard error:
// ignoring unknown argument "X" (see --help).
// -r and -t values get a trailing "/" when they lack one (an empty -r is the
// current folder "./"), so that folder and file names never run together.
// -h/--help and --version ask for the usage text and the version; --ancestors
// asks for the internal values of every iteration; --threads N sets the
// threads of the likelihood passes; --progress asks for plain progress lines;
// --resume, --thin N and --checkpoint-seconds S are those of long runs;
// --marginal-rate-moves N adds N moves per rate and iteration.
// A numeric value that is not entirely a number of the option's type (a seed
// 0..4294967295, whole numbers for -n and -k, -k at least 1, --threads
// 1..256, --thin at least 1, --checkpoint-seconds at least 0,
// --marginal-rate-moves 0..1000) throws an InputError naming the option and
// the value.
RunSettings parse_options(int argc, const char* const* argv);

// The alignment file's path: the -d value itself when it is absolute,
// otherwise inside the test case's data folder.
std::string data_file_path(const std::string& data_dir, const std::string& data_file);

// The text printed by -h/--help.
std::string usage_text();
