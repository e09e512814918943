#pragma once

#include <cstddef>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "random/sampler.h"
#include "simulation/generation_parameters.h"
#include "tree/column_states.h"
#include "tree/trans_probs.h"

// The part of reading a parameter folder that follows the segmentation:
// "gammas.txt", "etas.txt", "betas.txt", "thetas.txt", "deletion_rates.txt",
// "insertion_rates.txt" and "mutation_rates.txt", in this order, into
// `parameters`; betas are cut into `segment_count` blocks of n rows, n being
// the length of the first row of "betas.txt". A missing or empty file
// throws an InputError ("file not exist:" / "empty file:"); a betas file with
// fewer than segment_count * n rows raises std::out_of_range.
void read_segment_parameters(const std::string& dir, std::size_t segment_count, GenerationParameters& parameters);

// The echo of the eight model files: "segmentation regions:", "number of
// segments:", "gammas:", "etas:", "betas:", "thetas:", "deletion_rates:",
// "insertion_rates:", "mutation_rates:", each header line followed by its
// table.
void write_model_parameters(const GenerationParameters& parameters, std::ostream& out);

// A simulated alignment: every column's node values and indicators, and the
// rate state of every column.
struct SimulatedColumns {
  ColumnStates states;
  std::vector<int> rate_states;
};

// Simulates one column per position of the segmentation: rate states along
// the alignment first, then every column's root value and branches segment by
// segment. N = last column of the segmentation + 1. Values drawn by mutation,
// and roots after an empty root, come from `residues` with the segment's
// thetas; a root after a residue r from `residues` with row r - 1 of the
// segment's betas. The first column's root comes from the first-root values
// and weights and never starts empty. Needs a segmentation that starts at
// column 0 and covers every column once, and a parameter row for every
// segment and rate state (an index beyond a table raises std::out_of_range).
// An insertion event throws an InternalError "insertion in simulation occurs
// unexpectedly! \n", so the insertion rates must be 0 wherever an empty node
// can occur.
SimulatedColumns generate_columns(const std::shared_ptr<const TreeTopology>& topology,
                                  const GenerationParameters& parameters, const std::vector<int>& residues);

// The draws of one column's simulation: whether the root empties after a
// residue (1 with probability gamma) or stays empty after an empty root (0
// with probability eta), the root's residue, and a residue a mutation
// brings.
struct ColumnSamplers {
  Sampler<int, double>& after_residue;
  Sampler<int, double>& after_empty;
  Sampler<int, double>& root_value;
  Sampler<int, double>& mutated_value;
};

// Simulates one column of `states`: the root from the root chain
// (`previous_root_value` -1 for the first column, which never starts empty),
// then every branch in preorder (node, first subtree, second subtree). Every
// node takes one uniform draw, and a kept residue a second one for the
// mutation event; this order fixes a simulated alignment for a seed.
void generate_column(ColumnStates& states, std::size_t column, int previous_root_value, const ColumnSamplers& samplers,
                     const StateRates& rates);

// Per column, one line to each stream: the internal values in label order,
// " leaves: " and the leaf values; then the deletion, insertion and bond
// indicators of every label.
void write_column_truth(const ColumnStates& states, std::ostream& values, std::ostream& deletions,
                        std::ostream& insertions, std::ostream& bonds);
