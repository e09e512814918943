#include <algorithm>
#include <cmath>
#include <cstddef>

#include "io/vector_writers.h"
#include "segmentation/partition_sampler.h"

// A block's likelihood, with the partition's transition rows and its
// distribution of new values integrated out under flat Dirichlet priors, is a
// product of Dirichlet-multinomial marginals of count tables. The tables of
// block u..v are those of block u..v-1 plus column v's, so sweeping the end
// column v upwards and the start column u downwards costs one K x K and one K
// addition per block.
void PartitionSampler::compute_single_blocks(std::vector<PhyTree*>& trees, const std::vector<int>& value_index,
                                             std::ostream* out) {
  long counted_so_far = 0;
  for (long v = 1; v <= _num_columns; ++v) {
    counted_so_far += _count_column(trees, value_index, v);
    // No count (and no row total) of a block ending at v exceeds everything
    // counted in columns 1..v.
    _extend_lgamma_tables(counted_so_far);
    for (long u = v; u >= 1; --u) {
      if (u != v) _add_column_into_block(v, u);
      if (u == 1 && v == 1) continue;
      _g[v][u] = _block_term(u);
    }
  }
  if (out != nullptr) {
    *out << "\n in PartitionSampler::compute_single_blocks \n"
         << "_g\n";
    write_vectors_two_dim(_g, out);
  }
}

// Column c's own counts, written as row c of both tables. Root values of
// consecutive columns are the partition's Markov chain; new values are the
// nodes that carry an insertion or neither a deletion nor a bond (a mutation
// below a residue), plus a residue root that follows an empty root.
long PartitionSampler::_count_column(const std::vector<PhyTree*>& trees, const std::vector<int>& value_index,
                                     long column) {
  std::vector<std::vector<long>>& transitions = _transition_counts[column];
  std::vector<long>& values = _value_counts[column];
  for (std::vector<long>& row : transitions) std::fill(row.begin(), row.end(), 0L);
  std::fill(values.begin(), values.end(), 0L);
  long counted = 0;
  const PhyTree* tree = trees.at(column - 1);
  const int root_value = tree->root->value;
  const bool root_is_residue = 1 <= root_value && root_value <= 4;
  if (column >= 2) {
    const int previous_root_value = trees.at(column - 2)->root->value;
    if (1 <= previous_root_value && previous_root_value <= 4 && root_is_residue) {
      ++transitions.at(value_index.at(previous_root_value)).at(value_index.at(root_value));
      ++counted;
    }
    if (previous_root_value == 0 && root_is_residue) {
      ++values.at(value_index.at(root_value));
      ++counted;
    }
  }
  for (std::size_t label = 1; label < tree->nodes.size(); ++label) {
    const Node* node = tree->nodes.at(label);
    if (node->value == 5) continue;
    if (node->insertion == 1 || (node->deletion == 0 && node->bond == 0)) {
      ++values.at(value_index.at(node->value));
      ++counted;
    }
  }
  return counted;
}

void PartitionSampler::_add_column_into_block(long column, long start) {
  const std::vector<std::vector<long>>& column_transitions = _transition_counts[column];
  std::vector<std::vector<long>>& block_transitions = _transition_counts[start];
  for (int j = 0; j < _num_values; ++j) {
    for (int k = 0; k < _num_values; ++k) block_transitions[j][k] += column_transitions[j][k];
  }
  const std::vector<long>& column_values = _value_counts[column];
  std::vector<long>& block_values = _value_counts[start];
  for (int k = 0; k < _num_values; ++k) block_values[k] += column_values[k];
}

// Every transition row, then the value counts; each row's term is summed from
// zero and the rows are added in order, which fixes the bits of the result.
double PartitionSampler::_block_term(long start) const {
  double transition_term = 0.0;
  for (const std::vector<long>& row : _transition_counts[start]) transition_term += _dirichlet_multinomial_term(row);
  const double value_term = _dirichlet_multinomial_term(_value_counts[start]);
  return transition_term + value_term;
}

// ln Gamma(K) + sum_k ln Gamma(n_k + 1) - ln Gamma(sum_k (n_k + 1)): the log
// probability of the counts under a Dirichlet(1, ..., 1) multinomial. The sum
// of the (n_k + 1) is a whole number n + K, exact in double, so looking up
// lgamma(n + K) gives the same bits as the call. log_six stands for
// ln Gamma(4) as a short literal, used whatever K is.
double PartitionSampler::_dirichlet_multinomial_term(const std::vector<long>& counts) const {
  static const double log_six = 1.791759;
  double log_gamma_sum = 0.0;
  long total = 0;
  for (const long count : counts) {
    log_gamma_sum += _lgamma_count_plus_one[count];
    total += count;
  }
  return log_six + log_gamma_sum - _lgamma_total_plus_values[total];
}

// Grows geometrically, so the tables settle after the first iteration.
void PartitionSampler::_extend_lgamma_tables(long largest_count) {
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
