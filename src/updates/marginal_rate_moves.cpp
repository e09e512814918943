#include "updates/marginal_rate_moves.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <limits>
#include <stdexcept>

#include "random/variates.h"

namespace {

constexpr double prior_shape = 0.01;  // the rates' prior Gamma(shape 0.01, rate 0.01)
constexpr double prior_rate = 0.01;
constexpr int deletion_event = 0;
constexpr int mutation_event = 2;
// Shares of the three kernels of a rate move: random walk, independence,
// tilt (the rest).
constexpr double random_walk_share = 1.0 / 3.0;
constexpr double independence_share = 1.0 / 3.0;
// The random walk's step is tuned towards the acceptance rate that is best
// for a one-dimensional walk, by a Robbins-Monro update of its log.
constexpr double target_acceptance = 0.44;
constexpr double smallest_log_step = -4.605170185988091;  // ln 0.01
constexpr double largest_log_step = 2.302585092994046;    // ln 10
// A rate with fewer expected events than this on the whole tree counts as
// near zero while tuning (the likelihood hardly tells such rates apart).
constexpr double near_zero_events = 1e-4;
constexpr double least_bulk_samples = 10;
constexpr double tuning_fields = 9;
// Moves of every row of the rate-state transition matrix after each round of
// rate moves: they need no tree pass, only the forward recursion.
constexpr int row_moves_per_round = 3;
constexpr double row_target_acceptance = 0.3;
constexpr double smallest_log_concentration = 0.6931471805599453;  // ln 2
constexpr double largest_log_concentration = 13.815510557964274;   // ln 1e6

double dirichlet_log_density(const std::vector<double>& x, const std::vector<double>& alpha) {
  double total = 0.0, density = 0.0;
  for (std::size_t j = 0; j < x.size(); ++j) {
    total += alpha[j];
    density += (alpha[j] - 1.0) * std::log(x[j]) - std::lgamma(alpha[j]);
  }
  return density + std::lgamma(total);
}

std::vector<double> concentrated(const std::vector<double>& row, double concentration) {
  std::vector<double> alpha(row.size());
  for (std::size_t j = 0; j < row.size(); ++j) alpha[j] = concentration * row[j] + 1.0;
  return alpha;
}

double log_sum_exp(double a, double b) {
  const double top = std::max(a, b);
  if (top == -std::numeric_limits<double>::infinity()) return top;
  return top + std::log(std::exp(a - top) + std::exp(b - top));
}

// ln q(y) of the independence proposal: the prior's density of ln x mixed
// with a normal.
double log_independence_density(double y, const MarginalRateMoves::Proposal& p) {
  static const double log_two_pi = std::log(2.0 * 3.141592653589793);
  const double log_prior =
      prior_shape * std::log(prior_rate) - std::lgamma(prior_shape) + prior_shape * y - prior_rate * std::exp(y);
  const double z = (y - p.centre) / p.spread;
  const double log_normal = -0.5 * log_two_pi - std::log(p.spread) - 0.5 * z * z;
  return log_sum_exp(std::log(p.prior_share) + log_prior, std::log(1.0 - p.prior_share) + log_normal);
}

bool inside_support(double rate) { return rate >= DBL_MIN && rate <= DBL_MAX; }

// Multiplies column k of every row of the transition matrix by g and
// renormalises the row: p -> p w / <p, w> with w_k = g, w_j = 1 otherwise.
// Returns the log of the Jacobian determinant of that map on the rows'
// simplices, sum over rows of ln(prod w) - K ln <p, w>. Tilting by 1/g undoes
// it.
double tilt_column(std::vector<std::vector<double>>& transitions, int k, double log_g) {
  const double g = std::exp(log_g);
  double log_jacobian = 0.0;
  for (auto& row : transitions) {
    const double norm = (1.0 - row.at(k)) + row[k] * g;
    row[k] *= g;
    for (double& p : row) p /= norm;
    log_jacobian += log_g - static_cast<double>(row.size()) * std::log(norm);
  }
  return log_jacobian;
}

}  // namespace

MarginalRateMoves::MarginalRateMoves(int moves_per_rate, int rate_states, double total_length)
    : _moves_per_rate(moves_per_rate),
      _rate_states(rate_states),
      _total_length(total_length),
      _tunings(static_cast<std::size_t>(2 * rate_states)),
      _row_log_concentration(static_cast<std::size_t>(rate_states), std::log(100.0)),
      _row_updates(static_cast<std::size_t>(rate_states), 0.0) {}

MarginalRateMoves::Tuning& MarginalRateMoves::tuning(int event, int rate_state) {
  return _tunings.at(static_cast<std::size_t>((event == deletion_event ? 0 : _rate_states) + rate_state));
}

const MarginalRateMoves::Tuning& MarginalRateMoves::tuning(int event, int rate_state) const {
  return _tunings.at(static_cast<std::size_t>((event == deletion_event ? 0 : _rate_states) + rate_state));
}

