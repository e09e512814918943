#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <map>
#include <random>
#include <thread>

#include "driver/sampler_case.h"

namespace {

namespace fs = std::filesystem;
using Files = std::map<std::string, std::string>;
using Clock = std::chrono::steady_clock;

// Every file of the results folder but the lock (which holds a process id),
// the checkpoint included.
Files outputs(const SamplerCase& c) {
  Files files;
  for (const auto& entry : fs::directory_iterator(c.results_dir())) {
    const std::string name = entry.path().filename().string();
    if (name != "3_run.lock") files[name] = read_file(entry.path());
  }
  return files;
}

// The whole folder, lock included: what a refused run must leave alone.
Files snapshot(const SamplerCase& c) {
  Files files = outputs(c);
  if (fs::exists(c.result_prefix() + "_run.lock")) files["3_run.lock"] = read_file(c.result_prefix() + "_run.lock");
  return files;
}

void use_default_case(const SamplerCase& c) {
  for (const auto& entry : fs::directory_iterator(fs::path(ALNSAMPLER_SOURCE_DIR) / "data" / "test_case_23_6sp")) {
    if (entry.is_regular_file())
      fs::copy_file(entry.path(), c.data_dir() / entry.path().filename(), fs::copy_options::overwrite_existing);
  }
}

std::vector<std::string> with_case(const SamplerCase& c, std::vector<std::string> arguments) {
  arguments.insert(arguments.begin(), {"-r", c.root(), "-t", "case/"});
  return arguments;
}

// A slow checkpoint writer, so that kills and signals often find one half
// written.
const std::vector<std::pair<std::string, std::string>> slow_checkpoints{{"ALNSAMPLER_TEST_CHECKPOINT_DELAY_MS", "5"}};

std::string last_line(const std::string& text) {
  const std::size_t end = text.find_last_not_of('\n');
  if (end == std::string::npos) return "";
  const std::size_t start = text.rfind('\n', end);
  return text.substr(start == std::string::npos ? 0 : start + 1,
                     end + 1 - (start == std::string::npos ? 0 : start + 1));
}

std::size_t lines_of(const std::string& path) { return fs::exists(path) ? read_lines(path).size() : 0; }

// SIGKILL at random moments of a run of the default case (its checkpoint
// writes slowed down), then at a random moment of the run that resumes it:
// the run that finally resumes (or starts again, when no checkpoint was
// written yet) leaves every file as one uninterrupted run does.
TEST(LongRuns, KilledAtAnyMomentResumesToTheSameFiles) {
  const std::vector<std::string> arguments{"-n", "6", "--checkpoint-seconds", "0"};
  SamplerCase reference;
  use_default_case(reference);
  const auto start = Clock::now();
  ASSERT_EQ(BackgroundProcess(sampler_executable(), with_case(reference, arguments), reference.root(), slow_checkpoints)
                .wait()
                .exit_status,
            0);
  const auto run_time = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start);
  const Files expected = outputs(reference);

  std::mt19937 random(15);
  std::uniform_int_distribution<long> moment(0, run_time.count());
  for (int round = 0; round < 10; ++round) {
    SamplerCase c;
    use_default_case(c);
    std::string kills;
    for (int kill = 0; kill < 2; ++kill) {
      auto run_arguments = arguments;
      if (fs::exists(c.result_prefix() + "_checkpoint.bin")) run_arguments.push_back("--resume");
      BackgroundProcess run(sampler_executable(), with_case(c, run_arguments), c.root(), slow_checkpoints);
      const std::chrono::microseconds delay(moment(random));
      std::this_thread::sleep_for(delay);
      run.send(SIGKILL);
      run.wait();
      kills += ' ';
      kills += std::to_string(delay.count()) + " us";
    }
    auto run_arguments = arguments;
    if (fs::exists(c.result_prefix() + "_checkpoint.bin")) run_arguments.push_back("--resume");
    const auto result = c.run(run_arguments);
    ASSERT_EQ(result.exit_status, 0) << result.err << " (killed after" << kills << ")";
    EXPECT_TRUE(outputs(c) == expected) << "killed after" << kills;
  }
}

// The iteration a checkpoint was taken after: the eight-byte integer that
// follows the file's tag and format version.
long checkpoint_iteration(const SamplerCase& c) {
  const std::string bytes = read_file(c.result_prefix() + "_checkpoint.bin");
  long iteration = -1;
  if (bytes.size() >= 20) std::memcpy(&iteration, bytes.data() + 12, sizeof iteration);
  return iteration;
}

// Checkpoints follow start-up and then wait for the interval: a run killed
// after its third iteration resumes from start-up with the default interval
// and from its second iteration or later with an interval of 0.
TEST(LongRuns, CheckpointsKeepTheirInterval) {
  for (const auto& [seconds, least, most] : {std::tuple{"60", 0L, 0L}, std::tuple{"0", 2L, 50L}}) {
    SamplerCase c;
    BackgroundProcess run(sampler_executable(), with_case(c, {"-n", "50", "--checkpoint-seconds", seconds}), c.root(),
                          slow_checkpoints);
    while (lines_of(c.result_prefix() + "_post_para.txt") < 3)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    run.send(SIGKILL);
    run.wait();
    EXPECT_GE(checkpoint_iteration(c), least) << seconds;
    EXPECT_LE(checkpoint_iteration(c), most) << seconds;
  }
}

