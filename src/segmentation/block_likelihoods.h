#pragma once

#include <map>
#include <ostream>
#include <utility>
#include <vector>

#include "tree/column_states.h"

// Log likelihoods of the blocks u..v of consecutive columns (1 <= u <= v <= L),
// computed on request instead of being stored: O(L K^2) memory for L columns
// and K values, where a stored table would take L^2 / 2 doubles.
//
// A block's likelihood is the product of Dirichlet(1, ..., 1)-multinomial
// marginals of its K transition rows and of its value counts. The counts of
// block u..v are the difference of two cumulative count tables, exact because
// counts are whole numbers, and the marginals are summed in a fixed order, so
// every value is the same double however and whenever it is asked for.
class BlockLikelihoods {
 public:
  BlockLikelihoods() = default;
  BlockLikelihoods(long num_columns, int num_values);

  // Recounts every column from its current root value and node indicators
  // (column c is states' column c-1; residues counted by their position in
  // the model's alphabet). Values set by `set_block` for blocks of two or
  // more columns are dropped: those blocks are computed again.
  void count_columns(const ColumnStates& states);

  // Log likelihood of block u..v for 0 <= u <= v <= L; throws
  // std::out_of_range outside that range. The entries that are never
  // computed (u = 0, and the single first column u = v = 1) are 0.0, and so
  // is every entry before the first `count_columns`, unless set.
  double block(long v, long u) const;
  // row[u] = block(v, u) for u = lowest..v, computed in one sweep of u
  // downwards; 1 <= lowest, v <= L and row holds at least v + 1 entries.
  void fill_row(long v, long lowest, std::vector<double>& row) const;
  // Test support: replaces the value of block u..v until the next count.
  void set_block(long v, long u, double value);
  // Rows v = 0..L of the table, row v holding entries u = 0..v, one row a
  // line; a default-constructed table has no rows.
  void write_table(std::ostream& out) const;

 private:
  long _num_columns = -1;  // -1: no table at all
  int _num_values = 0;
  bool _counted = false;
  // Row c (c = 0..L) holds the counts of columns 1..c: K transition rows of
  // K entries, then the K value counts as row K. Row 0 is all zeros.
  std::vector<long> _cumulative_counts;
  // The transition row in which column c has its one transition count, or 0
  // when it has none (recomputing a row whose counts did not change gives the
  // same value, so that row can stand in).
  std::vector<int> _transition_row;
  // lgamma(n + 1) and lgamma(n + K) for whole n, filled with the very calls
  // the formula makes, so a lookup gives the same bits as the call.
  std::vector<double> _lgamma_count_plus_one;
  std::vector<double> _lgamma_total_plus_values;
  std::map<std::pair<long, long>, double> _set_values;  // (v, u) -> value

  long _row_width() const { return static_cast<long>(_num_values) * (_num_values + 1); }
  void _count_column(const ColumnStates& states, long column, std::vector<long>& counts) const;
  void _extend_lgamma_tables(long largest_count);
  double _row_term(long v, long u, int row) const;
  bool _is_computed(long v, long u) const;
};
