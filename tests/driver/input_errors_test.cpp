#include <gtest/gtest.h>

#include <tuple>

#include "driver/sampler_case.h"

namespace {

namespace fs = std::filesystem;

// Runs -n 0 with one input file replaced: status -1 and a message holding the
// given text.
TEST(InputErrors, EveryFaultOfAnInputFileIsNamed) {
  struct InputCase {
    const char* file;
    const char* text;
    const char* message;
  };
  for (const InputCase& input : std::vector<InputCase>{
           {"tree.txt", "0 1 0.5\n0 2\n1 3 1\n1 4 2\n", "tree.txt line 2: expected parent, child and branch length"},
           {"tree.txt", "0 1 0.5\n0 2 0.25\n1 3 -0.2\n1 4 2\n", "tree.txt line 3: branch length \"-0.2\" is negative"},
           {"tree.txt", "0 1 0.5\n0 2 nan\n1 3 1\n1 4 2\n", "tree.txt line 2: branch length \"nan\" is not a finite"},
           {"tree.txt", "0 1 0.5\n0 x 0.25\n1 3 1\n1 4 2\n", "tree.txt line 2: child label \"x\" is not an integer"},
           {"tree.txt", "0 1 0.5\n0 2 0.25\n1 3 1\n1 9 2\n", "tree.txt line 4: child label 9 is outside 1..4"},
           {"tree.txt", "1 0 0.5\n1 2 0.25\n0 3 1\n0 4 2\n",
            "tree.txt line 1: the first branch must start at the root"},
           {"tree.txt", "0 1 0.5\n0 2 0.25\n1 3 1\n1 3 2\n",
            "tree.txt line 4: child label 3 is already the child of line 3"},
           {"tree.txt", "\n \t\n", "empty file:"},
           {"tree.txt", "0 1 0.5\n0 2 0.25\n1 3 1\n1 4 2\n0 5 1\n",
            "tree.txt line 5: node 0 already has two children (lines 1 and 2)"},
           {"tree.txt", "0 3 1\n0 4 1\n1 2 1\n2 1 1\n", "tree.txt line 3: parent 1 of child 2 is not reached"},
           {"tree.txt", "0 2 1\n0 1 1\n2 3 1\n2 4 1\n", "line 1: label 2 is an internal node"},  // leaf 1 < node 2
           {"tree.txt", "0 1 0.5\n0 2 1e-300\n1 3 1\n1 4 2\n", "tree.txt line 2: branch length 1e-300 is outside"},
           {"tree.txt", "0 1 0.5\n0 2 0.25\n1 3 1\n1 4 1e300\n", "line 4: branch length 1e+300 is outside"},
           {"tree.txt", "0 1 0.5\n0 2 1e-13\n1 3 1\n1 4 2\n",
            "line 2: branch length 1e-13 is more than 1e+12 times shorter than the longest branch, 2 (line 4); the "
            "positive lengths of one tree must lie within that factor of each other (here 2e-12 to 2), or be 0"},
           {"tree.txt", "0 1 0\n0 2 0\n1 3 0\n1 4 0\n", "tree.txt: every branch has length 0"},
           {"tree.txt", "0 1 0.5\n0 2 0.25\n1 3 0\n1 4 2\n",
            "data.txt line 4: the column needs an event on the branch from node 1 to node 3, whose length 0"},
           {"map_from_leave_label_to_seq_id.txt", "2 0\n3 1\n4 2.7\n", "line 3 column 2: value \"2.7\" is not a whole"},
           {"map_from_leave_label_to_seq_id.txt", "2 0\n3\n4 2\n", "line 2: expected a leaf label and a sequence id"},
           {"map_from_leave_label_to_seq_id.txt", "2 0\n3 1\n", "leaf label 4 of "},
           {"map_from_leave_label_to_seq_id.txt", "2 0\n3 1\n4 1\n",
            "line 3: sequence id 1 is given to leaves 3 and 4"},
           // Leaves 3 and 4 would swap sequences if the last row won; internal nodes have no sequence.
           {"map_from_leave_label_to_seq_id.txt", "2 0\n3 1\n4 2\n3 2\n4 1\n",
            "line 4: leaf 3 is given sequence ids 1 and 2 (lines 2 and 4)"},
           {"map_from_leave_label_to_seq_id.txt", "2 0\n3 2\n4 1\n\n4 1\n3 1\n",
            "line 6: leaf 3 is given sequence ids 2 and 1"},
           {"map_from_leave_label_to_seq_id.txt", "0 3\n2 0\n3 1\n4 2\n", "line 1: label 0 is an internal node"},
           {"map_from_leave_label_to_seq_id.txt", "2 0\n3 1\n4 2\n1 0\n", "line 4: label 1 is an internal node"},
           {"map_from_leave_label_to_seq_id.txt", "2 0\n3 1\n4 3\n", "line 3: sequence id 3 of leaf 4 is outside 0..2"},
           {"map_from_leave_label_to_seq_id.txt", "2 0\n3 1\n7 2\n", "line 3: label 7 is outside 0..4"},
           {"data.txt", "1 1 1\n2 2\n3 3 3\n",
            "data.txt line 2: the row holds 2 value(s), but the tree's leaves need 3"},
           {"data.txt", "1 1 1\n2 7 2\n3 3 3\n", "data.txt line 2 column 2: value \"7\" is outside 0..5"},
           {"data.txt", "1 1 1\n0 1 1\n5 1 1\n", "has 1 modelled column(s)"},
           {"data.txt", "1 1 1\n2 1.9 2\n3 3 3\n", "data.txt line 2 column 2: value \"1.9\" is not a whole number"},
           {"data.txt", "1 1 1\n2 2 1abc\n3 3 3\n", "line 2 column 3: value \"1abc\" is not a whole number"},
           {"data.txt", "1 1 1\n-1 2 2\n3 3 3\n", "line 2 column 1: value \"-1\" is outside 0..5"},
           {"data.txt", "1 1 1\nx 2 2\n3 3 3\n", "line 2 column 1: value \"x\" is not a whole number"},
           {"data.txt", "", "empty file:"},
       }) {
    SamplerCase c;
    c.write_data(input.file, input.text);
    const auto result = c.run({"-n", "0"});
    EXPECT_EQ(result.exit_status, 255) << input.file << ": " << input.text;
    EXPECT_NE(result.err.find(input.message), std::string::npos) << "got: " << result.err;
  }
  SamplerCase c;
  const auto missing = c.run({"-d", "nothing.txt", "-n", "0"});
  EXPECT_EQ(missing.exit_status, 255);
  EXPECT_EQ(missing.err.rfind("file not exist:" + c.root() + "data/case/nothing.txt\n", 0), 0u) << missing.err;
  // An endless input is refused before it is read.
  fs::remove(c.data_dir() / "tree.txt");
  fs::create_symlink("/dev/zero", c.data_dir() / "tree.txt");
  const auto endless = c.run({"-n", "0"});
  EXPECT_EQ(endless.exit_status, 255);
  EXPECT_EQ(endless.err, "Input error: " + c.root() + "data/case/tree.txt is not a regular file (a device, a pipe or a "
                         "folder); give a file of text\n");
}

// A run that cannot get the memory it needs (here under a 16 MB address-space
// limit) ends with a message and status -1, not an abort.
TEST(InputErrors, RunningOutOfMemoryIsAMessage) {
#ifdef ALNSAMPLER_SANITIZED_BUILD
  GTEST_SKIP() << "the sanitizers reserve more address space than the limit allows";
#endif
  SamplerCase c;
  c.copy_shipped_case("golden_16_leaves");
  const auto result = run_process("/bin/sh", {"-c", "ulimit -v 16000 && exec \"$0\" \"$@\"", sampler_executable(),
                                              "-r", c.root(), "-t", "case/", "-n", "1"});
  EXPECT_EQ(result.exit_status, 255);
  EXPECT_EQ(result.err, "alnsampler: out of memory: the inputs need more memory than this machine can give\n");
}

// Every check of the inputs runs before a run file is opened: a run that
// fails on its input leaves the files of an earlier run with the same seed
// as they were, and adds none. k_max must stay below the column count.
TEST(InputErrors, AFailedRunLeavesTheFinishedOnesFilesAlone) {
  SamplerCase c;
  c.write_data("cells.txt", "1 1 1\n2 2 2.5\n3 3 3\n");
  ASSERT_EQ(c.run({"-n", "2"}).exit_status, 0);
  const Files finished = c.outputs();
  for (const auto& arguments : std::vector<std::vector<std::string>>{{"-d", "typo.txt"}, {"-k", "9"}, {"-d", "cells.txt"}}) {
    const auto result = c.run(arguments);
    EXPECT_EQ(result.exit_status, 255) << arguments[1];
    EXPECT_TRUE(c.outputs() == finished) << arguments[1];
    const std::string k_max_message = "k_max 9 must be below the number of modelled columns (9)";
    EXPECT_NE(arguments[0] == "-k" ? result.err.find(k_max_message) : 0, std::string::npos) << result.err;
  }
  for (const char* tree : {"0 1 0.5\n0 2 0.25\n1 3 1\n1 4 2\n0 5 1\n", "0 1 1\n0 2 1\n2 3 1\n2 4 1\n"}) {
    c.write_data("tree.txt", tree);
    EXPECT_EQ(c.run({"-n", "3"}).exit_status, 255) << tree;
    EXPECT_TRUE(c.outputs() == finished) << tree;
  }
  c.write_data("tree.txt", SamplerCase::tree_text);
  EXPECT_EQ(c.run({"-n", "0", "-k", "8"}).exit_status, 0);
}

TEST(InputErrors, TreeRowsOutOfOrder) {
  SamplerCase c;
  c.write_data("tree.txt", "0 1 1\n0 2 1\n2 3 1\n2 4 1\n1 5 1\n1 6 1\n");
  c.write_data("map_from_leave_label_to_seq_id.txt", "3 0\n4 1\n5 2\n6 3\n");
  c.write_data("data.txt", "1 1 1 1\n2 2 2 2\n3 3 3 3\n");
  const auto result = c.run({"-n", "0", "-k", "1"});
  EXPECT_EQ(result.exit_status, 255);
  EXPECT_EQ(result.err, "tree nodes input order has problem.\ni:2 parents.at(i):2 p->_label:1\n");
}

// Blank lines (white space only) are skipped wherever they are, the first
// line included; a row repeated exactly in the leaf map says nothing new.
TEST(InputFiles, BlankLinesAndExtraWordsAreAccepted) {
  SamplerCase c;
  c.write_data("tree.txt", "\n \t\n0 1 0.5 inner\n\n0 2 0.25\n1 3 1\n1 4 2\n\n");
  c.write_data("map_from_leave_label_to_seq_id.txt", "\r\n2 0\n\n3 1\n4 2\n3 1\n");
  c.write_data("data.txt", " \n1 1 1\n\n2 2 2\n3 3 3 4\n");
  const auto result = c.run({"-n", "0", "-k", "1"});
  EXPECT_EQ(result.exit_status, 0) << result.err;
}

// A runaway value is quoted by its first 40 characters and its length, not
// whole; the file and line are still named.
TEST(InputErrors, LongValuesAreCutInMessages) {
  const std::string digits(1000000, '7');
  const std::string cut = "\"" + digits.substr(0, 40) + "...\" (1000000 characters)";
  for (const auto& [file, text, message] : std::vector<std::tuple<std::string, std::string, std::string>>{
           {"data.txt", "1 1 1\n2 " + digits + " 2\n3 3 3\n", "data.txt line 2 column 2: value " + cut},
           {"tree.txt", "0 1 0.5\n0 2 " + digits + "\n1 3 1\n1 4 2\n", "tree.txt line 2: branch length " + cut},
           {"tree.txt", "0 1 0.5\n0 " + digits + " 1\n1 3 1\n1 4 2\n", "tree.txt line 2: child label " + cut},
           {"map_from_leave_label_to_seq_id.txt", "2 0\n3 " + digits + "\n4 2\n", "line 2 column 2: value " + cut},
       }) {
    SamplerCase c;
    c.write_data(file, text);
    const auto result = c.run({"-n", "0"});
    EXPECT_EQ(result.exit_status, 255) << file;
    EXPECT_NE(result.err.find(message), std::string::npos) << result.err.substr(0, 300);
    EXPECT_LT(result.err.size(), 400u) << file;
  }
  SamplerCase c;
  const std::string long_argument(100000, '9');
  const auto option = c.run({"-n", "x" + long_argument});
  EXPECT_EQ(option.exit_status, 255);
  EXPECT_EQ(option.err, "alnsampler: option -n needs a whole number, got \"x" + long_argument.substr(0, 39) +
                            "...\" (100001 characters)\n");
}

// Every input on which scripts/fuzz found a fault is kept in
// tests/fuzz_corpus/NAME/: the files that differ from the default case and
// the arguments ("args", one per line). Each must now end with a message and
// status -1 or 1, or complete with finite traces; never with a sanitizer report.
TEST(FuzzCorpus, EveryKeptInputEndsCleanly) {
  int replayed = 0;
  for (const auto& input : fs::directory_iterator(fs::path(ALNSAMPLER_SOURCE_DIR) / "tests" / "fuzz_corpus")) {
    SCOPED_TRACE(input.path().filename().string());
    SamplerCase c;
    c.copy_shipped_case("test_case_23_6sp");
    for (const auto& file : fs::directory_iterator(input.path())) {
      fs::copy_file(file.path(), c.data_dir() / file.path().filename(), fs::copy_options::overwrite_existing);
    }
    const auto result = c.run(read_lines(c.data_dir() / "args"));
    EXPECT_TRUE(result.exit_status == 0 || result.exit_status == 1 || result.exit_status == 255) << result.exit_status;
    EXPECT_TRUE(result.err.find("Sanitizer") == result.err.npos && result.err.find("runtime error") == result.err.npos)
        << result.err;
    EXPECT_TRUE(result.exit_status == 0 || !(result.err + result.out).empty()) << "a failure without a message";
    EXPECT_EQ(result.exit_status == 0 ? c.first_non_finite_word() : "", "");
    ++replayed;
  }
  EXPECT_GT(replayed, 0);
}

}  // namespace