// A run extended with --resume writes what one run of the final length
// writes, whatever an interrupted run left after the checkpoint; thinned runs keep a line of every run file per
// iteration and per-iteration files only for multiples of --thin.
TEST(LongRuns, ExtendedRunEqualsOneLongerRun) {
  for (const std::string thin : {"1", "3"}) {
    SamplerCase extended;
    SamplerCase whole;
    const std::vector<std::string> shaping{"--thin", thin, "--ancestors", "-k", "3"};
    auto first = shaping;
    first.insert(first.end(), {"-n", "10"});
    auto second = shaping;
    second.insert(second.end(), {"-n", "20", "--resume"});
    auto both = shaping;
    both.insert(both.end(), {"-n", "20"});
    ASSERT_EQ(extended.run(first).exit_status, 0);
    // What a run killed after its checkpoint leaves: longer run files and
    // files of later iterations, which resuming cuts back and removes; the
    // files of another seed stay.
    for (const char* suffix :
         {"_errors.txt", "_auxiliary_ouput.txt", "_post_para.txt", "_post_dist_k.txt", "_rate_state_transitions.txt"}) {
      write_file(extended.result_prefix() + suffix, read_file(extended.result_prefix() + suffix) + "unfinished");
    }
    for (const char* stem : {"_from_tos_", "_deletions_", "_mutations_", "_beta_shapes_", "_theta_shapes_",
                             "_map_column_to_rate_state_", "_ancestors_"}) {
      write_file(extended.result_prefix() + stem + "25.txt", "later");
    }
    write_file(extended.result_prefix("31") + "_from_tos_25.txt", "another seed");
    const auto result = extended.run(second);
    ASSERT_EQ(result.exit_status, 0) << result.err;
    EXPECT_TRUE(fs::remove(extended.result_prefix("31") + "_from_tos_25.txt"));
    ASSERT_EQ(whole.run(both).exit_status, 0);
    EXPECT_TRUE(outputs(extended) == outputs(whole)) << "--thin " << thin;

    EXPECT_EQ(lines_of(whole.result_prefix() + "_post_para.txt"), 20u);
    EXPECT_EQ(lines_of(whole.result_prefix() + "_rate_state_transitions.txt"), 60u);
    const int step = std::stoi(thin);
    for (int i = 1; i <= 21; ++i) {
      for (const char* stem : {"_from_tos_", "_deletions_", "_map_column_to_rate_state_", "_ancestors_"}) {
        const bool written = i <= 20 && i % step == 0;
        EXPECT_EQ(fs::exists(whole.result_prefix() + stem + std::to_string(i) + ".txt"), written) << stem << i;
      }
    }
  }
}

// Every refusal to resume names its reason, ends with status 255 and leaves
// the folder exactly as it was.
TEST(LongRuns, RefusedResumeChangesNothing) {
  struct Refusal {
    std::function<void(const SamplerCase&)> change;
    std::vector<std::string> arguments;
    std::string message;
  };
  const auto checkpoint = [](const SamplerCase& c) { return c.result_prefix() + "_checkpoint.bin"; };
  const auto set_byte = [&](const SamplerCase& c, std::size_t offset_from_start, char value) {
    std::string bytes = read_file(checkpoint(c));
    bytes[offset_from_start % bytes.size()] = value;
    write_file(checkpoint(c), bytes);
  };
  const std::vector<Refusal> refusals{
      {[&](const SamplerCase& c) { fs::remove(checkpoint(c)); }, {}, "there is no checkpoint"},
      {[&](const SamplerCase& c) { set_byte(c, 8, 9); }, {}, "has format version 9, and this alnsampler reads"},
      {[&](const SamplerCase& c) { set_byte(c, read_file(checkpoint(c)).size() / 2, 'x'); }, {}, "is damaged"},
      {[&](const SamplerCase& c) { fs::resize_file(checkpoint(c), 100); }, {}, "is damaged"},
      {[&](const SamplerCase& c) { fs::resize_file(checkpoint(c), 4); }, {}, "is not a checkpoint"},
      {[](const SamplerCase& c) { c.write_data("data.txt", std::string(SamplerCase::data_text) + "1 2 3\n"); },
       {},
       "the data file /"},
      {[](const SamplerCase& c) { c.write_data("tree.txt", "0 1 0.5\n0 2 0.25\n1 3 1\n1 4 2.5\n"); },
       {},
       "the tree file"},
      {[](const SamplerCase& c) { c.write_data("map_from_leave_label_to_seq_id.txt", "2 0\n3 2\n4 1\n"); },
       {},
       "the leaf map"},
      {[](const SamplerCase&) {}, {"-k", "3"}, "started with -k 4, not 3"},
      {[](const SamplerCase& c) { c.write_data("other.txt", SamplerCase::data_text); },
       {"-d", "other.txt"},
       "started with -d data.txt, not other.txt"},
      {[](const SamplerCase&) {}, {"--thin", "2"}, "started with --thin 1, not 2"},
      {[](const SamplerCase&) {}, {"-s", "4"}, "no checkpoint"},
      {[](const SamplerCase&) {}, {"-n", "3"}, "-n 3 is below the 4 iterations"},
      {[](const SamplerCase& c) { fs::resize_file(c.result_prefix() + "_post_dist_k.txt", 10); },
       {},
       "_post_dist_k.txt is shorter than the checkpoint"},
      {[](const SamplerCase& c) { fs::remove(c.result_prefix() + "_errors.txt"); }, {}, "_errors.txt is missing"},
  };
  for (const auto& refusal : refusals) {
    SamplerCase c;
    ASSERT_EQ(c.run({"-n", "4"}).exit_status, 0);
    refusal.change(c);
    const Files before = snapshot(c);
    std::vector<std::string> arguments{"-n", "6", "--resume"};
    arguments.insert(arguments.end(), refusal.arguments.begin(), refusal.arguments.end());
    const auto result = c.run(arguments);
    const std::string& message = refusal.message;
    EXPECT_EQ(result.exit_status, 255) << message;
    EXPECT_EQ(result.err.rfind("alnsampler: cannot resume: ", 0), 0u) << result.err;
    EXPECT_NE(result.err.find(message), std::string::npos) << result.err;
    EXPECT_TRUE(snapshot(c) == before) << message;
  }
}

