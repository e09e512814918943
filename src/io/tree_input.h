#pragma once

#include <ostream>
#include <string>
#include <vector>

// The tree as its files give it: the branches in file order (a branch's
// parent label, child label and length) and the leaf map, the sequence id of
// every label (-1 for labels without one). The root is label 0.
struct BranchTable {
  std::vector<int> parents;
  std::vector<int> children;
  std::vector<double> lengths;
  std::vector<int> leaf_map;
};

// The tree files as read: the branch table and the file line of every branch.
struct TreeFiles {
  BranchTable table;
  std::vector<std::size_t> branch_lines;
};

// Reads "tree.txt" and "map_from_leave_label_to_seq_id.txt" from `data_dir`
// (which must end with a path separator).
//
// tree.txt: one branch per line, "parent child length"; words after the third
// are ignored. The branch table keeps file order. The leaf map: one
// "label sequence_id" per line; labels it does not list map to -1.
//
// Input that the tree construction cannot use throws an InputError whose
// message names the file, the line and the value: short rows, labels that
// are not integers or lie outside 0..B, lengths that are not finite and
// non-negative, a first row whose parent is not the root 0, a child listed
// twice, a row that the breadth-first construction never reaches (a third
// child of a node, a branch below a node outside the tree), leaf-map cells
// that are not whole numbers, leaf-map rows for internal nodes (parents in
// tree.txt), a leaf given two different sequence ids or a sequence id given to
// two leaves, leaves without a sequence id, and leaf sequence ids that are not
// exactly 0..(leaves-1). Blank lines are skipped wherever they are. Rows out of
// breadth-first order are left to TreeTopology's constructor.
TreeFiles read_tree_files(const std::string& data_dir);

// The "tree input info:" report of the auxiliary file: every branch in file
// order, then every label's sequence id.
void write_tree_report(const BranchTable& table, std::ostream& out);

// Keeps, in file order, the rows of the alignment file whose first value (the
// reference sequence 0) is a residue 1..4; other rows, blank ones included,
// are dropped. A kept row must hold at least `row_length` values, each 0..5;
// otherwise it throws an InputError naming `path`, the line and the value.
// With a non-null `kept_lines`, stores the file line of every kept row.
std::vector<std::vector<int>> keep_modelled_columns(const std::vector<std::vector<int>>& data_rows,
                                                    const std::string& path, std::size_t row_length,
                                                    std::vector<std::size_t>* kept_lines = nullptr);

// Every white-space separated cell of the file must be a whole number from
// `lowest` to `highest`, written as nothing else ("1.9", "1abc" and "x" are
// refused; the table reader would read the first two as 1 and end the row at
// the third). Otherwise it throws an InputError naming the file, the
// line, the column and the cell.
void check_whole_number_cells(const std::string& path, int lowest, int highest);

// Branch lengths the sampler's arithmetic carries, with a wide margin. A
// length of exactly 0 is a branch without events. The rates fit the scale of
// the tree, so the absolute scale hardly matters (every length of the shipped
// case multiplied by 1e-300 or by 1e300 still runs); the bounds keep sums over
// branches and columns and the inverse of the mean length far from overflow
// and from denormal numbers. What matters is the spread of the positive
// lengths of one tree: one rate must make an event on the shortest branch
// possible (1 - exp(-rate t) > 0 needs rate t above about 1.1e-16) and let a
// residue survive the longest (exp(-rate t) must not vanish from 1 - p, so
// rate t below about 37). Outside that, a transition's probability falls to
// the floor that also stands for an insertion inside the tree, and the run
// ends drawing one: on the shipped case, with one branch changed, a spread of
// 1e16 still ran and 1e18 did not.
inline constexpr double smallest_branch_length = 1e-100;
inline constexpr double largest_branch_length = 1e100;
inline constexpr double largest_branch_length_spread = 1e12;

// Refuses, with an InputError naming `path`, the line and the
// length: a length other than 0 outside smallest..largest, a tree whose
// positive lengths spread over more than largest_branch_length_spread (the
// message gives the range this tree accepts), and a tree whose lengths are
// all 0. `lines` holds the file line of every branch.
void check_branch_lengths(const std::string& path, const std::vector<double>& lengths,
                          const std::vector<std::size_t>& lines);

// The number of values a data row needs: one more than the largest sequence id
// of any leaf (labels above the largest parent label).
std::size_t required_row_length(const std::vector<int>& parents,
                                const std::vector<int>& map_from_leave_label_to_seq_id);
