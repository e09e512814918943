#pragma once

#include <array>
#include <cstdint>
#include <fstream>
#include <ostream>
#include <string>

// The five files that stay open for a whole run, named results_dir + seed
// text + suffix, in this order.
constexpr std::size_t run_file_count = 5;
constexpr std::array<const char*, run_file_count> run_file_suffixes{
    "_errors.txt", "_auxiliary_ouput.txt", "_post_para.txt", "_post_dist_k.txt", "_rate_state_transitions.txt"};

// The stems of every per-iteration file (stem + iteration + ".txt").
constexpr std::array<const char*, 7> iteration_file_stems{
    "_from_tos_", "_deletions_", "_mutations_", "_beta_shapes_", "_theta_shapes_", "_map_column_to_rate_state_",
    "_ancestors_"};

// The run files and the pointers through which the model code refers to them.
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
  // transition file; an open failure throws an OutputError (with a hint when
  // the results folder is missing).
  void open(const std::string& results_dir, const std::string& seed_text);
  // Opens the same files to add to their end, for a run that goes on from a
  // checkpoint. The auxiliary output already holds the start-up report, so
  // auxiliary_ptr stays null and start-up writes none.
  void open_to_continue(const std::string& results_dir, const std::string& seed_text);
  // Flushes every run file to disk and returns their lengths in bytes, in the
  // order of run_file_suffixes; a failure throws an OutputError. Run
  // files only grow, so one whose length is unchanged since the last call
  // needs no second flush.
  std::array<std::uint64_t, run_file_count> sync();

 private:
  std::array<std::uint64_t, run_file_count> _synced_sizes{};
  bool _synced = false;
};

// Takes a run's files back to a checkpoint: each run file is cut to its
// recorded length and every per-iteration file numbered after `iteration` is
// removed. Failures throw an OutputError.
void cut_back_run_files(const std::string& prefix, const std::array<std::uint64_t, run_file_count>& sizes,
                        long iteration);
