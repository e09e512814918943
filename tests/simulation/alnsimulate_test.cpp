#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <utility>

#include "support/process.h"

namespace {

namespace fs = std::filesystem;

// A root folder holding a tree folder, a parameter folder (two segments, two
// rate states) and the data/ and results/ folders the sampler expects.
class SimulationFolders {
 public:
  SimulationFolders() {
    write_file(tree() / "tree.txt", "0 1 0.5\n0 2 0.25\n1 3 1\n1 4 2\n");
    write_file(tree() / "map_from_leave_label_to_seq_id.txt", "2 0\n3 1\n4 2\n");
    for (const auto& [name, text] : std::vector<std::pair<const char*, const char*>>{
             {"from_tos.txt", "0 59\n60 119\n"}, {"gammas.txt", "0.05 0.1\n"}, {"etas.txt", "0.5 0.5\n"},
             {"betas.txt", "0.7 0.1 0.1 0.1\n0.1 0.7 0.1 0.1\n0.1 0.1 0.7 0.1\n0.1 0.1 0.1 0.7\n"
                           "0.1 0.7 0.1 0.1\n0.1 0.1 0.7 0.1\n0.1 0.1 0.1 0.7\n0.7 0.1 0.1 0.1\n"},
             {"thetas.txt", "0.4 0.3 0.2 0.1\n0.1 0.2 0.3 0.4\n"}, {"deletion_rates.txt", "0.1 1\n"},
             {"insertion_rates.txt", "0 0\n"}, {"mutation_rates.txt", "0.2 3\n"},
             {"initial_rate_state_probs.txt", "0.5 0.5\n"}, {"rate_state_transitions.txt", "0.9 0.1\n0.2 0.8\n"}}) {
      write_parameter(name, text);
    }
  }

  fs::path tree() const { return _root.path() / "tree"; }
  fs::path parameters() const { return _root.path() / "parameters"; }
  fs::path output() const { return _root.path() / "data" / "case"; }
  fs::path truth(const std::string& name) const { return output() / "truth" / name; }
  std::string root() const { return _root.dir(); }

  // A null text removes the file.
  void write_parameter(const std::string& name, const char* text) const {
    if (text == nullptr) {
      fs::remove(parameters() / name);
    } else {
      write_file(parameters() / name, text);
    }
  }

  ProcessResult simulate(const std::vector<std::string>& extra = {}) const {
    std::vector<std::string> arguments{"-p", parameters().string(), "-T", tree().string(), "-o", output().string()};
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    return run_process(ALNSIMULATE_EXECUTABLE, arguments);
  }

