#include "io/fatal.h"

#include <utility>
#include <cstdlib>
#include <iostream>
#include <vector>

namespace {

std::vector<const FatalNote*>& live_notes() {
  static std::vector<const FatalNote*> notes;
  return notes;
}

std::vector<const FatalCleanup*>& live_cleanups() {
  static std::vector<const FatalCleanup*> cleanups;
  return cleanups;
}

}  // namespace

FatalNote::FatalNote(std::function<std::string()> text, Placement placement)
    : _text(std::move(text)), _placement(placement) {
  live_notes().push_back(this);
}

FatalNote::~FatalNote() { std::erase(live_notes(), this); }

FatalCleanup::FatalCleanup(std::function<void()> action) : _action(std::move(action)) {
  live_cleanups().push_back(this);
}

FatalCleanup::~FatalCleanup() { std::erase(live_cleanups(), this); }

void fatal(const std::string& message, int status) {
  for (const FatalNote* note : live_notes()) {
    if (note->_placement == FatalNote::Placement::before_message) std::cerr << note->_text();
  }
  std::cerr << message;
  for (const FatalNote* note : live_notes()) {
    if (note->_placement == FatalNote::Placement::after_message) std::cerr << note->_text();
  }
  std::cerr.flush();
  for (const FatalCleanup* cleanup : live_cleanups()) cleanup->_action();
  std::exit(status);
}
