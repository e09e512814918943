#pragma once

#include <fstream>
#include <ostream>
#include <string>

// Opens `stream` on `path` for writing with truncation. If that fails, writes
// "The program cannot open output file " + path + "\n" to `report`, flushes it
// and throws an OutputError with an empty message.
void open_output_file(const std::string& path, std::ofstream& stream, std::ostream* report);

// Opens the four run files in order: errors (failures reported to standard
// output), auxiliary output, post_para and post_dist_k (failures reported to
// the errors file), and points the three pointers at their streams.
void open_output_files(const std::string& results_dir, const std::string& seed_text, std::ofstream& errors,
                       std::ostream*& error_ptr, std::ofstream& auxiliary, std::ostream*& auxiliary_ptr,
                       std::ofstream& post_para, std::ofstream& post_dist_k, std::ostream*& post_dist_k_ptr);

// Flushes `stream` and throws an OutputError "cannot write output file " +
// path + "\n" if anything written to it was lost
// (disk full, I/O error). A run must never report success over lost output.
void check_output_file(std::ostream& stream, const std::string& path);

// Flushes, checks and closes a file, reporting a failed write as above.
void close_output_file(std::ofstream& stream, const std::string& path);
