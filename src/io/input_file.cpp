#include "io/input_file.h"

#include <unistd.h>

#include <cstdint>
#include <filesystem>

#include "io/errors.h"
#include "io/string_conversion.h"

namespace {

// Physical memory in bytes, or 0 when the system does not say.
std::uintmax_t physical_memory() {
  const long pages = sysconf(_SC_PHYS_PAGES);
  const long page_size = sysconf(_SC_PAGE_SIZE);
  if (pages <= 0 || page_size <= 0) return 0;
  return static_cast<std::uintmax_t>(pages) * static_cast<std::uintmax_t>(page_size);
}

}  // namespace

void check_input_file(const std::string& path) {
  std::error_code error;
  const auto status = std::filesystem::status(path, error);
  if (error || !std::filesystem::exists(status)) return;
  if (!std::filesystem::is_regular_file(status)) {
    throw InputError(
        "Input error: " + path + " is not a regular file (a device, a pipe or a folder); give a file of text\n", path);
  }
  const std::uintmax_t size = std::filesystem::file_size(path, error);
  const std::uintmax_t memory = physical_memory();
  if (!error && memory > 0 && size > memory) {
    throw InputError("Input error: " + path + " holds " + to_string(size) + " bytes, more than the " +
                         to_string(memory) + " bytes of memory of this machine\n",
                     path);
  }
}
