#include "random/generator.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

// 32-bit words so that the buffer is aligned as the library's state words.
// Word 0 records the generator type and the position of the rear pointer;
// the library writes it only when it switches away from a buffer (setstate or
// initstate), and reads it when it switches to one.
using StateWords = std::array<std::int32_t, generator_state_bytes / sizeof(std::int32_t)>;
StateWords run_state;
StateWords scratch_state;

char* as_chars(StateWords& words) { return reinterpret_cast<char*>(words.data()); }

}  // namespace

void seed_generator(unsigned int seed) { initstate(seed, as_chars(run_state), generator_state_bytes); }

// Switching to the buffer that is already in use makes the library write the
// rear pointer's position into word 0 and read it back unchanged; after that
// the buffer alone describes the state.
GeneratorState save_generator_state() {
  setstate(as_chars(run_state));
  GeneratorState state;
  std::memcpy(state.data(), run_state.data(), generator_state_bytes);
  return state;
}

// setstate() first records the position of the buffer in use into that
// buffer's word 0. Had the run's own buffer been in use, that would overwrite
// the position just copied in; so the generator first moves to a scratch
// buffer, and only then are the saved bytes put in place and taken up.
void restore_generator_state(const GeneratorState& state) {
  initstate(1, as_chars(scratch_state), generator_state_bytes);
  std::memcpy(run_state.data(), state.data(), generator_state_bytes);
  setstate(as_chars(run_state));
}

// The library's word 0 is the type plus 5 times the rear position; a 128-byte
// buffer holds type 3, whose feedback register has 31 words.
bool is_generator_state(const GeneratorState& state) {
  constexpr std::int32_t type_count = 5;
  constexpr std::int32_t type_of_128_bytes = 3;
  constexpr std::int32_t register_words = 31;
  std::int32_t word = 0;
  std::memcpy(&word, state.data(), sizeof(word));
  return word >= 0 && word % type_count == type_of_128_bytes && word / type_count < register_words;
}
