#pragma once

#include <array>
#include <cstdint>
#include <fstream>
#include <ostream>
#include <string>

#include "driver/output_tracks.h"
#include "io/output_files.h"

// The run files, open for the whole run, named prefix + their part
// (driver/output_tracks.h has the list).
class RunFiles {
 public:
  std::string prefix;  // results_dir + seed text

  std::string path(RunFile file) const { return prefix + run_file(file).part; }
  // Per-iteration file: part + iteration number + ".txt".
  std::string iteration_path(Track track, long iteration) const;
  std::ofstream& operator[](RunFile file) { return _streams[static_cast<std::size_t>(file)]; }
  // Flushes the file; an OutputError if anything written to it was lost.
  void check(RunFile file) { check_output_file((*this)[file], path(file)); }

  // Opens every run file in the table's order; a failure to open the errors
  // file is reported on standard output, later ones in the errors file, and
  // throws an OutputError (with a hint when the results folder is missing).
  void open(const std::string& results_dir, const std::string& seed_text);
  // Opens the same files to add to their end, for a run that goes on from a
  // checkpoint.
  void open_to_continue(const std::string& results_dir, const std::string& seed_text);
  // Flushes every run file to disk and returns their lengths in bytes, in the
  // table's order; a failure throws an OutputError. Run files only grow, so
  // one whose length is unchanged since the last call needs no second flush.
  std::array<std::uint64_t, run_file_count> sync();
  // Closes every run file, the errors file last; a failure throws an
  // OutputError.
  void close();

 private:
  std::array<std::ofstream, run_file_count> _streams;
  std::array<std::uint64_t, run_file_count> _synced_sizes{};
  bool _synced = false;
};

// Takes a run's files back to a checkpoint: each run file is cut to its
// recorded length and every per-iteration file numbered after `iteration` is
// removed. Failures throw an OutputError.
void cut_back_run_files(const std::string& prefix, const std::array<std::uint64_t, run_file_count>& sizes,
                        long iteration);
