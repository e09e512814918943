#pragma once

#include <functional>
#include <string>

// Ends the process: writes `message` exactly as given (no line end is added)
// to standard error, flushes it and calls std::exit(status). A status of -1
// is seen by the shell as 255. Every fatal condition of the program goes
// through here so that the behaviour lives in one place.
[[noreturn]] void fatal(const std::string& message, int status);

// While a FatalNote lives, a fatal exit also writes the note's text to
// standard error: after the message (guidance on what to do, computed only
// when the run fails), or before it (to tidy a terminal line first). The text
// may be empty. Notes are kept in creation order; create and destroy them on
// the main thread only.
class FatalNote {
 public:
  enum class Placement { after_message, before_message };

  explicit FatalNote(std::function<std::string()> text, Placement placement = Placement::after_message);
  ~FatalNote();
  FatalNote(const FatalNote&) = delete;
  FatalNote& operator=(const FatalNote&) = delete;

 private:
  friend void fatal(const std::string& message, int status);
  std::function<std::string()> _text;
  Placement _placement;
};

// While a FatalCleanup lives, a fatal exit runs its action once the message
// is written, before the process ends: for what only a running run may leave
// behind (its lock file). Actions run in creation order; the same rules as
// for FatalNote apply.
class FatalCleanup {
 public:
  explicit FatalCleanup(std::function<void()> action);
  ~FatalCleanup();
  FatalCleanup(const FatalCleanup&) = delete;
  FatalCleanup& operator=(const FatalCleanup&) = delete;

 private:
  friend void fatal(const std::string& message, int status);
  std::function<void()> _action;
};
