#include <gtest/gtest.h>

#include <map>

#include "driver/sampler_case.h"

namespace {

std::map<std::string, std::string> results(const SamplerCase& c) {
  std::map<std::string, std::string> files;
  for (const auto& name : c.result_files()) files[name] = read_file(c.results_dir() / name);
  return files;
}

// The likelihood passes may run on any number of threads; every output byte,
// internal values included, stays the same.
TEST(Threads, EveryOutputIsByteIdenticalForOneTwoAndThreeThreads) {
  std::map<std::string, std::string> single;
  for (const std::string threads : {"1", "2", "3"}) {
    SamplerCase c;
    const auto source = std::filesystem::path(ALNSAMPLER_SOURCE_DIR) / "data" / "golden_16_leaves";
    for (const std::string name : {"tree.txt", "map_from_leave_label_to_seq_id.txt"}) {
      std::filesystem::copy_file(source / name, c.data_dir() / name, std::filesystem::copy_options::overwrite_existing);
    }
    // The first 800 columns: enough patterns for every thread to get work.
    const auto lines = read_lines(source / "data.txt");
    std::string data;
    for (std::size_t i = 0; i < 800 && i < lines.size(); ++i) data += lines[i] + "\n";
    c.write_data("data.txt", data);
    const auto result = c.run({"-s", "5", "-n", "3", "-k", "4", "--ancestors", "--threads", threads});
    ASSERT_EQ(result.exit_status, 0) << result.err;
    const auto files = results(c);
    ASSERT_EQ(files.size(), 5u + 7u * 3u);
    if (threads == "1") {
      single = files;
      continue;
    }
    for (const auto& [name, bytes] : single) {
      ASSERT_TRUE(files.count(name)) << name;
      EXPECT_TRUE(files.at(name) == bytes) << name << " differs with " << threads << " threads";
    }
  }
}

TEST(Threads, RejectsCountsOutsideOneTo256) {
  SamplerCase c;
  for (const std::string bad : {"0", "-2", "257", "two", "1.5"}) {
    const auto result = c.run({"-n", "1", "--threads", bad});
    EXPECT_EQ(result.exit_status, 255) << bad;
    EXPECT_EQ(result.err, "alnsampler: option --threads needs a whole number from 1 to 256, got \"" + bad + "\"\n");
  }
  EXPECT_TRUE(c.result_files().empty());
  EXPECT_EQ(c.run({"-n", "1", "--threads", "256"}).exit_status, 0);
}

}  // namespace
