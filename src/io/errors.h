#pragma once

#include <cstddef>
#include <exception>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

// The exit statuses of the executables. A status of -1 is seen by the shell
// as 255.
inline constexpr int failure_status = -1;
inline constexpr int output_failure_status = 1;
// A run refused at --resume because its checkpoint cannot continue it. It
// differs from the status of every other failure, so that a job script can
// start such a chain afresh and keep the chain on any other failure.
inline constexpr int resume_refused_status = 3;

// What ends a run. Library code throws one of the types below and never ends
// the process itself; each executable's main catches them in one place,
// writes the message (exactly as given: no line end is added) and then every
// hint to standard error, and returns the status. Unwinding on the way runs
// every destructor, so whatever only a running run may leave behind (its
// lock file, a temporary checkpoint) goes at every end but a kill.
class Error : public std::exception {
 public:
  const char* what() const noexcept override { return _message.c_str(); }
  const std::string& message() const { return _message; }
  int status() const { return _status; }
  // Text written after the message: what to do next. An empty hint adds nothing.
  void add_hint(const std::string& hint);
  const std::vector<std::string>& hints() const { return _hints; }

 protected:
  Error(std::string message, int status) : _message(std::move(message)), _status(status) {}

 private:
  std::string _message;
  int _status;
  std::vector<std::string> _hints;
};

// The command line or an input file cannot be used: status -1. Where the
// fault has a place, it names the file, its line (0 for the file as a whole)
// and the offending value (empty when the message says it all).
class InputError : public Error {
 public:
  explicit InputError(std::string message, std::string file = "", std::size_t line = 0, std::string value = "")
      : Error(std::move(message), failure_status), _file(std::move(file)), _line(line), _value(std::move(value)) {}
  // "Input error: FILE line LINE: WHAT\n".
  static InputError at_line(const std::string& file, std::size_t line, const std::string& what,
                            const std::string& value = "");

  const std::string& file() const { return _file; }
  std::size_t line() const { return _line; }
  const std::string& value() const { return _value; }

 private:
  std::string _file;
  std::size_t _line;
  std::string _value;
};

// A file the program writes (or removes) cannot be written: status 1, with
// the path of the file.
class OutputError : public Error {
 public:
  OutputError(std::string message, std::string file)
      : Error(std::move(message), output_failure_status), _file(std::move(file)) {}
  const std::string& file() const { return _file; }

 private:
  std::string _file;
};

// The model's arithmetic or state went wrong (a fault of the program, or a
// state no valid input leads to): status -1, or 1 for the two failures of
// the model whose status has always been 1 (a column whose root cannot hold
// a residue, an alignment of likelihood 0).
class InternalError : public Error {
 public:
  explicit InternalError(std::string message, int status = failure_status) : Error(std::move(message), status) {}
};

// --resume cannot continue the run from its checkpoint: status 3.
class ResumeRefused : public Error {
 public:
  explicit ResumeRefused(std::string message) : Error(std::move(message), resume_refused_status) {}
};

// Writes the error's message and hints to `out`, flushes it and returns the
// status for main to return.
int report_error(const Error& error, std::ostream& out);
