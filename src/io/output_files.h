#pragma once

#include <fstream>
#include <ostream>
#include <string>

// Opens `stream` on `path` for writing with truncation. If that fails, writes
// "The program cannot open output file " + path + "\n" to `report`, flushes it
// and throws an OutputError with an empty message.
void open_output_file(const std::string& path, std::ofstream& stream, std::ostream* report);

// Flushes `stream` and throws an OutputError "cannot write output file " +
// path + "\n" if anything written to it was lost
// (disk full, I/O error). A run must never report success over lost output.
void check_output_file(std::ostream& stream, const std::string& path);

// Flushes, checks and closes a file, reporting a failed write as above.
void close_output_file(std::ofstream& stream, const std::string& path);
