#include "simulation/simulate_command.h"

int main(int argc, char** argv) { return run_simulate_command(argc, argv); }
