#include <iostream>

#include "driver/options.h"
#include "driver/sampler_run.h"

int main(int argc, char** argv) {
  const RunSettings settings = parse_options(argc, argv);
  if (settings.show_help) {
    std::cout << usage_text();
    return 0;
  }
  if (settings.show_version) {
    std::cout << "alnsampler " << ALNSAMPLER_VERSION << "\n";
    return 0;
  }
  return run_sampler(settings);
}
