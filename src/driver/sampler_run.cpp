#include "driver/sampler_run.h"

#include <array>
#include <chrono>
#include <cmath>
#include <functional>
#include <iostream>
#include <memory>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <utility>
#include <vector>

#include "driver/checkpoint.h"
#include "driver/finite_guard.h"
#include "driver/guidance.h"
#include "driver/progress.h"
#include "driver/run_files.h"
#include "driver/run_lock.h"
#include "driver/stop_signals.h"
#include "io/csv_reader.h"
#include "io/errors.h"
#include "io/output_files.h"
#include "io/string_conversion.h"
#include "io/tree_input.h"
#include "io/vector_writers.h"
#include "numerics/worker_pool.h"
#include "random/generator.h"
#include "ratestates/emission_probs.h"
#include "ratestates/hmm_one_dim.h"
#include "ratestates/rate_states.h"
#include "segmentation/partition_sampler.h"
#include "tree/column_states.h"
#include "tree/initial_states.h"
#include "tree/likelihood_engine.h"
#include "tree/zero_length_branches.h"
#include "updates/collapsed_chain.h"
#include "updates/dirichlet_updates.h"
#include "updates/marginal_rate_moves.h"
#include "updates/rate_sampler.h"
#include "updates/zv_sampler.h"

namespace {

constexpr int deletion_event = 0;
constexpr int mutation_event = 2;
constexpr int rate_steps_per_call = 10;

// Everything a run owns, from the fixed hyper-parameters to the trees and the
// sampler state, and the steps of the run in their fixed order.
class SamplerRun {
 public:
  explicit SamplerRun(const RunSettings& settings) : _settings(settings) {}

  void start_up();
  void set_up_samplers();
  // Returns 0 after the last iteration, or the signal that stopped the run.
  int run_iterations();
  void tear_down();

 private:
  void form_paths();
  // Reads the tree, the leaf map and the alignment into memory and checks
  // them and their sizes, before any output file is opened: a run that fails
  // on its input leaves an earlier run's files untouched.
  void read_and_check_inputs();
  void read_alignment();
  void check_sizes(long columns);
  InputPaths input_paths() const;

  // Long runs: the lock and the checkpoint to resume from (before any output
  // file is opened), and the checkpoints.
  void claim_results();
  void save_checkpoint(long iteration);
  void restore(const Checkpoint& checkpoint);

  void run_iteration(long iteration);
  void sample_segmentation();
  void sample_event_rates(long iteration, Track track, std::vector<RateSampler>& samplers,
                          std::vector<double> EventRates::*rates_of_event);
  void sample_shapes(long iteration);
  void sample_rate_states(long iteration);
  // --marginal-rate-moves: the moves, then the rate states drawn anew.
  void move_rates_marginally(long iteration);
  // The rate-state transition matrix drawn from the path's counts, whose
  // means go to the run file.
  void sample_state_transitions();
  void write_rates_and_log_priors(long iteration);
  // The per-iteration file of one event's rates, rate states in order.
  void write_rates(Track track, long iteration, const std::vector<double>& rates);
  void sample_latent_values();
  void write_ancestors(long iteration);
  // Opens a per-iteration file, lets `write` fill it, and closes it, so that
  // the file is complete on disk before the next step begins.
  void write_iteration_file(Track track, long iteration, const std::function<void(std::ostream&)>& write);

  const RunSettings& _settings;
  std::string _seed_text;
  std::string _data_dir;
  std::string _data_path;
  std::string _results_dir;
  RunFiles _files;
  RunLock _lock;
  std::optional<Checkpoint> _resume_point;
  std::array<std::uint64_t, 3> _input_hashes{};
  long _first_iteration = 1;

  // Fixed hyper-parameters.
  std::vector<double> _initial_value_probs;
  std::vector<double> _initial_state_probs;
  int _n_rate_states = 0;

  // Tree and value tables.
  BranchTable _tree;

  std::string _tree_report;  // the "tree input info:" report, written once the run files are open
  double _branch_length_mean = 0.0;
  // The one shape of every column's tree, and every column's node values and
  // indicators: the leaves hold the alignment, the internal nodes the last
  // draw.
  std::shared_ptr<const TreeTopology> _topology;
  std::optional<ColumnStates> _states;

