#pragma once

#include <string>

// One writer per run: two runs of the same seed writing into the same
// results folder at once would interleave their files. A run holds an
// advisory lock (flock) on a file of its seed in the results folder from
// before it opens its outputs to its end, with its process id written in the
// file. The kernel drops the lock when the process ends, however it ends, so
// a lock left by a dead run blocks nothing.
class RunLock {
 public:
  RunLock() = default;
  ~RunLock();
  RunLock(const RunLock&) = delete;
  RunLock& operator=(const RunLock&) = delete;

  // Takes the lock on `path` (created if missing) or ends the run with
  // status -1 and a message naming the process that holds it; a refused run
  // changes nothing. A missing or unwritable folder is left for the opening
  // of the run files to report.
  void acquire(const std::string& path);

 private:
  int _fd = -1;
};

std::string run_lock_path(const std::string& run_prefix);  // results_dir + seed text + "_run.lock"
