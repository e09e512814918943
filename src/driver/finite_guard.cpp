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

std::string trace_quantity(const std::string& stem) {
  if (stem == "_deletions_") return "deletion rates";
  if (stem == "_mutations_") return "mutation rates";
  if (stem == "_beta_shapes_") return "beta shapes";
  if (stem == "_theta_shapes_") return "theta shapes";
  std::string words = stem;
  for (char& c : words) c = c == '_' ? ' ' : c;
  const auto first = words.find_first_not_of(' ');
  const auto last = words.find_last_not_of(' ');
  return first == std::string::npos ? "" : words.substr(first, last - first + 1);
}
