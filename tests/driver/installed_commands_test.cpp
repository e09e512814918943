#include <gtest/gtest.h>

#include "driver/guidance.h"
#include "support/process.h"

namespace {

namespace fs = std::filesystem;

// cmake --install into a fresh prefix, then every command from a folder far
// from the build: --help of each, the sampler on a copy of the default case,
// and the "run next" recipe that the installed alnsimulate prints, as printed:
// two chains and their summary.
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

  // A 120-column simulation of the default case's model, so that the recipe's chains take seconds.
  const fs::path parameters = temp.path() / "parameters";
  fs::copy(source / "data" / "simulation" / "test_case_23_6sp", parameters);
  fs::remove(parameters / "absent.txt");
  write_file(parameters / "from_tos.txt", "0 39\n40 79\n80 119\n");
  const auto simulated = run_process(
      (prefix / "bin" / "alnsimulate").string(),
      {"-p", parameters.string(), "-T", (source / "data" / "test_case_23_6sp/").string(), "-o", "../root/data/sim/"},
      elsewhere);
  ASSERT_EQ(simulated.exit_status, 0) << simulated.err;
  const std::string heading = "run next (two chains, then their summary; paste the lines into a shell):\n";
  const std::size_t recipe = simulated.out.find(heading);
  ASSERT_NE(recipe, std::string::npos) << simulated.out;
  const std::string commands = simulated.out.substr(recipe + heading.size());
  std::string options;
  for (const std::string& option : recommended_chain_options()) options += " " + option;
  EXPECT_NE(commands.find(" -s 1" + options + "\n"), std::string::npos) << commands;
  EXPECT_NE(commands.find((prefix / "bin" / "alnsummarize").string() + " --root-dir"), std::string::npos) << commands;
  const auto next = run_process("/bin/sh", {"-e", "-c", commands}, elsewhere);
  EXPECT_EQ(next.exit_status, 0) << commands << "\n" << next.err;
  for (const char* seed : {"1", "2"}) {
    EXPECT_EQ(read_lines(root / "results" / "sim" / (std::string(seed) + "_post_para.txt")).size(), 2000u) << seed;
  }
  EXPECT_TRUE(fs::exists(root / "results" / "sim" / "summary" / "report.html")) << next.out;
  EXPECT_NE(next.out.find("alnsummarize: summarised 2 chains of sim/"), std::string::npos) << next.out;
}

}  // namespace
