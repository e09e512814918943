#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "simulation/generation_parameters.h"
#include "support/test_trees.h"

// What a simulated test case holds about its modelled columns (those whose
// reference sequence 0 has a residue), read back from the case folder.
struct CaseTruth {
  TreeTable table;
  std::vector<long> modelled_columns;           // row of data.txt
  std::vector<std::vector<int>> modelled_rows;  // leaf values, absent cells 5
  std::vector<int> root_values;                 // true root value
  std::vector<int> rate_states;                 // true rate state
  std::vector<int> segments;                    // true segment
};

// Reads data.txt, the tree files and truth/ of a case written by alnsimulate.
CaseTruth read_case_truth(const std::filesystem::path& case_dir, const GenerationParameters& parameters);

// The generating parameters of a parameter folder (checked as alnsimulate does).
GenerationParameters read_parameters(const std::filesystem::path& parameter_dir, std::size_t leaf_count);

// The posterior mode of every modelled column's rate state when every
// generating parameter and every root value is known: emissions from the
// pruning pass under each state's rates, then forward-backward over the
// modelled columns, with the transition matrix raised to the number of
// generated columns between two modelled ones. This is the best any sampler
// of the model can do with the same data.
std::vector<int> oracle_rate_states(const CaseTruth& truth, const GenerationParameters& parameters);

double fraction_equal(const std::vector<int>& a, const std::vector<int>& b);
