#include "numerics/worker_pool.h"

WorkerPool::WorkerPool(int threads) {
  for (int part = 1; part < threads; ++part) _workers.emplace_back([this, part] { work(part); });
}

WorkerPool::~WorkerPool() {
  {
    std::lock_guard<std::mutex> lock(_mutex);
    _stopping = true;
  }
  _start.notify_all();
  for (std::thread& worker : _workers) worker.join();
}

void WorkerPool::work(int part) {
  unsigned long seen = 0;
  while (true) {
    const std::function<void(int)>* job = nullptr;
    {
      std::unique_lock<std::mutex> lock(_mutex);
      _start.wait(lock, [&] { return _stopping || _generation != seen; });
      if (_stopping) return;
      seen = _generation;
      job = _job;
    }
    std::exception_ptr error;
    try {
      (*job)(part);
    } catch (...) {
      error = std::current_exception();
    }
    std::lock_guard<std::mutex> lock(_mutex);
    if (error && !_error) _error = error;
    if (--_running == 0) _done.notify_one();
  }
}

void WorkerPool::run(const std::function<void(int)>& part) {
  if (_workers.empty()) {
    part(0);
    return;
  }
  {
    std::lock_guard<std::mutex> lock(_mutex);
    _job = &part;
    _running = static_cast<int>(_workers.size());
    _error = nullptr;
    ++_generation;
  }
  _start.notify_all();
  std::exception_ptr error;
  try {
    part(0);
  } catch (...) {
    error = std::current_exception();
  }
  std::unique_lock<std::mutex> lock(_mutex);
  _done.wait(lock, [&] { return _running == 0; });
  if (!error) error = _error;
  _job = nullptr;
  lock.unlock();
  if (error) std::rethrow_exception(error);
}

void WorkerPool::for_ranges(std::size_t count, const std::function<void(std::size_t, std::size_t)>& range,
                            std::size_t min_per_thread) {
  const auto parts = static_cast<std::size_t>(size());
  if (parts == 1 || count < parts * min_per_thread) {
    if (count > 0) range(0, count);
    return;
  }
  run([&](int part) {
    const auto p = static_cast<std::size_t>(part);
    const std::size_t begin = count * p / parts;
    const std::size_t end = count * (p + 1) / parts;
    if (begin < end) range(begin, end);
  });
}
