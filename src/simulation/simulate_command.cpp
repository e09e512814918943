#include "simulation/simulate_command.h"

#include <array>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <vector>

#include "io/errors.h"
#include "io/output_files.h"
#include "io/string_conversion.h"
#include "io/tree_input.h"
#include "io/vector_writers.h"
#include "random/generator.h"
#include "simulation/data_generation.h"
#include "simulation/generation_parameters.h"
#include "simulation/run_next.h"
#include "tree/model_parameters.h"
#include "tree/tree_topology.h"

namespace {

namespace fs = std::filesystem;

constexpr int absent_value = 5;

// What makes a folder a test case: the files this program writes there.
constexpr std::array<const char*, 4> case_entries{"data.txt", "tree.txt", "map_from_leave_label_to_seq_id.txt",
                                                  "truth"};
// The look-up tables alnprepare writes beside a case; they describe the
// alignment of that case, so they must not outlive it.
constexpr std::array<const char*, 2> lookup_tables{"columns.tsv", "sequences.tsv"};

[[noreturn]] void usage_error(const std::string& what) {
  throw InputError("alnsimulate: " + what + "; see alnsimulate --help\n");
}

std::string as_folder(const std::string& path) { return path.empty() || path.back() == '/' ? path : path + "/"; }

bool is_option(const std::string& argument, const char* short_form, const char* long_form) {
  return argument == short_form || argument == long_form;
}

template <typename T>
T numeric_value(const std::string& option, const std::string& text, const std::string& expected) {
  const auto value = parse_exact<T>(text);
  if (!value) usage_error("option " + option + " needs " + expected + ", got " + quoted_value(text));
  return *value;
}

// The branch table and leaf map of the tree folder, checked by the reader.
struct TreeInput {
  BranchTable table;
  std::size_t leaf_count = 0;
};

TreeInput read_tree(const std::string& tree_dir) {
  TreeInput tree;
  tree.table = read_tree_files(tree_dir).table;
  tree.leaf_count = required_row_length(tree.table.parents, tree.table.leaf_map);
  return tree;
}

template <typename Writer>
void write_file(const std::string& path, Writer write) {
  std::ofstream stream;
  open_output_file(path, stream, &std::cerr);
  write(&stream);
  close_output_file(stream, path);
}

std::string listed(const std::vector<std::string>& names) {
  std::string text;
  for (const auto& name : names) text += (text.empty() ? "" : ", ") + name;
  return text;
}

std::vector<std::string> existing_entries(const std::string& folder, const auto& names) {
  std::vector<std::string> found;
  std::error_code ignored;
  for (const char* name : names) {
    const fs::path path = fs::path(folder) / name;
    if (!fs::exists(fs::symlink_status(path, ignored))) continue;
    found.push_back(fs::is_directory(path, ignored) ? std::string(name) + "/" : std::string(name));
  }
  return found;
}

// A simulated case replaces the alignment of a case already in the folder;
// runs and summaries of that case would then silently describe data that no
// longer exists, so the user has to ask for it.
void refuse_existing_case(const SimulateSettings& settings) {
  const auto found = existing_entries(settings.output_dir, case_entries);
  if (found.empty() || settings.force) return;
  usage_error(settings.output_dir + " already holds a test case (" + listed(found) + "); give --force to replace it");
}

// Under --force: the replaced case's look-up tables go, and the user hears
// that its runs are still in the results folder.
std::string remove_lookup_tables(const std::string& output_dir) {
  const auto found = existing_entries(output_dir, lookup_tables);
  for (const auto& name : found) {
    std::error_code error;
    fs::remove(fs::path(output_dir) / name, error);
    if (error) {
      throw OutputError("alnsimulate: cannot remove " + output_dir + name + ": " + error.message() + "\n",
                        output_dir + name);
    }
  }
  if (found.empty()) return "";
  return "alnsimulate: removed " + listed(found) + " of the replaced case from " + output_dir +
         " (they described its alignment)\n";
}

void note_earlier_runs(const std::string& results_dir) {
  std::error_code ignored;
  if (results_dir.empty() || fs::is_empty(results_dir, ignored) || ignored) return;
  std::cerr << "alnsimulate: warning: " << results_dir
            << " holds runs of the case this one replaces; they do not describe the new data\n";
}

void create_folder(const std::string& path) {
  std::error_code error;
  std::filesystem::create_directories(path, error);
  if (error) throw OutputError("alnsimulate: cannot create folder " + path + ": " + error.message() + "\n", path);
}

// Regenerating a test case in place gives a tree folder equal to the output
// folder; a file is then already where it belongs.
void copy_input_file(const std::string& from, const std::string& to) {
  std::error_code error;
  if (std::filesystem::equivalent(from, to, error)) return;
  std::filesystem::copy_file(from, to, std::filesystem::copy_options::overwrite_existing, error);
  if (error) throw OutputError("alnsimulate: cannot copy " + from + " to " + to + ": " + error.message() + "\n", to);
}

// Every column's leaf values, before and after the absent stretches.
std::vector<std::vector<int>> leaf_rows(const ColumnStates& states) {
  std::vector<std::vector<int>> rows;
  rows.reserve(states.columns());
  for (std::size_t c = 0; c < states.columns(); ++c) rows.push_back(states.leaf_values(c));
  return rows;
}

std::vector<std::vector<int>> observed_rows(std::vector<std::vector<int>> rows,
                                            const std::vector<AbsentStretch>& absent_stretches) {
  for (const auto& stretch : absent_stretches) {
    for (long c = stretch.first_column; c <= stretch.last_column; ++c) rows[c][stretch.sequence_id] = absent_value;
  }
  return rows;
}

// The columns alnsampler keeps: those whose reference, sequence 0, holds a
// residue.
std::vector<long> modelled_columns(const std::vector<std::vector<int>>& rows) {
  std::vector<long> columns;
  for (std::size_t c = 0; c < rows.size(); ++c) {
    if (rows[c][0] >= 1 && rows[c][0] <= 4) columns.push_back(static_cast<long>(c));
  }
  return columns;
}

// The true segments renumbered over the modelled columns; a segment without
// a modelled column disappears.
std::vector<std::vector<long>> modelled_from_tos(const std::vector<std::vector<long>>& from_tos,
                                                 const std::vector<long>& columns) {
  std::vector<std::vector<long>> segments;
  std::size_t next = 0;
  for (const auto& segment : from_tos) {
    const std::size_t first = next;
    while (next < columns.size() && columns[next] <= segment[1]) ++next;
    if (next > first) segments.push_back({static_cast<long>(first), static_cast<long>(next - 1)});
  }
  return segments;
}

void write_truth(const std::string& truth_dir, const SimulatedColumns& simulated,
                 const GenerationParameters& parameters, const std::vector<long>& columns, unsigned int seed) {
  const std::vector<int>& states = simulated.rate_states;
  write_file(truth_dir + "rate_states.txt", [&](std::ostream* out) { write_vector_column(states, *out); });
  std::ofstream values;
  std::ofstream deletions;
  std::ofstream insertions;
  std::ofstream bonds;
  open_output_file(truth_dir + "values.txt", values, &std::cerr);
  open_output_file(truth_dir + "deletions.txt", deletions, &std::cerr);
  open_output_file(truth_dir + "insertions.txt", insertions, &std::cerr);
  open_output_file(truth_dir + "bonds.txt", bonds, &std::cerr);
  write_column_truth(simulated.states, values, deletions, insertions, bonds);
  close_output_file(values, truth_dir + "values.txt");
  close_output_file(deletions, truth_dir + "deletions.txt");
  close_output_file(insertions, truth_dir + "insertions.txt");
  close_output_file(bonds, truth_dir + "bonds.txt");

  std::vector<int> modelled_states;
  for (const long c : columns) modelled_states.push_back(states.at(c));
  write_file(truth_dir + "modelled_columns.txt", [&](std::ostream* out) { write_vector_column(columns, *out); });
  write_file(truth_dir + "modelled_rate_states.txt",
             [&](std::ostream* out) { write_vector_column(modelled_states, *out); });
  write_file(truth_dir + "modelled_from_tos.txt",
             [&](std::ostream* out) { write_vectors_two_dim(modelled_from_tos(parameters.from_tos, columns), *out); });
  write_file(truth_dir + "parameters.txt", [&](std::ostream* out) {
    write_generation_parameters(parameters, out);
    *out << "seed:\n" << seed << "\n";
  });
}

}  // namespace

