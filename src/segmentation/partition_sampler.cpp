#include "segmentation/partition_sampler.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <ios>
#include <stdexcept>

#include "io/diagnostics.h"
#include "io/errors.h"
#include "io/string_conversion.h"
#include "io/vector_writers.h"
#include "numerics/worker_pool.h"
#include "random/sampler.h"
#include "segmentation/forward_kernels.h"

PartitionSampler::PartitionSampler() = default;

// Every table is allocated here once and overwritten in place every
// iteration. _f[0] and _position_weights[0] stand for zero partitions and
// stay empty. A P beyond L - 1 (which the run rejects at start-up) leaves the
// extra entries empty rather than failing on a negative size.
PartitionSampler::PartitionSampler(long max_partitions, long num_columns, int num_values)
    : _max_partitions(max_partitions),
      _num_columns(num_columns),
      _num_values(num_values),
      _g(num_columns, num_values),
      _forward_g(num_columns, num_values),
      _prior(max_partitions, num_columns) {
  for (long p = 1; p <= max_partitions; ++p) _partition_numbers.push_back(p);
  const long partition_entries = std::max(0L, max_partitions) + 1;
  _f.resize(partition_entries);
  for (long p = 1; p < partition_entries; ++p) _f[p].assign(std::max(0L, num_columns - p), 0.0);
}

void PartitionSampler::compute_single_blocks(const ColumnStates& states) {
  _g.count_columns(states);
  std::ostream* out = diagnostics();
  if (out == nullptr) return;
  *out << "\n in PartitionSampler::compute_single_blocks \n"
       << "_g\n";
  _g.write_table(*out);
}

void PartitionSampler::use_worker_pool(WorkerPool* pool) { _pool = pool; }

double PartitionSampler::block_log_likelihood(long v, long u) const { return _g.block(v, u); }

double PartitionSampler::log_marginal(long p, long v) const {
  const double stored = _f.at(p).at(v - (p + 1));
  if (!_forward_done || p < 2 || p <= _last_needed_partition(v)) return stored;
  // The recursion's own computation of the one p it left out.
  const RebuiltTerms rebuilt = _rebuilt_terms(p, v);
  return std::log(rebuilt.sum) + rebuilt.max_term;
}

// The terms of partition p at end column v as the last forward formed them:
// the block row from its counts, then the group kernel for p alone.
PartitionSampler::RebuiltTerms PartitionSampler::_rebuilt_terms(long p, long v) const {
  std::vector<double> blocks(v + 1, 0.0);
  _forward_g.fill_row(v, p + 1, blocks);
  RebuiltTerms rebuilt;
  rebuilt.weights.resize((v - p + 1) * group_lanes);
  forward_kernels().partition_group(_partition_group(p, 1, v, blocks.data()), rebuilt.weights.data(),
                                    &rebuilt.max_term, &rebuilt.sum);
  rebuilt.weights.resize(v - p);
  return rebuilt;
}

double PartitionSampler::log_position_prior(long p) const { return _prior.log_position_prior(p); }

void PartitionSampler::set_block_log_likelihood(long v, long u, double value) { _g.set_block(v, u, value); }

// _f[p][v-(p+1)] is the log of the mean, over the C(v-2, p-1) admissible
// placements of p partitions on columns 1..v, of the product of the blocks'
// likelihoods. Splitting off the last partition u..v gives
//   mean(1..v, p) = sum_u mean(1..u-1, p-1) g(u..v) C(u-3, p-2) / C(v-2, p-1),
// so the binomial ratio is the position weight of the start column u.
//
// The end column v is the outer loop: the blocks u..v are computed once, as
// one row, for every p. Every (p, v) still gets exactly the sums and maxima
// of the recursion taken p by p, since it reads only _f[p-1] at end columns
// before v. The block likelihoods are kept as they are now, so that the
// boundary draws rebuild the weights of this call.
void PartitionSampler::forward() {
  std::ostream* out = diagnostics();
  if (out != nullptr) *out << "\n in PartitionSampler::forward \n";
  _forward_g = _g;
  _forward_done = true;
  _every_end_column = out != nullptr;
  std::vector<double> blocks(_num_columns + 1, 0.0);
  // The terms t(u) at the current end column: a group of partitions keeps
  // them, lane by lane, in the buffer of its first p. Then every p's maximum.
  std::vector<std::vector<double>> terms(_f.size(), std::vector<double>((_num_columns + 1) * group_lanes, 0.0));
  std::vector<double*> row_of;
  for (std::vector<double>& row : terms) row_of.push_back(row.data());
  std::vector<double> max_terms(_f.size(), 0.0);
  if (_pool != nullptr && _pool->size() > 1 && _max_partitions >= 2) {
    _forward_pipeline(row_of, max_terms.size());
  } else {
    for (long v = 2; v <= _num_columns; ++v) _forward_end_column(v, blocks, row_of, max_terms);
  }
  if (out != nullptr) _write_forward_diagnostics(*out);
}

