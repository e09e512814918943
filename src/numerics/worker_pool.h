#pragma once

#include <condition_variable>
#include <cstddef>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

// A fixed set of threads for the deterministic parts of an iteration. A job
// is split into as many parts as the pool has threads; part 0 runs on the
// caller, and run() returns when every part is done. Parts must write
// disjoint outputs and must not draw random numbers, so that the results do
// not depend on the number of threads or on their timing.
class WorkerPool {
 public:
  // `threads` >= 1 counts the calling thread; threads - 1 workers are started.
  explicit WorkerPool(int threads);
  ~WorkerPool();
  WorkerPool(const WorkerPool&) = delete;
  WorkerPool& operator=(const WorkerPool&) = delete;

  int size() const { return static_cast<int>(_workers.size()) + 1; }
  // Calls part(p) for p = 0 .. size() - 1 concurrently and waits for all. An
  // exception thrown by a part is rethrown here after every part has ended.
  void run(const std::function<void(int)>& part);
  // Splits items 0 .. count - 1 into size() contiguous ranges and calls
  // range(begin, end) for each; small jobs run on the caller alone.
  void for_ranges(std::size_t count, const std::function<void(std::size_t, std::size_t)>& range,
                  std::size_t min_per_thread = 1);

 private:
  void work(int part);

  std::vector<std::thread> _workers;
  std::mutex _mutex;
  std::condition_variable _start;
  std::condition_variable _done;
  const std::function<void(int)>* _job = nullptr;
  unsigned long _generation = 0;
  int _running = 0;
  bool _stopping = false;
  std::exception_ptr _error;
};
