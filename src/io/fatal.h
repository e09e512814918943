#pragma once

#include <string>

// Ends the process: writes `message` exactly as given (no line end is added)
// to standard error, flushes it and calls std::exit(status). A status of -1
// is seen by the shell as 255. Every fatal condition of the program goes
// through here so that the behaviour lives in one place.
[[noreturn]] void fatal(const std::string& message, int status);