// D(p, v) = -ln C(v-2, p-1) is carried from one end column to the next as a
// running sum of logarithms of whole numbers, so no binomial coefficient is
// ever formed; the order (D + ln a) - ln b is part of the result's bits. The
// sum of the weights exp(t(u) - M) runs over u in increasing order.
void PartitionSampler::_forward_end_column(long v, std::vector<double>& blocks, const std::vector<double*>& row_of,
                                           std::vector<double>& max_terms) {
  _fill_blocks(v, blocks);
  if (_max_partitions >= 1) _f[1][v - 2] = blocks[1];
  _forward_partitions(2, std::min(_max_partitions, v - 1), v, blocks, row_of, max_terms);
}

// Nothing reads _f[P] before the last end column L except the diagnostics:
// the draws start from end column L and rebuild their rows, and a
// `log_marginal` of it is rebuilt on request. So without diagnostics the
// recursion does P - 1 partitions before L.
long PartitionSampler::_last_needed_partition(long v) const {
  const long last = _every_end_column || v == _num_columns ? _max_partitions : _max_partitions - 1;
  return std::min(last, v - 1);
}

// Partitions p >= 2 read the blocks u..v for u >= 3, p = 1 only block 1..v:
// when no p >= 2 is needed at v (always when P = 1), that one block is all
// there is to compute, O(K^2) instead of O(v) (the same bits: `block` sums
// the terms the row sweep keeps).
void PartitionSampler::_fill_blocks(long v, std::vector<double>& blocks) const {
  if (_last_needed_partition(v) >= 2) {
    _forward_g.fill_row(v, 1, blocks);
  } else {
    blocks[1] = _forward_g.block(v, 1);
  }
}

// The partitions first..last at end column v. Each p reads only the blocks
// u..v, _f[p-1] at end columns before v and its own D(p, v-1), so any range
// of p can be done as soon as those are there, with the same bits.
void PartitionSampler::_forward_partitions(long first, long last, long v, const std::vector<double>& blocks,
                                           const std::vector<double*>& row_of, std::vector<double>& max_terms) {
  for (long p = first; p <= last; ++p) _prior.advance_position_weight(p, v);
  const ForwardKernels& kernels = forward_kernels();
  const long last_needed = std::min(last, _last_needed_partition(v));
  for (long group = first; group <= last_needed; group += group_lanes) {
    const int count = static_cast<int>(std::min<long>(group_lanes, last_needed - group + 1));
    double sums[group_lanes];
    kernels.partition_group(_partition_group(group, count, v, blocks.data()), row_of[group], &max_terms[group], sums);
    for (int c = 0; c < count; ++c) {
      const long p = group + c;
      const long x = v - (p + 1);
      _f[p][x] = std::log(sums[c]) + max_terms[p];
    }
  }
}

// For each p = first + c, c = 0..count-1, the terms t(u) = _f[p-1][u-p-1] +
// g(u..v) + E(u) for u = p+1..v, where E(u) = ln C(u-3, p-2) - ln C(v-2, p-1)
// starts from D(p, v) and is carried as a running sum (E + ln a) - ln b. Each
// p's running sum is a chain of dependent additions; taking several p side by
// side lets them run in parallel, and each p still sees exactly its own
// operations in its own order, so one p alone (the boundary draws) gets the
// same bits.
PartitionGroup PartitionSampler::_partition_group(long first, int count, long v, const double* blocks) const {
  const long last = first + count - 1;
  if (v < last + 1) {
    throw InternalError("no max is initialized in PartitionSampler::forward!p: " + to_string(last) +
                        "v: " + to_string(v));
  }
  PartitionGroup group;
  group.first = first;
  group.count = count;
  group.v = v;
  group.blocks = blocks;
  group.log_whole = _prior.log_whole();
  for (int c = 0; c < count; ++c) {
    const long p = first + c;
    group.previous[c] = _f[p - 1].data();
    group.start_weight[c] = _prior.position_weight(p, v);
  }
  return group;
}

