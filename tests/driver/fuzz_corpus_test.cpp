#include <gtest/gtest.h>

#include "driver/sampler_case.h"

namespace {

namespace fs = std::filesystem;

// Every input on which the fuzz check (scripts/fuzz) found a fault is kept in
// tests/fuzz_corpus/NAME/: the files that differ from the default case and
// the run's arguments ("args", one per line). Each must now end with a
// message and status -1 or 1, or complete with finite traces, and never with
// a sanitizer report.
TEST(FuzzCorpus, EveryKeptInputEndsCleanly) {
  const fs::path corpus = fs::path(ALNSAMPLER_SOURCE_DIR) / "tests" / "fuzz_corpus";
  int replayed = 0;
  for (const auto& input : fs::directory_iterator(corpus)) {
    if (!input.is_directory()) continue;
    SCOPED_TRACE(input.path().filename().string());
    SamplerCase c;
    c.copy_shipped_case("test_case_23_6sp");
    std::vector<std::string> arguments{"-n", "2"};
    for (const auto& file : fs::directory_iterator(input.path())) {
      if (file.path().filename() == "args") {
        arguments = read_lines(file.path());
      } else {
        fs::copy_file(file.path(), c.data_dir() / file.path().filename(), fs::copy_options::overwrite_existing);
      }
    }
    const auto result = c.run(arguments);
    EXPECT_TRUE(result.exit_status == 0 || result.exit_status == 1 || result.exit_status == 255) << result.exit_status;
    EXPECT_EQ(result.err.find("Sanitizer"), std::string::npos) << result.err;
    EXPECT_EQ(result.err.find("runtime error"), std::string::npos) << result.err;
    if (result.exit_status != 0) {
      EXPECT_NE(result.err + result.out, "");
    } else {
      EXPECT_EQ(c.first_non_finite_word(), "");
    }
    ++replayed;
  }
  EXPECT_GT(replayed, 0);
}

}  // namespace
