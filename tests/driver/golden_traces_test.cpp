#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iomanip>

#include "driver/sampler_case.h"

namespace {

// 64-bit FNV-1a: enough to notice any change of a trace file.
std::string fingerprint(const std::string& bytes) {
  std::uint64_t hash = 14695981039346656037ull;
  for (const unsigned char byte : bytes) hash = (hash ^ byte) * 1099511628211ull;
  std::ostringstream text;
  text << std::hex << std::setw(16) << std::setfill('0') << hash;
  return text.str();
}

// Runs the sampler on a copy of a shipped case and compares every output file
// with the committed fingerprints. ALNSAMPLER_UPDATE_GOLDEN=1 rewrites them;
// do that only for a deliberate change of behaviour.
void check_golden(const std::string& case_name, const std::vector<std::string>& arguments, const std::string& golden) {
  SamplerCase c;
  c.copy_shipped_case(case_name);
  const auto result = c.run(arguments);
  ASSERT_EQ(result.exit_status, 0) << result.err;
  Files actual = c.outputs();
  for (auto& [name, bytes] : actual) bytes = fingerprint(bytes);
  const std::filesystem::path golden_path = std::filesystem::path(ALNSAMPLER_SOURCE_DIR) / "tests" / "golden" / golden;
  if (std::getenv("ALNSAMPLER_UPDATE_GOLDEN") != nullptr) {
    std::ofstream out(golden_path);
    for (const auto& [name, print] : actual) out << print << "  " << name << "\n";
    GTEST_SKIP() << "rewrote " << golden_path;
  }
  Files expected;  // name -> fingerprint, from lines "fingerprint  name"
  for (const auto& row : read_rows<std::string>(golden_path)) {
    if (row.size() == 2) expected[row[1]] = row[0];
  }
  ASSERT_FALSE(expected.empty()) << "no golden fingerprints in " << golden_path;
  EXPECT_EQ(actual, expected);
}

TEST(GoldenTraces, DefaultCaseSeed3TwentyIterations) {
  check_golden("test_case_23_6sp", {"-s", "3", "-n", "20"}, "test_case_23_6sp_s3_n20.txt");
}

TEST(GoldenTraces, SixteenLeavesThreeThousandColumns) {
  check_golden("golden_16_leaves", {"-s", "5", "-n", "5", "-k", "4"}, "golden_16_leaves_s5_n5.txt");
}

// The scalar exp and forward kernels, forced, give the vector kernels' traces.
TEST(GoldenTraces, ScalarKernelsGiveTheSameTraces) {
  setenv("ALNSAMPLER_SCALAR_EXP", "1", 1);
  check_golden("golden_16_leaves", {"-s", "5", "-n", "5", "-k", "4"}, "golden_16_leaves_s5_n5.txt");
  unsetenv("ALNSAMPLER_SCALAR_EXP");
}

}  // namespace
