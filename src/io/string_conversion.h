#pragma once

#include <cctype>
#include <optional>
#include <sstream>
#include <string>
#include <type_traits>

// Text of a value in default stream formatting (no precision, width or flags):
// plain decimal digits for integers. Used for the seed and iteration numbers
// that make up output file names.
template <typename T>
std::string to_string(const T& value) {
  std::ostringstream stream;
  stream << value;
  return stream.str();
}

// Strict conversion for values a user typed: the whole text must be one value
// of type T, with no leading or trailing characters. Unsigned types refuse a
// sign, integral types refuse a fraction or exponent, and out-of-range values
// are refused. Returns nothing when the text is not such a value.
template <typename T>
std::optional<T> parse_exact(const std::string& text) {
  if (text.empty() || std::isspace(static_cast<unsigned char>(text.front()))) return std::nullopt;
  if constexpr (std::is_unsigned_v<T>) {
    if (text.front() == '-' || text.front() == '+') return std::nullopt;
  }
  std::istringstream stream(text);
  T value{};
  stream >> value;
  if (stream.fail()) return std::nullopt;
  if (stream.peek() != std::char_traits<char>::eof()) return std::nullopt;
  return value;
}

// A value for a message: `text` in double quotes, and for a text longer than
// 60 characters only its first 40, then "..." and its length, so that a
// runaway token (a million digits on one line) cannot flood the terminal.
inline std::string quoted_value(const std::string& text) {
  constexpr std::size_t longest_whole = 60;
  constexpr std::size_t kept = 40;
  if (text.size() <= longest_whole) return "\"" + text + "\"";
  std::ostringstream cut;
  cut << "\"" << text.substr(0, kept) << "...\" (" << text.size() << " characters)";
  return cut.str();
}