// Given that columns 1..v hold p partitions, the weight of the start u of
// the last one is exp(t(u) - M), largest entry 1. The terms are rebuilt from
// the block likelihoods, _f and D(p, v) of the last forward by the very code
// that forward ran, so every weight has the bits forward summed. Rows of one
// partition, and every row before the first forward, are all 0.0.
std::vector<double> PartitionSampler::backward_weights(long p, long v) const {
  if (p < 1 || p > _max_partitions || v < p + 1 || v > _num_columns) {
    throw std::out_of_range("no backward weights for p = " + to_string(p) + ", v = " + to_string(v));
  }
  if (!_forward_done || p == 1) return std::vector<double>(v - p, 0.0);
  return _rebuilt_terms(p, v).weights;
}

// The lines the recursion taken p by p would have written, in its order. The
// weight lines (end column L only) switch the stream to scientific notation
// for good.
void PartitionSampler::_write_forward_diagnostics(std::ostream& out) const {
  for (long p = 1; p <= _max_partitions; ++p) {
    for (long v = p + 1; v <= _num_columns; ++v) {
      const long x = v - (p + 1);
      if (p >= 2 && v == _num_columns) {
        const std::vector<double> weights = backward_weights(p, v);
        for (long u = p + 1; u <= v; ++u) {
          out << std::scientific << "number of partitions p=" << p << " v:" << v << " u:" << u
              << " _f.at(p-1).at(u-1):" << _f[p - 1][u - p - 1] << " _b.at(p).at(v).at(u):" << weights[u - (p + 1)]
              << "\n";
        }
      }
      out << "number of partitions p=" << p << " v:" << v << " _f.at(p).at(v-(p+1)):" << _f[p][x] << "\n";
      if (v == _num_columns) out << "number of partitions p=" << p << " log prob=" << _f[p][x] << "\n";
    }
  }
}

// The posterior of p is proportional to its prior weight times the
// exponential of its log marginal.
PartitionSampler::PartitionCount PartitionSampler::sample_number_partitions() {
  if (_max_partitions < 1) throw InternalError("no max is initialized in PartitionSampler::sample_number_partitions!");
  std::vector<double> log_marginals;
  std::vector<double> log_posteriors;
  double max_log_posterior = 0.0;
  for (long p = 1; p <= _max_partitions; ++p) {
    log_marginals.push_back(_f.at(p).at(_num_columns - p - 1));
    log_posteriors.push_back(log_marginals.back() + _prior.log_number_weight(p));
    if (p == 1 || log_posteriors.back() > max_log_posterior) max_log_posterior = log_posteriors.back();
  }
  std::vector<double> weights;
  for (const double log_posterior : log_posteriors) weights.push_back(std::exp(log_posterior - max_log_posterior));
  Sampler<long, double> sampler(_partition_numbers, weights);
  const long p = sampler.draw_w_replace(1)[0];
  return {p, log_marginals};
}

// Given that columns 1..v hold k partitions, the backward row (k, v) weighs
// every start u = k+1..v of the last one; placing the last partition first
// and walking back leaves exactly the same problem on columns 1..u-1. Only
// the p - 1 rows visited are rebuilt, O(L) work each.
std::vector<std::vector<long>> PartitionSampler::sample_partition_positions(long p) {
  std::vector<std::vector<long>> from_tos(p, std::vector<long>(2, 0));
  long past_end = _num_columns + 1;
  for (long k = p; k >= 2; --k) {
    const long v = past_end - 1;
    from_tos.at(k - 1).at(1) = past_end - 2;
    const std::vector<double> weights = backward_weights(k, v);
    std::vector<long> starts;
    for (long u = k + 1; u <= v; ++u) starts.push_back(u);
    Sampler<long, double> sampler(starts, weights);
    const long u = sampler.draw_w_replace(1)[0];
    from_tos.at(k - 1).at(0) = u - 1;
    past_end = u;
  }
  from_tos.at(0).at(0) = 0;
  from_tos.at(0).at(1) = past_end - 2;
  if (std::ostream* out = diagnostics()) {
    *out << "\n in sample_partition_positions: \n";
    write_vectors_two_dim(from_tos, *out);
  }
  return from_tos;
}

double PartitionSampler::compute_post_para(const std::vector<std::vector<long>>& from_tos, double& log_posterior_term) {
  const double log_prior = _prior.log_position_prior(static_cast<long>(from_tos.size()));
  double log_likelihood = 0.0;
  for (const std::vector<long>& from_to : from_tos) log_likelihood += _g.block(from_to.at(1) + 1, from_to.at(0) + 1);
  log_posterior_term = log_prior + log_likelihood;
  return log_prior;
}
