#include "driver/guidance.h"

#include <cctype>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "io/shell_quote.h"
#include "io/string_conversion.h"

namespace {

namespace fs = std::filesystem;

bool is_folder(const std::string& path) {
  std::error_code ignored;
  return fs::is_directory(path, ignored);
}

bool exists(const std::string& path) {
  std::error_code ignored;
  return fs::exists(path, ignored);
}

std::string quoted(const std::string& text) { return "\"" + text + "\""; }

std::string upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

std::vector<std::string> words_of(const std::string& line) {
  std::istringstream stream(line);
  std::vector<std::string> words;
  for (std::string word; stream >> word;) words.push_back(word);
  return words;
}

bool is_whole_number(const std::string& word) { return parse_exact<long>(word).has_value(); }

// A PHYLIP file starts with the number of sequences and of columns, and the
// next line starts with a sequence name; a table of values never has a name.
bool looks_like_phylip(const std::vector<std::string>& first, const std::vector<std::string>& second) {
  return first.size() == 2 && is_whole_number(first[0]) && is_whole_number(first[1]) && !second.empty() &&
         !is_whole_number(second[0]);
}

// Empty for anything but a regular file, which alone can be opened without
// waiting (a pipe waits for a writer).
std::string first_bytes(const std::string& path) {
  std::error_code ignored;
  if (!fs::is_regular_file(path, ignored)) return "";
  std::ifstream file(path, std::ios::binary);
  std::string head(4096, '\0');
  file.read(head.data(), static_cast<std::streamsize>(head.size()));
  head.resize(static_cast<std::size_t>(file.gcount()));
  return head;
}

std::string missing_folder(const std::string& data_dir) {
  return "alnsampler: input folder " + quoted(data_dir) +
         " does not exist: -r names the folder that holds data/ and results/, -t the test case inside them; "
         "alnprepare makes a test case from an alignment and a Newick tree\n";
}

// The words as one line for a POSIX shell.
std::string shell_command(const std::vector<std::string>& words) {
  std::string line;
  for (const std::string& word : words) line.append(line.empty() ? "" : " ").append(shell_quoted(word));
  return line;
}

}  // namespace

std::string sequence_format_of(const std::string& head) {
  std::istringstream lines(head);
  std::vector<std::vector<std::string>> nonblank;
  for (std::string line; nonblank.size() < 2 && std::getline(lines, line);) {
    auto words = words_of(line);
    if (!words.empty()) nonblank.push_back(std::move(words));
  }
  if (nonblank.empty()) return "";
  const auto& first = nonblank[0];
  const std::string start = upper(first[0]);
  if (start.front() == '>') return "fasta";
  if (start == "#NEXUS") return "nexus";
  if (start.starts_with("CLUSTAL") || start == "MUSCLE") return "clustal";
  if (start == "#STOCKHOLM" || (start == "#" && first.size() > 1 && upper(first[1]) == "STOCKHOLM")) {
    return "stockholm";
  }
  if (nonblank.size() == 2 && looks_like_phylip(first, nonblank[1])) return "phylip";
  return "";
}

std::string results_folder_guidance(const std::string& results_dir) {
  if (is_folder(results_dir)) return "";
  return "alnsampler: results folder " + quoted(results_dir) + " does not exist: create it first (mkdir -p " +
         shell_quoted(results_dir) + ") or correct -r and -t\n";
}

std::string tree_files_guidance(const std::string& data_dir) {
  if (!is_folder(data_dir)) return missing_folder(data_dir);
  for (const char* name : {"tree.txt", "map_from_leave_label_to_seq_id.txt"}) {
    if (!exists(data_dir + name)) {
      return "alnsampler: the test case " + quoted(data_dir) + " has no " + name +
             ": alnprepare writes it, with the other input files, from an alignment and a Newick tree\n";
    }
  }
  return "";
}

std::string data_file_guidance(const std::string& data_dir, const std::string& data_path) {
  if (!exists(data_path)) {
    if (!is_folder(data_dir)) return missing_folder(data_dir);
    return "alnsampler: there is no alignment file " + quoted(data_path) +
           ": give its name inside the test case folder, or its absolute path, with -d\n";
  }
  const std::string format = sequence_format_of(first_bytes(data_path));
  if (format.empty()) return "";
  const std::string label = format == "clustal" ? "Clustal" : format == "stockholm" ? "Stockholm" : upper(format);
  return "alnsampler: " + quoted(data_path) + " looks like a " + label +
         " alignment, but alnsampler reads one line of values per column: convert the alignment and its tree "
         "with alnprepare (alnprepare --alignment FILE --format " +
         format + " --tree TREE.nwk --root-dir ROOT/ --case NAME/)\n";
}

// 2,000 iterations: a first run that alnsummarize judges and, when it is too
// short, extends with -n N --resume. --thin 10: 200 draws and 1,200 files per
// chain instead of 12,000. One round of marginal rate moves: a rate that falls
// near 0 leaves it again, so that the two chains can agree.
std::vector<std::string> recommended_chain_options() {
  return {"-n", "2000", "--thin", "10", "--marginal-rate-moves", "1"};
}

std::vector<unsigned> recommended_seeds() { return {1, 2}; }

std::vector<std::string> recipe_commands(const std::string& sampler, const std::string& summarizer,
                                         const std::string& root, const std::string& name, long k_max) {
  std::vector<std::string> commands;
  std::vector<std::string> summary{summarizer, "--root-dir", root, "--case", name, "--seeds"};
  for (const unsigned seed : recommended_seeds()) {
    std::vector<std::string> chain{sampler, "-r", root, "-t", name, "-s", std::to_string(seed)};
    for (const std::string& option : recommended_chain_options()) chain.push_back(option);
    if (k_max > 0) chain.insert(chain.end(), {"-k", std::to_string(k_max)});
    commands.push_back(shell_command(chain));
    summary.push_back(std::to_string(seed));
  }
  summary.insert(summary.end(), {"--out", root + "results/" + name + "summary/"});
  commands.push_back(shell_command(summary));
  return commands;
}

std::string recipe_heading() { return "run next (two chains, then their summary; paste the lines into a shell):\n"; }
