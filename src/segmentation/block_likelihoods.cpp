#include "segmentation/block_likelihoods.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>
#include <stdexcept>

#include "io/vector_writers.h"
#include "segmentation/forward_kernels.h"
#include "tree/model_parameters.h"

BlockLikelihoods::BlockLikelihoods(long num_columns, int num_values)
    : _num_columns(num_columns), _num_values(num_values) {
  _cumulative_counts.assign((num_columns + 1) * _row_width(), 0L);
  _transition_row.assign(num_columns + 1, 0);
}

// Row c of the cumulative table is row c-1 plus column c's own counts, so
// the counts of block u..v are row v minus row u-1. A column adds at most one
// transition count; its row is kept, because only that row's term and the
// value term of a block can change when the block grows by that column.
void BlockLikelihoods::count_columns(const ColumnStates& states) {
  const long width = _row_width();
  std::vector<long> column_counts(width, 0L);
  long counted = 0;
  for (long c = 1; c <= _num_columns; ++c) {
    _count_column(states, c, column_counts);
    long* cumulative = &_cumulative_counts[c * width];
    const long* previous = cumulative - width;
    for (long at = 0; at < width; ++at) {
      cumulative[at] = previous[at] + column_counts[at];
      counted += column_counts[at];
    }
    _transition_row[c] = 0;
    for (long at = 0; at < static_cast<long>(_num_values) * _num_values; ++at) {
      if (column_counts[at] != 0) _transition_row[c] = static_cast<int>(at / _num_values);
    }
  }
  // No count, and no row total, of any block exceeds everything counted.
  _extend_lgamma_tables(counted);
  _counted = true;
  std::erase_if(_set_values, [this](const auto& entry) { return _is_computed(entry.first.first, entry.first.second); });
}

// Root values of consecutive columns are the partition's Markov chain; new
// values are the nodes that carry an insertion or neither a deletion nor a
// bond (a mutation below a residue), plus a residue root that follows an
// empty root. Column 1 has no previous column.
void BlockLikelihoods::_count_column(const ColumnStates& states, long column, std::vector<long>& counts) const {
  const std::vector<int>& value_index = model_alphabet().residue_index;
  std::fill(counts.begin(), counts.end(), 0L);
  auto index = [&](int value) {
    const int at = value_index.at(value);
    if (at < 0 || at >= _num_values) throw std::out_of_range("value index outside the count table");
    return static_cast<long>(at);
  };
  long* value_counts = &counts[static_cast<std::size_t>(_num_values) * _num_values];
  if (column < 1 || static_cast<std::size_t>(column) > states.columns()) {
    throw std::out_of_range("column beyond the alignment");
  }
  const auto c = static_cast<std::size_t>(column - 1);
  const int root_value = states.root_value(c);
  const bool root_is_residue = 1 <= root_value && root_value <= 4;
  if (column >= 2) {
    const int previous_root_value = states.root_value(c - 1);
    if (1 <= previous_root_value && previous_root_value <= 4 && root_is_residue) {
      ++counts[index(previous_root_value) * _num_values + index(root_value)];
    }
    if (previous_root_value == 0 && root_is_residue) ++value_counts[index(root_value)];
  }
  for (std::size_t label = 1; label < states.nodes(); ++label) {
    const NodeState& node = states.at(c, static_cast<int>(label));
    if (node.value == 5) continue;
    if (node.insertion == 1 || (node.deletion == 0 && node.bond == 0)) ++value_counts[index(node.value)];
  }
}

// Grows geometrically, so the tables settle after the first iteration.
void BlockLikelihoods::_extend_lgamma_tables(long largest_count) {
  const std::size_t old_size = _lgamma_count_plus_one.size();
  if (static_cast<long>(old_size) > largest_count) return;
  const std::size_t new_size = std::max(static_cast<std::size_t>(largest_count) + 1, 2 * old_size);
  _lgamma_count_plus_one.resize(new_size);
  _lgamma_total_plus_values.resize(new_size);
  for (std::size_t n = old_size; n < new_size; ++n) {
    _lgamma_count_plus_one[n] = std::lgamma(static_cast<double>(n) + 1);
    _lgamma_total_plus_values[n] = std::lgamma(static_cast<double>(n + _num_values));
  }
}

