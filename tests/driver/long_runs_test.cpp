#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <random>
#include <thread>

#include "driver/checkpoint.h"
#include "driver/sampler_case.h"
#include "io/content_hash.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// A slow checkpoint writer, so that kills and signals often find one half
// written.
BackgroundProcess start(const SamplerCase& c, const std::vector<std::string>& arguments, const char* delay_ms = "5") {
  return BackgroundProcess(sampler_executable(), c.arguments(arguments), c.root(),
                           {{"ALNSAMPLER_TEST_CHECKPOINT_DELAY_MS", delay_ms}});
}

std::size_t lines_of(const std::string& path) { return fs::exists(path) ? read_lines(path).size() : 0; }

void wait_for_lines(const SamplerCase& c, std::size_t lines) {
  while (lines_of(c.file("_post_para.txt")) < lines) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

// SIGKILL at random moments of a run of the default case (its checkpoint
// writes slowed down), then at a random moment of the run that resumes it:
// the run that finally resumes (or starts again, when no checkpoint was
// written yet) leaves every file, checkpoint included, as one uninterrupted
// run does; every other round with the marginal rate moves, whose tuning
// state the checkpoint carries.
TEST(LongRuns, KilledAtAnyMomentResumesToTheSameFiles) {
  std::vector<std::vector<std::string>> arguments;
  std::vector<Files> expected;
  std::vector<long> run_time;
  for (const char* moves : {"0", "1"}) {
    arguments.push_back({"-n", "6", "--checkpoint-seconds", "0", "--marginal-rate-moves", moves});
    SamplerCase reference;
    reference.copy_shipped_case("test_case_23_6sp");
    const auto begin = Clock::now();
    ASSERT_EQ(start(reference, arguments.back()).wait().exit_status, 0);
    run_time.push_back(std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - begin).count());
    expected.push_back(reference.outputs(true));
  }

  std::mt19937 random(15);
  for (int round = 0; round < 10; ++round) {
    const int variant = round % 2;
    std::uniform_int_distribution<long> moment(0, run_time[variant]);
    const auto resuming = [&](const SamplerCase& c) {
      auto with_resume = arguments[variant];
      if (fs::exists(c.file("_checkpoint.bin"))) with_resume.push_back("--resume");
      return with_resume;
    };
    SamplerCase c;
    c.copy_shipped_case("test_case_23_6sp");
    std::string kills;
    for (int kill = 0; kill < 2; ++kill) {
      BackgroundProcess run = start(c, resuming(c));
      const std::chrono::microseconds delay(moment(random));
      std::this_thread::sleep_for(delay);
      run.send(SIGKILL);
      run.wait();
      kills.append(" ").append(std::to_string(delay.count())).append(" us");
    }
    const auto result = c.run(resuming(c));
    ASSERT_EQ(result.exit_status, 0) << result.err << " (killed after" << kills << ")";
    EXPECT_TRUE(c.outputs(true) == expected[variant]) << "killed after" << kills << ", variant " << variant;
  }
}

// Checkpoints follow start-up and then wait for the interval: a run killed
// after its third iteration resumes from start-up with the default interval
// and from its second iteration or later with an interval of 0. (The
// iteration is the eight-byte integer after the file's tag and version.)
TEST(LongRuns, CheckpointsKeepTheirInterval) {
  for (const auto& [seconds, least, most] : {std::tuple{"60", 0L, 0L}, std::tuple{"0", 2L, 50L}}) {
    SamplerCase c;
    BackgroundProcess run = start(c, {"-n", "50", "--checkpoint-seconds", seconds});
    wait_for_lines(c, 3);
    run.send(SIGKILL);
    run.wait();
    const std::string bytes = read_file(c.file("_checkpoint.bin"));
    long iteration = -1;
    if (bytes.size() >= 20) std::memcpy(&iteration, bytes.data() + 12, sizeof iteration);
    EXPECT_GE(iteration, least) << seconds;
    EXPECT_LE(iteration, most) << seconds;
  }
}

