#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "tree/column_states.h"
#include "tree/pattern_likelihoods.h"
#include "tree/phy_tree.h"
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
// patterns' tables. Every number is bit-identical to what PhyTree::bottomup
// leaves in that column's nodes, so the traces do not change.
//
// The passes may run on several threads; each table is written by one thread
// and computed the same way whatever the count, so the results do not depend
// on it. Random draws stay on the calling thread.
//
// The model's value alphabet is assumed: all_values 0..4, nonempty_values
// 1..4, 5 for absent leaves.
class LikelihoodEngine {
 public:
  // Takes the tree shape and every column's leaf values from `trees` (one
  // tree per column, internal nodes absent exactly where all leaves below
  // are, as init_nodes leaves them). `threads` >= 1.
  LikelihoodEngine(const std::vector<PhyTree*>& trees, int threads);

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

  // Candidate tables of one rate state: every segment of the last
  // evaluate() under other rates for that state (same frequencies, branch
  // lengths and patterns), kept next to the current tables, which stay as
  // they are. Each candidate table is bit-identical to what evaluate() with
  // these rates in the state's place would build. Needs an evaluate() before.
  void evaluate_candidate(int rate_state, double deletion_rate, double insertion_rate, double mutation_rate);
  // The root's tables of a column in the last candidate.
  const PatternTables& candidate_root_tables(long column) const;
  // Makes the last candidate the current tables of its rate state, as if
  // evaluate() had been called with its rates in the state's place.
  void accept_candidate();

  // Draws the internal values below every (already drawn) root and all
  // indicators, column by column in segment order, exactly as
  // PhyTree::topdown on each column after its own bottom-up pass with the
  // column's rate state: same weights, same rand() values in the same order.
  // Writes the values and indicators into the trees' nodes and into states().
  void sample_internal_nodes(const std::vector<std::vector<long>>& from_tos, std::vector<PhyTree*>& trees,
                             const std::vector<int>& all_value_index, const std::vector<int>& column_rate_states,
                             const std::vector<double>& mutation_rates, const std::vector<std::vector<double>>& thetas);

  // Every column's node values and indicators, compact: as the trees held
  // them at construction, then as each top-down draw leaves them (the root
  // values included).
  const ColumnStates& states() const { return _states; }
  // Puts back node states saved from states().all() of a run on the same
  // trees, into states() and into the trees' nodes. The likelihood tables
  // depend on the leaves and the arguments of evaluate() alone, so they stay.
  void restore_states(const std::vector<NodeState>& states, std::vector<PhyTree*>& trees) {
    _states.restore(states, trees);
  }
  const TreeTopology& topology() const { return _topology; }
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

  // One (segment, rate state) table to fill, with its segment's slots.
  struct TableJob {
    PatternLikelihoods* tables;
    std::size_t segment;
  };

  void assign_segments();
  void prepare_tables();
  void evaluate_patterns(const std::vector<TableJob>& jobs);
  const PatternTables& root_tables_in(const PatternLikelihoods& tables, long column) const;
  PatternLikelihoods& table(std::size_t segment, int rate_state) {
    return _tables[segment * _rate_states + rate_state];
  }
  const PatternLikelihoods& table(std::size_t segment, int rate_state) const {
    return _tables.at(segment * _rate_states + rate_state);
  }
  void topdown(long column, PhyTree& tree, const PatternLikelihoods& likelihoods, const PatternSlots& slots,
               const std::vector<double>& no_mutation, const std::vector<int>& all_value_index,
               const std::vector<double>& freqs);

  TreeTopology _topology;
  SubtreePatterns _patterns;
  ColumnStates _states;
  WorkerPool _pool;

  bool _evaluated = false;
  Arguments _arguments;
  std::size_t _rate_states = 0;
  std::vector<int> _segment_of_column;             // -1 outside every segment
  std::vector<PatternSlots> _slots;                // [segment]
  std::vector<PatternLikelihoods> _tables;         // [segment * rate states + rate state]
  std::vector<PatternLikelihoods> _candidate;      // [segment], of _candidate_state
  int _candidate_state = -1;                       // -1: no candidate
  double _candidate_rates[3] = {0.0, 0.0, 0.0};    // deletion, insertion, mutation
  std::vector<std::int8_t> _walk_values;           // per node, one column's top-down walk
  std::vector<std::uint8_t> _walk_skipped;         // per node
  std::vector<const PatternTables*> _walk_tables;  // per internal node
};