SimulateSettings parse_simulate_options(int argc, const char* const* argv) {
  SimulateSettings settings;
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    if (is_option(argument, "-h", "--help")) {
      settings.show_help = true;
      continue;
    }
    if (argument == "--force") {
      settings.force = true;
      continue;
    }
    const bool known = is_option(argument, "-p", "--parameters") || is_option(argument, "-T", "--tree") ||
                       is_option(argument, "-o", "--output") || is_option(argument, "-c", "--columns") ||
                       is_option(argument, "-s", "--seed");
    if (!known) usage_error("unknown argument " + quoted_value(argument));
    if (i + 1 >= argc) usage_error("option " + argument + " needs a value");
    const std::string value = argv[++i];
    if (is_option(argument, "-p", "--parameters")) settings.parameter_dir = as_folder(value);
    if (is_option(argument, "-T", "--tree")) settings.tree_dir = as_folder(value);
    if (is_option(argument, "-o", "--output")) settings.output_dir = as_folder(value);
    if (is_option(argument, "-c", "--columns")) {
      settings.columns = numeric_value<long>(argument, value, "a whole number of at least 1");
      if (*settings.columns < 1)
        usage_error("option " + argument + " needs a whole number of at least 1, got " + quoted_value(value));
    }
    if (is_option(argument, "-s", "--seed")) {
      settings.seed = numeric_value<unsigned int>(argument, value, "a whole number from 0 to 4294967295");
    }
  }
  if (settings.show_help) return settings;
  if (settings.parameter_dir.empty()) usage_error("the parameter folder (-p) is missing");
  if (settings.tree_dir.empty()) usage_error("the tree folder (-T) is missing");
  if (settings.output_dir.empty()) usage_error("the output folder (-o) is missing");
  return settings;
}

