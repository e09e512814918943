#include "io/output_files.h"

#include <iostream>

#include "io/errors.h"

void open_output_file(const std::string& path, std::ofstream& stream, std::ostream* report) {
  stream.open(path, std::ios::out | std::ios::trunc);
  if (stream.is_open()) return;
  *report << "The program cannot open output file " << path << "\n";
  report->flush();
  throw OutputError("", path);
}

void check_output_file(std::ostream& stream, const std::string& path) {
  stream.flush();
  if (!stream.good()) throw OutputError("cannot write output file " + path + "\n", path);
}

void close_output_file(std::ofstream& stream, const std::string& path) {
  check_output_file(stream, path);
  stream.close();
  if (stream.fail()) throw OutputError("cannot write output file " + path + "\n", path);
}
