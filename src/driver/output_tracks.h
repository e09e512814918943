#pragma once

#include <array>
#include <cstddef>

// Every output of a run, from the one table tools/alncommon/sampler_outputs.def
// that the companion tools read too: the run files and the per-iteration
// tracks, in the table's order. Naming files, the finite guard, thinning,
// the resume cut-back and the usage text all derive from these lists; adding
// a track is a row there plus its writer.

// A file of the run: its name after the seed, what it holds (for messages)
// and the option that asks for it ("" when it is always written).
struct OutputFile {
  const char* part;
  const char* what;
  const char* option;
};

#define RATE_STATES(...)
#define RUN_FILE(name, ...) name,
#define ITERATION_FILE(...)
#define OPTIONAL_ITERATION_FILE(...)
enum class RunFile {
#include "sampler_outputs.def"
};
#undef RUN_FILE
#define RUN_FILE(name, part, what) OutputFile{part, what, ""},
inline constexpr std::array run_files{
#include "sampler_outputs.def"
};
#undef RUN_FILE
#undef ITERATION_FILE
#undef OPTIONAL_ITERATION_FILE
#define RUN_FILE(...)
#define ITERATION_FILE(name, ...) name,
#define OPTIONAL_ITERATION_FILE(name, ...) name,
enum class Track {
#include "sampler_outputs.def"
};
#undef ITERATION_FILE
#undef OPTIONAL_ITERATION_FILE
#define ITERATION_FILE(name, part, what) OutputFile{part, what, ""},
#define OPTIONAL_ITERATION_FILE(name, part, what, option) OutputFile{part, what, option},
inline constexpr std::array iteration_tracks{
#include "sampler_outputs.def"
};
#undef RATE_STATES
#undef RUN_FILE
#undef ITERATION_FILE
#undef OPTIONAL_ITERATION_FILE

inline constexpr std::size_t run_file_count = run_files.size();

inline constexpr const OutputFile& run_file(RunFile file) { return run_files[static_cast<std::size_t>(file)]; }
inline constexpr const OutputFile& iteration_track(Track track) {
  return iteration_tracks[static_cast<std::size_t>(track)];
}
