#pragma once

#include <gtest/gtest.h>

// GCC 12 at -O2 with the sanitizers warns inside <regex> that std::function's
// move may read an uninitialised member: a false positive in the library's
// own code, silenced for that header alone.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include <regex>
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif
#include <string>

#include "io/errors.h"

// Whether `action` throws an Error of type E with exit status `status` whose
// text as main would print it (the message, then the hints) contains a match
// of the regular expression `pattern`.
template <class E, class Action>
testing::AssertionResult throws_error(Action&& action, int status, const std::string& pattern) {
  try {
    action();
  } catch (const E& error) {
    std::string text = error.message();
    for (const std::string& hint : error.hints()) text += hint;
    if (error.status() != status) return testing::AssertionFailure() << "status " << error.status() << ": " << text;
    if (!std::regex_search(text, std::regex(pattern))) return testing::AssertionFailure() << "text: " << text;
    return testing::AssertionSuccess();
  } catch (const std::exception& other) {
    return testing::AssertionFailure() << "another exception: " << other.what();
  }
  return testing::AssertionFailure() << "nothing thrown";
}