// A run extended with --resume writes what one run of the final length
// writes, whatever an interrupted run left after the checkpoint; thinned runs
// keep a line of every run file per iteration and per-iteration files only
// for multiples of --thin. The second run adds the marginal rate moves.
TEST(LongRuns, ExtendedRunEqualsOneLongerRun) {
  for (const auto& [thin, moves] : {std::pair<std::string, std::string>{"1", "0"}, {"3", "2"}}) {
    SamplerCase extended;
    SamplerCase whole;
    const std::vector<std::string> options{"--thin", thin, "--ancestors", "-k", "3", "--marginal-rate-moves", moves};
    const auto with = [&](std::vector<std::string> more) {
      more.insert(more.begin(), options.begin(), options.end());
      return more;
    };
    ASSERT_EQ(extended.run(with({"-n", "10"})).exit_status, 0);
    // What a run killed after its checkpoint leaves: longer run files and
    // files of later iterations, which resuming cuts back and removes; the
    // files of another seed stay.
    for (const char* suffix :
         {"_errors.txt", "_auxiliary_ouput.txt", "_post_para.txt", "_post_dist_k.txt", "_rate_state_transitions.txt"}) {
      write_file(extended.file(suffix), read_file(extended.file(suffix)) + "unfinished");
    }
    for (const char* stem : {"_from_tos_", "_deletions_", "_mutations_", "_beta_shapes_", "_theta_shapes_",
                             "_map_column_to_rate_state_", "_ancestors_"}) {
      write_file(extended.file(std::string(stem) + "25.txt"), "later");
    }
    write_file(extended.file("_from_tos_25.txt", "31"), "another seed");
    // A temporary checkpoint left by a kill is removed, whatever it is; a pipe must not be opened.
    EXPECT_TRUE(thin == "1" ? mkfifo(extended.file("_checkpoint.bin.tmp").c_str(), 0644) == 0
                            : fs::create_directory(extended.file("_checkpoint.bin.tmp")));
    const auto result = extended.run(with({"-n", "20", "--resume"}));
    ASSERT_EQ(result.exit_status, 0) << result.err;
    EXPECT_TRUE(fs::remove(extended.file("_from_tos_25.txt", "31")));
    ASSERT_EQ(whole.run(with({"-n", "20"})).exit_status, 0);
    EXPECT_TRUE(extended.outputs(true) == whole.outputs(true)) << "--thin " << thin;

    EXPECT_EQ(lines_of(whole.file("_post_para.txt")), 20u);
    EXPECT_EQ(read_lines(whole.file("_auxiliary_ouput.txt")).back() == "marginal_rate_moves:2", moves == "2");
    EXPECT_EQ(lines_of(whole.file("_rate_state_transitions.txt")), 60u);
    const int step = std::stoi(thin);
    for (int i = 1; i <= 21; ++i) {
      for (const char* stem : {"_from_tos_", "_deletions_", "_map_column_to_rate_state_", "_ancestors_"}) {
        const bool written = i <= 20 && i % step == 0;
        EXPECT_EQ(fs::exists(whole.file(stem + std::to_string(i) + ".txt")), written) << stem << i;
      }
    }
  }
}

