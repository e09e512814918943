#include "driver/progress.h"

#include <unistd.h>

#include <cmath>
#include <cstdio>

namespace {

// A terminal line is rewritten at most this often, so that a fast run does
// not spend its time on the display.
constexpr std::chrono::milliseconds refresh_interval{250};

// Moves to the start of the line and erases it.
constexpr const char* erase_line = "\r\033[K";

// The tenth of the run (0..10) that `iteration` completes.
long tenth_of(long iteration, long n_iterations) { return iteration * 10 / n_iterations; }

}  // namespace

std::string readable_duration(double seconds) {
  const long whole = std::lround(seconds);
  char text[48];
  if (whole < 60) {
    std::snprintf(text, sizeof text, "%ld s", whole);
  } else if (whole < 3600) {
    std::snprintf(text, sizeof text, "%ld min %02ld s", whole / 60, whole % 60);
  } else {
    std::snprintf(text, sizeof text, "%ld h %02ld min", whole / 3600, whole / 60 % 60);
  }
  return text;
}

std::string progress_text(long iteration, long n_iterations, double per_iteration) {
  char text[160];
  std::snprintf(text, sizeof text, "iteration %ld of %ld (%ld%%), %.3g s per iteration, %s left", iteration,
                n_iterations, iteration * 100 / n_iterations, per_iteration,
                readable_duration(per_iteration * static_cast<double>(n_iterations - iteration)).c_str());
  return text;
}

Progress::Style Progress::style_for(bool lines_requested) {
  if (lines_requested) return Style::lines;
  return isatty(STDERR_FILENO) ? Style::terminal : Style::silent;
}

Progress::Progress(long first_iteration, long n_iterations, Style style, std::ostream& out)
    : _first_iteration(first_iteration),
      _n_iterations(n_iterations),
      _style(style),
      _out(out),
      _start(Clock::now()),
      _last_shown(_start) {}

Progress::~Progress() { clear_terminal_line(); }

void Progress::iteration_done(long iteration) {
  if (_style == Style::lines) {
    if (tenth_of(iteration, _n_iterations) > tenth_of(iteration - 1, _n_iterations)) show(iteration, "\n");
  } else if (_style == Style::terminal) {
    const Clock::time_point now = Clock::now();
    if (now - _last_shown < refresh_interval && iteration < _n_iterations) return;
    _last_shown = now;
    _out << erase_line;
    show(iteration, "");
    _line_shown = true;
  }
}

void Progress::show(long iteration, const std::string& end) {
  const std::chrono::duration<double> elapsed = Clock::now() - _start;
  const double per_iteration = elapsed.count() / static_cast<double>(iteration - _first_iteration + 1);
  _out << "alnsampler: " << progress_text(iteration, _n_iterations, per_iteration) << end;
  _out.flush();
}

void Progress::clear_terminal_line() {
  if (!_line_shown) return;
  _out << erase_line;
  _out.flush();
  _line_shown = false;
}
