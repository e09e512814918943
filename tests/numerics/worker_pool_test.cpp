#include "numerics/worker_pool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <vector>

namespace {

TEST(WorkerPool, RangesCoverEveryItemOnce) {
  for (int threads = 1; threads <= 4; ++threads) {
    WorkerPool pool(threads);
    EXPECT_EQ(pool.size(), threads);
    for (std::size_t count : {0u, 1u, 3u, 4u, 7u, 64u, 1001u}) {
      std::vector<int> seen(count, 0);
      pool.for_ranges(count, [&](std::size_t begin, std::size_t end) {
        for (std::size_t i = begin; i < end; ++i) ++seen[i];
      });
      for (std::size_t i = 0; i < count; ++i) ASSERT_EQ(seen[i], 1) << threads << " threads, item " << i;
    }
  }
}

TEST(WorkerPool, EveryPartRunsOncePerJob) {
  WorkerPool pool(3);
  for (int job = 0; job < 200; ++job) {
    std::vector<std::atomic<int>> runs(3);
    pool.run([&](int part) { ++runs[part]; });
    for (const auto& r : runs) ASSERT_EQ(r.load(), 1);
  }
}

TEST(WorkerPool, ExceptionOfAWorkerReachesTheCaller) {
  WorkerPool pool(2);
  EXPECT_THROW(pool.run([](int part) {
    if (part == 1) throw std::out_of_range("part 1");
  }),
               std::out_of_range);
  std::atomic<int> after{0};
  pool.run([&](int) { ++after; });
  EXPECT_EQ(after.load(), 2);
}

}  // namespace
