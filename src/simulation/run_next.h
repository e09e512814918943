#pragma once

#include <string>

// How a user starts alnsampler from a shell: "alnsampler" when that name is
// found on PATH; otherwise the alnsampler installed beside the running
// executable, or the one built beside it in the build tree
// (src/simulation/ -> src/driver/); plain "alnsampler" when none is found.
std::string sampler_command_name();

// How a user starts alnsummarize from a shell: "alnsummarize" when that name
// is found on PATH; otherwise the link installed beside the running
// executable, or the script in the source tree whose build holds it
// (BUILD/src/simulation/ -> BUILD/../tools/alnsummarize/); plain
// "alnsummarize" when none is found.
std::string summarizer_command_name();

// The results folder alnsampler writes the runs of a case in: ROOT/results/NAME/
// for an output folder ROOT/data/NAME/ (ending in "/"); empty when the output
// folder is not inside a "data" folder.
std::string results_folder_of(const std::string& output_dir);

// The lines printed after a simulated test case is written to `output_dir`
// (ending in "/"): what was written, and the recipe that samples it with two
// chains and summarises them, as it can be pasted into a shell from the
// current folder. alnsampler reads ROOT/data/NAME/ and writes
// ROOT/results/NAME/, so the recipe creates a missing results folder first,
// and an output folder that is not inside a "data" folder is named as the
// thing to move. With fewer modelled columns than the default k_max needs,
// -k is lowered.
std::string run_next_text(const std::string& output_dir, long n_columns, long n_modelled,
                          const std::string& sampler_name, const std::string& summarizer_name);