// Every refusal to resume names its reason, ends with status 3 and leaves
// the folder exactly as it was.
TEST(LongRuns, RefusedResumeChangesNothing) {
  using Change = std::function<void(const SamplerCase&)>;
  const auto set_byte = [](std::size_t at, char value) -> Change {  // at 0: the middle byte
    return [=](const SamplerCase& c) {
      std::string bytes = read_file(c.file("_checkpoint.bin"));
      bytes[(at == 0 ? bytes.size() / 2 : at) % bytes.size()] = value;
      write_file(c.file("_checkpoint.bin"), bytes);
    };
  };
  const auto write = [](const char* name, std::string text) -> Change {
    return [=](const SamplerCase& c) { c.write_data(name, text); };
  };
  const auto resize = [](const char* suffix, std::uintmax_t size) -> Change {
    return [=](const SamplerCase& c) { fs::resize_file(c.file(suffix), size); };
  };
  const Change none = [](const SamplerCase&) {};
  const Change node_value_9 = [](const SamplerCase& c) {  // the last node's value, with a fitting checksum
    std::string bytes = read_file(c.file("_checkpoint.bin"));
    const std::size_t body = bytes.size() - sizeof(std::uint64_t);
    bytes[body - 4] = 9;
    const std::uint64_t checksum = content_hash(bytes.data(), body);
    std::memcpy(bytes.data() + body, &checksum, sizeof checksum);
    write_file(c.file("_checkpoint.bin"), bytes);
  };
  const auto replace_checkpoint = [](bool folder) -> Change {  // a pipe must be refused without opening it
    return [=](const SamplerCase& c) {
      fs::remove(c.file("_checkpoint.bin"));
      EXPECT_TRUE(folder ? fs::create_directory(c.file("_checkpoint.bin"))
                         : mkfifo(c.file("_checkpoint.bin").c_str(), 0644) == 0);
    };
  };
  const std::vector<std::tuple<Change, std::vector<std::string>, std::string>> refusals{
      {[](const SamplerCase& c) { fs::remove(c.file("_checkpoint.bin")); }, {}, "there is no checkpoint"},
      {set_byte(8, 9), {}, "has format version 9, and this alnsampler reads"},
      {set_byte(0, 'x'), {}, "is damaged"},
      {resize("_checkpoint.bin", 100), {}, "is damaged"},
      {resize("_checkpoint.bin", 4), {}, "is not a checkpoint"},
      {node_value_9, {}, "is damaged (it holds values that no run writes)"},
      {write("data.txt", std::string(SamplerCase::data_text) + "1 2 3\n"), {}, "the data file /"},
      {write("tree.txt", "0 1 0.5\n0 2 0.25\n1 3 1\n1 4 2.5\n"), {}, "the tree file"},
      {write("map_from_leave_label_to_seq_id.txt", "2 0\n3 2\n4 1\n"), {}, "the leaf map"},
      {none, {"-k", "3"}, "started with -k 4, not 3"},
      {write("other.txt", SamplerCase::data_text), {"-d", "other.txt"}, "started with -d data.txt, not other.txt"},
      {none, {"--thin", "2"}, "started with --thin 1, not 2"},
      {none, {"--ancestors"}, "started without --ancestors, not with it"},
      {[](const SamplerCase& c) {
         ASSERT_EQ(c.run({"-n", "4", "--ancestors"}).exit_status, 0);
       },
       {},
       "started with --ancestors, not without it"},
      {replace_checkpoint(true), {}, "_checkpoint.bin is not a regular file"},
      {replace_checkpoint(false), {}, "_checkpoint.bin is not a regular file"},
      {none, {"--marginal-rate-moves", "1"}, "started with --marginal-rate-moves 0, not 1"},
      {none, {"-s", "4"}, "no checkpoint"},
      {none, {"-n", "3"}, "-n 3 is below the 4 iterations"},
      {resize("_post_dist_k.txt", 10), {}, "_post_dist_k.txt is shorter than the checkpoint"},
      {[](const SamplerCase& c) { fs::remove(c.file("_errors.txt")); }, {}, "_errors.txt is missing"},
  };
  for (const auto& [change, extra, message] : refusals) {
    SamplerCase c;
    ASSERT_EQ(c.run({"-n", "4"}).exit_status, 0);
    change(c);
    const Files before = c.outputs(true, true);
    std::vector<std::string> arguments{"-n", "6", "--resume"};
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    const auto result = c.run(arguments);
    EXPECT_EQ(result.exit_status, resume_refused_status) << message;
    EXPECT_EQ(result.err.rfind("alnsampler: cannot resume: ", 0), 0u) << result.err;
    EXPECT_NE(result.err.find(message), std::string::npos) << result.err;
    EXPECT_TRUE(c.outputs(true, true) == before) << message;
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
    BackgroundProcess run = start(c, arguments, "20");
    wait_for_lines(c, 2);
    run.send(signal);
    const auto stopped = run.wait();
    EXPECT_EQ(stopped.exit_status, status) << stopped.err;
    EXPECT_NE(stopped.err.find(std::string("stopped by ") + name + " after iteration "), std::string::npos);
    const std::size_t done = lines_of(c.file("_post_para.txt"));
    EXPECT_LT(done, 12u);

    const std::string last_line = stopped.err.substr(stopped.err.rfind('\n', stopped.err.size() - 2) + 1);
    std::vector<std::string> command;
    std::istringstream words(last_line);
    for (std::string word; words >> word;) command.push_back(word);
    ASSERT_EQ(command.front(), sampler_executable());
    EXPECT_EQ(command.back(), "--resume");
    const auto resumed = run_process(command.front(), {command.begin() + 1, command.end()}, c.root());
    EXPECT_EQ(resumed.exit_status, 0) << resumed.err;
    EXPECT_TRUE(c.outputs(true) == whole.outputs(true)) << name << " after " << done << " iterations";
  }
}

// A second run of the same seed into the same folder is refused, naming the
// first, which completes unharmed and leaves no lock.
TEST(LongRuns, SecondRunOfTheSameSeedIsRefused) {
  const std::vector<std::string> arguments{"-n", "12", "--checkpoint-seconds", "0"};
  SamplerCase whole;
  ASSERT_EQ(whole.run(arguments).exit_status, 0);
  SamplerCase c;
  BackgroundProcess first = start(c, arguments, "20");
  const std::string lock = c.file("_run.lock");
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
  EXPECT_TRUE(c.outputs(true, true) == whole.outputs(true));
}

// A run stopped by a full disk (here a limit on the size of a file: the
// first checkpoint, or later a run file, cannot be written) ends with status 1
// and a message, and leaves neither its lock nor a temporary checkpoint.
TEST(LongRuns, AFullDiskLeavesNoLockAndNoTemporaryFile) {
  for (const auto& [blocks, message] :
       {std::pair{"1", "cannot write checkpoint "}, std::pair{"16", "cannot write output file "}}) {
    SamplerCase c;
    const auto result =
        run_process("/bin/sh", {"-c", std::string("trap '' XFSZ; ulimit -f ") + blocks + "; exec \"$0\" \"$@\"",
                                sampler_executable(), "-r", c.root(), "-t", "case/", "-n", "400"});
    EXPECT_EQ(result.exit_status, 1) << result.err;
    EXPECT_NE(result.err.find(message), std::string::npos) << result.err;
    for (const auto& [name, text] : c.outputs(true, true)) {
      EXPECT_FALSE(name.ends_with("_run.lock") || name.ends_with(".tmp")) << name << " after: " << result.err;
    }
  }
}

}  // namespace
