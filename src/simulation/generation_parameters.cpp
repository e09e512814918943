#include "simulation/generation_parameters.h"

#include <cmath>
#include <filesystem>

#include "io/csv_reader.h"
#include "io/errors.h"
#include "io/string_conversion.h"
#include "io/vector_writers.h"
#include "simulation/data_generation.h"

namespace {

// Residues 1..4: one betas entry per residue, one betas row per previous
// residue, one thetas entry per residue.
constexpr std::size_t residue_count = 4;
constexpr double sum_tolerance = 1e-6;

[[noreturn]] void fail(const std::string& path, const std::string& what) {
  throw InputError("alnsimulate: " + path + ": " + what + "\n", path);
}

std::string line(std::size_t row) { return "line " + to_string(row + 1); }

bool exists(const std::string& path) {
  std::error_code ignored;
  return std::filesystem::is_regular_file(path, ignored);
}

template <typename T>
std::vector<std::vector<T>> read_table(const std::string& path) {
  CSVReader<T> reader(path);
  return reader.read();
}

// Rows up to the last one holding a value: blank lines at the end of a file
// are not rows of the table.
template <typename T>
std::size_t used_rows(const std::vector<std::vector<T>>& table) {
  std::size_t rows = table.size();
  while (rows > 0 && table[rows - 1].empty()) --rows;
  return rows;
}

void check_mandatory_files(const std::string& dir, bool needs_from_tos) {
  std::vector<std::string> names;
  if (needs_from_tos) names.push_back("from_tos.txt");
  for (const char* name : {"gammas.txt", "etas.txt", "betas.txt", "thetas.txt", "deletion_rates.txt",
                           "insertion_rates.txt", "mutation_rates.txt"}) {
    names.push_back(name);
  }
  std::string missing;
  for (const auto& name : names) {
    if (!exists(dir + name)) missing += (missing.empty() ? "" : ", ") + name;
  }
  if (!missing.empty()) {
    fail(dir, "missing parameter file(s) " + missing +
                  (needs_from_tos ? " (from_tos.txt may be replaced by --columns)" : "") + "; see alnsimulate --help");
  }
}

std::vector<std::vector<long>> read_segmentation(const std::string& dir, std::optional<long> columns) {
  const std::string path = dir + "from_tos.txt";
  if (!exists(path)) {
    if (*columns < 1) fail("--columns", "needs at least 1 column, got " + to_string(*columns));
    return {{0, *columns - 1}};
  }
  std::vector<std::vector<long>> from_tos = read_table<long>(path);
  from_tos.resize(used_rows(from_tos));
  long next_from = 0;
  for (std::size_t r = 0; r < from_tos.size(); ++r) {
    const auto& row = from_tos[r];
    if (row.size() != 2) fail(path, line(r) + " holds " + to_string(row.size()) + " values; a segment is \"from to\"");
    if (row[0] != next_from) {
      fail(path, line(r) + ": segment starts at column " + to_string(row[0]) + ", expected " + to_string(next_from) +
                     " (segments start at 0 and follow each other without gap or overlap)");
    }
    if (row[1] < row[0]) fail(path, line(r) + ": segment ends at " + to_string(row[1]) + ", before its start");
    next_from = row[1] + 1;
  }
  if (columns && *columns != next_from) {
    fail(path, "the segments cover " + to_string(next_from) + " columns but --columns asks for " + to_string(*columns));
  }
  return from_tos;
}

// Betas are cut into blocks by row count alone, so a short file would leave a
// segment without its rows: check the raw file before it is cut.
void check_beta_rows(const std::string& dir, std::size_t segment_count) {
  const std::string path = dir + "betas.txt";
  const auto table = read_table<double>(path);
  if (table[0].size() != residue_count) {
    fail(path, "line 1 holds " + to_string(table[0].size()) + " values; every row needs " + to_string(residue_count) +
                   ", the weights of the next root value 1..4");
  }
  const std::size_t needed = segment_count * residue_count;
  const std::size_t rows = used_rows(table);
  if (rows != needed) {
    fail(path, "holds " + to_string(rows) + " rows; " + to_string(segment_count) + " segment(s) need " +
                   to_string(needed) + " (per segment, one row per previous root value 1..4)");
  }
}

void check_distribution(const std::vector<double>& row, std::size_t expected_size, const std::string& path,
                        const std::string& where) {
  if (row.size() != expected_size) {
    fail(path, where + " holds " + to_string(row.size()) + " values, expected " + to_string(expected_size));
  }
  double sum = 0.0;
  for (const double value : row) {
    if (!std::isfinite(value) || value < 0.0) {
      fail(path, where + ": weight " + to_string(value) + " is not a finite number >= 0");
    }
    sum += value;
  }
  if (std::fabs(sum - 1.0) > sum_tolerance) fail(path, where + ": values sum to " + to_string(sum) + ", expected 1");
}

void check_segment_probabilities(const std::string& path, const std::vector<double>& values, std::size_t segments) {
  if (values.size() != segments) {
    fail(path, "line 1 holds " + to_string(values.size()) + " values for " + to_string(segments) +
                   " segment(s); give one per segment, all on the first line");
  }
  for (std::size_t s = 0; s < segments; ++s) {
    if (!(values[s] >= 0.0 && values[s] <= 1.0)) {
      fail(path,
           "line 1: value " + to_string(values[s]) + " of segment " + to_string(s) + " is not a probability in [0, 1]");
    }
  }
}

void check_betas(const std::string& path, const std::vector<std::vector<std::vector<double>>>& betas) {
  for (std::size_t s = 0; s < betas.size(); ++s) {
    for (std::size_t r = 0; r < residue_count; ++r) {
      check_distribution(
          betas[s][r], residue_count, path,
          line(s * residue_count + r) + " (segment " + to_string(s) + ", after root value " + to_string(r + 1) + ")");
    }
  }
}

void check_thetas(const std::string& path, const std::vector<std::vector<double>>& thetas, std::size_t segments) {
  const std::size_t rows = used_rows(thetas);
  if (rows != segments) {
    fail(path,
         "holds " + to_string(rows) + " rows for " + to_string(segments) + " segment(s); give one row per segment");
  }
  for (std::size_t s = 0; s < segments; ++s) {
    check_distribution(thetas[s], residue_count, path, line(s) + " (segment " + to_string(s) + ")");
  }
}

void check_rates(const std::string& path, const std::vector<double>& rates, std::size_t rate_states) {
  if (rates.size() != rate_states) {
    fail(path, "line 1 holds " + to_string(rates.size()) + " rates for " + to_string(rate_states) +
                   " rate state(s); give one per rate state, all on the first line");
  }
  for (std::size_t k = 0; k < rates.size(); ++k) {
    if (!std::isfinite(rates[k]) || rates[k] < 0.0) {
      fail(path, "rate " + to_string(rates[k]) + " of rate state " + to_string(k) + " is not a finite number >= 0");
    }
  }
}

// Below an empty node an insertion event stops the generator half way; with
// empty roots and deletions in every realistic case, only 0 is safe.
void check_no_insertions(const std::string& path, const std::vector<double>& rates) {
  for (std::size_t k = 0; k < rates.size(); ++k) {
    if (rates[k] != 0.0) {
      fail(path, "rate state " + to_string(k) + " has insertion rate " + to_string(rates[k]) +
                     "; the generator cannot simulate insertions (it stops at the first one), so every insertion"
                     " rate must be 0");
    }
  }
}

void read_rate_states(const std::string& dir, GenerationParameters& p) {
  const std::string probs_path = dir + "initial_rate_state_probs.txt";
  if (exists(probs_path)) {
    p.initial_state_probs = read_table<double>(probs_path)[0];
    check_distribution(p.initial_state_probs, p.initial_state_probs.size(), probs_path, "line 1");
  } else {
    p.initial_state_probs = default_initial_state_probs(p.deletion_rates.size());
  }
  const std::size_t rate_states = p.initial_state_probs.size();

  const std::string transitions_path = dir + "rate_state_transitions.txt";
  if (exists(transitions_path)) {
    p.state_transitions = read_table<double>(transitions_path);
    const std::size_t rows = used_rows(p.state_transitions);
    if (rows != rate_states) {
      fail(transitions_path, "holds " + to_string(rows) + " rows for " + to_string(rate_states) +
                                 " rate state(s); give one row per previous rate state");
    }
    p.state_transitions.resize(rows);
    for (std::size_t r = 0; r < rows; ++r) {
      check_distribution(p.state_transitions[r], rate_states, transitions_path,
                         line(r) + " (after rate state " + to_string(r) + ")");
    }
  } else {
    p.state_transitions = default_state_transitions(rate_states);
  }
  check_rates(dir + "deletion_rates.txt", p.deletion_rates, rate_states);
  check_rates(dir + "insertion_rates.txt", p.insertion_rates, rate_states);
  check_rates(dir + "mutation_rates.txt", p.mutation_rates, rate_states);
  check_no_insertions(dir + "insertion_rates.txt", p.insertion_rates);
}

void read_first_root(const std::string& dir, GenerationParameters& p) {
  const std::string values_path = dir + "first_root_values.txt";
  p.first_root_values = {1, 2, 3, 4};
  if (exists(values_path)) p.first_root_values = read_table<int>(values_path)[0];
  for (const int value : p.first_root_values) {
    if (value < 0 || value > 4) fail(values_path, "line 1: value " + to_string(value) + " is not 0..4");
  }
  const std::string weights_path = dir + "first_root_weights.txt";
  const std::size_t count = p.first_root_values.size();
  if (exists(weights_path)) {
    p.first_root_weights = read_table<double>(weights_path)[0];
    check_distribution(p.first_root_weights, count, weights_path, "line 1 (one weight per first-root value)");
  } else {
    p.first_root_weights.assign(count, 1.0 / static_cast<double>(count));
  }
}

void read_absent_stretches(const std::string& dir, std::size_t leaf_count, GenerationParameters& p) {
  const std::string path = dir + "absent.txt";
  std::error_code ignored;
  if (!exists(path) || std::filesystem::file_size(path, ignored) == 0) return;
  const auto table = read_table<long>(path);
  const long columns = p.column_count();
  for (std::size_t r = 0; r < used_rows(table); ++r) {
    const auto& row = table[r];
    if (row.size() != 3) {
      fail(path, line(r) + " holds " + to_string(row.size()) + " values; a stretch is \"sequence_id first last\"");
    }
    if (row[0] < 0 || row[0] >= static_cast<long>(leaf_count)) {
      fail(path, line(r) + ": sequence id " + to_string(row[0]) + " is not 0.." + to_string(leaf_count - 1));
    }
    if (row[1] < 0 || row[2] < row[1] || row[2] >= columns) {
      fail(path, line(r) + ": columns " + to_string(row[1]) + ".." + to_string(row[2]) +
                     " are not an ordered stretch within 0.." + to_string(columns - 1));
    }
    p.absent_stretches.push_back({row[0], row[1], row[2]});
  }
}

}  // namespace