// SIGINT and SIGTERM stop the run after the iteration in progress, with a
// checkpoint and the command that continues it, which completes the run as
// if it had never stopped.
TEST(LongRuns, StopSignalLeavesAResumableRun) {
  const std::vector<std::string> arguments{"-n", "12", "--checkpoint-seconds", "0"};
  SamplerCase whole;
  ASSERT_EQ(whole.run(arguments).exit_status, 0);
  for (const auto& [signal, status, name] : {std::tuple{SIGINT, 130, "SIGINT"}, std::tuple{SIGTERM, 143, "SIGTERM"}}) {
    SamplerCase c;
    BackgroundProcess run(sampler_executable(), with_case(c, arguments), c.root(),
                          {{"ALNSAMPLER_TEST_CHECKPOINT_DELAY_MS", "20"}});
    while (lines_of(c.result_prefix() + "_post_para.txt") < 2)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    run.send(signal);
    const auto stopped = run.wait();
    EXPECT_EQ(stopped.exit_status, status) << stopped.err;
    EXPECT_NE(stopped.err.find(std::string("stopped by ") + name + " after iteration "), std::string::npos);
    const std::size_t done = lines_of(c.result_prefix() + "_post_para.txt");
    EXPECT_LT(done, 12u);

    std::vector<std::string> command;
    std::istringstream words(last_line(stopped.err));
    for (std::string word; words >> word;) command.push_back(word);
    ASSERT_EQ(command.front(), sampler_executable());
    EXPECT_EQ(command.back(), "--resume");
    const auto resumed = run_process(command.front(), {command.begin() + 1, command.end()}, c.root());
    EXPECT_EQ(resumed.exit_status, 0) << resumed.err;
    EXPECT_TRUE(outputs(c) == outputs(whole)) << name << " after " << done << " iterations";
  }
}

// A second run of the same seed into the same folder is refused, naming the
// first, which completes unharmed.
TEST(LongRuns, SecondRunOfTheSameSeedIsRefused) {
  const std::vector<std::string> arguments{"-n", "12", "--checkpoint-seconds", "0"};
  SamplerCase whole;
  ASSERT_EQ(whole.run(arguments).exit_status, 0);
  SamplerCase c;
  BackgroundProcess first(sampler_executable(), with_case(c, arguments), c.root(),
                          {{"ALNSAMPLER_TEST_CHECKPOINT_DELAY_MS", "20"}});
  const std::string lock = c.result_prefix() + "_run.lock";
  const std::string pid = std::to_string(first.pid()) + "\n";
  while (!fs::exists(lock) || read_file(lock) != pid) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  for (const std::string extra : {"", "--resume"}) {
    auto second_arguments = arguments;
    if (!extra.empty()) second_arguments.push_back(extra);
    const auto second = c.run(second_arguments);
    EXPECT_EQ(second.exit_status, 255) << extra;
    EXPECT_NE(second.err.find("another run (process " + std::to_string(first.pid()) + ")"), std::string::npos)
        << second.err;
  }
  EXPECT_EQ(first.wait().exit_status, 0);
  EXPECT_TRUE(outputs(c) == outputs(whole));
  EXPECT_FALSE(fs::exists(lock)) << "a run that ended normally leaves no lock file";
}

}  // namespace
