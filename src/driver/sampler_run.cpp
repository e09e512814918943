#include "driver/sampler_run.h"

#include <cstdlib>
#include <memory>
#include <vector>

#include "driver/run_files.h"
#include "io/csv_reader.h"
#include "io/fatal.h"
#include "io/output_files.h"
#include "io/string_conversion.h"
#include "io/tree_input.h"
#include "tree/phy_tree.h"

namespace {

// Everything a run owns, from the fixed hyper-parameters to the trees.
class SamplerRun {
 public:
  explicit SamplerRun(const RunSettings& settings) : _settings(settings) {}

  void start_up();
  void tear_down();

 private:
  void form_paths();
  void read_inputs();
  void check_sizes();
  void build_trees();

  const RunSettings& _settings;
  std::string _seed_text;
  std::string _data_dir;
  std::string _data_path;
  std::string _results_dir;
  RunFiles _files;

  // Fixed hyper-parameters.
  std::vector<double> _initial_value_probs;
  std::vector<double> _initial_state_probs;
  int _n_rate_states = 0;
  std::vector<int> _rate_state_labels;

  // Tree and value tables.
  std::vector<int> _parents;
  std::vector<int> _children;
  std::vector<double> _lengths;
  std::vector<int> _map_from_leave_label_to_seq_id;
  std::vector<int> _nonempty_values;
  std::vector<int> _nonempty_value_index;
  std::vector<int> _all_values;
  std::vector<int> _all_value_index;

  double _branch_length_mean = 0.0;
  std::vector<std::vector<int>> _data_rows;
  std::vector<std::vector<int>> _alignment;
  std::vector<PhyTree*> _trees;
};

void SamplerRun::form_paths() {
  _seed_text = to_string(_settings.seed);
  _data_dir = _settings.root_dir + "data/" + _settings.test_case;
  _data_path = _data_dir + _settings.data_file;
  _results_dir = _settings.root_dir + "results/" + _settings.test_case;
}

void SamplerRun::read_inputs() {
  read_tree_parameters(_data_dir, _parents, _children, _lengths, _map_from_leave_label_to_seq_id, _nonempty_values,
                       _nonempty_value_index, _all_values, _all_value_index, _files.auxiliary_ptr);
  check_output_file(_files.auxiliary, _files.path("_auxiliary_ouput.txt"));

  double sum = 0.0;
  for (const double length : _lengths) sum += length;
  _branch_length_mean = sum / static_cast<double>(_lengths.size());

  CSVReader<int> reader(_data_path);
  _data_rows = reader.read(true);
  _alignment = keep_modelled_columns(_data_rows, _data_path, required_row_length(_parents, _map_from_leave_label_to_seq_id));
}

// The segmentation needs a first segment of two columns and more columns than
// segments; nothing useful can be sampled otherwise.
void SamplerRun::check_sizes() {
  const long columns = static_cast<long>(_alignment.size());
  if (columns < 2) {
    fatal("Input error: " + _data_path + " has " + to_string(columns) +
              " modelled column(s) (rows whose first value is 1..4); at least 2 are needed\n", -1);
  }
  if (_settings.k_max >= columns) {
    fatal("Input error: k_max " + to_string(_settings.k_max) + " must be below the number of modelled columns (" +
              to_string(columns) + ") of " + _data_path + "\n", -1);
  }
}

void SamplerRun::build_trees() {
  initialize_trees(_trees, _parents, _children, _lengths, _map_from_leave_label_to_seq_id, _alignment, nullptr);
  for (PhyTree* tree : _trees) tree->init_nodes();
}

void SamplerRun::start_up() {
  std::srand(_settings.seed);
  form_paths();
  _files.open(_results_dir, _seed_text);
  *_files.auxiliary_ptr << "k_max:" << _settings.k_max << "\n";

  _initial_value_probs.assign(5, 0.25);
  _initial_value_probs[0] = 0;
  _initial_state_probs.assign(3, 0.33);
  _initial_state_probs[0] = 0.34;
  _n_rate_states = static_cast<int>(_initial_state_probs.size());
  _rate_state_labels.resize(_n_rate_states);
  for (int i = 0; i < _n_rate_states; ++i) _rate_state_labels[i] = i;

  read_inputs();
  check_sizes();
  build_trees();
}

void SamplerRun::tear_down() {
  close_output_file(_files.post_para, _files.path("_post_para.txt"));
  close_output_file(_files.post_dist_k, _files.path("_post_dist_k.txt"));
  for (PhyTree*& tree : _trees) {
    delete tree;
    tree = nullptr;
  }
  close_output_file(_files.auxiliary, _files.path("_auxiliary_ouput.txt"));
  close_output_file(_files.rate_state_transitions, _files.path("_rate_state_transitions.txt"));
  close_output_file(_files.errors, _files.path("_errors.txt"));
}

}  // namespace

int run_sampler(const RunSettings& settings) {
  auto run = std::make_unique<SamplerRun>(settings);
  run->start_up();
  run->tear_down();
  return 0;
}
