#pragma once

#include <string>

// How a user starts alnsampler from a shell: "alnsampler" when that name is
// found on PATH; otherwise the alnsampler installed beside the running
// executable, or the one built beside it in the build tree
// (src/simulation/ -> src/driver/); plain "alnsampler" when none is found.
std::string sampler_command_name();

// The results folder alnsampler writes the runs of a case in: ROOT/results/NAME/
// for an output folder ROOT/data/NAME/ (ending in "/"); empty when the output
// folder is not inside a "data" folder.
std::string results_folder_of(const std::string& output_dir);

// The lines printed after a simulated test case is written to `output_dir`
// (ending in "/"): what was written, and the alnsampler command that samples
// it, as it can be pasted into a shell from the current folder. alnsampler
// reads ROOT/data/NAME/ and writes ROOT/results/NAME/, so the command creates
// a missing results folder first, and an output folder that is not inside a
// "data" folder is named as the thing to move. With fewer modelled columns
// than the default k_max needs, -k is lowered.
std::string run_next_text(const std::string& output_dir, long n_columns, long n_modelled,
                          const std::string& sampler_name);
