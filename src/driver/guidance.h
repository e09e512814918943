#pragma once

#include <string>

// Extra lines for standard error that tell a user what failed and what to do
// next. Each returns an empty text when its check finds nothing to say, so
// that it can be evaluated at the moment a run fails (see FatalNote).

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
