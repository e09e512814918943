#include "io/diagnostics.h"

namespace {

std::ostream*& hook() {
  static std::ostream* stream = nullptr;
  return stream;
}

}  // namespace

std::ostream* diagnostics() { return hook(); }

std::ostream* set_diagnostics(std::ostream* stream) {
  std::ostream* previous = hook();
  hook() = stream;
  return previous;
}
