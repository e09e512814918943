#pragma once

#include <array>
#include <cstddef>
#include <vector>

#include "tree/likelihood_engine.h"

// What the chain of (rate state, root value) pairs along the alignment is
// given, fixed within one iteration: the segments, each segment's root
// transition matrix, the first root's distribution, and the rate-state
// Markov chain (transition matrix and first state's distribution).
struct CollapsedChainModel {
  std::vector<std::vector<long>> from_tos;                         // cover columns 0..n-1 in order
  std::vector<std::vector<std::vector<double>>> root_transitions;  // per segment, 5 x 5 over 0..4
  std::vector<double> initial_value_probs;                         // 5
  std::vector<std::vector<double>> state_transitions;              // K x K
  std::vector<double> initial_state_probs;                         // K
};

// The model's columns hang on two Markov chains along the alignment, the
// rate states (transition matrix A) and the root values (per-segment matrix
// T), and column c's leaves depend on both only through L_c(k, s), the
// likelihood of its leaves given rate state k and root value s, which the
// engine's root tables hold with every value and indicator below the root
// summed out. The pairs (k, s) therefore form one Markov chain with
// transitions A[k'][k] T[r][s], and its forward recursion gives the
// likelihood of the data with the rate-state path, the root values and every
// other ancestral value and indicator summed out.
//
// The recursion runs on probabilities rather than logarithms: every column's
// root likelihoods are shifted by their largest log value, and the forward
// vector is normalised after each column, the log of the normaliser adding to
// the result (a column whose normaliser would lose digits is done in logs).
// K <= 3 rate states.
class CollapsedChain {
 public:
  // Takes the model and every column's root tables of every rate state from
  // the engine's current tables.
  void load(const CollapsedChainModel& model, const LikelihoodEngine& engine, int rate_states);
  // ln P(data) under the current tables; minus infinity when a column has no
  // possible (rate state, root value) pair.
  double log_likelihood();
  // ln P(data) with one rate state's root tables taken from the engine's
  // candidate instead (kept aside until accept_candidate()).
  // With `state_transitions`, also with that transition matrix instead.
  double candidate_log_likelihood(int rate_state, const LikelihoodEngine& engine,
                                  const std::vector<std::vector<double>>* state_transitions = nullptr);
  // ln P(data) with another rate-state transition matrix (kept aside until
  // accept_candidate()).
  double candidate_log_likelihood(const std::vector<std::vector<double>>& state_transitions);
  // The candidate's tables or matrix, and its forward vectors, become the
  // current ones.
  void accept_candidate();
  const std::vector<std::vector<double>>& state_transitions() const { return _model.state_transitions; }
  // Draws the rate state of every column from P(path | data), the root values
  // summed out: the pair (k, s) of the last column from its forward vector,
  // then each column's pair from the next one's, one rand() per column, last
  // column first; the root values drawn along are dropped.
  void draw_path(std::vector<int>& column_rate_states) const;

 private:
  // A column's root likelihoods under one rate state: weights[s] =
  // exp(ln L(s) - shift), 0 where s is impossible; shift the largest ln L(s).
  struct ScaledRoot {
    std::array<double, 5> log_lik;  // minus infinity where impossible
    std::array<double, 5> weights;
    double shift;
    bool possible;
  };
  static ScaledRoot scaled(const PatternTables& root);
  // Finds the columns' root patterns.
  void find_patterns(const LikelihoodEngine& engine);
  // Per root pattern, the largest shift over the current rate states and each
  // state's factor exp(shift - largest), so that a forward pass needs no
  // exponential for the states it does not replace.
  void refresh_scales();
  // One rate state's root likelihoods taken from elsewhere (a candidate's);
  // by default none.
  struct Replacement {
    int state = -1;
    const std::vector<ScaledRoot>* roots = nullptr;
  };
  double forward(const Replacement& replacement, const std::vector<std::vector<double>>& transitions,
                 std::vector<double>& alpha) const;
  std::size_t segment_of(long column) const;
  static bool empty_root_impossible(const CollapsedChainModel& model);

  CollapsedChainModel _model;
  int _states = 0;
  long _columns = 0;
  int _first_live_value = 0;  // 1 when the empty root value can never occur
  // Columns whose root tables are one object of the engine's (it shares a
  // pass between columns of one segment that look alike) share one root
  // pattern: its root likelihoods are scaled once, for all of them.
  std::vector<std::size_t> _pattern_of;         // [column]
  std::vector<long> _pattern_column;            // [pattern] its first column
  std::vector<std::vector<ScaledRoot>> _roots;  // [rate state][pattern]
  std::vector<double> _top;                     // [pattern]
  std::vector<std::array<double, 3>> _scales;   // [pattern][rate state]
  std::vector<double> _alpha;                   // [column][rate state][value], each column normalised
  std::vector<ScaledRoot> _candidate_roots;     // [pattern]
  std::vector<double> _candidate_alpha;
  int _candidate_state = -1;  // the rate state whose tables the candidate replaces, or -1
  bool _candidate_has_transitions = false;
  std::vector<std::vector<double>> _candidate_transitions;
};
