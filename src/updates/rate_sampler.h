#pragma once

#include <deque>
#include <vector>

#include "tree/column_states.h"

// Metropolis sampler of one event rate (deletion, insertion or mutation) of
// one rate state. On a branch of length t the event happens with probability
// 1 - exp(-x t). Prior Gamma(shape 0.01, rate 0.01). Given the per-branch
// event counts c_b and the exposure S = sum of (no-event counts z_b * t_b),
// the log posterior is (a-1) ln x - b x + sum_b c_b ln(1 - exp(-x t_b)) - x S.
// Steps are proposed on ln x with an adaptively tuned step size (the
// acceptance ratio carries the Jacobian x'/x of that change of variable); when
// no event was seen the exact gamma conditional is drawn instead.
class RateSampler {
 public:
  // event_type: 0 deletions, 1 insertions, 2 mutations.
  RateSampler(int event_type, int steps_per_call);

  // Recounts c_b, z_b, E and S from the indicators of the given columns
  // (branch b being the branch above label b, in label order) and returns a
  // moment-style starting rate. With diagnostics on, writes every branch's
  // counts and the totals.
  double compute_initial_rate(const ColumnStates& states, const std::vector<long>& columns, double mean_length);
  // A new rate and the log prior density at it.
  struct Draw {
    double rate;
    double log_prior;
  };
  // steps_per_call Metropolis steps from x (or one exact gamma draw when no
  // event was seen). With diagnostics on, writes every step's tuning and a
  // summary line.
  Draw sample_rate(double x);
  // Records an acceptance indicator (1.0 / 0.0) in the window and adapts the
  // step size (x: the rate after the step, for the diagnostics).
  void _tune_stepsize(double indicator, double x);

  // What a sampler carries from one sample_rate call to the next: the step
  // settings and the acceptance window. The event statistics are not part of
  // it, since compute_initial_rate recounts them before every call.
  struct Tuning {
    double step_size;
    double adjustment_factor;
    double lower_step_bound;
    double upper_step_bound;
    double acceptance_rate;
    std::vector<double> acceptance_window;  // oldest first
  };
  Tuning tuning() const;
  // Throws std::invalid_argument for a window of another length.
  void restore_tuning(const Tuning& tuning);

  double step_size() const { return _step_size; }
  double acceptance_rate() const { return _acceptance_rate; }
  double total_events() const { return _total_events; }
  double exposure() const { return _exposure; }
  const std::vector<double>& event_counts() const { return _event_counts; }

 private:
  // This sampler's indicator on the branch above `node`: 1 event, 0 no event,
  // -1 not applicable.
  int _event_indicator(const NodeState& node) const;
  // Resets every tuning setting (after an exact draw).
  void _reset_tuning(double x);
  // sum_b c_b [ln(1 - exp(-x_new t_b)) - ln(1 - exp(-x t_b))].
  double _event_log_ratio(double x_new, double x) const;

  double _prior_shape = 0.01;
  double _prior_rate = 0.01;
  int _deletion_code = 0;
  int _insertion_code = 1;
  int _mutation_code = 2;
  int _event_type;
  double _initial_step_size = 1.0;
  double _initial_adjustment_factor = 0.2;
  double _initial_lower_step_bound = 0.02;
  double _initial_upper_step_bound = 100.0;
  double _initial_acceptance_rate = 0.0;
  double _step_size = 1.0;
  double _adjustment_factor = 0.2;
  double _lower_step_bound = 0.02;
  double _upper_step_bound = 100.0;
  std::deque<double> _acceptance_window = std::deque<double>(10, 0.0);
  int _window_length = 10;
  double _acceptance_rate = 0.0;
  double _lower_target = 0.25;
  double _upper_target = 0.35;
  int _steps_per_call;
  int _node_count = 0;
  std::vector<double> _branch_lengths;
  std::vector<double> _event_counts;
  double _total_events = 0.0;
  double _exposure = 0.0;
};