int run_simulation(const SimulateSettings& settings) {
  refuse_existing_case(settings);
  const bool replaces_case = !existing_entries(settings.output_dir, case_entries).empty();
  const TreeInput tree = read_tree(settings.tree_dir);
  const GenerationParameters parameters =
      load_generation_parameters(settings.parameter_dir, settings.columns, tree.leaf_count);
  const std::string truth_dir = settings.output_dir + "truth/";
  create_folder(truth_dir);

  seed_generator(settings.seed);
  const auto topology = std::make_shared<const TreeTopology>(tree.table);
  const SimulatedColumns simulated = generate_columns(topology, parameters, model_alphabet().residues);
  const std::vector<std::vector<int>> leaves = leaf_rows(simulated.states);
  write_file(truth_dir + "leaves.txt", [&](std::ostream* out) { write_vectors_two_dim(leaves, *out); });

  const std::vector<std::vector<int>> rows = observed_rows(leaves, parameters.absent_stretches);
  const std::string removed = replaces_case ? remove_lookup_tables(settings.output_dir) : "";
  write_file(settings.output_dir + "data.txt", [&](std::ostream* out) { write_vectors_two_dim(rows, *out); });
  copy_input_file(settings.tree_dir + "tree.txt", settings.output_dir + "tree.txt");
  copy_input_file(settings.tree_dir + "map_from_leave_label_to_seq_id.txt",
                  settings.output_dir + "map_from_leave_label_to_seq_id.txt");
  const std::vector<long> modelled = modelled_columns(rows);
  write_truth(truth_dir, simulated, parameters, modelled, settings.seed);

  const std::string results_dir = results_folder_of(settings.output_dir);
  if (replaces_case) note_earlier_runs(results_dir);
  if (!results_dir.empty()) create_folder(results_dir);
  std::cout << removed
            << run_next_text(settings.output_dir, static_cast<long>(rows.size()), static_cast<long>(modelled.size()),
                             sampler_command_name(), summarizer_command_name());
  return 0;
}

int run_simulate_command(int argc, const char* const* argv) {
  const SimulateSettings settings = parse_simulate_options(argc, argv);
  if (settings.show_help) {
    std::cout << simulate_usage_text();
    return 0;
  }
  return run_simulation(settings);
}
