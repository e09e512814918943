#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "support/process.h"

// A test case folder in a fresh temporary root: ROOT/data/case/ with a tree,
// leaf map and alignment, and an empty ROOT/results/case/.
class SamplerCase {
 public:
  SamplerCase();

  std::filesystem::path data_dir() const { return _root.path() / "data" / "case"; }
  std::filesystem::path results_dir() const { return _root.path() / "results" / "case"; }
  std::string root() const { return _root.dir(); }
  // results_dir() as the sampler names it: ROOT/results/case/ + seed.
  std::string result_prefix(const std::string& seed = "3") const { return root() + "results/case/" + seed; }

  void write_data(const std::string& name, const std::string& text) const { write_file(data_dir() / name, text); }
  // Runs the sampler with -r ROOT -t case/ followed by `arguments`.
  ProcessResult run(const std::vector<std::string>& arguments) const;
  // Names of the files in the results folder, sorted.
  std::vector<std::string> result_files() const;

  static const char* const tree_text;
  static const char* const leaf_map_text;
  static const char* const data_text;

 private:
  TempDir _root;
};
