#include "io/fatal.h"

#include <cstdlib>
#include <iostream>

void fatal(const std::string& message, int status) {
  std::cerr << message;
  std::cerr.flush();
  std::exit(status);
}
