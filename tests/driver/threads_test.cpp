#include <gtest/gtest.h>

#include "driver/sampler_case.h"

namespace {

// The likelihood passes and the segmentation's forward recursion may run on
// any number of threads; every output byte, internal values included, stays
// the same, also with the marginal rate moves (which evaluate one rate
// state's tables at a time).
TEST(Threads, EveryOutputIsByteIdenticalForOneTwoAndThreeThreads) {
  for (const std::string moves : {"0", "1"}) {
    Files single;
    for (const std::string threads : {"1", "2", "3"}) {
      SamplerCase c;
      c.copy_shipped_case("golden_16_leaves");
      // The first 800 columns: enough patterns for every thread to get work.
      const auto lines = read_lines(c.data_dir() / "data.txt");
      std::string data;
      for (std::size_t i = 0; i < 800; ++i) data += lines.at(i) + "\n";
      c.write_data("data.txt", data);
      const auto result =
          c.run({"-s", "5", "-n", "3", "-k", "4", "--ancestors", "--threads", threads, "--marginal-rate-moves", moves});
      ASSERT_EQ(result.exit_status, 0) << result.err;
      ASSERT_EQ(c.output_count(), 5u + 7u * 3u);
      if (threads == "1") single = c.outputs();
      EXPECT_TRUE(c.outputs() == single) << threads << " threads, " << moves << " moves";
    }
  }
}

}  // namespace
