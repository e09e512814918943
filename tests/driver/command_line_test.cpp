#include <gtest/gtest.h>

#include "driver/sampler_case.h"

namespace {

const std::vector<std::string> run_files{"3_auxiliary_ouput.txt", "3_errors.txt", "3_post_dist_k.txt",
                                         "3_post_para.txt", "3_rate_state_transitions.txt"};

std::string expected_auxiliary(long k_max) {
  return "k_max:" + std::to_string(k_max) +
         "\ntree input info:\nparents, children, lengths:\n0 1 0.5\n0 2 0.25\n1 3 1\n1 4 2\n"
         "mapping from leave labels to sequence id is:\n2 0\n3 1\n4 2\n";
}

// No iteration (a count of 0 or below) still opens the run files and writes
// the k_max line and the tree report, and nothing else.
TEST(CommandLine, NoIterationsWritesOnlyTheRunFiles) {
  for (const char* iterations : {"0", "-2"}) {
    SamplerCase c;
    const auto result = c.run({"-n", iterations});
    EXPECT_EQ(result.exit_status, 0) << result.err;
    EXPECT_EQ(result.out + result.err, "");
    EXPECT_EQ(c.result_files(), run_files);
    EXPECT_EQ(read_file(c.result_prefix() + "_auxiliary_ouput.txt"), expected_auxiliary(4));
    for (const char* name : {"_errors.txt", "_post_para.txt", "_post_dist_k.txt", "_rate_state_transitions.txt"}) {
      EXPECT_EQ(read_file(c.result_prefix() + name), "") << name;
    }
  }
}

TEST(CommandLine, DocumentedParsingQuirks) {
  SamplerCase c;
  // Unknown options and their values are skipped; a repeated option takes its
  // last value; an option without a value is ignored.
  EXPECT_EQ(c.run({"-x", "5", "-k", "2", "-k", "3", "-n", "0", "-s", "17", "-k"}).exit_status, 0);
  EXPECT_EQ(read_file(c.result_prefix("17") + "_auxiliary_ouput.txt"), expected_auxiliary(3));
  EXPECT_FALSE(std::filesystem::exists(c.result_prefix("3") + "_errors.txt"));
}

TEST(CommandLine, RejectsNumbersThatAreNotEntirelyNumbers) {
  const std::vector<std::vector<std::string>> bad{{"-n", "abc"},  {"-n", "5x"},  {"-s", "-1"},
                                                  {"-k", "2.5"},  {"-n", "-k"},  {"-k", "0"},
                                                  {"-s", "4294967296"}, {"--thin", "0"}, {"--checkpoint-seconds", "-1"}};
  SamplerCase c;
  for (const auto& arguments : bad) {
    const auto result = c.run(arguments);
    EXPECT_EQ(result.exit_status, 255) << arguments[0] << " " << arguments[1];
    EXPECT_NE(result.err.find("option " + arguments[0]), std::string::npos) << result.err;
    EXPECT_NE(result.err.find("\"" + arguments[1] + "\""), std::string::npos) << result.err;
  }
  EXPECT_TRUE(c.result_files().empty()) << "values are checked before any file is opened";
}

TEST(CommandLine, HelpAndVersionTouchNoFile) {
  SamplerCase c;
  const auto help = c.run({"--help"});
  EXPECT_EQ(help.exit_status, 0);
  EXPECT_NE(help.out.find("Usage: alnsampler"), std::string::npos);
  EXPECT_NE(help.out.find("_post_para.txt"), std::string::npos);
  EXPECT_EQ(c.run({"-h", "-n", "abc"}).exit_status, 0);
  const auto version = c.run({"--version"});
  EXPECT_EQ(version.exit_status, 0);
  EXPECT_EQ(version.out.rfind("alnsampler ", 0), 0u);
  EXPECT_TRUE(c.result_files().empty());
  // A value is never taken for an option, so "-t -h" names a test case.
  std::filesystem::create_directories(c.root() + "results/-h");
  const auto named = c.run({"-t", "-h"});
  EXPECT_EQ(named.exit_status, 255);
  EXPECT_EQ(named.err.rfind("file not exist:" + c.root() + "data/-h/tree.txt\n", 0), 0u) << named.err;
}

TEST(RunFiles, MissingResultsFolderIsReportedOnStandardOutput) {
  SamplerCase c;
  std::filesystem::remove_all(c.results_dir());
  const auto result = c.run({"-n", "0"});
  EXPECT_EQ(result.exit_status, 1);
  EXPECT_EQ(result.out, "The program cannot open output file " + c.result_prefix() + "_errors.txt\n");
}

TEST(RunFiles, LaterOpenFailureGoesToTheErrorsFile) {
  SamplerCase c;
  std::filesystem::create_directories(c.result_prefix() + "_post_para.txt");
  const auto result = c.run({"-n", "0"});
  EXPECT_EQ(result.exit_status, 1);
  EXPECT_EQ(read_file(c.result_prefix() + "_errors.txt"),
            "The program cannot open output file " + c.result_prefix() + "_post_para.txt\n");
}

TEST(RunFiles, FailedWriteIsNeverASuccess) {
  SamplerCase c;
  std::filesystem::create_symlink("/dev/full", c.result_prefix() + "_auxiliary_ouput.txt");
  const auto result = c.run({"-n", "0"});
  EXPECT_EQ(result.exit_status, 1);
  EXPECT_EQ(result.err, "cannot write output file " + c.result_prefix() + "_auxiliary_ouput.txt\n");
}

}  // namespace
