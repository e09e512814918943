#pragma once

#include <string>
#include <vector>

#include "driver/options.h"

// SIGINT and SIGTERM (what schedulers send before the kill at a time limit)
// ask the run to stop after the iteration in progress, with a checkpoint. The
// handlers only record the signal; the sampling loop looks between
// iterations. A second signal ends the run at once.
void install_stop_handlers();
// The signal that asked the run to stop, or 0.
int stop_signal();

// "SIGINT", "SIGTERM" or "signal N".
std::string signal_name(int signal);

// The command that continues a run: the given arguments (the program first)
// with --resume added if missing, each quoted for a POSIX shell where needed.
std::string resume_command(const std::vector<std::string>& command_line);

// Tells on standard error that the run stopped after `iteration` on
// `signal`, where its checkpoint is, and the exact command that continues it.
void report_stop(int signal, long iteration, const RunSettings& settings, const std::string& checkpoint);
