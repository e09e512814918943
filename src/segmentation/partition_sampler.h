#pragma once

#include <ostream>
#include <vector>

#include "segmentation/block_likelihoods.h"
#include "segmentation/forward_kernels.h"
#include "segmentation/segmentation_prior.h"
#include "tree/column_states.h"

class WorkerPool;

// Exact sampler of the segmentation of the alignment's L columns into p
// contiguous partitions (segments). The prior on p and on the placements
// comes from SegmentationPrior (p uniform on 1..P, placements equally
// likely). Inside a partition the root-value
// transition rows and the distribution of newly arising values have flat
// Dirichlet priors that are integrated out, so a block's likelihood is a
// product of Dirichlet-multinomial marginals of its count tables.
//
// Columns are numbered 1..L inside the class; from_tos pairs are 0-based.
//
// Memory is O(P L + L K^2): block likelihoods are computed from cumulative
// count tables when needed, and the backward weights of an end column are
// recomputed, bit for bit as `forward` computed them, only for the rows that
// a boundary draw visits.
class PartitionSampler {
 public:
  PartitionSampler();
  // Allocates every table for P = max_partitions, L = num_columns and
  // K = num_values. Drawing needs 1 <= P <= L - 1 (the run rejects a larger
  // k_max at start-up).
  PartitionSampler(long max_partitions, long num_columns, int num_values);
  PartitionSampler(const PartitionSampler&) = default;
  PartitionSampler& operator=(const PartitionSampler&) = default;
  // Assigning from a temporary hands the tables over instead of copying them.
  PartitionSampler(PartitionSampler&&) = default;
  PartitionSampler& operator=(PartitionSampler&&) = default;

  // Counts every column's root transition and new values from its root
  // value and node indicators, after which the log likelihood of every
  // block u..v (1 <= u <= v <= L; [1][1] is never computed) is available in
  // O(K^2) time; with diagnostics on, writes the whole table of them.
  void compute_single_blocks(const ColumnStates& states);
  // Log marginal of every prefix in every number of partitions, and what the
  // boundary draws need to rebuild their weights. The draws and the backward
  // weights keep to the block likelihoods of this call until the next one.
  // With diagnostics on, writes every log marginal and the last column's
  // backward weights.
  void forward();
  // Lets `forward` share its work among the pool's threads; null (the
  // default) or a pool of one thread keeps it on the caller alone. Every
  // result is the same double whatever the number of threads. The pool is not
  // owned: it must outlive every later `forward`, copies included.
  void use_worker_pool(WorkerPool* pool);
  // A draw of the number of partitions and the row of log marginals of
  // p = 1..P (at end column L) it was drawn from.
  struct PartitionCount {
    long p;
    std::vector<double> log_marginals;
  };
  PartitionCount sample_number_partitions();
  // Draws the boundaries of p partitions from the last back to the first.
  // Throws std::out_of_range for p > P.
  std::vector<std::vector<long>> sample_partition_positions(long p);
  // Returns the log position prior of the drawn p; `log_posterior_term`
  // receives that prior plus the drawn blocks' log likelihoods.
  double compute_post_para(const std::vector<std::vector<long>>& from_tos, double& log_posterior_term);

  // Read access for tests and diagnostics; indices out of range throw
  // std::out_of_range.
  // Log likelihood of block u..v, 0 <= u <= v <= L (0.0 where never computed).
  double block_log_likelihood(long v, long u) const;
  // Log marginal of columns 1..v in p partitions, p + 1 <= v <= L (for p = P
  // and v < L rebuilt on request, O(v) work).
  double log_marginal(long p, long v) const;
  // Unnormalised probabilities, as of the last `forward`, that the last of p
  // partitions of columns 1..v is u..v, for the start columns u = p+1..v
  // (largest weight of a row 1; all 0.0 for p = 1 and before the first
  // `forward`). O(v) work.
  std::vector<double> backward_weights(long p, long v) const;
  double log_position_prior(long p) const;  // -ln C(L-2, p-1) after `forward`

  // Test support only: overwrites the log likelihood of block u..v, so that
  // `forward` and the draws can be checked against enumeration with
  // arbitrary block likelihoods. The run never calls it.
  void set_block_log_likelihood(long v, long u, double value);

 private:
  long _max_partitions = 0;
  long _num_columns = 0;
  int _num_values = 0;
  std::vector<long> _partition_numbers;
  // Block log likelihoods of the current trees, and as of the last forward.
  BlockLikelihoods _g;
  BlockLikelihoods _forward_g;
  std::vector<std::vector<double>> _f;
  bool _forward_done = false;
  // Whether the last forward did _f[P] at every end column (for the
  // diagnostics).
  bool _every_end_column = false;
  WorkerPool* _pool = nullptr;
  // Everything the recursion and the draws read of the prior.
  SegmentationPrior _prior;

  void _forward_end_column(long v, std::vector<double>& blocks, const std::vector<double*>& row_of,
                           std::vector<double>& max_terms);
  void _forward_partitions(long first, long last, long v, const std::vector<double>& blocks,
                           const std::vector<double*>& row_of, std::vector<double>& max_terms);
  void _forward_pipeline(const std::vector<double*>& row_of, std::size_t partition_entries);
  long _last_needed_partition(long v) const;
  void _fill_blocks(long v, std::vector<double>& blocks) const;
  PartitionGroup _partition_group(long first, int count, long v, const double* blocks) const;
  // One partition's weights exp(t(u) - M) of the starts u = p+1..v, M and their sum.
  struct RebuiltTerms {
    std::vector<double> weights;
    double max_term = 0.0;
    double sum = 0.0;
  };
  RebuiltTerms _rebuilt_terms(long p, long v) const;
  void _write_forward_diagnostics(std::ostream& out) const;
};
