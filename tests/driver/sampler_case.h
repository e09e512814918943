#pragma once

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "support/process.h"

using Files = std::map<std::string, std::string>;  // file name -> bytes

// A test case folder in a fresh temporary root: ROOT/data/case/ with a tree,
// leaf map and alignment, and an empty ROOT/results/case/. ROOT is a folder
// inside a temporary folder of its own, so that a file written beside ROOT
// (a path glued without "/") can be seen.
class SamplerCase {
 public:
  // Three leaves: root 0 -> 1, 2; 1 -> 3, 4. Leaves 2, 3, 4 hold sequences 0, 1, 2.
  static constexpr const char* tree_text = "0 1 0.5\n0 2 0.25\n1 3 1\n1 4 2\n";
  static constexpr const char* data_text =
      "1 1 1\n2 2 3\n0 1 1\n3 0 3\n4 4 5\n5 2 2\n1 2 3\n2 2 2\n3 3 0\n4 1 4\n1 1 2\n";
  static constexpr std::size_t kept_columns = 9;  // rows of data_text whose first value is 1..4

  SamplerCase() {
    write_data("tree.txt", tree_text);
    write_data("map_from_leave_label_to_seq_id.txt", "2 0\n3 1\n4 2\n");
    write_data("data.txt", data_text);
    std::filesystem::create_directories(results_dir());
  }

  std::filesystem::path data_dir() const { return root_path() / "data" / "case"; }
  std::filesystem::path results_dir() const { return root_path() / "results" / "case"; }
  std::filesystem::path root_path() const { return _temp.path() / "root"; }
  std::string root() const { return root_path().string() + "/"; }
  const std::filesystem::path& outside() const { return _temp.path(); }  // the folder that holds ROOT
  // An output file as the sampler names it: ROOT/results/case/ + seed + suffix.
  std::string file(const std::string& suffix, const std::string& seed = "3") const {
    return root() + "results/case/" + seed + suffix;
  }

  void write_data(const std::string& name, const std::string& text) const { write_file(data_dir() / name, text); }
  // Replaces the input files by those of a case shipped in the project's data/.
  void copy_shipped_case(const std::string& name) const {
    for (const auto& entry : std::filesystem::directory_iterator(std::filesystem::path(ALNSAMPLER_SOURCE_DIR) / "data" / name)) {
      if (entry.is_regular_file())
        std::filesystem::copy_file(entry.path(), data_dir() / entry.path().filename(),
                                   std::filesystem::copy_options::overwrite_existing);
    }
  }

  // The sampler's command line: -r ROOT -t case/ followed by `arguments`.
  std::vector<std::string> arguments(const std::vector<std::string>& extra) const {
    std::vector<std::string> all{"-r", root(), "-t", "case/"};
    all.insert(all.end(), extra.begin(), extra.end());
    return all;
  }
  ProcessResult run(const std::vector<std::string>& extra) const {
    return run_process(sampler_executable(), arguments(extra), root_path());
  }

  // Every file of the results folder; the run's lock (it holds a process id)
  // and checkpoint only when asked for. What is not a regular file (a pipe,
  // a folder) is listed, not read.
  Files outputs(bool checkpoint = false, bool lock = false) const {
    Files files;
    for (const auto& entry : std::filesystem::directory_iterator(results_dir())) {
      const std::string name = entry.path().filename().string();
      const bool is_lock = name.ends_with("_run.lock");
      const bool is_checkpoint = name.ends_with("_checkpoint.bin") || name.ends_with("_checkpoint.bin.tmp");
      if ((is_lock && !lock) || (is_checkpoint && !checkpoint)) continue;
      files[name] = entry.is_regular_file() ? read_file(entry.path()) : "(not a regular file)";
    }
    return files;
  }
  std::size_t output_count() const { return outputs().size(); }

  // "FILE: WORD" for the first word of an output file that reads entirely as
  // a number that is not finite ("inf", "-nan", ...); empty if there is none.
  std::string first_non_finite_word() const {
    for (const auto& [name, text] : outputs()) {
      std::istringstream words(text);
      for (std::string word; words >> word;) {
        char* end = nullptr;
        if (!std::isfinite(std::strtod(word.c_str(), &end)) && *end == '\0') return name + ": " + word;
      }
    }
    return "";
  }

 private:
  TempDir _temp;
};