namespace {

// ln Gamma(K) + sum_k ln Gamma(n_k + 1) - ln Gamma(sum_k (n_k + 1)): the log
// probability of one row of counts n_k = top[k] - bottom[k] under a
// Dirichlet(1, ..., 1) multinomial. The sum of the (n_k + 1) is the whole
// number n + K, exact in double, so looking up lgamma(n + K) gives the bits
// of the call. The sum runs over k in order; it starts from the first
// lgamma, which is 0.0 plus that lgamma exactly, since an lgamma of a whole
// number >= 1 is never -0.0. log_six stands for ln Gamma(4) as a short
// literal, used whatever K is. A fixed K (> 0) only lets the compiler unroll
// the loop: the operations are the same.
template <int fixed_values>
double dirichlet_multinomial_term(const long* top, const long* bottom, int num_values,
                                  const double* lgamma_count_plus_one, const double* lgamma_total_plus_values) {
  static const double log_six = 1.791759;
  const int values = fixed_values > 0 ? fixed_values : num_values;
  if (values <= 0) return log_six + 0.0 - lgamma_total_plus_values[0];
  long total = top[0] - bottom[0];
  double log_gamma_sum = lgamma_count_plus_one[total];
  for (int k = 1; k < values; ++k) {
    const long count = top[k] - bottom[k];
    log_gamma_sum += lgamma_count_plus_one[count];
    total += count;
  }
  return log_six + log_gamma_sum - lgamma_total_plus_values[total];
}

}  // namespace

double BlockLikelihoods::_row_term(long v, long u, int row) const {
  const long offset = static_cast<long>(row) * _num_values;
  return dirichlet_multinomial_term<0>(&_cumulative_counts[v * _row_width() + offset],
                                       &_cumulative_counts[(u - 1) * _row_width() + offset], _num_values,
                                       _lgamma_count_plus_one.data(), _lgamma_total_plus_values.data());
}

bool BlockLikelihoods::_is_computed(long v, long u) const { return _counted && v >= 2 && u >= 1; }

// Every transition row's term added in row order (onto 0: the first term
// itself, never -0.0 since (ln 6 + a sum of lgammas) - lgamma is +0.0 when
// it is zero), then the value term: that order fixes the bits of the result.
double BlockLikelihoods::block(long v, long u) const {
  if (v < 0 || v > _num_columns || u < 0 || u > v) throw std::out_of_range("block outside 0 <= u <= v <= L");
  const auto set = _set_values.find({v, u});
  if (set != _set_values.end()) return set->second;
  if (!_is_computed(v, u)) return 0.0;
  double transition_term = _num_values > 0 ? _row_term(v, u, 0) : 0.0;
  for (int row = 1; row < _num_values; ++row) transition_term += _row_term(v, u, row);
  return transition_term + _row_term(v, u, _num_values);
}

