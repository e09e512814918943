#pragma once

// The inner loops of the segmentation recursion, as functions on plain
// arrays, in a scalar and a vector (AVX2) version. Each lane of the vector
// version does, for its own partition or weight, exactly the operations of
// the scalar loop in their order, so both give the same bits.

// The most partitions a group takes side by side.
constexpr int group_lanes = 4;

// Partitions p = first..first+count-1 (count 1..4) at end column v. For each
// p the terms t(u) = previous(p)[u-p-1] + blocks[u] + E(u), u = p+1..v,
// where E(p+1) = D(p, v) and E(u) = (E(u-1) + ln(u-3)) - ln(u-p-1), then
// their maximum M and the sum, in increasing u, of exp(t(u) - M).
struct PartitionGroup {
  long first = 0;
  int count = 0;
  long v = 0;
  const double* blocks = nullptr;             // blocks[u] = log likelihood of block u..v
  const double* previous[group_lanes] = {};   // _f[p-1] of each p, entry u-p-1 for start u
  double start_weight[group_lanes] = {};      // D(p, v) of each p
  const double* log_whole = nullptr;          // log_whole[n] = ln n
};

// The block log likelihoods row[u], u = lowest..v, of K = 4 values, from the
// cumulative count tables (row c: 4 transition rows of 4, then the 4 value
// counts) and the lgamma lookup tables.
struct BlockRowInput {
  const long* cumulative_counts = nullptr;
  const int* transition_row = nullptr;
  const double* lgamma_count_plus_one = nullptr;
  const double* lgamma_total_plus_values = nullptr;
  long v = 0;
  long lowest = 0;
};

struct ForwardKernels {
  const char* name;
  // The group's maxima[c] = M and sums[c] for c < count. terms is a buffer
  // of (v - first + 1) * group_lanes doubles; on return its first
  // (v - first) * count entries are the weights exp(t(u) - M) of the starts,
  // weights[(u - first - 1) * count + c] for p = first + c (0.0 where u < p + 1).
  void (*partition_group)(const PartitionGroup& group, double* terms, double* maxima, double* sums);
  // row[u] = block u..v for u = input.lowest..v (scalar in both sets).
  void (*block_row)(const BlockRowInput& input, double* row);
};

const ForwardKernels& scalar_forward_kernels();
// Null where the vector exp kernel is not the one in use (see numerics::exp_kernel).
const ForwardKernels* avx2_forward_kernels();
// The vector kernels when the run uses the vector exp, otherwise the scalar ones.
const ForwardKernels& forward_kernels();

// The scalar block row, for any K >= 1 of the table.
void fill_block_row_scalar(const BlockRowInput& input, int num_values, double* row);
// Shared start of both group kernels: -infinity in the terms buffer's first
// count starts, then each p's terms t(u) at terms[(u - first - 1) * count + c] up to
// the start first + count, after which every p of the group is past its first
// start; start_weight[c] and max_term[c] are then E and M of p = first + c as
// of that start.
void start_partition_group(const PartitionGroup& group, double* terms, double* start_weight, double* max_term);
