#include <algorithm>
#include <atomic>
#include <cstddef>
#include <thread>
#include <vector>

#include "numerics/worker_pool.h"
#include "segmentation/partition_sampler.h"

namespace {

// Block rows in flight between the thread that computes them and the
// threads that read them.
constexpr long block_ring_rows = 4;
// Spins before a waiting thread starts to give its core away.
constexpr int spins_before_yield = 200;

// The last end column one task has finished, on a cache line of its own.
struct alignas(64) Progress {
  std::atomic<long> done{1};
};

struct PipelineStopped {};

// A wait for another thread's progress costs a few hundred nanoseconds when
// both threads run, far less than a condition variable's wake-up; the yield
// keeps an oversubscribed machine going.
void wait_until(const std::atomic<long>& done, long target, const std::atomic<bool>& stop) {
  for (int spins = 0; done.load(std::memory_order_acquire) < target; ++spins) {
    if (stop.load(std::memory_order_relaxed)) throw PipelineStopped{};
    if (spins >= spins_before_yield) std::this_thread::yield();
  }
}

}  // namespace

// The work at end column v is P tasks: the block row g(v, .) together with
// _f[1], then one task per p = 2..P. Task p at v needs the block row v and
// _f[p-1] up to end column v-1, so the tasks form a pipeline: one thread
// owns the block rows, each other thread a contiguous range of partitions,
// for every v, and each waits only for the progress of the task before its
// range (and, for the block rows, for the slowest reader of the ring slot it
// is about to reuse). Every value is
// computed by the code of the single-threaded recursion, in its order, by
// the one thread that owns it, so the bits do not depend on the number of
// threads or on their timing.
void PartitionSampler::_forward_pipeline(const std::vector<double*>& row_of, std::size_t partition_entries) {
  const long tasks = _max_partitions;
  const long threads = std::min<long>(_pool->size(), tasks);
  std::vector<std::vector<double>> ring(block_ring_rows, std::vector<double>(_num_columns + 1, 0.0));
  std::vector<Progress> progress(tasks + 1);  // [0]: block rows, [p]: partition p
  std::atomic<bool> stop{false};
  _pool->run([&](int part) {
    if (part >= threads) return;
    // The block rows cost about as much per end column as all partitions of
    // a group of four together (the partitions' exps four at a time), so
    // they get a thread of their own and the others share the partitions.
    const long others = threads - 1;
    const long first_task = part == 0 ? 0 : 1 + (tasks - 1) * (part - 1) / others;
    const long end_task = part == 0 ? 1 : 1 + (tasks - 1) * part / others;
    const bool fills_blocks = first_task == 0;
    const long first_p = std::max(2L, first_task + 1);
    const long last_p = end_task;
    // The maxima of one thread's partitions, away from the other threads'.
    std::vector<double> own_max_terms(partition_entries, 0.0);
    try {
      for (long v = 2; v <= _num_columns; ++v) {
        std::vector<double>& blocks = ring[v % block_ring_rows];
        if (fills_blocks) {
          for (long p = last_p + 1; p <= _max_partitions; ++p) wait_until(progress[p].done, v - block_ring_rows, stop);
          _fill_blocks(v, blocks);
          _f[1][v - 2] = blocks[1];
          progress[0].done.store(v, std::memory_order_release);
        } else {
          wait_until(progress[0].done, v, stop);
        }
        const long last = std::min(last_p, v - 1);
        if (first_p <= last) {
          if (first_p > 2) wait_until(progress[first_p - 1].done, v - 1, stop);
          _forward_partitions(first_p, last, v, blocks, row_of, own_max_terms);
        }
        for (long p = first_p; p <= last_p; ++p) progress[p].done.store(v, std::memory_order_release);
      }
    } catch (const PipelineStopped&) {
      return;
    } catch (...) {
      stop.store(true);
      throw;
    }
  });
}
