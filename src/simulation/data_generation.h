#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "tree/phy_tree.h"

// Reads the generating parameters from `dir` (ending with a path separator):
// "from_tos.txt", "gammas.txt", "etas.txt", "betas.txt", "thetas.txt",
// "deletion_rates.txt", "insertion_rates.txt", "mutation_rates.txt", and
// echoes them to `out` (which must be given).
void read_data_generation_parameters(const std::string& dir, std::vector<std::vector<long>>& from_tos,
                                     std::vector<double>& gammas, std::vector<double>& etas,
                                     std::vector<std::vector<std::vector<double>>>& betas,
                                     std::vector<std::vector<double>>& thetas, std::vector<double>& deletion_rates,
                                     std::vector<double>& insertion_rates, std::vector<double>& mutation_rates,
                                     std::ostream* out);

// Simulates one tree per column: rate states along the alignment first, then
// every column's root value and branches segment by segment. Writes the leaf
// values (row c = column c) to `output_file` and the rate states to
// `rate_state_out` (which must be given); `log` may be null.
void generate_trees(std::vector<PhyTree*>& trees, const std::vector<int>& parents, const std::vector<int>& children,
                    const std::vector<double>& lengths, const std::vector<int>& map_from_leave_label_to_seq_id,
                    const std::vector<int>& values, const std::vector<int>& first_root_values,
                    const std::vector<std::vector<long>>& from_tos, const std::vector<double>& first_root_weights,
                    const std::vector<double>& gammas, const std::vector<double>& etas,
                    const std::vector<std::vector<std::vector<double>>>& betas,
                    const std::vector<std::vector<double>>& thetas, const std::vector<double>& initial_state_probs,
                    const std::vector<std::vector<double>>& state_transitions, const std::vector<double>& deletion_rates,
                    const std::vector<double>& insertion_rates, const std::vector<double>& mutation_rates,
                    const std::string& output_file, std::ostream* log, std::ostream* rate_state_out);

// One line per tree to each stream: values, deletions, insertions, bonds.
void output_zvs(std::vector<PhyTree*>& trees, std::ostream* values, std::ostream* deletions, std::ostream* insertions,
                std::ostream* bonds);
