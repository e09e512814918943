#pragma once

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "support/process.h"

// The lock and the checkpoint of a run, which are not among its outputs.
inline bool is_run_state(const std::filesystem::path& path) {
  const std::string name = path.filename().string();
  const auto ends_with = [&](const std::string& end) {
    return name.size() >= end.size() && name.compare(name.size() - end.size(), end.size(), end) == 0;
  };
  return ends_with("_run.lock") || ends_with("_checkpoint.bin") || ends_with("_checkpoint.bin.tmp");
}

// A test case folder in a fresh temporary root: ROOT/data/case/ with a tree,
// leaf map and alignment, and an empty ROOT/results/case/. ROOT is a folder
// inside a temporary folder of its own, so that a file written beside ROOT
// (a path glued without "/") can be seen.
class SamplerCase {
 public:
  // Three leaves: root 0 -> 1, 2; 1 -> 3, 4. Leaves 2, 3, 4 hold sequences 0, 1, 2.
  static constexpr const char* tree_text = "0 1 0.5\n0 2 0.25\n1 3 1\n1 4 2\n";
  static constexpr const char* leaf_map_text = "2 0\n3 1\n4 2\n";
  static constexpr const char* data_text =
      "1 1 1\n2 2 3\n0 1 1\n3 0 3\n4 4 5\n5 2 2\n1 2 3\n2 2 2\n3 3 0\n4 1 4\n1 1 2\n";

  SamplerCase() {
    write_data("tree.txt", tree_text);
    write_data("map_from_leave_label_to_seq_id.txt", leaf_map_text);
    write_data("data.txt", data_text);
    std::filesystem::create_directories(results_dir());
  }

  std::filesystem::path data_dir() const { return root_path() / "data" / "case"; }
  std::filesystem::path results_dir() const { return root_path() / "results" / "case"; }
  std::filesystem::path root_path() const { return _temp.path() / "root"; }
  std::string root() const { return root_path().string() + "/"; }
  // The temporary folder that holds ROOT.
  const std::filesystem::path& outside() const { return _temp.path(); }
  // results_dir() as the sampler names it: ROOT/results/case/ + seed.
  std::string result_prefix(const std::string& seed = "3") const { return root() + "results/case/" + seed; }

  void write_data(const std::string& name, const std::string& text) const { write_file(data_dir() / name, text); }
  // Replaces the input files by those of a case shipped in the project's data/.
  void copy_shipped_case(const std::string& name) const {
    const std::filesystem::path source = std::filesystem::path(ALNSAMPLER_SOURCE_DIR) / "data" / name;
    for (const auto& entry : std::filesystem::directory_iterator(source)) {
      if (!entry.is_regular_file()) continue;
      std::filesystem::copy_file(entry.path(), data_dir() / entry.path().filename(),
                                 std::filesystem::copy_options::overwrite_existing);
    }
  }

  // Runs the sampler with -r ROOT -t case/ followed by `arguments`.
  ProcessResult run(const std::vector<std::string>& arguments) const {
    std::vector<std::string> all{"-r", root(), "-t", "case/"};
    all.insert(all.end(), arguments.begin(), arguments.end());
    return run_process(sampler_executable(), all, root_path());
  }

  // "FILE: WORD" for the first word of a result file that reads entirely as a
  // number that is not finite ("inf", "-nan", ...); empty if there is none.
  std::string first_non_finite_word() const {
    for (const auto& name : result_files()) {
      std::istringstream words(read_file(results_dir() / name));
      for (std::string word; words >> word;) {
        char* end = nullptr;
        if (!std::isfinite(std::strtod(word.c_str(), &end)) && *end == '\0') return name + ": " + word;
      }
    }
    return "";
  }

  // Names of the output files in the results folder, sorted: the traces,
  // not the run's lock (it holds the process id) or its checkpoint.
  std::vector<std::string> result_files() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(results_dir())) {
      if (is_run_state(entry.path())) continue;
      names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }

 private:
  TempDir _temp;
};
