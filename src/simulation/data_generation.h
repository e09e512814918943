#pragma once

#include <cstddef>
#include <ostream>
#include <string>
#include <vector>

#include "tree/phy_tree.h"

// Reads the generating parameters from `dir` (ending with a path separator):
// "from_tos.txt", "gammas.txt", "etas.txt", "betas.txt", "thetas.txt",
// "deletion_rates.txt", "insertion_rates.txt", "mutation_rates.txt", and
// echoes them to `out` (which must be given). The segment count S is the
// number of rows of "from_tos.txt"; betas are cut into S blocks of n rows, n
// being the length of the first row of "betas.txt". A missing or empty file
// throws an InputError ("file not exist:" / "empty file:"); a betas file with fewer
// than S * n rows raises std::out_of_range.
void read_data_generation_parameters(const std::string& dir, std::vector<std::vector<long>>& from_tos,
                                     std::vector<double>& gammas, std::vector<double>& etas,
                                     std::vector<std::vector<std::vector<double>>>& betas,
                                     std::vector<std::vector<double>>& thetas, std::vector<double>& deletion_rates,
                                     std::vector<double>& insertion_rates, std::vector<double>& mutation_rates,
                                     std::ostream* out);

// The part of read_data_generation_parameters that follows the segmentation:
// every file except "from_tos.txt", read in the same order, betas cut into
// `segment_count` blocks. Writes nothing.
void read_segment_parameters(const std::string& dir, std::size_t segment_count, std::vector<double>& gammas,
                             std::vector<double>& etas, std::vector<std::vector<std::vector<double>>>& betas,
                             std::vector<std::vector<double>>& thetas, std::vector<double>& deletion_rates,
                             std::vector<double>& insertion_rates, std::vector<double>& mutation_rates);

// The echo of read_data_generation_parameters: "segmentation regions:",
// "number of segments:", "gammas:", "etas:", "betas:", "thetas:",
// "deletion_rates:", "insertion_rates:", "mutation_rates:", each header line
// followed by its table.
void write_data_generation_parameters(const std::vector<std::vector<long>>& from_tos, const std::vector<double>& gammas,
                                      const std::vector<double>& etas,
                                      const std::vector<std::vector<std::vector<double>>>& betas,
                                      const std::vector<std::vector<double>>& thetas,
                                      const std::vector<double>& deletion_rates,
                                      const std::vector<double>& insertion_rates,
                                      const std::vector<double>& mutation_rates, std::ostream* out);

// Simulates one tree per column: rate states along the alignment first, then
// every column's root value and branches segment by segment. Writes the leaf
// values (row c = column c) to `output_file` and the rate states to
// `rate_state_out` (which must be given); `log` may be null.
//
// `trees` is replaced by N new trees, N = last column of `from_tos` + 1; the
// caller owns (and deletes) them, and whatever `trees` held before. Values
// drawn by mutation, and roots after an empty root, come from `values` with
// the segment's thetas; a root after a residue r from `values` with row r - 1
// of the segment's betas. The first column's root comes from
// `first_root_values` with `first_root_weights` and never starts empty.
// Needs a segmentation that starts at column 0 and covers every column once,
// and a parameter row for every segment and rate state (an index beyond a
// table raises std::out_of_range). An insertion event throws an InternalError
// "insertion in simulation occurs unexpectedly! \n", so the
// insertion rates must be 0 wherever an empty node can occur.
void generate_trees(std::vector<PhyTree*>& trees, const std::vector<int>& parents, const std::vector<int>& children,
                    const std::vector<double>& lengths, const std::vector<int>& map_from_leave_label_to_seq_id,
                    const std::vector<int>& values, const std::vector<int>& first_root_values,
                    const std::vector<std::vector<long>>& from_tos, const std::vector<double>& first_root_weights,
                    const std::vector<double>& gammas, const std::vector<double>& etas,
                    const std::vector<std::vector<std::vector<double>>>& betas,
                    const std::vector<std::vector<double>>& thetas, const std::vector<double>& initial_state_probs,
                    const std::vector<std::vector<double>>& state_transitions,
                    const std::vector<double>& deletion_rates, const std::vector<double>& insertion_rates,
                    const std::vector<double>& mutation_rates, const std::string& output_file, std::ostream* log,
                    std::ostream* rate_state_out);

// One line per tree to each stream: values, deletions, insertions, bonds.
void output_zvs(std::vector<PhyTree*>& trees, std::ostream* values, std::ostream* deletions, std::ostream* insertions,
                std::ostream* bonds);
