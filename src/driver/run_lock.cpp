#include "driver/run_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>

#include "io/errors.h"
#include "io/string_conversion.h"

namespace {

// Whether `fd` is still the file at `path`: a run that ends removes its lock
// file, and a run that opened the old file just before holds a lock on a file
// nobody else will open again.
bool still_at_path(int fd, const std::string& path) {
  struct stat opened {};
  struct stat current {};
  if (::fstat(fd, &opened) != 0 || ::stat(path.c_str(), &current) != 0) return false;
  return opened.st_dev == current.st_dev && opened.st_ino == current.st_ino;
}

std::string holder_of(const std::string& path) {
  std::ifstream file(path);
  long pid = 0;
  if (file >> pid && pid > 0) return "process " + to_string(pid);
  return "a process that has not yet recorded its id";
}

}  // namespace

std::string run_lock_path(const std::string& run_prefix) { return run_prefix + "_run.lock"; }

// A lock taken only to look (before the run recorded itself) leaves the file
// as it found it; the run's own lock file goes at every end but a kill.
RunLock::~RunLock() {
  if (_recorded) {
    release();
  } else if (_fd >= 0) {
    ::close(_fd);
  }
}

void RunLock::hold(const std::string& path) { open_and_lock(path, O_CREAT); }

void RunLock::hold_if_present(const std::string& path) { open_and_lock(path, 0); }

void RunLock::open_and_lock(const std::string& path, int extra_flags) {
  if (_fd >= 0) return;
  for (int attempt = 0; attempt < 100; ++attempt) {
    _fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC | extra_flags, 0644);
    if (_fd < 0) {
      if (errno == ENOENT || errno == EACCES || errno == EROFS) return;
      throw OutputError("cannot open the run lock " + path + ": " + std::strerror(errno) + "\n", path);
    }
    _path = path;
    if (::flock(_fd, LOCK_EX | LOCK_NB) != 0) break;
    if (still_at_path(_fd, path)) return;
    ::close(_fd);  // removed by the run that ended meanwhile: take the new file
    _fd = -1;
  }
  if (_fd < 0) throw OutputError("cannot lock the run lock " + path + ": it keeps being replaced\n", path);
  const std::string reason = errno == EWOULDBLOCK ? "" : std::string(": ") + std::strerror(errno);
  ::close(_fd);
  _fd = -1;
  if (!reason.empty()) throw OutputError("cannot lock the run lock " + path + reason + "\n", path);
  throw InputError("alnsampler: another run (" + holder_of(path) + ") is writing the results of this seed; " + path +
                       " is locked. Wait for it to end, or stop it first.\n",
                   path);
}

void RunLock::release() {
  if (_fd < 0) return;
  ::unlink(_path.c_str());
  ::close(_fd);
  _fd = -1;
  _recorded = false;
}

void RunLock::record_holder() {
  if (_fd < 0) return;
  const std::string pid = to_string(::getpid()) + "\n";
  if (::ftruncate(_fd, 0) != 0 || ::pwrite(_fd, pid.data(), pid.size(), 0) != static_cast<ssize_t>(pid.size())) {
    throw OutputError("cannot write the run lock " + _path + ": " + std::strerror(errno) + "\n", _path);
  }
  _recorded = true;
}
