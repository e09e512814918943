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

void open_output_files(const std::string& results_dir, const std::string& seed_text, std::ofstream& errors,
                       std::ostream*& error_ptr, std::ofstream& auxiliary, std::ostream*& auxiliary_ptr,
                       std::ofstream& post_para, std::ofstream& post_dist_k, std::ostream*& post_dist_k_ptr) {
  const std::string prefix = results_dir + seed_text;
  open_output_file(prefix + "_errors.txt", errors, &std::cout);
  error_ptr = &errors;
  open_output_file(prefix + "_auxiliary_ouput.txt", auxiliary, error_ptr);
  auxiliary_ptr = &auxiliary;
  open_output_file(prefix + "_post_para.txt", post_para, error_ptr);
  open_output_file(prefix + "_post_dist_k.txt", post_dist_k, error_ptr);
  post_dist_k_ptr = &post_dist_k;
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
