#pragma once

#include "driver/options.h"

// Runs the whole sampler for the given settings: seeds the generator, opens
// the run files, reads the inputs, builds one tree per modelled column, runs
// the iterations and tears everything down. Returns 0 after a complete run,
// 128 + the signal after a run stopped by SIGINT or SIGTERM; every failure
// throws an Error (io/errors.h), leaving no lock file behind once the run
// holds its lock.
int run_sampler(const RunSettings& settings);