 private:
  TempDir _root;
};

TEST(Alnsimulate, WritesATestCaseThatTheSamplerReadsAsIs) {
  SimulationFolders folders;
  folders.write_parameter("absent.txt", "1 10 19\n0 30 32\n");
  const ProcessResult result = folders.simulate();
  ASSERT_EQ(result.exit_status, 0) << result.err;
  EXPECT_EQ(result.err, "");

  const auto data = read_rows<int>(folders.output() / "data.txt");
  const auto leaves = read_rows<int>(folders.truth("leaves.txt"));
  ASSERT_EQ(data.size(), 120u);
  ASSERT_EQ(leaves.size(), 120u);
  std::vector<std::string> modelled, modelled_states;
  const auto states = read_lines(folders.truth("rate_states.txt"));
  ASSERT_EQ(states.size(), 120u);
  for (std::size_t c = 0; c < data.size(); ++c) {
    ASSERT_EQ(data[c].size(), 3u);
    for (std::size_t k = 0; k < 3; ++k) {
      const bool absent = (k == 1 && c >= 10 && c <= 19) || (k == 0 && c >= 30 && c <= 32);
      EXPECT_EQ(data[c][k], absent ? 5 : leaves[c][k]) << "column " << c << " sequence " << k;
      EXPECT_LE(leaves[c][k], 4);
    }
    if (data[c][0] < 1 || data[c][0] > 4) continue;
    modelled.push_back(std::to_string(c));
    modelled_states.push_back(states[c]);
  }
  EXPECT_LT(modelled.size(), 117u);
  EXPECT_EQ(read_lines(folders.truth("modelled_columns.txt")), modelled);
  EXPECT_EQ(read_lines(folders.truth("modelled_rate_states.txt")), modelled_states);
  const auto segments = read_rows<int>(folders.truth("modelled_from_tos.txt"));
  ASSERT_EQ(segments.size(), 2u);
  EXPECT_EQ(segments[0][0], 0);
  EXPECT_EQ(segments[1][1], static_cast<int>(modelled.size()) - 1);

  EXPECT_TRUE(fs::is_directory(fs::path(folders.root()) / "results" / "case"));
  const ProcessResult sampler = run_process(sampler_executable(), {"-r", folders.root(), "-t", "case/", "-n", "1"});
  EXPECT_EQ(sampler.exit_status, 0) << sampler.err;
}

// A folder that holds a case is replaced only with --force: a refusal changes
// nothing; a replacement drops the old case's look-up tables and warns about
// its runs.
TEST(Alnsimulate, ReplacesAnExistingCaseOnlyWithForce) {
  struct Trial {
    const char* existing;  // entry of the output folder before the run ("" none, "name/" a folder)
    bool force;
    const char* message;  // a part of standard error
  };
  const std::vector<Trial> trials{
      {"", false, ""},
      {"data.txt", false, "case/ already holds a test case (data.txt); give --force to replace it; see alnsimulate"},
      {"truth/", false, "already holds a test case (truth/); give --force"},
      {"tree.txt", true, "results/case/ holds runs of the case this one replaces"}};
  for (const Trial& trial : trials) {
    SCOPED_TRACE(trial.existing);
    SimulationFolders folders;
    const std::string existing = trial.existing;
    const fs::path lookup = folders.output() / "columns.tsv";
    write_file(lookup, "old\n");
    write_file(fs::path(folders.root()) / "results" / "case" / "3_post_para.txt", "-1\n");
    if (existing.ends_with('/')) fs::create_directories(folders.output() / existing);
    if (!existing.empty() && !existing.ends_with('/')) write_file(folders.output() / existing, "old\n");
    const ProcessResult result = folders.simulate(trial.force ? std::vector<std::string>{"--force"}
                                                              : std::vector<std::string>{});
    const bool refused = !existing.empty() && !trial.force;
    EXPECT_EQ(result.exit_status, refused ? 255 : 0) << result.err;
    EXPECT_NE(result.err.find(trial.message), std::string::npos) << result.err;
    EXPECT_EQ(fs::exists(folders.output() / "truth" / "leaves.txt"), !refused);
    EXPECT_EQ(fs::exists(lookup), !trial.force);
    EXPECT_EQ(result.out.find("alnsimulate: removed columns.tsv of the replaced case") == 0, trial.force) << result.out;
  }
}

TEST(Alnsimulate, ColumnsReplaceAMissingSegmentationByOneSegment) {
  SimulationFolders folders;
  folders.write_parameter("from_tos.txt", nullptr);
  folders.write_parameter("gammas.txt", "0\n");
  folders.write_parameter("etas.txt", "1\n");
  folders.write_parameter("betas.txt", "1 0 0 0\n0 1 0 0\n0 0 1 0\n0 0 0 1\n\n");
  folders.write_parameter("thetas.txt", "0.25 0.25 0.25 0.25\n");
  const ProcessResult result = folders.simulate({"--columns", "30"});
  ASSERT_EQ(result.exit_status, 0) << result.err;
  EXPECT_EQ(read_lines(folders.output() / "data.txt").size(), 30u);
  EXPECT_EQ(read_lines(folders.truth("parameters.txt"))[1], "0 29");
}

// Every fault in the inputs ends with status -1 and a message, before any
// file of the case is written.
TEST(Alnsimulate, RejectsInconsistentInputBeforeSimulating) {
  struct Rejected {
    const char* file;  // parameter file to change, or "" for none
    const char* text;  // its new text; null removes it
    std::vector<std::string> arguments;
    const char* message;  // a part of standard error; "alnsimulate:" ones start it
  };
  const std::vector<Rejected> cases{
      {"gammas.txt", nullptr, {}, "parameters/: missing parameter file(s) gammas.txt; see alnsimulate --help"},
      {"from_tos.txt", nullptr, {},
       "missing parameter file(s) from_tos.txt (from_tos.txt may be replaced by --columns)"},
      {"gammas.txt", "0.05\n0.1\n", {},
       "gammas.txt: line 1 holds 1 values for 2 segment(s); give one per segment, all on the first line"},
      {"betas.txt", "1 0 0 0\n0 1 0 0\n", {}, "betas.txt: holds 2 rows; 2 segment(s) need 8"},
      {"thetas.txt", "0.4 0.3 0.2 0.1\n", {}, "thetas.txt: holds 1 rows for 2 segment(s)"},
      {"thetas.txt", "0.4 0.3 0.2 0.1\n0.1 0.2 0.3 0.3\n", {},
       "thetas.txt: line 2 (segment 1): values sum to 0.9, expected 1"},
      {"betas.txt", "1 0 0 0\n0 1 0 0\n0 0 1 0\n0 0 0 1\n1 0 0 0\n0 1 0 0\n0 0 1 0\n0 0 0 2\n", {},
       "betas.txt: line 8 (segment 1, after root value 4): values sum to 2, expected 1"},
      {"rate_state_transitions.txt", "0.9 0.2\n0.2 0.8\n", {},
       "rate_state_transitions.txt: line 1 (after rate state 0): values sum to 1.1, expected 1"},
      {"gammas.txt", "0.05 1.5\n", {}, "gammas.txt: line 1: value 1.5 of segment 1 is not a probability in [0, 1]"},
      {"insertion_rates.txt", "0 0.1\n", {},
       "insertion_rates.txt: rate state 1 has insertion rate 0.1; the generator cannot simulate insertions"},
      {"mutation_rates.txt", "0.2 3 9\n", {}, "mutation_rates.txt: line 1 holds 3 rates for 2 rate state(s)"},
      {"deletion_rates.txt", "0.1 -1\n", {}, "deletion_rates.txt: rate -1 of rate state 1 is not a finite number >= 0"},
      {"from_tos.txt", "0 59\n61 119\n", {}, "from_tos.txt: line 2: segment starts at column 61, expected 60"},
      {"", "", {"-c", "100"}, "from_tos.txt: the segments cover 120 columns but --columns asks for 100"},
      {"first_root_weights.txt", "0.5 0.5\n", {},
       "first_root_weights.txt: line 1 (one weight per first-root value) holds 2 values, expected 4"},
      {"absent.txt", "3 0 4\n", {}, "absent.txt: line 1: sequence id 3 is not 0..2"},
      {"absent.txt", "0 0 4\n1 100 120\n", {},
       "absent.txt: line 2: columns 100..120 are not an ordered stretch within 0..119"},
      {"", "", {"-x", "1"}, "alnsimulate: unknown argument \"-x\"; see alnsimulate --help\n"},
      {"", "", {"-s", "abc"}, "alnsimulate: option -s needs a whole number from 0 to 4294967295, got \"abc\""},
      {"", "", {"-c"}, "alnsimulate: option -c needs a value"},
  };
  for (const auto& rejected : cases) {
    SCOPED_TRACE(rejected.message);
    SimulationFolders folders;
    if (*rejected.file != '\0') folders.write_parameter(rejected.file, rejected.text);
    const ProcessResult result = folders.simulate(rejected.arguments);
    EXPECT_EQ(result.exit_status, 255);
    const std::string message = rejected.message;
    if (message.rfind("alnsimulate:", 0) == 0) {
      EXPECT_EQ(result.err.rfind(message, 0), 0u) << result.err;
    } else {
      EXPECT_NE(result.err.find(message), std::string::npos) << result.err;
    }
    EXPECT_FALSE(fs::exists(folders.output() / "data.txt"));
  }
  const ProcessResult no_output = run_process(ALNSIMULATE_EXECUTABLE, {"-p", "p", "-T", "t"});
  EXPECT_EQ(no_output.exit_status, 255);
  EXPECT_EQ(no_output.err, "alnsimulate: the output folder (-o) is missing; see alnsimulate --help\n");
}

// The shipped default case, truth included, is exactly what its parameter
// folder and seed give: a change of the generator (or of its draw order, or
// of a file's format) shows up here and asks for the case, and the sampler's
// golden traces, to be regenerated. It regenerates a copy in place, as the
// parameter folder's README does.
TEST(DefaultCase, IsReproducibleFromItsParameterFolder) {
  const fs::path source = fs::path(ALNSAMPLER_SOURCE_DIR) / "data";
  const fs::path shipped = source / "test_case_23_6sp";
  const auto record = read_lines(shipped / "truth" / "parameters.txt");
  ASSERT_GE(record.size(), 2u);
  ASSERT_EQ(record[record.size() - 2], "seed:");
  TempDir dir;
  const fs::path copy = dir.path() / "data" / "test_case_23_6sp";
  fs::create_directories(copy.parent_path());
  fs::copy(shipped, copy, fs::copy_options::recursive);
  fs::remove(copy / "data.txt");
  const ProcessResult result =
      run_process(ALNSIMULATE_EXECUTABLE, {"-p", (source / "simulation" / "test_case_23_6sp").string(), "-T",
                                           copy.string(), "-o", copy.string(), "-s", record.back(), "--force"});
  ASSERT_EQ(result.exit_status, 0) << result.err;
  for (const auto& entry : fs::recursive_directory_iterator(shipped)) {
    if (!entry.is_regular_file()) continue;
    const fs::path name = fs::relative(entry.path(), shipped);
    EXPECT_EQ(read_file(copy / name), read_file(entry.path())) << name;
  }
}

}  // namespace
