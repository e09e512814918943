#include "driver/stop_signals.h"

#include <csignal>
#include <iostream>

#include "io/string_conversion.h"

namespace {

volatile std::sig_atomic_t requested_signal = 0;

// A second signal ends the run at once, as if no handler were there: the
// last checkpoint stays valid whenever the run ends.
extern "C" void record_stop_signal(int signal) {
  if (requested_signal != 0) {
    std::signal(signal, SIG_DFL);
    std::raise(signal);
    return;
  }
  requested_signal = signal;
}

std::string shell_quoted(const std::string& word) {
  const bool plain = !word.empty() && word.find_first_not_of(
                                          "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"
                                          "0123456789_@%+=:,./-") == std::string::npos;
  if (plain) return word;
  std::string quoted = "'";
  for (const char c : word) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

}  // namespace

// SA_RESTART: a signal that arrives during a write must not make it fail.
void install_stop_handlers() {
  struct sigaction action {};
  action.sa_handler = record_stop_signal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

int stop_signal() { return requested_signal; }

std::string signal_name(int signal) {
  if (signal == SIGINT) return "SIGINT";
  if (signal == SIGTERM) return "SIGTERM";
  return "signal " + to_string(signal);
}

std::string resume_command(const std::vector<std::string>& command_line) {
  std::string command;
  bool has_resume = false;
  for (const std::string& word : command_line) {
    has_resume = has_resume || word == "--resume";
    if (!command.empty()) command += ' ';
    command += shell_quoted(word);
  }
  return has_resume ? command : command + " --resume";
}

void report_stop(int signal, long iteration, const RunSettings& settings, const std::string& checkpoint) {
  std::cerr << "alnsampler: stopped by " << signal_name(signal) << " after iteration " << iteration << " of "
            << settings.n_iterations << "; the checkpoint is " << checkpoint << ". Continue the run with:\n"
            << resume_command(settings.command_line) << "\n";
  std::cerr.flush();
}
