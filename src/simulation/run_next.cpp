#include "simulation/run_next.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>

#include "driver/guidance.h"
#include "io/shell_quote.h"

namespace {

namespace fs = std::filesystem;

// alnsampler's default k_max needs more modelled columns than this.
constexpr long sampler_default_k_max = 4;

bool is_executable(const fs::path& path) {
  std::error_code ignored;
  return fs::is_regular_file(path, ignored) && access(path.c_str(), X_OK) == 0;
}

bool on_path(const std::string& name) {
  const char* path = std::getenv("PATH");
  if (path == nullptr) return false;
  std::istringstream folders(path);
  for (std::string folder; std::getline(folders, folder, ':');) {
    if (is_executable(fs::path(folder.empty() ? "." : folder) / name)) return true;
  }
  return false;
}

std::string as_folder(const fs::path& path) {
  const std::string text = path.string();
  if (text.empty()) return "./";
  return text.back() == '/' ? text : text + "/";
}

}  // namespace

std::string sampler_command_name() {
  if (on_path("alnsampler")) return "alnsampler";
  std::error_code error;
  const fs::path self = fs::read_symlink("/proc/self/exe", error);
  if (error) return "alnsampler";
  for (const fs::path& candidate : {self.parent_path() / "alnsampler",
                                    self.parent_path().parent_path() / "driver" / "alnsampler"}) {
    if (is_executable(candidate)) return fs::weakly_canonical(candidate).string();
  }
  return "alnsampler";
}

std::string summarizer_command_name() {
  if (on_path("alnsummarize")) return "alnsummarize";
  std::error_code error;
  const fs::path self = fs::read_symlink("/proc/self/exe", error);
  if (error) return "alnsummarize";
  const fs::path build = self.parent_path().parent_path().parent_path();
  for (const fs::path& candidate :
       {self.parent_path() / "alnsummarize", build.parent_path() / "tools" / "alnsummarize" / "alnsummarize"}) {
    // Not resolved: the installed one is a link that finds its modules itself.
    if (is_executable(candidate)) return candidate.lexically_normal().string();
  }
  return "alnsummarize";
}

std::string results_folder_of(const std::string& output_dir) {
  const fs::path case_dir = fs::path(output_dir).parent_path();  // drops the final "/"
  const fs::path data_dir = case_dir.parent_path();
  if (data_dir.filename() != "data") return "";
  return as_folder(data_dir.parent_path()) + "results/" + case_dir.filename().string() + "/";
}

std::string run_next_text(const std::string& output_dir, long n_columns, long n_modelled,
                          const std::string& sampler_name, const std::string& summarizer_name) {
  const fs::path case_dir = fs::path(output_dir).parent_path();  // drops the final "/"
  const std::string name = case_dir.filename().string() + "/";
  const std::string root = as_folder(case_dir.parent_path().parent_path());
  std::string text = "alnsimulate: wrote " + output_dir + " (" + std::to_string(n_columns) + " columns, " +
                     std::to_string(n_modelled) + " modelled)\n";
  const std::string results_dir = results_folder_of(output_dir);
  if (results_dir.empty()) {
    text += "alnsampler reads a test case from ROOT/data/NAME/: move " + output_dir +
            " to such a folder and run alnsampler -r ROOT/ -t NAME/\n";
    return text;
  }
  const long k_max = n_modelled <= sampler_default_k_max && n_modelled >= 2 ? n_modelled - 1 : 0;
  std::vector<std::string> commands = recipe_commands(sampler_name, summarizer_name, root, name, k_max);
  std::error_code ignored;
  if (!fs::is_directory(results_dir, ignored))
    commands.front() = "mkdir -p " + shell_quoted(results_dir) + " && " + commands.front();
  text += recipe_heading();
  for (const std::string& command : commands) text += "  " + command + "\n";
  return text;
}
