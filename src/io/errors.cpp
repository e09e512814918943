#include "io/errors.h"

#include "io/string_conversion.h"

void Error::add_hint(const std::string& hint) {
  if (!hint.empty()) _hints.push_back(hint);
}

InputError InputError::at_line(const std::string& file, std::size_t line, const std::string& what,
                               const std::string& value) {
  return InputError("Input error: " + file + " line " + to_string(line) + ": " + what + "\n", file, line, value);
}

int report_error(const Error& error, std::ostream& out) {
  out << error.message();
  for (const std::string& hint : error.hints()) out << hint;
  out.flush();
  return error.status();
}