std::vector<double> default_initial_state_probs(std::size_t rate_state_count) {
  return std::vector<double>(rate_state_count, 1.0 / static_cast<double>(rate_state_count));
}

std::vector<std::vector<double>> default_state_transitions(std::size_t rate_state_count) {
  static const double stay = 0.95;
  if (rate_state_count == 1) return {{1.0}};
  const double move = (1.0 - stay) / static_cast<double>(rate_state_count - 1);
  std::vector<std::vector<double>> matrix(rate_state_count, std::vector<double>(rate_state_count, move));
  for (std::size_t k = 0; k < rate_state_count; ++k) matrix[k][k] = stay;
  return matrix;
}

GenerationParameters load_generation_parameters(const std::string& dir, std::optional<long> columns,
                                                std::size_t leaf_count) {
  GenerationParameters p;
  const bool has_from_tos = exists(dir + "from_tos.txt");
  check_mandatory_files(dir, !has_from_tos && !columns);
  p.from_tos = read_segmentation(dir, columns);
  const std::size_t segments = p.from_tos.size();
  if (segments == 0) fail(dir + "from_tos.txt", "holds no segment");

  check_beta_rows(dir, segments);
  read_segment_parameters(dir, segments, p);
  check_segment_probabilities(dir + "gammas.txt", p.gammas, segments);
  check_segment_probabilities(dir + "etas.txt", p.etas, segments);
  check_betas(dir + "betas.txt", p.betas);
  check_thetas(dir + "thetas.txt", p.thetas, segments);
  p.thetas.resize(segments);
  if (p.deletion_rates.empty()) fail(dir + "deletion_rates.txt", "holds no rate");
  read_rate_states(dir, p);
  read_first_root(dir, p);
  read_absent_stretches(dir, leaf_count, p);
  return p;
}

void write_generation_parameters(const GenerationParameters& p, std::ostream* out) {
  write_model_parameters(p, *out);
  *out << "initial_rate_state_probs:\n";
  write_vector_row(p.initial_state_probs, *out);
  *out << "rate_state_transitions:\n";
  write_vectors_two_dim(p.state_transitions, *out);
  *out << "first_root_values:\n";
  write_vector_row(p.first_root_values, *out);
  *out << "first_root_weights:\n";
  write_vector_row(p.first_root_weights, *out);
  *out << "absent (sequence_id first_column last_column):\n";
  for (const auto& stretch : p.absent_stretches) {
    *out << stretch.sequence_id << " " << stretch.first_column << " " << stretch.last_column << "\n";
  }
}
