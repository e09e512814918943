#pragma once

#include <vector>

#include "tree/likelihood_engine.h"
#include "tree/model_parameters.h"
#include "updates/collapsed_chain.h"

// What a move reads and changes: the engine's tables (of `segmentation` and
// `rates`), the chain (model, transition matrix, forward vectors), the
// rates, and ln P(data) at them.
struct MarginalState {
  LikelihoodEngine& engine;
  CollapsedChain& chain;
  const Versioned<Segmentation>& segmentation;
  Versioned<EventRates>& rates;
  double log_likelihood;
};

// The kernels of a rate move (see MarginalRateMoves).
enum class RateKernel { random_walk, independence, tilt };

// Metropolis-Hastings moves on each rate state's deletion and mutation rate,
// and on the rows of the rate-state transition matrix A, whose target is
// their posterior with the rate-state path, every ancestral value and every
// event indicator summed out:
//   p(rates, A | data, rest) proportional to
//       P(data | rates, A, rest) prod Gamma(x; 0.01, 0.01) prod Dirichlet(row; 1, ..., 1),
// "rest" being the segmentation, thetas, betas, gammas and etas. The
// likelihood comes from the forward recursion of CollapsedChain over the
// engine's tables; a rate move re-evaluates the tables of its own rate state
// only, a row move needs no tree pass. The rates of a state and the share of
// columns the path gives it are tied (a state that takes more conserved
// columns has a lower rate); with the path summed out both can move.
//
// Moves work on y = ln x (the prior's density in y is x^0.01 e^(-0.01 x)) and
// mix three kernels with fixed probabilities (a third each), each a valid
// Metropolis-Hastings kernel on its own:
//   - a random walk y' = y + N(0, step^2), symmetric in y;
//   - a tilt: y' = y + e with e ~ N(0, tilt_step^2), and column k (the
//     rate's state) of every row of the transition matrix multiplied by
//     exp(-e) and the row renormalised; the tilt by -e undoes it, so the
//     ratio is that of the targets times the Jacobian of the map. It moves
//     along the ridge where a faster state holds fewer columns;
//   - an independence proposal from the mixture density
//       q(y) = e Prior(y) + (1 - e) Normal(y; centre, spread^2),
//     drawn from the prior (in log space, so that it never underflows) with
//     probability e and from the normal otherwise. The prior part matches the
//     posterior's shape near x = 0 exactly (there the likelihood no longer
//     changes), the normal part covers the bulk, so a single step crosses
//     between the near-zero spike and the bulk in either direction.
// The target is truncated to rates that are positive normal doubles (at least
// 2.2250738585072014e-308): a proposal outside is rejected, and a current rate
// outside (the other rate update can leave one) gives way to any proposal
// inside. The prior puts 8.05e-4 of its mass below that bound.
//
// Adaptation: during the first warm_up_iterations iterations the steps, the
// prior weight e, the centre and the spread (and the rows' proposal
// concentration) are tuned from the moves' own history; afterwards they are
// fixed, so from then on every move leaves its target exactly invariant. No
// part of a proposal depends on the ancestral values, the indicators or the
// rate-state path.
class MarginalRateMoves {
 public:
  static constexpr long warm_up_iterations = 100;

  // moves_per_rate >= 1; total_length: the sum of the tree's branch lengths
  // (a rate x with x * total_length < 1e-4 counts as near zero when tuning).
  MarginalRateMoves(int moves_per_rate, int rate_states, double total_length);

  // moves_per_rate rounds: a move on every rate, deletion rates of states
  // 0..K-1 then mutation rates, then three moves on every row of the
  // transition matrix, rows in order. The state's engine must hold the
  // tables of its segmentation and rates (evaluate() called with them), and
  // its chain the model loaded from them (its log_likelihood is ignored); the
  // engine holds the tables of the rates left in the state's rates
  // afterwards, and the chain the transition matrix the moves leave and its
  // forward vectors for those rates (for CollapsedChain::draw_path).
  void sweep(long iteration, MarginalState state);
  // One move of one rate (event 0: deletion, 2: mutation) of one rate state,
  // its kernel drawn with the fixed shares; `state.log_likelihood` follows.
  // Returns whether the proposal was accepted.
  bool move(long iteration, int event, int rate_state, MarginalState& state);
  // The same with a given kernel.
  bool move(long iteration, RateKernel kernel, int event, int rate_state, MarginalState& state);
  // One move of one row of the rate-state transition matrix held by `chain`
  // (prior Dirichlet(1, ..., 1)), with the same target otherwise. Returns
  // whether the proposal was accepted.
  bool move_transition_row(long iteration, int row, CollapsedChain& chain, double& log_likelihood);

  // What a run carries from one iteration to the next: the tuning state of
  // every rate and row, flat, for the checkpoint. restore() throws
  // std::invalid_argument for a state of another shape.
  std::vector<double> save() const;
  void restore(const std::vector<double>& state);

  // The proposal of one rate as it stands (fixed after the warm-up).
  struct Proposal {
    double step;         // random walk: standard deviation on ln x
    double tilt_step;    // tilt: standard deviation on ln x
    double prior_share;  // e
    double centre;       // normal part, on ln x
    double spread;
  };
  Proposal proposal(int event, int rate_state) const;

 private:
  // Tuning statistics of one rate over the warm-up's moves.
  struct Tuning {
    double log_step = 0.0;      // ln of the random walk's standard deviation
    double step_updates = 0.0;  // random-walk moves that tuned it
    double samples = 0.0;       // rates seen after a move
    double near_zero = 0.0;     // ... of which near zero
    double bulk_count = 0.0;    // ... and the others, with their mean and sum of squared deviations of ln x
    double bulk_mean = 0.0;
    double bulk_m2 = 0.0;
    double log_tilt_step = 0.0;  // ln of the tilt's standard deviation
    double tilt_updates = 0.0;   // tilt moves that tuned it
  };
  Tuning& tuning(int event, int rate_state);
  const Tuning& tuning(int event, int rate_state) const;
  void learn(Tuning& tuning, double rate, RateKernel kernel, bool from_bulk, bool accepted);
  bool near_zero(double rate) const;

  int _moves_per_rate;
  int _rate_states;
  double _total_length;
  std::vector<Tuning> _tunings;                // deletion states 0..K-1, then mutation states
  std::vector<double> _row_log_concentration;  // per row: ln c of its Dirichlet proposal
  std::vector<double> _row_updates;            // per row: moves that tuned it
};
