#pragma once

#include <filesystem>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

// Result of running a command to completion.
struct ProcessResult {
  int exit_status = -1;  // 0..255, or -1 if the process did not exit normally
  std::string out;
  std::string err;
};

// Runs `program` with `arguments` (no shell involved in quoting: each
// argument is passed as is) in `working_dir`, capturing both streams.
ProcessResult run_process(const std::string& program, const std::vector<std::string>& arguments,
                          const std::filesystem::path& working_dir = std::filesystem::current_path());

// A fresh temporary folder, removed with everything in it on destruction.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return _path; }
  // path() as text with a trailing "/", as the sampler's -r option wants it.
  std::string dir() const { return _path.string() + "/"; }

 private:
  std::filesystem::path _path;
};

// A process started in the background as run_process starts it, with
// `environment` (NAME, value) added to the test's own environment.
class BackgroundProcess {
 public:
  BackgroundProcess(const std::string& program, const std::vector<std::string>& arguments,
                    const std::filesystem::path& working_dir,
                    const std::vector<std::pair<std::string, std::string>>& environment = {});
  ~BackgroundProcess();  // kills and reaps the process if wait() was not called
  BackgroundProcess(const BackgroundProcess&) = delete;
  BackgroundProcess& operator=(const BackgroundProcess&) = delete;
  int pid() const { return _pid; }
  void send(int signal) const;
  // Waits for the end; exit_status is -1 when a signal ended the process.
  ProcessResult wait();

 private:
  TempDir _capture;
  int _pid = -1;
};

std::string read_file(const std::filesystem::path& path);
void write_file(const std::filesystem::path& path, const std::string& text);
std::vector<std::string> read_lines(const std::filesystem::path& path);
// One row per line of the values that `>>` reads off it, up to the first word
// that is not a T (so a "#event_rate" line gives an empty row).
template <typename T>
std::vector<std::vector<T>> read_rows(const std::filesystem::path& path) {
  std::vector<std::vector<T>> rows;
  for (const auto& line : read_lines(path)) {
    std::istringstream fields(line);
    rows.emplace_back();
    for (T value{}; fields >> value;) rows.back().push_back(value);
  }
  return rows;
}

// Path of the alnsampler executable under test.
std::string sampler_executable();
