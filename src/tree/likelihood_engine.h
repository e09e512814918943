#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "tree/column_states.h"
#include "tree/pattern_likelihoods.h"
#include "tree/subtree_patterns.h"
#include "tree/tree_topology.h"
#include "tree/worker_pool.h"

// The column likelihoods of a whole alignment, computed once per iteration
// and shared by the emission step and the latent-value sampler.
//
// The tables of a column under one (segment, rate state) depend only on its
// leaf values and on that pair's branch matrices, so the engine builds the
// branch matrices (and their logarithms) once per pair, evaluates every
// pattern of leaf values below every internal node once per pair (columns
// and subtrees that look alike share a pass), and lets each column read its
// patterns' tables. Every number is bit-identical to what the pruning
// recursion on that column alone gives (tests/support keeps it as the
// reference), so the traces do not depend on the sharing.
//
// The passes may run on several threads; each table is written by one thread
// and computed the same way whatever the count, so the results do not depend
// on it. Random draws stay on the calling thread.
//
// The model's value alphabet is assumed: all_values 0..4, nonempty_values
// 1..4, 5 for absent leaves.
class LikelihoodEngine {
 public:
  // Takes the tree shape and every column's leaf values from `states`
  // (internal nodes absent exactly where all leaves below are, as
  // initialise_columns leaves them). `threads` >= 1.
  LikelihoodEngine(const ColumnStates& states, int threads);

  // Builds the branch matrices of every (segment, rate state) — rate states
  // 0 .. deletion_rates.size() - 1 — and evaluates every pattern of every
  // segment. Does nothing when called again with bit-identical arguments, so
  // the emission step and the latent sampler of one iteration share the
  // work. A segment bound outside the columns, or a frequency or rate vector
  // too short, throws std::out_of_range.
  void evaluate(const std::vector<std::vector<long>>& from_tos, const std::vector<std::vector<double>>& thetas,
                const std::vector<double>& deletion_rates, const std::vector<double>& insertion_rates,
                const std::vector<double>& mutation_rates, const std::vector<int>& nonempty_values,
                const std::vector<int>& children, const std::vector<double>& lengths);

  // The root's tables of a column under a rate state, from the last
  // evaluate(); the column must lie in one of its segments.
  const PatternTables& root_tables(long column, int rate_state) const { return node_tables(column, rate_state, 0); }
  // The tables of any internal node (by breadth-first number) of a column;
  // an absent node's tables hold no valid state.
  const PatternTables& node_tables(long column, int rate_state, int node) const;
  static bool valid(const PatternTables& tables, int state) { return ((tables.valid >> state) & 1u) != 0; }

  // Draws the internal values below every (already drawn) root of `states`
  // and all indicators, column by column in segment order, from the weights
  // of each column's patterns under its rate state; one rand() value per
  // internal node a walk from the root reaches (absent subtrees are left as
  // they are) and one per bond between equal residues, node by node in
  // breadth-first order.
  void sample_internal_nodes(const std::vector<std::vector<long>>& from_tos, ColumnStates& states,
                             const std::vector<int>& all_value_index, const std::vector<int>& column_rate_states,
                             const std::vector<double>& mutation_rates, const std::vector<std::vector<double>>& thetas);

  const TreeTopology& topology() const { return *_topology; }
  const SubtreePatterns& patterns() const { return _patterns; }
  int threads() const { return _pool.size(); }
  // The pool of the passes, for other deterministic work of the iteration.
  WorkerPool& pool() { return _pool; }

 private:
  struct Arguments {
    std::vector<std::vector<long>> from_tos;
    std::vector<std::vector<double>> thetas;
    std::vector<double> deletion_rates;
    std::vector<double> insertion_rates;
    std::vector<double> mutation_rates;
    std::vector<int> nonempty_values;
    std::vector<int> children;
    std::vector<double> lengths;
    bool operator==(const Arguments& other) const;
  };

  void assign_segments();
  void prepare_tables();
  void evaluate_patterns();
  PatternLikelihoods& table(std::size_t segment, int rate_state) {
    return _tables[segment * _rate_states + rate_state];
  }
  const PatternLikelihoods& table(std::size_t segment, int rate_state) const {
    return _tables.at(segment * _rate_states + rate_state);
  }
  void topdown(long column, ColumnStates& states, const PatternLikelihoods& likelihoods, const PatternSlots& slots,
               const std::vector<double>& no_mutation, const std::vector<int>& all_value_index,
               const std::vector<double>& freqs);

  std::shared_ptr<const TreeTopology> _topology;
  SubtreePatterns _patterns;
  WorkerPool _pool;

  bool _evaluated = false;
  Arguments _arguments;
  std::size_t _rate_states = 0;
  std::vector<int> _segment_of_column;             // -1 outside every segment
  std::vector<PatternSlots> _slots;                // [segment]
  std::vector<PatternLikelihoods> _tables;         // [segment * rate states + rate state]
  std::vector<std::int8_t> _walk_values;           // per node, one column's top-down walk
  std::vector<std::uint8_t> _walk_skipped;         // per node
  std::vector<const PatternTables*> _walk_tables;  // per internal node
};
