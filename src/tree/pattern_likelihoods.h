#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "tree/subtree_patterns.h"
#include "tree/trans_probs.h"
#include "tree/tree_topology.h"

// Number of states a node can hold in the likelihood pass: the values 0..4.
inline constexpr int likelihood_states = 5;

// The patterns that one segment's columns show at each internal node, each
// given a slot: the place of its tables in a PatternLikelihoods. The slots of
// a node are contiguous; every rate state of the segment uses the same slots.
class PatternSlots {
 public:
  // Forgets the previous segment's patterns; ids range over `patterns`.
  void reset(const TreeTopology& topology, const SubtreePatterns& patterns);
  // Gives a slot to every pattern of the columns first..last (inclusive).
  void collect(const TreeTopology& topology, const SubtreePatterns& patterns, long first, long last);

  std::size_t total() const { return _total; }
  // The pattern ids of a node's slots, in slot order.
  const std::vector<int>& ids(int node) const { return _ids[node]; }
  std::size_t slot(int node, int id) const { return _offset[node] + static_cast<std::size_t>(_local[node][id]); }
  std::size_t first_slot(int node) const { return _offset[node]; }

 private:
  std::vector<std::vector<int>> _local;  // [node][pattern id]: slot among the node's, or -1
  std::vector<std::vector<int>> _ids;    // [node][local slot]: pattern id
  std::vector<std::size_t> _offset;      // [node]: first slot
  std::size_t _total = 0;
};

// What a child tells its parent about the parent being in state s: the
// child's factor sum_j P[s][j] L_child(j), kept as the log of the sum of
// exp(t_j - max) and the shift max (t_j = ln P[s][j] + ln L_child(j)). A
// sum of zero has log -infinity (no child state is possible).
struct ChildMessage {
  std::array<double, likelihood_states> log_sum;
  std::array<double, likelihood_states> max;
};

// The tables of one pattern at one internal node.
struct PatternTables {
  std::array<double, likelihood_states> subtree_lik;  // valid where the bit of `valid` is set
  std::uint8_t valid = 0;                             // bit s: state s is possible
  ChildMessage up;                                    // towards the parent (not for the root)
  // [parent state][own state]: weights of the own state given the parent's
  // for the top-down draw; 0.0 for a state that is not a candidate.
  std::array<double, likelihood_states * likelihood_states> top_down_weights;
};

// The bottom-up pass of one (segment, rate state) over the patterns of the
// segment, with exactly the arithmetic of the pruning recursion on one column
// (tests/support/reference_likelihood.h): the same candidates, the same
// maxima, the same exponentials and logarithms, the sums in the same order,
// so every table is bit-identical to what a column's own pass would give.
// The branch logarithms are taken once here instead of once per node and
// state in every column.
class PatternLikelihoods {
 public:
  // Takes the logs of the branch matrices (5 x 5 each, rows and columns the
  // values 0..4) and sizes the tables to `slots`. Ends the run if a matrix
  // is missing or not 5 x 5.
  void prepare(const TreeTopology& topology, TransProbs& trans_probs, std::size_t slots);
  // Fills the tables of one slot of an internal node; the slots of its
  // internal children must be filled already.
  void evaluate(const TreeTopology& topology, const SubtreePatterns& patterns, const PatternSlots& slots, int node,
                std::size_t local_slot);

  const PatternTables& tables(std::size_t slot) const { return _tables[slot]; }

 private:
  // The child's factor for every parent state; with `weights_out`, also the
  // child's top-down weights.
  void child_message(const PatternTables& child, int child_node, ChildMessage& message,
                     double* weights_out = nullptr) const;
  const ChildMessage& message_of(const TreeTopology& topology, const SubtreePatterns& patterns,
                                 const PatternSlots& slots, int node, int id) const;

  std::vector<std::array<double, likelihood_states * likelihood_states>> _log_p;  // [node]
  std::vector<std::array<ChildMessage, likelihood_states + 1>> _leaf_messages;    // [node][leaf value]
  std::vector<PatternTables> _tables;                                             // [slot]
};
