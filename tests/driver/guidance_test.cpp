#include <gtest/gtest.h>

#include <set>
#include <sstream>

#include "driver/progress.h"
#include "driver/sampler_case.h"

namespace {

namespace fs = std::filesystem;

std::set<std::string> files_under(const fs::path& folder) {
  std::set<std::string> files;
  for (const auto& entry : fs::recursive_directory_iterator(folder)) {
    if (!entry.is_directory()) files.insert(entry.path().string());
  }
  return files;
}

std::string with_root(std::string text, const std::string& root) {
  for (std::size_t at; (at = text.find("{root}")) != std::string::npos;) text.replace(at, 6, root);
  return text;
}

// The slips of a first-time user, each run end to end on a small case in
// ROOT: exit status, what standard error says (every `said` text, none of the
// `unsaid`; nothing at all when `said` is empty), and no file written anywhere
// but in ROOT/results/.
TEST(Guidance, EverySlipIsReportedWithWhatToDo) {
  const std::string unknown = "ignoring unknown argument ";
  const std::string fasta = ">s0\nACGT\n>s1\nACGA\n>s2\nACGG\n";
  struct Slip {
    std::vector<std::string> arguments;  // {root} is ROOT without its final "/"
    std::string data_file;               // replaces data.txt when not empty
    int status;
    std::vector<std::string> said;
    std::vector<std::string> unsaid;
  };
  const std::vector<Slip> slips{
      {{"-t", "case/", "--iterations", "5"}, "", 0,
       {unknown + "\"--iterations\" (see --help)\n" + unknown + "\"5\" (see --help)\n"}, {}},
      {{"-t", "case/", "--thread", "2", "x.fasta"}, "", 0,
       {unknown + "\"--thread\" (see --help)\n" + unknown + "\"2\" (see --help)\n" + unknown + "\"x.fasta\" (see --help)\n"},
       {}},
      {{"-t", "case/", "-n", "0", "-k"}, "", 0, {unknown + "\"-k\" (see --help)\n"}, {}},
      {{"-r", "{root}", "-t", "case", "-n", "0"}, "", 0, {}, {}},
      {{"-r", "", "-t", "case/", "-n", "0"}, "", 0, {}, {}},
      {{"-t", "case/", "-n", "0", "-d", "{root}/../cells.txt"}, "", 0, {}, {}},
      {{"-t", "case/", "-n", "0"}, fasta, 255,
       {"empty file:{root}/data/case/data.txt\nalnsampler: \"{root}/data/case/data.txt\" looks like a FASTA alignment",
        "convert the alignment and its tree with alnprepare", "--format fasta "},
       {}},
      {{"-t", "case/", "-n", "0"}, "3 4\ns0 ACGT\ns1 ACGA\ns2 ACGG\n", 255,
       {"line 2 column 1: value \"s0\" is not a whole number", "looks like a PHYLIP alignment", "--format phylip "}, {}},
      {{"-t", "case/", "-n", "0"}, "#NEXUS\nbegin data;\n", 255, {"looks like a NEXUS alignment"}, {}},
      {{"-t", "case/", "-n", "0"}, "CLUSTAL W (1.83) multiple sequence alignment\n\ns0 ACGT\n", 255,
       {"looks like a Clustal alignment", "--format clustal "}, {}},
      {{"-t", "case/", "-n", "0"}, "# STOCKHOLM 1.0\ns0 ACGT\n//\n", 255,
       {"looks like a Stockholm alignment", "--format stockholm "}, {}},
      {{"-t", "case/", "-n", "0"}, "1 1\n2 x\n", 255, {"line 2 column 2: value \"x\" is not a whole number"}, {"alnprepare"}},
      {{"-t", "case/", "-n", "0"}, "4 x\ns0 ACGT\n", 255, {"line 1 column 2: value \"x\" is not a whole number"}, {"alnprepare"}},
      {{"-t", "case/", "-n", "0", "-d", "nothing.txt"}, "", 255,
       {"file not exist:{root}/data/case/nothing.txt\nalnsampler: there is no alignment file", "with -d\n"}, {}},
      {{"-t", "case/", "-n", "0", "-d", "{root}/nothing.txt"}, "", 255, {"there is no alignment file"}, {}},
      {{"-t", "other/", "-n", "0"}, "", 255,
       {"file not exist:{root}/data/other/tree.txt\nalnsampler: input folder \"{root}/data/other/\" does not exist",
        "alnprepare makes a test case"},
       {}},
      {{"-t", "lost/", "-n", "0"}, "", 1,
       {"alnsampler: results folder \"{root}/results/lost/\" does not exist: create it first "
        "(mkdir -p {root}/results/lost/) or correct -r and -t\n"},
       {}},
  };
  for (const Slip& slip : slips) {
    SamplerCase c;
    const std::string root = c.root_path().string();
    fs::create_directories(c.root_path() / "results" / "other");
    fs::copy(c.data_dir(), c.root_path() / "data" / "lost");
    write_file(c.outside() / "cells.txt", SamplerCase::data_text);
    if (!slip.data_file.empty()) c.write_data("data.txt", slip.data_file);
    std::vector<std::string> arguments{"-r", root + "/"};
    for (const auto& argument : slip.arguments) arguments.push_back(with_root(argument, root));
    const std::string context = "arguments: " + testing::PrintToString(arguments);
    const auto before = files_under(c.outside());

    const auto result = run_process(sampler_executable(), arguments, c.root_path());

    EXPECT_EQ(result.exit_status, slip.status) << context << "\n" << result.err;
    EXPECT_EQ(slip.said.empty() ? result.err : "", "") << context;
    for (const auto& text : slip.said) {
      EXPECT_NE(result.err.find(with_root(text, root)), std::string::npos) << context << "\ngot: " << result.err;
    }
    for (const auto& text : slip.unsaid) EXPECT_EQ(result.err.find(text), std::string::npos) << context;
    EXPECT_TRUE(slip.status != 0 || c.output_count() > 0) << context;
    for (const auto& file : files_under(c.outside())) {
      const bool in_results = file.rfind(root + "/results/", 0) == 0;
      EXPECT_TRUE(before.count(file) == 1 || in_results) << context << ": stray file " << file;
    }
  }
}

// --progress: one line at every tenth of the run, numbered as the iterations
// that complete it; fewer than ten iterations give one line each.
TEST(Guidance, ProgressLinesAtEveryTenth) {
  for (const auto& [iterations, expected] : std::vector<std::pair<std::string, std::vector<long>>>{
           {"20", {2, 4, 6, 8, 10, 12, 14, 16, 18, 20}}, {"3", {1, 2, 3}}, {"0", {}}}) {
    SamplerCase c;
    const auto result = c.run({"-n", iterations, "--progress"});
    ASSERT_EQ(result.exit_status, 0) << result.err;
    std::vector<long> shown;
    std::istringstream lines(result.err);
    for (std::string line; std::getline(lines, line);) {
      long i = 0;
      long n = 0;
      ASSERT_EQ(std::sscanf(line.c_str(), "alnsampler: iteration %ld of %ld (", &i, &n), 2) << line;
      EXPECT_EQ(std::to_string(n), iterations);
      EXPECT_NE(line.find("s per iteration, "), std::string::npos) << line;
      shown.push_back(i);
    }
    EXPECT_EQ(shown, expected) << "-n " << iterations;
  }
}

// On a terminal the line is rewritten in place and erased at the end.
TEST(Guidance, TerminalLineIsRewrittenAndCleared) {
  std::ostringstream out;
  {
    Progress progress(1, 3, Progress::Style::terminal, out);
    for (long i = 1; i <= 3; ++i) progress.iteration_done(i);
  }
  const std::string text = out.str();
  EXPECT_EQ(text.rfind("\r\033[Kalnsampler: iteration 3 of 3 (100%), ", 0), 0u) << text;
  EXPECT_EQ(text.substr(text.size() - 4), "\r\033[K");
  EXPECT_EQ(text.find('\n'), std::string::npos);
}

TEST(Guidance, ProgressText) {
  EXPECT_EQ(progress_text(7, 20, 0.2), "iteration 7 of 20 (35%), 0.2 s per iteration, 3 s left");
  EXPECT_EQ(progress_text(1, 1000, 0.75), "iteration 1 of 1000 (0%), 0.75 s per iteration, 12 min 29 s left");
  EXPECT_EQ(readable_duration(59.6), "1 min 00 s");
  EXPECT_EQ(readable_duration(7620.0), "2 h 07 min");
}

}  // namespace
