#pragma once

#include <string>

// `text` as one word for a POSIX shell, so that a command printed for the
// user can be pasted as is: unchanged when it holds only characters that a
// shell takes literally, otherwise in single quotes (an embedded quote
// becomes '\'').
inline std::string shell_quoted(const std::string& text) {
  const auto plain = [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '/' || c == '.' ||
           c == '_' || c == '-' || c == '+' || c == ':' || c == ',' || c == '@' || c == '%';
  };
  bool all_plain = !text.empty();
  for (const char c : text) all_plain = all_plain && plain(c);
  if (all_plain) return text;
  std::string quoted = "'";
  for (const char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}
