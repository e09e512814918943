#pragma once

#include <chrono>
#include <ostream>
#include <string>

// Shows how far a run of n iterations has come, on standard error.
// - terminal: one line rewritten in place (iteration i of n, seconds per
//   iteration, time left), at most a few times a second, cleared at the end;
// - lines: a plain line at every tenth of the run, for log files;
// - silent: nothing, so that a good run in a pipeline writes nothing.
class Progress {
 public:
  enum class Style { silent, terminal, lines };

  // The style a run uses: plain lines when asked for, a terminal line when
  // standard error is a terminal, otherwise silence.
  static Style style_for(bool lines_requested);

  // Iterations first_iteration..n_iterations are to run (a resumed run starts
  // after 1); the time per iteration is measured over those.
  Progress(long first_iteration, long n_iterations, Style style, std::ostream& out);
  // Clears the terminal line, also when an error unwinds the run, so that
  // the error's message starts at the left margin.
  ~Progress();
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;

  // Called once after iteration `iteration` (1..n) is complete.
  void iteration_done(long iteration);

 private:
  using Clock = std::chrono::steady_clock;

  void show(long iteration, const std::string& end);
  void clear_terminal_line();

  long _first_iteration;
  long _n_iterations;
  Style _style;
  std::ostream& _out;
  Clock::time_point _start;
  Clock::time_point _last_shown;
  bool _line_shown = false;
};

// "iteration 7 of 20 (35%), 0.012 s per iteration, 1 min 05 s left".
std::string progress_text(long iteration, long n_iterations, double seconds_per_iteration);

// A duration for people: "42 s", "3 min 05 s", "2 h 07 min".
std::string readable_duration(double seconds);
