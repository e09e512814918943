#pragma once

#include <ostream>
#include <vector>

#include "tree/phy_tree.h"

// Exact sampler of the segmentation of the alignment's L columns into p
// contiguous partitions (segments). Prior: p uniform on 1..P and, given p,
// every admissible placement equally likely (partition 1 covers at least
// columns 1 and 2; C(L-2, p-1) placements). Inside a partition the root-value
// transition rows and the distribution of newly arising values have flat
// Dirichlet priors that are integrated out, so a block's likelihood is a
// product of Dirichlet-multinomial marginals of its count tables.
//
// Columns are numbered 1..L inside the class; from_tos pairs are 0-based.
class PartitionSampler {
 public:
  PartitionSampler();
  // Allocates every table for P = max_partitions, L = num_columns and
  // K = num_values; the trees are not read. Drawing needs 1 <= P <= L - 1
  // (the run rejects a larger k_max at start-up).
  PartitionSampler(long max_partitions, long num_columns, int num_values, std::vector<PhyTree*>& trees);
  PartitionSampler(const PartitionSampler&) = default;
  PartitionSampler& operator=(const PartitionSampler&) = default;
  // Assigning from a temporary hands the tables over instead of holding two
  // copies of the O(P L^2) tables at once.
  PartitionSampler(PartitionSampler&&) = default;
  PartitionSampler& operator=(PartitionSampler&&) = default;

  // Log likelihood of every block u..v (1 <= u <= v <= L) from the trees'
  // root values and node indicators; [1][1] is never computed.
  void compute_single_blocks(std::vector<PhyTree*>& trees, const std::vector<int>& value_index, std::ostream* out);
  // Log marginal of every prefix in every number of partitions, and the
  // weights for drawing the boundaries backwards.
  void forward(std::ostream* out);
  // Draws p in 1..P; with a stream, writes the row of log marginals and flushes.
  long sample_number_partitions(std::ostream* out);
  // Draws the boundaries of p partitions from the last back to the first.
  std::vector<std::vector<long>> sample_partition_positions(long p, std::ostream* out);
  // Returns the log position prior of the drawn p; `log_posterior_term`
  // receives that prior plus the drawn blocks' log likelihoods.
  double compute_post_para(const std::vector<std::vector<long>>& from_tos, double& log_posterior_term);

  // Integrated event-rate marginal (a facility the sampling run does not use).
  // branch_lengths: per child label, entry 0 (the root) unused; an empty list
  // ends the run with "no length of tree branch is given! \n", status 1.
  void _pre_compute_constant_for_numerical_integral(const std::vector<double>& branch_lengths);
  // ln of the integral over lambda in [0, 126] of the Gamma(0.1, 0.1) density
  // times prod_b (1 - exp(-lambda t_b))^counts[b] times exp(-lambda B), with
  // a = sum of counts[b] and c = sum of counts[b] ln t_b over b >= 1. Above
  // 0.01 a 40-interval trapezoid sum, below it a gamma integral: accurate when
  // the mass lies far below 0.01 or is spread over the grid.
  double _compute_numerical_integral(const std::vector<double>& counts, double& a, double& B, double& c);

  // Read access for tests and diagnostics.
  double block_log_likelihood(long v, long u) const;     // _g[v][u]
  double log_marginal(long p, long v) const;             // _f[p][v-(p+1)]
  double backward_weight(long p, long v, long u) const;  // _b[p][v-(p+1)][u-(p+1)]
  // The whole row of weights of start columns u = p+1..v.
  std::vector<double> backward_weights(long p, long v) const;
  double log_position_prior(long p) const;               // _log_position_prior[p]

  // Test support only: overwrites the log likelihood of block u..v, so that
  // `forward` and the draws can be checked against enumeration with
  // arbitrary block likelihoods. The run never calls it.
  void set_block_log_likelihood(long v, long u, double value);

 private:
  long _max_partitions = 0;
  long _num_columns = 0;
  int _num_values = 0;
  std::vector<long> _partition_numbers;
  std::vector<std::vector<double>> _g;
  std::vector<std::vector<long>> _value_counts;
  std::vector<std::vector<std::vector<long>>> _transition_counts;
  std::vector<std::vector<std::vector<double>>> _b;
  std::vector<std::vector<double>> _f;
  std::vector<double> _log_position_prior;
  // Lookup tables of the O(L^2) loops, filled with the very same C library
  // calls on the same double arguments, so every value is bit-identical to
  // calling them in place: lgamma(n + 1), lgamma(n + K) for whole counts n,
  // and log(n) for n = 0..L.
  std::vector<double> _lgamma_count_plus_one;
  std::vector<double> _lgamma_total_plus_values;
  std::vector<double> _log_whole;
  // Integrated event-rate marginal.
  int _num_branches = 0;
  double _rate_lower = 0.0;
  double _rate_upper = 0.0;
  double _num_intervals = 0.0;
  double _rate_step = 0.0;
  double _log_rate_step = 0.0;
  int _num_grid_points = 0;
  int _num_interval_count = 0;
  std::vector<double> _rate_grid;
  std::vector<std::vector<double>> _log_branch_event_prob;
  std::vector<double> _log_integrand;
  double _prior_shape = 0.0;
  double _prior_rate = 0.0;
  double _log_prior_norm = 0.0;
  std::vector<double> _log_prior_on_grid;
  double _num_series_terms = 0.0;
  int _num_quad_points = 0;
  double _log_zero = 0.0;
  std::vector<double> _quad_nodes;
  std::vector<double> _quad_weights;

  long _count_column(const std::vector<PhyTree*>& trees, const std::vector<int>& value_index, long column);
  void _add_column_into_block(long column, long start);
  double _dirichlet_multinomial_term(const std::vector<long>& counts) const;
  double _block_term(long start) const;
  void _extend_lgamma_tables(long largest_count);
  void _forward_one_partition(std::ostream* out);
  void _forward_partitions(long p, std::ostream* out);
  void _forward_end_column(long p, long v, double position_weight, std::ostream* out);
  double _log_lower_incomplete_gamma(double alpha, double x) const;
  double _log_lower_gamma_by_quadrature(double alpha, double x) const;
};
