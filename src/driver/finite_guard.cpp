#include "driver/finite_guard.h"

#include <cmath>
#include <cstdlib>
#include <sstream>

#include "io/errors.h"
#include "io/string_conversion.h"

namespace {

[[noreturn]] void report(const std::string& word, const std::string& quantity, long iteration) {
  throw InternalError("internal error: iteration " + to_string(iteration) + " would write the value " + word +
                      " to the " + quantity + "; the run stops so that it is not stored\n");
}

}  // namespace

void ensure_finite_text(const std::string& text, const std::string& quantity, long iteration) {
  std::istringstream words(text);
  std::string word;
  while (words >> word) {
    char* end = nullptr;
    const double value = std::strtod(word.c_str(), &end);
    if (end != word.c_str() && *end == '\0' && !std::isfinite(value)) report(word, quantity, iteration);
  }
}

void ensure_finite_value(double value, const std::string& quantity, long iteration) {
  if (!std::isfinite(value)) report(to_string(value), quantity, iteration);
}
