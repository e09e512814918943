#pragma once

#include <string>

// One writer per run: two runs of the same seed writing into the same
// results folder at once would interleave their files. A run holds an
// advisory lock (flock) on a file of its seed in the results folder from
// before it opens its outputs to its end, with its process id written in the
// file. The kernel drops the lock when the process ends, however it ends, so
// a lock left by a dead run blocks nothing. A run removes the file at every
// end but a kill (a normal end, a stop signal, an error such as a full disk)
// once it has recorded itself in it;
// a run that takes the lock checks that the file it locked is still
// the one at the path, so that removal never lets two runs in.
class RunLock {
 public:
  RunLock() = default;
  ~RunLock();  // drops the lock; removes the file if this run recorded itself in it
  RunLock(const RunLock&) = delete;
  RunLock& operator=(const RunLock&) = delete;

  // Takes the lock on `path`, creating the file, or throws an InputError
  // naming the process that holds it, changing nothing (an OutputError when
  // the file cannot be opened or locked at all). Does nothing while the lock
  // is held already. A missing or unwritable folder is left for the opening
  // of the run files to report.
  void hold(const std::string& path);
  // The same, but a missing lock file is left missing (and no lock held).
  void hold_if_present(const std::string& path);
  // Writes this process's id into the lock file, if the lock is held.
  void record_holder();
  // Removes the lock file and drops the lock, if held.
  void release();

 private:
  // Opens the file with these extra flags (O_CREAT or none) and locks it.
  void open_and_lock(const std::string& path, int extra_flags);

  int _fd = -1;
  bool _recorded = false;
  std::string _path;
};

std::string run_lock_path(const std::string& run_prefix);  // results_dir + seed text + "_run.lock"
