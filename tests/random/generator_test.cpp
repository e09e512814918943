#include "random/generator.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

std::vector<int> draws(int count) {
  std::vector<int> values(count);
  for (int& value : values) value = std::rand();
  return values;
}

TEST(Generator, SeedingGivesTheSequenceOfSrand) {
  for (const unsigned int seed : {0u, 1u, 3u, 4u, 17u, 123456789u, 4294967295u}) {
    std::srand(seed);
    const auto expected = draws(1000);
    seed_generator(seed);
    EXPECT_EQ(draws(1000), expected) << "seed " << seed;
  }
}

// The saved state continues the sequence exactly, whatever the generator did
// in between: more draws (123 moves the feedback pointers to another
// position), a reseeding on the library's own buffer, or a restore already.
TEST(Generator, RestoredStateContinuesTheSequence) {
  seed_generator(3);
  draws(37);
  const GeneratorState state = save_generator_state();
  const auto expected = draws(5000);
  draws(123);
  restore_generator_state(state);
  EXPECT_EQ(draws(5000), expected);
  std::srand(11);
  draws(10);
  restore_generator_state(state);
  restore_generator_state(state);
  EXPECT_EQ(draws(5000), expected);
  EXPECT_EQ(save_generator_state(), save_generator_state());
}

// Every saved state passes the check (the rear position takes all its 31
// values within 31 draws); a first word of another type or position fails.
TEST(Generator, OnlySavedStatesAreGeneratorStates) {
  seed_generator(5);
  for (int i = 0; i < 40; ++i, std::rand()) EXPECT_TRUE(is_generator_state(save_generator_state())) << i;
  for (const std::int32_t word : {-2, 0, 4, 5 * 31 + 3, 1 << 30}) {
    GeneratorState state = save_generator_state();
    std::memcpy(state.data(), &word, sizeof(word));
    EXPECT_FALSE(is_generator_state(state)) << word;
  }
}

}  // namespace
