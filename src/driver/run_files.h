#pragma once

#include <fstream>
#include <ostream>
#include <string>

// The five files that stay open for a whole run, named results_dir + seed
// text + suffix. The pointers are how the model code refers to them.
struct RunFiles {
  std::string prefix;  // results_dir + seed text
  std::ofstream errors;
  std::ofstream auxiliary;
  std::ofstream post_para;
  std::ofstream post_dist_k;
  std::ofstream rate_state_transitions;
  std::ostream* error_ptr = nullptr;
  std::ostream* auxiliary_ptr = nullptr;
  std::ostream* post_dist_k_ptr = nullptr;
  std::ostream* rate_state_transitions_ptr = nullptr;

  std::string path(const std::string& suffix) const { return prefix + suffix; }
  // Per-iteration file: stem + iteration number + ".txt".
  std::string iteration_path(const std::string& stem, long iteration) const;

  // Opens errors, auxiliary, post_para, post_dist_k, then the rate-state
  // transition file; an open failure ends the run with status 1.
  void open(const std::string& results_dir, const std::string& seed_text);
};
