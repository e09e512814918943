#include "driver/run_files.h"

#include "driver/guidance.h"
#include "io/fatal.h"
#include "io/output_files.h"
#include "io/string_conversion.h"

std::string RunFiles::iteration_path(const std::string& stem, long iteration) const {
  return prefix + stem + to_string(iteration) + ".txt";
}

void RunFiles::open(const std::string& results_dir, const std::string& seed_text) {
  prefix = results_dir + seed_text;
  const FatalNote guidance([&] { return results_folder_guidance(results_dir); });
  open_output_files(results_dir, seed_text, errors, error_ptr, auxiliary, auxiliary_ptr, post_para, post_dist_k,
                    post_dist_k_ptr);
  open_output_file(path("_rate_state_transitions.txt"), rate_state_transitions, error_ptr);
  rate_state_transitions_ptr = &rate_state_transitions;
}
