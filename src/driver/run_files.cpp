#include "driver/run_files.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <optional>
#include <vector>

#include "driver/guidance.h"
#include "io/errors.h"
#include "io/output_files.h"
#include "io/string_conversion.h"

namespace fs = std::filesystem;

namespace {

void open_to_append(const std::string& path, std::ofstream& stream, std::ostream* report) {
  stream.open(path, std::ios::out | std::ios::app);
  if (stream.is_open()) return;
  *report << "The program cannot open output file " << path << "\n";
  report->flush();
  throw OutputError("", path);
}

// A run file that is not a regular file (a link to a device, say) has no
// length to record and cannot be flushed; it is left as it is.
bool is_regular(const std::string& path) { return fs::is_regular_file(path); }

void sync_to_disk(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0 || ::fsync(fd) != 0) {
    const std::string reason = std::strerror(errno);
    if (fd >= 0) ::close(fd);
    throw OutputError("cannot write output file " + path + ": " + reason + "\n", path);
  }
  ::close(fd);
}

// The iteration number of `name` if it is the name of a per-iteration file of
// the run whose file names begin with `seed_name` (seed text, or the test case
// glued to it).
std::optional<long> iteration_of(const std::string& name, const std::string& seed_name) {
  for (const OutputFile& track : iteration_tracks) {
    const std::string start = seed_name + track.part;
    if (name.size() <= start.size() + 4 || name.compare(0, start.size(), start) != 0) continue;
    if (name.compare(name.size() - 4, 4, ".txt") != 0) continue;
    const std::string digits = name.substr(start.size(), name.size() - start.size() - 4);
    if (digits.find_first_not_of("0123456789") != std::string::npos) continue;
    return parse_exact<long>(digits);
  }
  return std::nullopt;
}

}  // namespace

std::string RunFiles::iteration_path(Track track, long iteration) const {
  return prefix + iteration_track(track).part + to_string(iteration) + ".txt";
}

void RunFiles::open(const std::string& results_dir, const std::string& seed_text) {
  prefix = results_dir + seed_text;
  try {
    std::ostream* report = &std::cout;
    for (std::size_t i = 0; i < run_file_count; ++i) {
      open_output_file(prefix + run_files[i].part, _streams[i], report);
      report = &(*this)[RunFile::errors];
    }
  } catch (Error& error) {
    error.add_hint(results_folder_guidance(results_dir));
    throw;
  }
}

void RunFiles::open_to_continue(const std::string& results_dir, const std::string& seed_text) {
  prefix = results_dir + seed_text;
  std::ostream* report = &std::cout;
  for (std::size_t i = 0; i < run_file_count; ++i) {
    open_to_append(prefix + run_files[i].part, _streams[i], report);
    report = &(*this)[RunFile::errors];
  }
}

void RunFiles::close() {
  for (std::size_t i = 0; i < run_file_count; ++i) {
    if (i != static_cast<std::size_t>(RunFile::errors)) close_output_file(_streams[i], prefix + run_files[i].part);
  }
  close_output_file((*this)[RunFile::errors], path(RunFile::errors));
}

std::array<std::uint64_t, run_file_count> RunFiles::sync() {
  std::array<std::uint64_t, run_file_count> sizes{};
  for (std::size_t i = 0; i < run_file_count; ++i) {
    const std::string file = prefix + run_files[i].part;
    check_output_file(_streams[i], file);
    if (!is_regular(file)) continue;
    std::error_code error;
    sizes[i] = fs::file_size(file, error);
    if (error) throw OutputError("cannot write output file " + file + ": " + error.message() + "\n", file);
    if (!_synced || sizes[i] != _synced_sizes[i]) sync_to_disk(file);
  }
  _synced_sizes = sizes;
  _synced = true;
  return sizes;
}

void cut_back_run_files(const std::string& prefix, const std::array<std::uint64_t, run_file_count>& sizes,
                        long iteration) {
  for (std::size_t i = 0; i < run_file_count; ++i) {
    const std::string file = prefix + run_files[i].part;
    if (!is_regular(file)) continue;
    std::error_code error;
    fs::resize_file(file, sizes[i], error);
    if (error) {
      throw OutputError("cannot cut back output file " + file + ": " + error.message() + "\n", file);
    }
  }
  const fs::path run_prefix(prefix);
  const fs::path folder = run_prefix.has_parent_path() ? run_prefix.parent_path() : fs::path(".");
  const std::string seed_name = run_prefix.filename().string();
  std::error_code error;
  std::vector<fs::path> later_files;
  for (const auto& entry : fs::directory_iterator(folder, error)) {
    const auto number = iteration_of(entry.path().filename().string(), seed_name);
    if (number && *number > iteration) later_files.push_back(entry.path());
  }
  for (const fs::path& file : later_files) {
    if (!error) fs::remove(file, error);
  }
  if (error) {
    throw OutputError("cannot remove the files after iteration " + to_string(iteration) + " in " + folder.string() +
                          ": " + error.message() + "\n",
                      folder.string());
  }
}
