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

}  // namespace

FatalNote::FatalNote(std::function<std::string()> text, Placement placement)
    : _text(std::move(text)), _placement(placement) {
  live_notes().push_back(this);
}

FatalNote::~FatalNote() { std::erase(live_notes(), this); }

void fatal(const std::string& message, int status) {
  for (const FatalNote* note : live_notes()) {
    if (note->_placement == FatalNote::Placement::before_message) std::cerr << note->_text();
  }
  std::cerr << message;
  for (const FatalNote* note : live_notes()) {
    if (note->_placement == FatalNote::Placement::after_message) std::cerr << note->_text();
  }
  std::cerr.flush();
  std::exit(status);
}
