#include <gtest/gtest.h>

#include "support/process.h"

namespace {

namespace fs = std::filesystem;

// cmake --install into a fresh prefix, then every command from a folder far
// from the build: --help of each, the sampler on a copy of the default case,
// and the "run next" command that the installed alnsimulate prints, as printed.
TEST(InstalledCommands, RunFromAnyFolder) {
  TempDir temp;
  const fs::path prefix = temp.path() / "prefix";
  const fs::path root = temp.path() / "root";
  const fs::path elsewhere = temp.path() / "elsewhere";
  fs::create_directories(elsewhere);
  const auto install = run_process(ALNSAMPLER_CMAKE_COMMAND, {"--install", ALNSAMPLER_BINARY_DIR, "--prefix", prefix.string()});
  ASSERT_EQ(install.exit_status, 0) << install.out << install.err;

  for (const char* command : {"alnsampler", "alnsimulate", "alnprepare", "alnsummarize", "alnmerge"}) {
    const auto help = run_process((prefix / "bin" / command).string(), {"--help"}, elsewhere);
    EXPECT_EQ(help.exit_status, 0) << command << ": " << help.err;
    EXPECT_NE(help.out.find(std::string("sage: ") + command), std::string::npos) << command << ": " << help.out;
  }

  const fs::path source = ALNSAMPLER_SOURCE_DIR;
  fs::create_directories(root / "data");
  fs::create_directories(root / "results" / "test_case_23_6sp");
  fs::copy(source / "data" / "test_case_23_6sp", root / "data" / "test_case_23_6sp");
  const auto run = run_process((prefix / "bin" / "alnsampler").string(), {"-r", root.string(), "-n", "2"}, elsewhere);
  EXPECT_EQ(run.exit_status, 0) << run.err;
  EXPECT_EQ(read_lines(root / "results" / "test_case_23_6sp" / "3_post_para.txt").size(), 2u);

  const auto simulated = run_process(
      (prefix / "bin" / "alnsimulate").string(),
      {"-p", (source / "data" / "simulation" / "test_case_23_6sp/").string(), "-T",
       (source / "data" / "test_case_23_6sp/").string(), "-o", "../root/data/sim/"},
      elsewhere);
  ASSERT_EQ(simulated.exit_status, 0) << simulated.err;
  std::vector<std::string> lines;
  std::istringstream out(simulated.out);
  for (std::string line; std::getline(out, line);) lines.push_back(line);
  ASSERT_GE(lines.size(), 2u) << simulated.out;
  ASSERT_EQ(lines[lines.size() - 2], "run next:") << simulated.out;
  const auto next = run_process("/bin/sh", {"-c", lines.back() + " -n 1"}, elsewhere);
  EXPECT_EQ(next.exit_status, 0) << lines.back() << "\n" << next.err;
  EXPECT_EQ(read_lines(root / "results" / "sim" / "3_post_para.txt").size(), 1u) << lines.back();
}

}  // namespace
