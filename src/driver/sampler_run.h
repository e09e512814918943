#pragma once

#include "driver/options.h"

// Runs the whole sampler for the given settings: seeds the generator, opens
// the run files, reads the inputs, builds one tree per modelled column, runs
// the iterations and tears everything down. Returns 0 after a complete run;
// every failure ends the process with its message and status.
int run_sampler(const RunSettings& settings);
