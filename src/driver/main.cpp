#include <exception>
#include <iostream>
#include <new>

#include "driver/options.h"
#include "driver/sampler_run.h"
#include "io/fatal.h"

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
  // An allocation that fails (inputs too large for this machine) or a range
  // check that trips ends the run with a message and status -1, not an abort.
  try {
    return run_sampler(settings);
  } catch (const std::bad_alloc&) {
    fatal("alnsampler: out of memory: the inputs need more memory than this machine can give\n", -1);
  } catch (const std::exception& error) {
    fatal(std::string("alnsampler: internal error: ") + error.what() + "\n", -1);
  }
}
