#include <gtest/gtest.h>

#include <filesystem>

#include "simulation/rate_state_oracle.h"
#include "support/process.h"

namespace {

namespace fs = std::filesystem;

const fs::path source_dir = ALNSAMPLER_SOURCE_DIR;
const fs::path default_case = source_dir / "data" / "test_case_23_6sp";
const fs::path default_parameters = source_dir / "data" / "simulation" / "test_case_23_6sp";
const fs::path recovery_dir = fs::path(ALNSAMPLER_TEST_DATA_DIR) / "recovery_16_leaves";

ProcessResult simulate(const fs::path& parameters, const fs::path& tree, const fs::path& output,
                       const std::string& seed, const std::vector<std::string>& extra = {}) {
  std::vector<std::string> arguments{"-p", parameters.string(), "-T", tree.string(), "-o", output.string(), "-s", seed};
  arguments.insert(arguments.end(), extra.begin(), extra.end());
  return run_process(ALNSIMULATE_EXECUTABLE, arguments);
}

double oracle_agreement(const fs::path& case_dir, const fs::path& parameter_dir, std::size_t leaf_count) {
  const auto parameters = read_parameters(parameter_dir, leaf_count);
  const CaseTruth truth = read_case_truth(case_dir, parameters);
  return fraction_equal(oracle_rate_states(truth, parameters), truth.rate_states);
}

// The shipped default case, truth included, is exactly what its parameter
// folder and seed give: a change of the generator (or of its draw order, or
// of a file's format) shows up here and asks for the case, and the sampler's
// golden traces, to be regenerated. It regenerates a copy in place, as the
// parameter folder's README does.
TEST(DefaultCase, IsReproducibleFromItsParameterFolder) {
  const auto record = read_lines(default_case / "truth" / "parameters.txt");
  ASSERT_GE(record.size(), 2u);
  ASSERT_EQ(record[record.size() - 2], "seed:");
  TempDir dir;
  const fs::path copy = dir.path() / "data" / "test_case_23_6sp";
  fs::create_directories(copy.parent_path());
  fs::copy(default_case, copy, fs::copy_options::recursive);
  fs::remove(copy / "data.txt");
  const ProcessResult result = simulate(default_parameters, copy, copy, record.back(), {"--force"});
  ASSERT_EQ(result.exit_status, 0) << result.err;
  for (const auto& entry : fs::recursive_directory_iterator(default_case)) {
    if (!entry.is_regular_file()) continue;
    const fs::path name = fs::relative(entry.path(), default_case);
    EXPECT_EQ(read_file(copy / name), read_file(entry.path())) << name;
  }
}

// With every generating parameter known, the rate state of almost every
// modelled column can be told from its leaves: the three states of the
// shipped cases are far enough apart to be worth sampling.
TEST(DefaultCase, TrueParametersTellTheRateStatesApart) {
  EXPECT_GE(oracle_agreement(default_case, default_parameters, 6), 0.95);
}

TEST(RecoveryCase, TrueParametersTellTheRateStatesApart) {
  TempDir dir;
  ASSERT_EQ(simulate(recovery_dir / "parameters", recovery_dir / "tree", dir.path(), "11").exit_status, 0);
  EXPECT_GE(oracle_agreement(dir.path(), recovery_dir / "parameters", 16), 0.95);
}

}  // namespace
