#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

// A 64-bit hash of a byte string, eight bytes at a time, for noticing
// changed or damaged files (not for security): every input bit reaches every
// output bit, and the length is part of the hash.
std::uint64_t content_hash(const void* bytes, std::size_t size);
inline std::uint64_t content_hash(const std::string& bytes) { return content_hash(bytes.data(), bytes.size()); }

// The hash of a whole file's bytes; nothing when it cannot be read.
std::optional<std::uint64_t> file_content_hash(const std::string& path);
