#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "numerics/worker_pool.h"
#include "tree/column_states.h"
#include "tree/model_parameters.h"
#include "tree/pattern_likelihoods.h"
#include "tree/subtree_patterns.h"
#include "tree/tree_topology.h"

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
// The model's alphabet is assumed: values 0..4, 5 for absent leaves.
class LikelihoodEngine {
 public:
  // Takes the tree shape and every column's leaf values from `states`
  // (internal nodes absent exactly where all leaves below are, as
  // initialise_columns leaves them). The passes share their work among the
  // threads of `pool`, which the engine borrows: it must outlive the engine.
  LikelihoodEngine(const ColumnStates& states, WorkerPool& pool);

  // Builds the branch matrices of every (segment, rate state) — the
  // segments' from_tos and thetas, rate states 0 .. rates.states() - 1 — and
  // evaluates every pattern of every segment. Does nothing when called again
  // with the same versions of both, so the emission step and the latent
  // sampler of one iteration share the work. A segment bound outside the
  // columns, or a frequency or rate vector too short, throws
  // std::out_of_range.
  void evaluate(const Versioned<Segmentation>& segmentation, const Versioned<EventRates>& rates);

  // The root's tables of a column under a rate state, from the last
  // evaluate(); the column must lie in one of its segments.
  const PatternTables& root_tables(long column, int rate_state) const { return node_tables(column, rate_state, 0); }
  // The tables of any internal node (by breadth-first number) of a column;
  // an absent node's tables hold no valid state.
  const PatternTables& node_tables(long column, int rate_state, int node) const;
  static bool valid(const PatternTables& tables, int state) { return ((tables.valid >> state) & 1u) != 0; }

  // Candidate tables of one rate state: every segment of the last
  // evaluate() (which must have been of these versions of the segmentation;
  // an InternalError otherwise) under other rates for that state, kept next
  // to the current tables, which stay as they are. Each candidate table is
  // bit-identical to what evaluate() with these rates in the state's place
  // would build.
  void evaluate_candidate(const Versioned<Segmentation>& segmentation, int rate_state, const StateRates& candidate);
  // The root's tables of a column in the last candidate.
  const PatternTables& candidate_root_tables(long column) const;
  // Makes the last candidate the current tables of its rate state and its
  // rates that state's rates in `rates` (which must be the rates of the last
  // evaluate(); an InternalError otherwise): the engine stays current for the
  // new version.
  void accept_candidate(Versioned<EventRates>& rates);

  // Draws the internal values below every (already drawn) root of `states`
  // and all indicators, column by column in segment order, from the weights
  // of each column's patterns under its rate state; one rand() value per
  // internal node a walk from the root reaches (absent subtrees are left as
  // they are) and one per bond between equal residues, node by node in
  // breadth-first order. The tables must be those of these versions (an
  // InternalError otherwise).
  void sample_internal_nodes(const Versioned<Segmentation>& segmentation, const Versioned<EventRates>& rates,
                             const std::vector<int>& column_rate_states, ColumnStates& states);

  const TreeTopology& topology() const { return *_topology; }
  const SubtreePatterns& patterns() const { return _patterns; }
  int threads() const { return _pool.size(); }

 private:
  // One (segment, rate state) table to fill, with its segment's slots.
  struct TableJob {
    PatternLikelihoods* tables;
    std::size_t segment;
  };

  void assign_segments(const Segmentation& segmentation);
  void prepare_tables(const Segmentation& segmentation, const EventRates& rates);
  void evaluate_patterns(const std::vector<TableJob>& jobs);
  const PatternTables& root_tables_in(const PatternLikelihoods& tables, long column) const;
  PatternLikelihoods& table(std::size_t segment, int rate_state) {
    return _tables[segment * _rate_states + rate_state];
  }
  const PatternLikelihoods& table(std::size_t segment, int rate_state) const {
    return _tables.at(segment * _rate_states + rate_state);
  }
  // One column's walk with the tables of its segment and rate state.
  void topdown(long column, std::size_t segment, int rate_state, const std::vector<double>& no_mutation,
               const std::vector<double>& freqs, ColumnStates& states);

  std::shared_ptr<const TreeTopology> _topology;
  SubtreePatterns _patterns;
  WorkerPool& _pool;

  bool _evaluated = false;
  std::uint64_t _segmentation_version = 0;  // of the last evaluate()
  std::uint64_t _rates_version = 0;
  std::size_t _segments = 0;
  std::size_t _rate_states = 0;
  std::vector<int> _segment_of_column;             // -1 outside every segment
  std::vector<PatternSlots> _slots;                // [segment]
  std::vector<PatternLikelihoods> _tables;         // [segment * rate states + rate state]
  std::vector<PatternLikelihoods> _candidate;      // [segment], of _candidate_state
  int _candidate_state = -1;                       // -1: no candidate
  StateRates _candidate_rates;                     // of _candidate_state
  std::vector<std::int8_t> _walk_values;           // per node, one column's top-down walk
  std::vector<std::uint8_t> _walk_skipped;         // per node
  std::vector<const PatternTables*> _walk_tables;  // per internal node
};