bool MarginalRateMoves::near_zero(double rate) const { return rate * _total_length < near_zero_events; }

void MarginalRateMoves::sweep(long iteration, MarginalState state) {
  CollapsedChain& chain = state.chain;
  state.log_likelihood = chain.log_likelihood();
  for (int round = 0; round < _moves_per_rate; ++round) {
    for (const int event : {deletion_event, mutation_event}) {
      for (int s = 0; s < _rate_states; ++s) move(iteration, event, s, state);
    }
    for (int m = 0; m < row_moves_per_round; ++m) {
      for (int row = 0; row < _rate_states; ++row) move_transition_row(iteration, row, chain, state.log_likelihood);
    }
  }
}

bool MarginalRateMoves::move(long iteration, int event, int rate_state, MarginalState& state) {
  const double u = draw_unit_uniform();
  const RateKernel kernel = u < random_walk_share                        ? RateKernel::random_walk
                            : u < random_walk_share + independence_share ? RateKernel::independence
                                                                         : RateKernel::tilt;
  return move(iteration, kernel, event, rate_state, state);
}

// A Dirichlet proposal around the current row (concentration c: parameters
// c p_j + 1), the Hastings ratio for its asymmetry; the prior of a row is
// Dirichlet(1, ..., 1), flat, as in the update from the path's counts.
bool MarginalRateMoves::move_transition_row(long iteration, int row, CollapsedChain& chain, double& log_likelihood) {
  const double concentration = std::exp(_row_log_concentration.at(row));
  std::vector<std::vector<double>> transitions = chain.state_transitions();
  const std::vector<double> current = transitions[row];
  const std::vector<double> proposed = sample_dirichlet(1, concentrated(current, concentration))[0];
  transitions[row] = proposed;
  const double log_likelihood_new = chain.candidate_log_likelihood(transitions);
  const double log_ratio =
      (log_likelihood_new - log_likelihood) + (dirichlet_log_density(current, concentrated(proposed, concentration)) -
                                               dirichlet_log_density(proposed, concentrated(current, concentration)));
  bool accepted = log_ratio >= 0;
  if (!accepted) accepted = std::log(sample_unif(1, 0.0, 1.0)[0]) < log_ratio;
  if (accepted) {
    chain.accept_candidate();
    log_likelihood = log_likelihood_new;
  }
  if (iteration <= warm_up_iterations) {
    _row_updates[row] += 1;
    _row_log_concentration[row] -= ((accepted ? 1.0 : 0.0) - row_target_acceptance) / std::sqrt(_row_updates[row]);
    _row_log_concentration[row] =
        std::clamp(_row_log_concentration[row], smallest_log_concentration, largest_log_concentration);
  }
  return accepted;
}

bool MarginalRateMoves::move(long iteration, RateKernel kernel, int event, int rate_state, MarginalState& state) {
  const EventRates& rates = *state.rates;
  LikelihoodEngine& engine = state.engine;
  CollapsedChain& chain = state.chain;
  double& log_likelihood = state.log_likelihood;
  // Read through the run's rates, which accept_candidate() changes.
  const std::vector<double>& moved = event == deletion_event ? rates.deletion : rates.mutation;
  const auto s = static_cast<std::size_t>(rate_state);
  const double x = moved.at(s);
  const double y = std::log(x);
  const Proposal p = proposal(event, rate_state);

  const bool random_walk = kernel == RateKernel::random_walk;
  const bool independence = kernel == RateKernel::independence;
  double y_new;
  if (random_walk) {
    y_new = y + sample_normal(1, 0.0, p.step)[0];
  } else if (!independence) {
    y_new = y + sample_normal(1, 0.0, p.tilt_step)[0];
  } else if (draw_unit_uniform() < p.prior_share) {
    y_new = sample_log_gamma(prior_shape, prior_rate);
  } else {
    y_new = sample_normal(1, p.centre, p.spread)[0];
  }
  const double x_new = std::exp(y_new);

  bool accepted = false;
  if (inside_support(x_new)) {
    const double deletion = event == deletion_event ? x_new : rates.deletion.at(s);
    const double mutation = event == mutation_event ? x_new : rates.mutation.at(s);
    engine.evaluate_candidate(state.segmentation, rate_state, {deletion, rates.insertion.at(s), mutation});
    // The tilt moves the rate state's share of the path against its rate: a
    // faster state takes fewer columns.
    std::vector<std::vector<double>> tilted;
    double log_jacobian = 0.0;
    if (!random_walk && !independence) {
      tilted = chain.state_transitions();
      log_jacobian = tilt_column(tilted, rate_state, -(y_new - y));
    }
    const double log_likelihood_new =
        chain.candidate_log_likelihood(rate_state, engine, tilted.empty() ? nullptr : &tilted);
    // A current rate outside the truncated support (or an impossible current
    // state) has target density 0: any possible proposal is taken.
    double log_ratio = std::numeric_limits<double>::infinity();
    if (inside_support(x) && log_likelihood > -std::numeric_limits<double>::infinity()) {
      log_ratio = (log_likelihood_new - log_likelihood) + (prior_shape * (y_new - y) - prior_rate * (x_new - x));
      if (independence) log_ratio -= log_independence_density(y_new, p) - log_independence_density(y, p);
      log_ratio += log_jacobian;
    }
    if (log_likelihood_new > -std::numeric_limits<double>::infinity()) {
      accepted = log_ratio >= 0 || std::log(sample_unif(1, 0.0, 1.0)[0]) < log_ratio;
    }
    if (accepted) {
      engine.accept_candidate(state.rates);
      chain.accept_candidate();
      log_likelihood = log_likelihood_new;
    }
  }
  if (iteration <= warm_up_iterations) {
    learn(tuning(event, rate_state), moved[s], kernel, inside_support(x) && !near_zero(x), accepted);
  }
  return accepted;
}

