#pragma once

#include <ostream>
#include <string>
#include <vector>

// Reads "tree.txt" and "map_from_leave_label_to_seq_id.txt" from `data_dir`
// (which must end with a path separator) and builds the fixed value lists.
//
// tree.txt: one branch per line, "parent child length"; words after the third
// are ignored. The branch table keeps file order. The leaf map: one
// "label sequence_id" per line; labels it does not list map to -1.
// nonempty_values = 1 2 3 4 (index 0 0 1 2 3); all_values = 0 1 2 3 4.
//
// Input that the tree construction cannot use ends the run with status -1 and
// a message naming the file, the line and the value: short rows, labels that
// are not integers or lie outside 0..B, lengths that are not finite and
// non-negative, a first row whose parent is not the root 0, a child listed
// twice, leaves without a sequence id, and leaf sequence ids that are not
// exactly 0..(leaves-1). Blank lines after the first are skipped.
//
// With a non-null `out`, writes the "tree input info:" report.
void read_tree_parameters(const std::string& data_dir, std::vector<int>& parents, std::vector<int>& children,
                          std::vector<double>& lengths, std::vector<int>& map_from_leave_label_to_seq_id,
                          std::vector<int>& nonempty_values, std::vector<int>& nonempty_value_index,
                          std::vector<int>& all_values, std::vector<int>& all_value_index, std::ostream*& out);

// Keeps, in file order, the rows of the alignment file whose first value (the
// reference sequence 0) is a residue 1..4; other rows, blank ones included,
// are dropped. A kept row must hold at least `row_length` values, each 0..5;
// otherwise the run ends with status -1 naming `path`, the line and the value.
std::vector<std::vector<int>> keep_modelled_columns(const std::vector<std::vector<int>>& data_rows,
                                                    const std::string& path, std::size_t row_length);

// The number of values a data row needs: one more than the largest sequence id
// of any leaf (labels above the largest parent label).
std::size_t required_row_length(const std::vector<int>& parents, const std::vector<int>& map_from_leave_label_to_seq_id);
