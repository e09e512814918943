#include <gtest/gtest.h>

#include "driver/sampler_case.h"

namespace {

// No iteration (a count of 0 or below) still opens the five run files and
// writes the k_max line (of the last -k given) and the tree report, and
// nothing else.
TEST(CommandLine, NoIterationsWritesOnlyTheRunFiles) {
  const std::string auxiliary =
      "k_max:3\ntree input info:\nparents, children, lengths:\n0 1 0.5\n0 2 0.25\n1 3 1\n1 4 2\n"
      "mapping from leave labels to sequence id is:\n2 0\n3 1\n4 2\n";
  for (const char* iterations : {"0", "-2"}) {
    SamplerCase c;
    const auto result = c.run({"-n", iterations, "-k", "2", "-k", "3"});
    EXPECT_EQ(result.exit_status, 0) << result.err;
    EXPECT_EQ(result.out + result.err, "");
    EXPECT_EQ(c.outputs(), (Files{{"3_auxiliary_ouput.txt", auxiliary},
                                  {"3_errors.txt", ""},
                                  {"3_post_dist_k.txt", ""},
                                  {"3_post_para.txt", ""},
                                  {"3_rate_state_transitions.txt", ""}}));
  }
}

// Every value is checked before a file is opened; --help opens none either.
// Without -n the run does one iteration.
TEST(CommandLine, RejectsNumbersThatAreNotEntirelyNumbers) {
  const std::vector<std::vector<std::string>> bad{{"-n", "abc"},
                                                  {"-n", "5x"},
                                                  {"-s", "-1"},
                                                  {"-k", "2.5"},
                                                  {"-n", "-k"},
                                                  {"-k", "0"},
                                                  {"-s", "4294967296"},
                                                  {"--thin", "0"},
                                                  {"--checkpoint-seconds", "-1"},
                                                  {"--threads", "0"},
                                                  {"--threads", "257"},
                                                  {"--threads", "1.5"},
                                                  {"--marginal-rate-moves", "-1"},
                                                  {"--marginal-rate-moves", "1001"}};
  SamplerCase c;
  for (const auto& arguments : bad) {
    const auto result = c.run(arguments);
    EXPECT_EQ(result.exit_status, 255) << arguments[0] << " " << arguments[1];
    EXPECT_NE(result.err.find("option " + arguments[0]), std::string::npos) << result.err;
    EXPECT_NE(result.err.find("\"" + arguments[1] + "\""), std::string::npos) << result.err;
  }
  const auto help = c.run({"--help", "-n", "abc"});
  EXPECT_EQ(help.exit_status, 0);
  EXPECT_NE(help.out.find("Usage: alnsampler"), std::string::npos);
  EXPECT_EQ(c.output_count(), 0u);
  ASSERT_EQ(c.run({"--threads", "256"}).exit_status, 0);
  EXPECT_EQ(read_lines(c.file("_post_para.txt")).size(), 1u);
}

// A missing results folder is reported on standard output (the errors file
// cannot be opened), a later file that cannot be opened in the errors file,
// a file that cannot be written on standard error; each with status 1.
TEST(RunFiles, FilesThatCannotBeOpenedOrWrittenEndTheRun) {
  SamplerCase missing;
  std::filesystem::remove_all(missing.results_dir());
  const auto result = missing.run({"-n", "0"});
  EXPECT_EQ(result.exit_status, 1);
  EXPECT_EQ(result.out, "The program cannot open output file " + missing.file("_errors.txt") + "\n");

  SamplerCase later;
  std::filesystem::create_directories(later.file("_post_para.txt"));
  EXPECT_EQ(later.run({"-n", "0"}).exit_status, 1);
  EXPECT_EQ(read_file(later.file("_errors.txt")),
            "The program cannot open output file " + later.file("_post_para.txt") + "\n");

  SamplerCase full;
  std::filesystem::create_symlink("/dev/full", full.file("_auxiliary_ouput.txt"));
  const auto failed = full.run({"-n", "0"});
  EXPECT_EQ(failed.exit_status, 1);
  EXPECT_EQ(failed.err, "cannot write output file " + full.file("_auxiliary_ouput.txt") + "\n");
}

}  // namespace