  // The threads of the deterministic passes, lent to the engine and the
  // segmentation (declared before them, so that it outlives them).
  std::unique_ptr<WorkerPool> _pool;

  // Sampler state carried between iterations.
  PartitionSampler _segmentation;
  std::vector<std::vector<double>> _emission_probs;
  RateStatePath _rate_path;
  // The event rates of every rate state; a new version whenever one changes,
  // so the engine knows when its tables are out of date.
  Versioned<EventRates> _rates;
  std::vector<RateSampler> _deletion_samplers;
  std::vector<RateSampler> _mutation_samplers;
  ZVSampler _latent_sampler;
  // Tree likelihoods shared by the emission step and the latent sampler.
  std::unique_ptr<LikelihoodEngine> _engine;
  std::unique_ptr<MarginalRateMoves> _marginal_moves;  // with --marginal-rate-moves only
  CollapsedChain _collapsed_chain;

  // Rebuilt within every iteration.
  Versioned<Segmentation> _segments;
  std::vector<std::vector<double>> _state_transitions;
  double _log_posterior = 0.0;
  double _segmentation_out = 0.0;
  double _latent_out = 0.0;
};

void SamplerRun::form_paths() {
  _seed_text = to_string(_settings.seed);
  _data_dir = _settings.root_dir + "data/" + _settings.test_case;
  _data_path = data_file_path(_data_dir, _settings.data_file);
  _results_dir = _settings.root_dir + "results/" + _settings.test_case;
}

// A failure to read the tree files or the alignment says what to do next
// when the folder or the file is missing, or the file is in another format.
void SamplerRun::read_and_check_inputs() {
  std::vector<std::size_t> branch_lines;
  try {
    TreeFiles files = read_tree_files(_data_dir);
    _tree = std::move(files.table);
    branch_lines = std::move(files.branch_lines);
  } catch (Error& error) {
    error.add_hint(tree_files_guidance(_data_dir));
    throw;
  }
  std::ostringstream report;
  write_tree_report(_tree, report);
  _tree_report = report.str();
  check_branch_lengths(_data_dir + "tree.txt", _tree.lengths, branch_lines);

  double sum = 0.0;
  for (const double length : _tree.lengths) sum += length;
  _branch_length_mean = sum / static_cast<double>(_tree.lengths.size());
  try {
    read_alignment();
  } catch (Error& error) {
    error.add_hint(data_file_guidance(_data_dir, _data_path));
    throw;
  }
}

void SamplerRun::read_alignment() {
  CSVReader<int> reader(_data_path);
  const std::vector<std::vector<int>> data_rows = reader.read();
  check_whole_number_cells(_data_path, 0, 5);
  std::vector<std::size_t> column_lines;
  const std::vector<std::vector<int>> alignment =
      keep_modelled_columns(data_rows, _data_path, required_row_length(_tree.parents, _tree.leaf_map), &column_lines);
  check_sizes(static_cast<long>(alignment.size()));
  // Building the shape checks the order of the branch rows (with its own
  // messages) before the output files are opened.
  _topology = std::make_shared<const TreeTopology>(_tree);
  check_zero_length_branches(*_topology, alignment, column_lines, _data_path);
  _states.emplace(_topology, alignment);
}

// The segmentation needs a first segment of two columns and more columns than
// segments; nothing useful can be sampled otherwise.
void SamplerRun::check_sizes(long columns) {
  if (columns < 2) {
    throw InputError("Input error: " + _data_path + " has " + to_string(columns) +
                         " modelled column(s) (rows whose first value is 1..4); at least 2 are needed\n",
                     _data_path);
  }
  if (_settings.k_max >= columns) {
    throw InputError("Input error: k_max " + to_string(_settings.k_max) +
                         " must be below the number of modelled columns (" + to_string(columns) + ") of " + _data_path +
                         "\n",
                     _data_path);
  }
}

void SamplerRun::start_up() {
  seed_generator(_settings.seed);
  form_paths();
  _initial_value_probs.assign(5, 0.25);
  _initial_value_probs[0] = 0;
  _initial_state_probs = initial_rate_state_probs();
  _n_rate_states = static_cast<int>(_initial_state_probs.size());

  read_and_check_inputs();
  claim_results();
  if (_resume_point) {
    _files.open_to_continue(_results_dir, _seed_text);
  } else {
    _files.open(_results_dir, _seed_text);
    _files[RunFile::auxiliary] << "k_max:" << _settings.k_max << "\n" << _tree_report;
    // Summaries need to know that the first iterations tuned the moves.
    if (_settings.marginal_rate_moves > 0) {
      _files[RunFile::auxiliary] << "marginal_rate_moves:" << _settings.marginal_rate_moves << "\n";
    }
    _files.check(RunFile::auxiliary);
  }
  initialise_columns(*_states);
  _input_hashes = _resume_point ? _resume_point->input_hashes : hash_input_files(input_paths());
}

InputPaths SamplerRun::input_paths() const {
  return {{_data_dir + "tree.txt", _data_dir + "map_from_leave_label_to_seq_id.txt", _data_path}};
}

// A resumed run is checked against its checkpoint before it changes
// anything, so that a refusal leaves the folder as it was (an existing lock is
// held meanwhile, so that a running run is named as the reason), and again
// once it holds the lock, since no other run can change the files after that.
// A new run removes the checkpoint of an earlier one, which would not
// describe its files; either removes a temporary checkpoint left by a kill.
void SamplerRun::claim_results() {
  const std::string prefix = _results_dir + _seed_text;
  const std::string checkpoint = checkpoint_path(prefix);
  if (_settings.resume) {
    _lock.hold_if_present(run_lock_path(prefix));
    checkpoint_to_resume(checkpoint, _settings, input_paths(), prefix);
  }
  _lock.hold(run_lock_path(prefix));
  _lock.record_holder();
  if (!_settings.resume) {
    remove_checkpoint(checkpoint);
    return;
  }
  _resume_point = checkpoint_to_resume(checkpoint, _settings, input_paths(), prefix);
  cut_back_run_files(prefix, _resume_point->run_file_sizes, _resume_point->iteration);
  remove_temporary_checkpoint(checkpoint);
}

void SamplerRun::save_checkpoint(long iteration) {
  Checkpoint c;
  c.iteration = iteration;
  c.seed = _settings.seed;
  c.k_max = _settings.k_max;
  c.thin = _settings.thin;
  c.write_ancestors = _settings.write_ancestors;
  c.data_file = _settings.data_file;
  c.input_hashes = _input_hashes;
  c.run_file_sizes = _files.sync();
  c.generator = save_generator_state();
  c.deletion_rates = _rates->deletion;
  c.insertion_rates = _rates->insertion;
  c.mutation_rates = _rates->mutation;
  c.column_rate_states = _rate_path.column_states;
  for (int s = 0; s < _n_rate_states; ++s) {
    c.deletion_tunings.push_back(_deletion_samplers[s].tuning());
    c.mutation_tunings.push_back(_mutation_samplers[s].tuning());
  }
  c.node_states = _states->all();
  c.marginal_rate_moves = _settings.marginal_rate_moves;
  if (_marginal_moves) c.marginal_tuning = _marginal_moves->save();
  write_checkpoint(checkpoint_path(_files.prefix), c);
}

// The per-state column lists are rebuilt from the path as the loop rebuilds
// them, and the trees take their values and indicators back.
void SamplerRun::restore(const Checkpoint& c) {
  const auto states = static_cast<std::size_t>(_n_rate_states);
  if (c.deletion_rates.size() != states || c.insertion_rates.size() != states || c.mutation_rates.size() != states ||
      c.deletion_tunings.size() != states || c.mutation_tunings.size() != states ||
      c.column_rate_states.size() != _states->columns()) {
    throw ResumeRefused("alnsampler: cannot resume: the checkpoint holds a run of another shape\n");
  }
  _rates.change() = {c.deletion_rates, c.insertion_rates, c.mutation_rates};
  _rate_path.column_states = c.column_rate_states;
  _rate_path.rebuild_state_columns(_n_rate_states);
  try {
    for (int s = 0; s < _n_rate_states; ++s) {
      _deletion_samplers[s].restore_tuning(c.deletion_tunings[s]);
      _mutation_samplers[s].restore_tuning(c.mutation_tunings[s]);
    }
    _states->restore(c.node_states);
    if (_marginal_moves) _marginal_moves->restore(c.marginal_tuning);
  } catch (const std::invalid_argument&) {
    throw ResumeRefused("alnsampler: cannot resume: the checkpoint holds a run of another shape\n");
  }
  restore_generator_state(c.generator);
  _first_iteration = c.iteration + 1;
}

// Builds the sampler state; no random number is drawn here.
void SamplerRun::set_up_samplers() {
  const long columns = static_cast<long>(_states->columns());
  const auto states = static_cast<std::size_t>(_n_rate_states);

  _segmentation = PartitionSampler(_settings.k_max, columns, model_alphabet().residue_count());
  _emission_probs.assign(columns, std::vector<double>(_n_rate_states, 0.0));
  _rate_path = initialize_rate_states(_n_rate_states, *_states);
  _rates.change() = {std::vector<double>(states, -1.0), std::vector<double>(states, -1.0),
                     std::vector<double>(states, -1.0)};
  _deletion_samplers.assign(states, RateSampler(deletion_event, rate_steps_per_call));
  _mutation_samplers.assign(states, RateSampler(mutation_event, rate_steps_per_call));
  _latent_sampler = ZVSampler(columns, _initial_value_probs);
  _pool = std::make_unique<WorkerPool>(_settings.threads);
  _engine = std::make_unique<LikelihoodEngine>(*_states, *_pool);
  _segmentation.use_worker_pool(_pool.get());
  if (_settings.marginal_rate_moves > 0) {
    double total_length = 0.0;
    for (const double length : _tree.lengths) total_length += length;
    _marginal_moves = std::make_unique<MarginalRateMoves>(static_cast<int>(_settings.marginal_rate_moves),
                                                          _n_rate_states, total_length);
  }
  if (_resume_point) {
    restore(*_resume_point);
    _resume_point.reset();
  } else {
    save_checkpoint(0);
  }
}

// With --thin N only every N-th iteration writes its files; the others run
// the same steps with no stream.
void SamplerRun::write_iteration_file(Track track, long iteration,
                                      const std::function<void(std::ostream&)>& write) {
  // Written in memory first (a fresh stream formats as a fresh file does),
  // so that a value that is not finite stops the run before it is stored,
  // also in the iterations that --thin leaves without files.
  std::ostringstream text;
  write(text);
  ensure_finite_text(text.str(), iteration_track(track).what, iteration);
  if (iteration % _settings.thin != 0) return;
  const std::string path = _files.iteration_path(track, iteration);
  std::ofstream file;
  open_output_file(path, file, &_files[RunFile::errors]);
  file << text.str();
  close_output_file(file, path);
}

void SamplerRun::sample_segmentation() {
  _segmentation.compute_single_blocks(*_states);
  _segmentation.forward();
  const PartitionSampler::PartitionCount count = _segmentation.sample_number_partitions();
  write_vector_row(count.log_marginals, _files[RunFile::post_dist_k]);
  _files.check(RunFile::post_dist_k);
  Segmentation& segments = _segments.change();
  segments.from_tos = _segmentation.sample_partition_positions(count.p);
  _log_posterior = _segmentation.compute_post_para(segments.from_tos, _segmentation_out);
}

// In iteration 1 each rate starts from the sampler's moment-style value; from
// then on from the rate of the previous iteration. The starting value is
// recomputed every time because the call also refreshes the sampler's counts.
// With --marginal-rate-moves the marginal moves follow later in the
// iteration, and the rates they leave are written (with their log priors).
void SamplerRun::sample_event_rates(long iteration, Track track, std::vector<RateSampler>& samplers,
                                    std::vector<double> EventRates::*rates_of_event) {
  std::vector<double>& rates = _rates.change().*rates_of_event;
  std::vector<double> log_priors;
  for (int s = 0; s < _n_rate_states; ++s) {
    const double initial_rate =
        samplers[s].compute_initial_rate(*_states, _rate_path.state_columns[s], _branch_length_mean);
    if (rates[s] == -1.0) rates[s] = initial_rate;
    const RateSampler::Draw draw = samplers[s].sample_rate(rates[s]);
    rates[s] = draw.rate;
    log_priors.push_back(draw.log_prior);
  }
  if (_marginal_moves) return;
  for (const double log_prior : log_priors) _log_posterior += log_prior;
  write_rates(track, iteration, rates);
}

void SamplerRun::write_rates(Track track, long iteration, const std::vector<double>& rates) {
  write_iteration_file(track, iteration, [&](std::ostream& file) {
    file << "#event_rate\n";
    for (const double rate : rates) file << rate << "\n";
  });
}

void SamplerRun::sample_shapes(long iteration) {
  // The model keeps roots from emptying and re-filling: gamma and eta 0.
  Segmentation& segments = _segments.change();
  segments.gammas.assign(1, 0.0);
  segments.etas.assign(1, 0.0);
  write_iteration_file(Track::beta_shapes, iteration,
                       [&](std::ostream& file) { sample_betas(*_states, segments, file); });
  write_iteration_file(Track::theta_shapes, iteration,
                       [&](std::ostream& file) { sample_thetas(*_states, segments, file); });
}

void SamplerRun::sample_rate_states(long iteration) {
  sample_state_transitions();
  compute_obs_emission_probs(*_states, *_engine, _segments, _rates, _emission_probs);
  {
    HMM_OneDim hmm(static_cast<long>(_states->columns()), _n_rate_states, _initial_state_probs, _state_transitions,
                   _emission_probs);
    hmm.forward_summation();
    hmm.backward_sampling(_rate_path.column_states);
    write_iteration_file(Track::map_column_to_rate_state, iteration, [&](std::ostream& file) {
      write_vector_column(_rate_path.column_states, file);
    });
    _rate_path.rebuild_state_columns(_n_rate_states);
    _log_posterior += compute_post_para_rate_states(_n_rate_states, _rate_path.column_states, _state_transitions);
  }
}

void SamplerRun::sample_state_transitions() {
  TransitionDraw draw = sample_rate_state_transitions(_n_rate_states, _rate_path.column_states);
  write_row_means(draw.counts, _files[RunFile::rate_state_transitions]);
  _state_transitions = std::move(draw.transitions);
  _files.check(RunFile::rate_state_transitions);
}

// The marginal moves start from the rate-state transition matrix drawn from
// the previous path and move the rates and the matrix's rows with the path,
// every root value, every other ancestral value and every indicator summed
// out; the path is then drawn from its distribution given the new rates and
// matrix with the root values summed out, and the latent step that follows
// draws every ancestral value and indicator given it. (moves, path, latent
// values) is thus a draw of the rates and the matrix from a kernel that
// leaves their marginal posterior invariant followed by an exact draw of
// everything that was summed out, so the iteration leaves the joint posterior
// invariant. Nothing between the moves and those draws may read the old path
// or latent values; the usual draw of the path given the root values is left
// out, as its result would be replaced unread.
void SamplerRun::move_rates_marginally(long iteration) {
  sample_state_transitions();
  _engine->evaluate(_segments, _rates);
  const std::vector<std::vector<long>>& from_tos = _segments->from_tos;
  CollapsedChainModel model{from_tos, {}, _initial_value_probs, _state_transitions, _initial_state_probs};
  for (std::size_t k = 0; k < from_tos.size(); ++k) model.root_transitions.push_back(root_transitions(*_segments, k));
  _collapsed_chain.load(model, *_engine, _n_rate_states);
  _marginal_moves->sweep(iteration, {*_engine, _collapsed_chain, _segments, _rates, 0.0});
  _state_transitions = _collapsed_chain.state_transitions();
  write_rates_and_log_priors(iteration);
  _collapsed_chain.draw_path(_rate_path.column_states);
  write_iteration_file(Track::map_column_to_rate_state, iteration, [&](std::ostream& file) {
    write_vector_column(_rate_path.column_states, file);
  });
  _rate_path.rebuild_state_columns(_n_rate_states);
  _log_posterior += compute_post_para_rate_states(_n_rate_states, _rate_path.column_states, _state_transitions);
}

// The rates as the rate samplers write them, and their log prior densities,
// in their order (deletion then mutation, rate states in order).
void SamplerRun::write_rates_and_log_priors(long iteration) {
  for (const auto& [track, rates] :
       {std::pair{Track::deletions, &_rates->deletion}, std::pair{Track::mutations, &_rates->mutation}}) {
    write_rates(track, iteration, *rates);
    for (const double x : *rates) _log_posterior += (0.01 - 1) * std::log(x) - x * 0.01;
  }
}

void SamplerRun::sample_latent_values() {
  _latent_out = _latent_sampler.forward(_segments, _rates, _rate_path.column_states, *_engine);
  _log_posterior += _latent_out;
  _latent_sampler.backward_sample_ancestors(*_states);
  _latent_sampler.sample_internal_nodes(_segments, _rates, _rate_path.column_states, *_engine, *_states);
}

// One iteration: segmentation, event rates, shapes, rate states, latent
// values, in this order; every sampled quantity is on disk before the next
// update starts, and the iteration's log-probability total closes it.
// The sampled internal values of every column, root first, for users who want
// the ancestral sequences themselves; the traces of the model are unchanged.
void SamplerRun::write_ancestors(long iteration) {
  write_iteration_file(Track::ancestors, iteration, [&](std::ostream& file) {
    std::vector<int> values;
    for (std::size_t column = 0; column < _states->columns(); ++column) {
      values.clear();
      for (int label = 0; label <= _topology->last_internal_label(); ++label) {
        values.push_back(_states->at(column, label).value);
      }
      write_vector_row(values, file);
    }
  });
}

void SamplerRun::run_iteration(long iteration) {
  _segmentation_out = 0.0;
  _latent_out = 0.0;
  sample_segmentation();
  write_iteration_file(Track::from_tos, iteration, [&](std::ostream& file) {
    write_vectors_two_dim(_segments->from_tos, file);
  });
  sample_event_rates(iteration, Track::deletions, _deletion_samplers, &EventRates::deletion);
  _rates.change().insertion.assign(_n_rate_states, 0.0);
  sample_event_rates(iteration, Track::mutations, _mutation_samplers, &EventRates::mutation);
  sample_shapes(iteration);
  if (_marginal_moves) {
    move_rates_marginally(iteration);
  } else {
    sample_rate_states(iteration);
  }
  sample_latent_values();
  if (_settings.write_ancestors) write_ancestors(iteration);
  ensure_finite_value(_log_posterior, run_file(RunFile::post_para).what, iteration);
  _files[RunFile::post_para] << _log_posterior << "\n";
  _files.check(RunFile::post_para);
}

// A checkpoint follows the last iteration, an iteration after which a stop
// was asked for, and any iteration that ends at least --checkpoint-seconds
// after the last checkpoint.
int SamplerRun::run_iterations() {
  using Clock = std::chrono::steady_clock;
  const auto interval = static_cast<double>(_settings.checkpoint_seconds);
  auto last_checkpoint = Clock::now();
  long stopped_after = 0;
  int signal = 0;
  {
    // The progress line is cleared before any message about a stop.
    Progress progress(_first_iteration, _settings.n_iterations, Progress::style_for(_settings.progress_lines),
                      std::cerr);
    for (long iteration = _first_iteration; iteration <= _settings.n_iterations && signal == 0; ++iteration) {
      run_iteration(iteration);
      progress.iteration_done(iteration);
      const bool last = iteration == _settings.n_iterations;
      signal = last ? 0 : stop_signal();
      if (last || signal != 0 || std::chrono::duration<double>(Clock::now() - last_checkpoint).count() >= interval) {
        save_checkpoint(iteration);
        last_checkpoint = Clock::now();
      }
      stopped_after = iteration;
    }
  }
  if (signal != 0) report_stop(signal, stopped_after, _settings, checkpoint_path(_files.prefix));
  return signal;
}

void SamplerRun::tear_down() {
  _engine.reset();
  _files.close();
  _lock.release();
}

}  // namespace

int run_sampler(const RunSettings& settings) {
  install_stop_handlers();
  auto run = std::make_unique<SamplerRun>(settings);
  run->start_up();
  run->set_up_samplers();
  const int signal = run->run_iterations();
  run->tear_down();
  return signal == 0 ? 0 : 128 + signal;
}
