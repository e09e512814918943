#include <exception>
#include <iostream>
#include <new>

#include "driver/options.h"
#include "driver/sampler_run.h"
#include "io/errors.h"

// The one place where a run's errors become a message and an exit status.
// An allocation that fails (inputs too large for this machine) or a range
// check that trips ends the run with a message and status -1, not an abort.
int main(int argc, char** argv) {
  try {
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
  } catch (const Error& error) {
    return report_error(error, std::cerr);
  } catch (const std::bad_alloc&) {
    return report_error(
        InternalError("alnsampler: out of memory: the inputs need more memory than this machine can give\n"),
        std::cerr);
  } catch (const std::exception& error) {
    return report_error(InternalError(std::string("alnsampler: internal error: ") + error.what() + "\n"), std::cerr);
  }
}
