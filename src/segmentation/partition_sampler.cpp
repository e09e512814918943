#include "segmentation/partition_sampler.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <ios>

#include "io/fatal.h"
#include "io/string_conversion.h"
#include "io/vector_writers.h"
#include "random/sampler.h"

PartitionSampler::PartitionSampler() = default;

// Every table is allocated here once and overwritten in place every
// iteration. _b[0] and _f[0] stand for zero partitions and stay empty. A P
// beyond L - 1 (which the run rejects at start-up) leaves the extra entries
// empty rather than failing on a negative size.
PartitionSampler::PartitionSampler(long max_partitions, long num_columns, int num_values,
                                   std::vector<PhyTree*>& /*trees*/)
    : _max_partitions(max_partitions), _num_columns(num_columns), _num_values(num_values) {
  for (long p = 1; p <= max_partitions; ++p) _partition_numbers.push_back(p);
  _g.resize(num_columns + 1);
  for (long v = 0; v <= num_columns; ++v) _g[v].assign(v + 1, 0.0);
  _value_counts.assign(num_columns + 1, std::vector<long>(num_values, 0));
  _transition_counts.assign(num_columns + 1,
                            std::vector<std::vector<long>>(num_values, std::vector<long>(num_values, 0)));
  const long partition_entries = std::max(0L, max_partitions) + 1;
  _b.resize(partition_entries);
  _f.resize(partition_entries);
  for (long p = 1; p < partition_entries; ++p) {
    const long end_columns = std::max(0L, num_columns - p);
    _f[p].assign(end_columns, 0.0);
    _b[p].resize(end_columns);
    for (long x = 0; x < end_columns; ++x) _b[p][x].assign(x + 1, 0.0);
  }
  _log_position_prior.assign(partition_entries, 0.0);
  _log_whole.resize(num_columns + 1);
  for (long n = 0; n <= num_columns; ++n) _log_whole[n] = std::log(static_cast<double>(n));
}

double PartitionSampler::block_log_likelihood(long v, long u) const { return _g.at(v).at(u); }

double PartitionSampler::log_marginal(long p, long v) const { return _f.at(p).at(v - (p + 1)); }

double PartitionSampler::backward_weight(long p, long v, long u) const {
  return _b.at(p).at(v - (p + 1)).at(u - (p + 1));
}

std::vector<double> PartitionSampler::backward_weights(long p, long v) const { return _b.at(p).at(v - (p + 1)); }

double PartitionSampler::log_position_prior(long p) const { return _log_position_prior.at(p); }

void PartitionSampler::set_block_log_likelihood(long v, long u, double value) { _g.at(v).at(u) = value; }

// _f[p][v-(p+1)] is the log of the mean, over the C(v-2, p-1) admissible
// placements of p partitions on columns 1..v, of the product of the blocks'
// likelihoods. Splitting off the last partition u..v gives
//   mean(1..v, p) = sum_u mean(1..u-1, p-1) g(u..v) C(u-3, p-2) / C(v-2, p-1),
// so the binomial ratio is the position weight of the start column u.
void PartitionSampler::forward(std::ostream* out) {
  if (out != nullptr) *out << "\n in PartitionSampler::forward \n";
  for (long p = 1; p <= _max_partitions; ++p) {
    if (p == 1) {
      _forward_one_partition(out);
    } else {
      _forward_partitions(p, out);
    }
  }
}

void PartitionSampler::_forward_one_partition(std::ostream* out) {
  for (long v = 2; v <= _num_columns; ++v) {
    _f[1][v - 2] = _g[v][1];
    if (out == nullptr) continue;
    *out << "number of partitions p=" << 1 << " v:" << v << " _f.at(p).at(v-(p+1)):" << _f[1][v - 2] << "\n";
    if (v == _num_columns) *out << "number of partitions p=" << 1 << " log prob=" << _f[1][v - 2] << "\n";
  }
}

// D(p, v) = -ln C(v-2, p-1) is carried from one end column to the next as a
// running sum of logarithms of whole numbers, so no binomial coefficient is
// ever formed; the order (D + ln a) - ln b is part of the result's bits.
void PartitionSampler::_forward_partitions(long p, std::ostream* out) {
  double position_weight = 0.0;
  for (long v = p + 1; v <= _num_columns; ++v) {
    if (v > p + 1) position_weight = position_weight + _log_whole[v - p - 1] - _log_whole[v - 2];
    _forward_end_column(p, v, position_weight, out);
  }
}

