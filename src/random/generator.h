#pragma once

#include <array>
#include <cstddef>

// The program's one random generator is the C library's rand(). It runs on a
// 128-byte state buffer that this module owns, seeded with initstate(): the
// same additive feedback generator, and the same sequence, as srand(seed)
// gives on the library's own buffer. Owning the buffer lets a run save the
// generator's whole state in a checkpoint and continue it exactly later.

constexpr std::size_t generator_state_bytes = 128;
using GeneratorState = std::array<unsigned char, generator_state_bytes>;

// Seeds rand() with `seed` on the owned buffer; rand() then returns the values
// that it returns after srand(seed).
void seed_generator(unsigned int seed);

// The generator's whole state: restore_generator_state() of it makes rand()
// continue with exactly the values it would have returned next.
GeneratorState save_generator_state();
void restore_generator_state(const GeneratorState& state);
// Whether `state` could have come from save_generator_state(): its first word
// names the generator type of a 128-byte buffer and a rear position inside
// it. Restoring other bytes (a forged or damaged checkpoint) would let rand()
// read and write outside the buffer.
bool is_generator_state(const GeneratorState& state);
