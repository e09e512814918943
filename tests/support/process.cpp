#include "support/process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

BackgroundProcess::BackgroundProcess(const std::string& program, const std::vector<std::string>& arguments,
                                     const std::filesystem::path& working_dir,
                                     const std::vector<std::pair<std::string, std::string>>& environment) {
  const std::string out_path = (_capture.path() / "out").string();
  const std::string err_path = (_capture.path() / "err").string();
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const auto& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  _pid = fork();
  if (_pid < 0) throw std::runtime_error("fork failed");
  if (_pid == 0) {
    const int out_fd = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int err_fd = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int in_fd = open("/dev/null", O_RDONLY);
    if (out_fd < 0 || err_fd < 0 || in_fd < 0 || chdir(working_dir.c_str()) != 0) _exit(127);
    dup2(out_fd, 1);
    dup2(err_fd, 2);
    dup2(in_fd, 0);
    for (const auto& [name, value] : environment) setenv(name.c_str(), value.c_str(), 1);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
}

BackgroundProcess::~BackgroundProcess() {
  if (_pid <= 0) return;
  kill(_pid, SIGKILL);
  waitpid(_pid, nullptr, 0);
}

void BackgroundProcess::send(int signal) const { kill(_pid, signal); }

ProcessResult BackgroundProcess::wait() {
  int status = 0;
  waitpid(_pid, &status, 0);
  _pid = -1;
  ProcessResult result;
  result.exit_status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  result.out = read_file(_capture.path() / "out");
  result.err = read_file(_capture.path() / "err");
  return result;
}

ProcessResult run_process(const std::string& program, const std::vector<std::string>& arguments,
                          const std::filesystem::path& working_dir) {
  return BackgroundProcess(program, arguments, working_dir).wait();
}

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "alnsampler-test-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  _path = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(_path, ignored);
}

std::string read_file(const std::filesystem::path& path) {
  std::ifstream stream(path, std::ios::binary);
  std::ostringstream text;
  text << stream.rdbuf();
  return text.str();
}

void write_file(const std::filesystem::path& path, const std::string& text) {
  std::filesystem::create_directories(path.parent_path());
  std::ofstream stream(path, std::ios::binary);
  stream << text;
}

std::vector<std::string> read_lines(const std::filesystem::path& path) {
  std::ifstream stream(path);
  std::vector<std::string> lines;
  std::string line;
  while (std::getline(stream, line)) lines.push_back(line);
  return lines;
}

std::string sampler_executable() { return ALNSAMPLER_EXECUTABLE; }
