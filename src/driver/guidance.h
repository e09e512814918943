#pragma once

#include <string>
#include <vector>

// Extra lines for standard error that tell a user what failed and what to do
// next. Each returns an empty text when its check finds nothing to say, so
// that it can be evaluated at the moment a run fails, as a hint of the Error.

// The results folder does not exist (or is not a folder): name it and say
// how to create it.
std::string results_folder_guidance(const std::string& results_dir);

// Reading the tree or the leaf map failed: the test case's data folder does
// not exist, or one of the two files is missing from it.
std::string tree_files_guidance(const std::string& data_dir);

// Reading the alignment failed: the data folder does not exist, the file is
// missing from it (-d names it), or it looks like a sequence alignment
// (FASTA, PHYLIP, NEXUS, Clustal or Stockholm) rather than a table of
// values: then say to convert it with alnprepare.
std::string data_file_guidance(const std::string& data_dir, const std::string& data_path);

// alnprepare's name (its --format value) of the alignment format that a
// file's first lines look like ("fasta", "phylip", "nexus", "clustal",
// "stockholm"), or an empty text when they look like none of them.
std::string sequence_format_of(const std::string& head);

// The options of every chain that a printed recipe runs, besides its case,
// seed and -k: its length, its thinning and the moves that help it mix. The
// Python tools hold the same in tools/alncommon/recipe.py.
std::vector<std::string> recommended_chain_options();

// The seeds of the two chains a recipe runs: two, so that alnsummarize can
// compare them.
std::vector<unsigned> recommended_seeds();

// The lines a user pastes to sample a new case and summarise it: one
// alnsampler command per recommended seed, then the alnsummarize command
// over them, writing ROOT/results/NAME/summary/. `root` and `name` end in
// "/"; a `k_max` of 0 keeps the sampler's default. Each line is a complete
// shell command, its words quoted where a shell needs it.
std::vector<std::string> recipe_commands(const std::string& sampler, const std::string& summarizer,
                                         const std::string& root, const std::string& name, long k_max);

// The line above a recipe.
std::string recipe_heading();
