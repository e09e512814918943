#pragma once

#include <optional>
#include <string>

// The settings of one alnsimulate run, as given on the command line.
struct SimulateSettings {
  std::string parameter_dir;  // ends with "/"
  std::string tree_dir;       // ends with "/"
  std::string output_dir;     // ends with "/"
  std::optional<long> columns;
  unsigned int seed = 3;
  bool force = false;  // replace a test case already in output_dir
  bool show_help = false;
};

// Reads -p/--parameters, -T/--tree, -o/--output, -c/--columns, -s/--seed
// (each followed by its value), --force and -h/--help. A folder without a trailing
// "/" gets one. An unknown argument, an option without its value, a value
// that is not a number of the option's type, or a missing -p, -T or -o
// throws an InputError naming the argument.
SimulateSettings parse_simulate_options(int argc, const char* const* argv);

// The text printed by --help: every option and every file, with examples.
std::string simulate_usage_text();

// Simulates a test case: refuses an output folder that already holds a test
// case unless settings.force, checks the tree and the parameters, seeds
// rand() once, generates every column, and writes into the output folder
// (created if needed) "tree.txt" and "map_from_leave_label_to_seq_id.txt"
// (copies of the tree folder's), "data.txt" (the leaf values, absent
// stretches applied) and the truth in "truth/". An output folder
// ROOT/data/NAME/ also gets its results folder ROOT/results/NAME/. Returns
// 0; every failure throws an Error (an InputError for the command line and
// the input, an OutputError for the output files).
int run_simulation(const SimulateSettings& settings);

// parse_simulate_options, then --help or run_simulation.
int run_simulate_command(int argc, const char* const* argv);
