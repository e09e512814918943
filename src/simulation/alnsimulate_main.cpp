#include <iostream>

#include "io/errors.h"
#include "simulation/simulate_command.h"

// The one place where the simulator's errors become a message and an exit
// status.
int main(int argc, char** argv) {
  try {
    return run_simulate_command(argc, argv);
  } catch (const Error& error) {
    return report_error(error, std::cerr);
  }
}