void MarginalRateMoves::learn(Tuning& t, double rate, RateKernel kernel, bool from_bulk, bool accepted) {
  t.samples += 1;
  if (near_zero(rate)) {
    t.near_zero += 1;
  } else {
    const double y = std::log(rate);
    t.bulk_count += 1;
    const double deviation = y - t.bulk_mean;
    t.bulk_mean += deviation / t.bulk_count;
    t.bulk_m2 += deviation * (y - t.bulk_mean);
  }
  if (kernel == RateKernel::random_walk && from_bulk) {
    t.step_updates += 1;
    t.log_step += ((accepted ? 1.0 : 0.0) - target_acceptance) / std::sqrt(t.step_updates);
    t.log_step = std::clamp(t.log_step, smallest_log_step, largest_log_step);
  }
  if (kernel == RateKernel::tilt) {
    t.tilt_updates += 1;
    t.log_tilt_step += ((accepted ? 1.0 : 0.0) - target_acceptance) / std::sqrt(t.tilt_updates);
    t.log_tilt_step = std::clamp(t.log_tilt_step, smallest_log_step, largest_log_step);
  }
}

// The normal part follows the rate's own values away from zero during the
// warm-up, widened by half; a rate that was (nearly) never away from zero
// borrows those of the same event in the other rate states, widened more, so
// that it is offered where its kind of rate lives; with neither, it is
// centred where a column's tree shows about 0.1 events, and wide.
MarginalRateMoves::Proposal MarginalRateMoves::proposal(int event, int rate_state) const {
  const Tuning& t = tuning(event, rate_state);
  Proposal p;
  p.step = std::exp(t.log_step);
  p.tilt_step = std::exp(t.log_tilt_step);
  p.prior_share = std::clamp((t.near_zero + 1.0) / (t.samples + 2.0), 0.1, 0.9);
  if (t.bulk_count >= least_bulk_samples) {
    p.centre = t.bulk_mean;
    p.spread = std::max(1.5 * std::sqrt(t.bulk_m2 / (t.bulk_count - 1.0)), 0.2);
    return p;
  }
  double count = 0.0, mean = 0.0, m2 = 0.0;
  for (int s = 0; s < _rate_states; ++s) {
    const Tuning& other = tuning(event, s);
    if (other.bulk_count == 0) continue;
    const double total = count + other.bulk_count;
    const double difference = other.bulk_mean - mean;
    m2 += other.bulk_m2 + difference * difference * count * other.bulk_count / total;
    mean += difference * other.bulk_count / total;
    count = total;
  }
  if (count >= least_bulk_samples) {
    p.centre = mean;
    p.spread = std::max(2.0 * std::sqrt(m2 / (count - 1.0)), 0.5);
  } else {
    p.centre = std::log(0.1 / _total_length);
    p.spread = 3.0;
  }
  return p;
}

std::vector<double> MarginalRateMoves::save() const {
  std::vector<double> state;
  for (const Tuning& t : _tunings) {
    state.insert(state.end(), {t.log_step, t.step_updates, t.samples, t.near_zero, t.bulk_count, t.bulk_mean, t.bulk_m2,
                               t.log_tilt_step, t.tilt_updates});
  }
  state.insert(state.end(), _row_log_concentration.begin(), _row_log_concentration.end());
  state.insert(state.end(), _row_updates.begin(), _row_updates.end());
  return state;
}

void MarginalRateMoves::restore(const std::vector<double>& state) {
  if (state.size() != _tunings.size() * static_cast<std::size_t>(tuning_fields) + 2 * _row_updates.size()) {
    throw std::invalid_argument("marginal rate moves: tuning state of another shape");
  }
  auto field = state.begin();
  for (Tuning& t : _tunings) {
    t.log_step = *field++;
    t.step_updates = *field++;
    t.samples = *field++;
    t.near_zero = *field++;
    t.bulk_count = *field++;
    t.bulk_mean = *field++;
    t.bulk_m2 = *field++;
    t.log_tilt_step = *field++;
    t.tilt_updates = *field++;
  }
  for (double& value : _row_log_concentration) value = *field++;
  for (double& value : _row_updates) value = *field++;
}
