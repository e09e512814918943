#include "io/content_hash.h"

#include <cstring>
#include <fstream>
#include <iterator>

namespace {

constexpr std::uint64_t multiplier_1 = 0x9E3779B185EBCA87ull;
constexpr std::uint64_t multiplier_2 = 0xC2B2AE3D27D4EB4Full;

std::uint64_t rotate_left(std::uint64_t x, int bits) { return (x << bits) | (x >> (64 - bits)); }

// The finaliser of SplitMix64: a bijection that spreads every bit.
std::uint64_t mix(std::uint64_t x) {
  x ^= x >> 30;
  x *= 0xBF58476D1CE4E5B9ull;
  x ^= x >> 27;
  x *= 0x94D049BB133111EBull;
  return x ^ (x >> 31);
}

std::uint64_t absorb(std::uint64_t hash, std::uint64_t word) {
  return rotate_left(hash ^ (word * multiplier_1), 31) * multiplier_2;
}

}  // namespace

std::uint64_t content_hash(const void* bytes, std::size_t size) {
  const auto* data = static_cast<const unsigned char*>(bytes);
  std::uint64_t hash = mix(size ^ multiplier_2);
  std::size_t offset = 0;
  for (; offset + 8 <= size; offset += 8) {
    std::uint64_t word;
    std::memcpy(&word, data + offset, 8);
    hash = absorb(hash, word);
  }
  std::uint64_t tail = 0;
  if (offset < size) std::memcpy(&tail, data + offset, size - offset);
  return mix(absorb(hash, tail));
}

std::optional<std::uint64_t> file_content_hash(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return std::nullopt;
  const std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  if (file.bad()) return std::nullopt;
  return content_hash(bytes);
}
