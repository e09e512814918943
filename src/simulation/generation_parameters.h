#pragma once

#include <cstddef>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

// Cells of one sequence marked absent (value 5, missing data) over a stretch
// of simulated columns, both ends included, columns numbered from 0.
struct AbsentStretch {
  long sequence_id = 0;
  long first_column = 0;
  long last_column = 0;
};

// Everything the simulator needs besides the tree, checked for consistency.
struct GenerationParameters {
  std::vector<std::vector<long>> from_tos;
  std::vector<double> gammas;
  std::vector<double> etas;
  std::vector<std::vector<std::vector<double>>> betas;
  std::vector<std::vector<double>> thetas;
  std::vector<double> deletion_rates;
  std::vector<double> insertion_rates;
  std::vector<double> mutation_rates;
  std::vector<double> initial_state_probs;
  std::vector<std::vector<double>> state_transitions;
  std::vector<int> first_root_values;
  std::vector<double> first_root_weights;
  std::vector<AbsentStretch> absent_stretches;

  long column_count() const { return from_tos.back()[1] + 1; }
};

// Reads a parameter folder (`dir` ends with a path separator) and checks it
// before anything is simulated. Mandatory: "gammas.txt", "etas.txt",
// "betas.txt", "thetas.txt", "deletion_rates.txt", "insertion_rates.txt",
// "mutation_rates.txt", and "from_tos.txt" unless `columns` is given (one
// segment over all columns). Optional, with their defaults:
//   "initial_rate_state_probs.txt"  one row, R values; uniform over the R
//                                   rate states, R = number of deletion rates
//   "rate_state_transitions.txt"    R rows of R values; 0.95 to stay, the rest
//                                   shared equally by the other states
//   "first_root_values.txt"         one row of values 0..4; 1 2 3 4
//   "first_root_weights.txt"        one row, one weight per first-root value;
//                                   equal weights
//   "absent.txt"                    rows "sequence_id first_column last_column";
//                                   none
// Any missing file, short or long row, probability outside [0, 1], row that
// does not sum to 1 (within 1e-6), negative or non-finite rate, non-zero
// insertion rate (the generator cannot simulate insertions), segmentation
// that does not cover 0..N-1 in order, `columns` that disagrees with it, or
// absent stretch outside the sequences (0..leaf_count-1) or columns throws
// an InputError naming the file, the line and the value.
GenerationParameters load_generation_parameters(const std::string& dir, std::optional<long> columns,
                                                std::size_t leaf_count);

// A record of every parameter used: the echo of the reader of the eight
// model files, then the initial rate-state probabilities, the transition
// matrix, the first-root values and weights and the absent stretches.
void write_generation_parameters(const GenerationParameters& parameters, std::ostream* out);

// Default file contents, for the help text.
std::vector<double> default_initial_state_probs(std::size_t rate_state_count);
std::vector<std::vector<double>> default_state_transitions(std::size_t rate_state_count);