// The first pass leaves each log term t(u) in the weight row and finds their
// maximum M (first candidate sets it, only a strictly greater one replaces
// it); the second turns the row into exp(t(u) - M), whose largest entry is 1,
// and sums it. Keeping t(u) in the row gives the same bits as recomputing it.
void PartitionSampler::_forward_end_column(long p, long v, double position_weight, std::ostream* out) {
  const long x = v - (p + 1);
  std::vector<double>& weights = _b[p][x];
  const std::vector<double>& previous = _f[p - 1];
  const std::vector<double>& blocks = _g[v];
  double start_weight = position_weight;
  double max_term = 0.0;
  bool max_set = false;
  for (long u = p + 1; u <= v; ++u) {
    if (u > p + 1) start_weight = start_weight + _log_whole[u - 3] - _log_whole[u - p - 1];
    const double term = previous[u - p - 1] + blocks[u] + start_weight;
    weights[u - (p + 1)] = term;
    if (!max_set || term > max_term) {
      max_term = term;
      max_set = true;
    }
  }
  if (!max_set) {
    fatal("no max is initialized in PartitionSampler::forward!p: " + to_string(p) + "v: " + to_string(v), -1);
  }
  double sum = 0.0;
  for (long u = p + 1; u <= v; ++u) {
    const long i = u - (p + 1);
    weights[i] = std::exp(weights[i] - max_term);
    sum += weights[i];
    if (v != _num_columns) continue;
    if (u == p + 1) _log_position_prior[p] = position_weight;
    if (out != nullptr) {
      *out << std::scientific << "number of partitions p=" << p << " v:" << v << " u:" << u
           << " _f.at(p-1).at(u-1):" << previous[u - p - 1] << " _b.at(p).at(v).at(u):" << weights[i] << "\n";
    }
  }
  _f[p][x] = std::log(sum) + max_term;
  if (out == nullptr) return;
  *out << "number of partitions p=" << p << " v:" << v << " _f.at(p).at(v-(p+1)):" << _f[p][x] << "\n";
  if (v == _num_columns) *out << "number of partitions p=" << p << " log prob=" << _f[p][x] << "\n";
}

// The prior on p is uniform, so the posterior of p is proportional to the
// exponential of its log marginal.
long PartitionSampler::sample_number_partitions(std::ostream* out) {
  if (_max_partitions < 1) fatal("no max is initialized in PartitionSampler::sample_number_partitions!", -1);
  std::vector<double> log_marginals;
  double max_log_marginal = 0.0;
  for (long p = 1; p <= _max_partitions; ++p) {
    log_marginals.push_back(_f.at(p).at(_num_columns - p - 1));
    if (p == 1 || log_marginals.back() > max_log_marginal) max_log_marginal = log_marginals.back();
  }
  std::vector<double> weights;
  for (const double log_marginal : log_marginals) weights.push_back(std::exp(log_marginal - max_log_marginal));
  Sampler<long, double> sampler(_partition_numbers, weights);
  const long p = sampler.draw_w_replace(1)[0];
  if (out != nullptr) {
    write_vector_row(log_marginals, out);
    out->flush();
  }
  return p;
}

// Given that columns 1..v hold k partitions, row _b[k][v-(k+1)] weighs every
// start u = k+1..v of the last one; placing the last partition first and
// walking back leaves exactly the same problem on columns 1..u-1.
std::vector<std::vector<long>> PartitionSampler::sample_partition_positions(long p, std::ostream* out) {
  std::vector<std::vector<long>> from_tos(p, std::vector<long>(2, 0));
  long past_end = _num_columns + 1;
  for (long k = p; k >= 2; --k) {
    const long v = past_end - 1;
    from_tos.at(k - 1).at(1) = past_end - 2;
    const std::vector<double>& weights = _b.at(k).at(v - (k + 1));
    std::vector<long> starts;
    for (long u = k + 1; u <= v; ++u) starts.push_back(u);
    Sampler<long, double> sampler(starts, weights);
    const long u = sampler.draw_w_replace(1)[0];
    from_tos.at(k - 1).at(0) = u - 1;
    past_end = u;
  }
  from_tos.at(0).at(0) = 0;
  from_tos.at(0).at(1) = past_end - 2;
  if (out != nullptr) {
    *out << "\n in sample_partition_positions: \n";
    write_vectors_two_dim(from_tos, out);
  }
  return from_tos;
}

double PartitionSampler::compute_post_para(const std::vector<std::vector<long>>& from_tos, double& log_posterior_term) {
  const double log_prior = _log_position_prior.at(from_tos.size());
  double log_likelihood = 0.0;
  for (const std::vector<long>& from_to : from_tos) log_likelihood += _g.at(from_to.at(1) + 1).at(from_to.at(0) + 1);
  log_posterior_term = log_prior + log_likelihood;
  return log_prior;
}