namespace {

// Sweeping the start u downwards from v, block u..v differs from block
// u+1..v only in column u's transition row and in the value counts; every
// other row's term is the same function of the same counts, so it is kept,
// and the sum is taken exactly as in `block`. Both terms are recomputed for
// every u, changed or not, which keeps the loop free of data-dependent
// branches.
template <int fixed_values>
void fill_row_from_counts(const BlockRowInput& input, int num_values, double* row) {
  const int values = fixed_values > 0 ? fixed_values : num_values;
  const long width = static_cast<long>(values) * (values + 1);
  const long* top = &input.cumulative_counts[input.v * width];
  const double* lgamma_count_plus_one = input.lgamma_count_plus_one;
  const double* lgamma_total_plus_values = input.lgamma_total_plus_values;
  const double empty_row_term =
      dirichlet_multinomial_term<fixed_values>(top, top, values, lgamma_count_plus_one, lgamma_total_plus_values);
  std::vector<double> terms(values, empty_row_term);
  const long value_offset = static_cast<long>(values) * values;
  const long* value_top = top + value_offset;
  for (long u = input.v; u >= input.lowest; --u) {
    const long* bottom = &input.cumulative_counts[(u - 1) * width];
    const int changed = input.transition_row[u];
    const long offset = static_cast<long>(changed) * values;
    terms[changed] = dirichlet_multinomial_term<fixed_values>(top + offset, bottom + offset, values,
                                                              lgamma_count_plus_one, lgamma_total_plus_values);
    const double value_term = dirichlet_multinomial_term<fixed_values>(value_top, bottom + value_offset, values,
                                                                       lgamma_count_plus_one, lgamma_total_plus_values);
    double transition_term = terms[0];
    for (int j = 1; j < values; ++j) transition_term += terms[j];
    row[u] = transition_term + value_term;
  }
}

// The sweep above for K = 4, with the same operations in the same order:
// the four kept terms live in registers (a switch picks the one to replace,
// where an indexed store would send every term through memory), and the top
// row's value counts are read once per row. About a third faster.
void fill_row_of_four(const BlockRowInput& input, double* __restrict row) {
  constexpr long width = 4 * 5;
  const long* __restrict top = &input.cumulative_counts[input.v * width];
  const double* __restrict lgamma_count_plus_one = input.lgamma_count_plus_one;
  const double* __restrict lgamma_total_plus_values = input.lgamma_total_plus_values;
  const auto term = [&](const long* t, const long* b) {
    return dirichlet_multinomial_term<4>(t, b, 4, lgamma_count_plus_one, lgamma_total_plus_values);
  };
  const double empty_row_term = term(top, top);
  double term_0 = empty_row_term, term_1 = empty_row_term, term_2 = empty_row_term, term_3 = empty_row_term;
  const long value_top[4] = {top[16], top[17], top[18], top[19]};
  const long* bottom = &input.cumulative_counts[(input.v - 1) * width];
  for (long u = input.v; u >= input.lowest; --u, bottom -= width) {
    const int changed = input.transition_row[u];
    const double changed_term = term(top + changed * 4, bottom + changed * 4);
    switch (changed) {
      case 0:
        term_0 = changed_term;
        break;
      case 1:
        term_1 = changed_term;
        break;
      case 2:
        term_2 = changed_term;
        break;
      default:
        term_3 = changed_term;
    }
    const double value_term = term(value_top, bottom + 16);
    row[u] = (((term_0 + term_1) + term_2) + term_3) + value_term;
  }
}

}  // namespace

void fill_block_row_scalar(const BlockRowInput& input, int num_values, double* row) {
  if (num_values == 4) {
    fill_row_of_four(input, row);
  } else {
    fill_row_from_counts<0>(input, num_values, row);
  }
}

void BlockLikelihoods::fill_row(long v, long lowest, std::vector<double>& row) const {
  if (!_is_computed(v, lowest)) {
    std::fill(row.begin() + lowest, row.begin() + v + 1, 0.0);
  } else {
    const BlockRowInput input{_cumulative_counts.data(), _transition_row.data(), _lgamma_count_plus_one.data(),
                              _lgamma_total_plus_values.data(), v, lowest};
    if (_num_values == 4) {
      forward_kernels().block_row(input, row.data());
    } else {
      fill_block_row_scalar(input, _num_values, row.data());
    }
  }
  const auto first = _set_values.lower_bound({v, lowest});
  const auto last = _set_values.upper_bound({v, std::numeric_limits<long>::max()});
  for (auto set = first; set != last; ++set) row[set->first.second] = set->second;
}

void BlockLikelihoods::set_block(long v, long u, double value) {
  if (v < 0 || v > _num_columns || u < 0 || u > v) throw std::out_of_range("block outside 0 <= u <= v <= L");
  _set_values[{v, u}] = value;
}

void BlockLikelihoods::write_table(std::ostream& out) const {
  std::vector<double> row;
  for (long v = 0; v <= _num_columns; ++v) {
    row.assign(v + 1, 0.0);
    row[0] = block(v, 0);
    if (v >= 1) fill_row(v, 1, row);
    write_vector_row(row, out);
  }
}
