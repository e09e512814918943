#include "io/tree_input.h"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <limits>
#include <map>
#include <queue>
#include <sstream>

#include "io/csv_reader.h"
#include "io/errors.h"
#include "io/string_conversion.h"

namespace {

[[noreturn]] void input_error(const std::string& path, std::size_t line, const std::string& what) {
  throw InputError::at_line(path, line, what);
}

int parse_label(const std::string& word, const std::string& role, const std::string& path, std::size_t line) {
  const auto label = parse_exact<int>(word);
  if (!label) input_error(path, line, role + " label " + quoted_value(word) + " is not an integer");
  return *label;
}

double parse_length(const std::string& word, const std::string& path, std::size_t line) {
  const auto length = parse_exact<double>(word);
  if (!length || !std::isfinite(*length))
    input_error(path, line, "branch length " + quoted_value(word) + " is not a finite number");
  if (*length < 0.0) input_error(path, line, "branch length " + quoted_value(word) + " is negative");
  return *length;
}

// Reads the branch table, remembering the file line of every branch for
// later messages.
void read_branches(const std::string& path, std::vector<int>& parents, std::vector<int>& children,
                   std::vector<double>& lengths, std::vector<std::size_t>& lines) {
  CSVReader<std::string> reader(path);
  const auto rows = reader.read();
  parents.clear();
  children.clear();
  lengths.clear();
  lines.clear();
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const auto& words = rows[i];
    if (words.empty()) continue;
    const std::size_t line = i + 1;
    if (words.size() < 3) {
      input_error(path, line,
                  "expected parent, child and branch length, found " + to_string(words.size()) + " word(s)");
    }
    parents.push_back(parse_label(words[0], "parent", path, line));
    children.push_back(parse_label(words[1], "child", path, line));
    lengths.push_back(parse_length(words[2], path, line));
    lines.push_back(line);
  }
}

void check_branch_labels(const std::string& path, const std::vector<int>& parents, const std::vector<int>& children,
                         const std::vector<std::size_t>& lines) {
  const int last_label = static_cast<int>(children.size());
  const std::string range = " is outside 0.." + to_string(last_label);
  if (parents.front() != 0) {
    input_error(path, lines.front(),
                "the first branch must start at the root, label 0, not at " + to_string(parents.front()));
  }
  std::map<int, std::size_t> line_of_child;
  for (std::size_t i = 0; i < parents.size(); ++i) {
    if (parents[i] < 0 || parents[i] > last_label)
      input_error(path, lines[i], "parent label " + to_string(parents[i]) + range);
    if (children[i] < 1 || children[i] > last_label) {
      input_error(path, lines[i], "child label " + to_string(children[i]) + " is outside 1.." + to_string(last_label));
    }
    const auto [it, inserted] = line_of_child.emplace(children[i], lines[i]);
    if (!inserted) {
      input_error(path, lines[i],
                  "child label " + to_string(children[i]) + " is already the child of line " + to_string(it->second));
    }
  }
}

// Replays the construction of the tree from the branch table (one pair of
// rows per internal node, pairs in breadth-first order of their parents) on
// the labels alone, and refuses the rows it never reaches: a third child of
// a node, or a branch hanging below a node that is not in the tree. Rows out
// of order, or too few rows, are left to the tree's own construction, whose
// messages name them.
void check_every_branch_is_reached(const std::string& path, const std::vector<int>& parents,
                                   const std::vector<int>& children, const std::vector<std::size_t>& lines) {
  const int last_internal_label = *std::max_element(parents.begin(), parents.end());
  std::vector<std::size_t> first_row_of_parent(children.size() + 1, parents.size());
  std::queue<int> queue;
  queue.push(parents.front());
  std::size_t i = 0;
  while (!queue.empty()) {
    const int parent = queue.front();
    queue.pop();
    for (int k = 0; k < 2; ++k, ++i) {
      if (i >= parents.size() || parents[i] != parent) return;
      if (k == 0) first_row_of_parent[parent] = i;
      if (children[i] <= last_internal_label) queue.push(children[i]);
    }
  }
  if (i >= parents.size()) return;
  const int parent = parents[i];
  const std::size_t first = first_row_of_parent[parent];
  if (first < parents.size()) {
    input_error(path, lines[i],
                "node " + to_string(parent) + " already has two children (lines " + to_string(lines[first]) + " and " +
                    to_string(lines[first + 1]) + "); a tree node has at most two");
  }
  input_error(path, lines[i],
              "parent " + to_string(parent) + " of child " + to_string(children[i]) +
                  " is not reached from the root by the lines before it");
}

// One row of the leaf map is refused, naming its line, when it cannot stand
// beside the rows before it: a label that is a parent in the tree (an
// internal node has no sequence), a leaf given a second, different sequence
// id, or a sequence id already given to another leaf. Letting the last row
// win would swap sequences between leaves without a word. A row repeated
// exactly says nothing new and is accepted.
// The leaf map as far as it is read, with what its rows are checked against.
struct LeafMapSoFar {
  std::vector<bool> is_parent;      // by label
  std::vector<int>& map;            // by label: the sequence id, -1 while none
  std::vector<std::size_t>& lines;  // by label: the line that gave it, 0 while none
  std::map<int, int> leaf_of_id;
};

void check_leaf_map_row(const std::string& path, std::size_t line, int label, int id, LeafMapSoFar& so_far) {
  const std::vector<bool>& is_parent = so_far.is_parent;
  const std::vector<int>& map = so_far.map;
  const std::vector<std::size_t>& lines = so_far.lines;
  std::map<int, int>& leaf_of_id = so_far.leaf_of_id;
  if (is_parent[label]) {
    input_error(path, line,
                "label " + to_string(label) +
                    " is an internal node of the tree (a parent in tree.txt); "
                    "only leaves have sequence ids");
  }
  if (lines[label] != 0 && map[label] != id) {
    input_error(path, line,
                "leaf " + to_string(label) + " is given sequence ids " + to_string(map[label]) + " and " +
                    to_string(id) + " (lines " + to_string(lines[label]) + " and " + to_string(line) + ")");
  }
  const auto [it, inserted] = leaf_of_id.emplace(id, label);
  if (!inserted && it->second != label) {
    input_error(path, line,
                "sequence id " + to_string(id) + " is given to leaves " + to_string(it->second) + " and " +
                    to_string(label) + " (lines " + to_string(lines[it->second]) + " and " + to_string(line) + ")");
  }
}

void read_leaf_map(const std::string& path, const std::vector<int>& parents, std::size_t label_count,
                   std::vector<int>& map, std::vector<std::size_t>& lines) {
  CSVReader<int> reader(path);
  const auto rows = reader.read();
  // The table reader stops a row at the first cell that is not an integer
  // and reads "2.7" as 2; a label or sequence id must be the whole cell.
  check_whole_number_cells(path, std::numeric_limits<int>::min(), std::numeric_limits<int>::max());
  map.assign(label_count, -1);
  lines.assign(label_count, 0);
  LeafMapSoFar so_far{std::vector<bool>(label_count), map, lines, {}};
  for (const int parent : parents) so_far.is_parent[parent] = true;
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const auto& row = rows[i];
    if (row.empty()) continue;
    const std::size_t line = i + 1;
    if (row.size() < 2)
      input_error(path, line, "expected a leaf label and a sequence id, found " + to_string(row.size()) + " value(s)");
    if (row[0] < 0 || static_cast<std::size_t>(row[0]) >= label_count) {
      input_error(path, line, "label " + to_string(row[0]) + " is outside 0.." + to_string(label_count - 1));
    }
    check_leaf_map_row(path, line, row[0], row[1], so_far);
    map[row[0]] = row[1];
    if (lines[row[0]] == 0) lines[row[0]] = line;
  }
}

// Every leaf needs a sequence id, and the leaves' ids must be exactly
// 0..(leaves-1): a column's leaf values are returned indexed by sequence id.
// (No id is given to two leaves: the rows were checked as they were read.)
void check_leaf_ids(const std::string& tree_path, const std::string& map_path, int last_internal_label,
                    const std::vector<int>& map, const std::vector<std::size_t>& lines) {
  const int leaf_count = static_cast<int>(map.size()) - 1 - last_internal_label;
  for (int label = last_internal_label + 1; label < static_cast<int>(map.size()); ++label) {
    if (lines[label] == 0) {
      throw InputError("Input error: " + map_path + ": leaf label " + to_string(label) + " of " + tree_path +
                           " has no sequence id\n",
                       map_path);
    }
    const int id = map[label];
    if (id < 0 || id >= leaf_count) {
      input_error(map_path, lines[label],
                  "sequence id " + to_string(id) + " of leaf " + to_string(label) + " is outside 0.." +
                      to_string(leaf_count - 1));
    }
  }
}

}  // namespace

void write_tree_report(const BranchTable& table, std::ostream& out) {
  out << "tree input info:\n"
      << "parents, children, lengths:\n";
  for (std::size_t i = 0; i < table.parents.size(); ++i) {
    out << table.parents[i] << " " << table.children[i] << " " << table.lengths[i] << "\n";
  }
  out << "mapping from leave labels to sequence id is:\n";
  for (std::size_t i = 0; i < table.leaf_map.size(); ++i) {
    if (table.leaf_map[i] != -1) out << i << " " << table.leaf_map[i] << "\n";
  }
}

TreeFiles read_tree_files(const std::string& data_dir) {
  const std::string tree_path = data_dir + "tree.txt";
  const std::string map_path = data_dir + "map_from_leave_label_to_seq_id.txt";
  TreeFiles files;
  BranchTable& table = files.table;
  read_branches(tree_path, table.parents, table.children, table.lengths, files.branch_lines);
  check_branch_labels(tree_path, table.parents, table.children, files.branch_lines);
  check_every_branch_is_reached(tree_path, table.parents, table.children, files.branch_lines);

  std::vector<std::size_t> map_lines;
  read_leaf_map(map_path, table.parents, table.children.size() + 1, table.leaf_map, map_lines);
  const int last_internal_label = *std::max_element(table.parents.begin(), table.parents.end());
  check_leaf_ids(tree_path, map_path, last_internal_label, table.leaf_map, map_lines);
  return files;
}

std::size_t required_row_length(const std::vector<int>& parents,
                                const std::vector<int>& map_from_leave_label_to_seq_id) {
  const int last_internal_label = *std::max_element(parents.begin(), parents.end());
  int largest_id = -1;
  for (std::size_t label = last_internal_label + 1; label < map_from_leave_label_to_seq_id.size(); ++label) {
    largest_id = std::max(largest_id, map_from_leave_label_to_seq_id[label]);
  }
  return static_cast<std::size_t>(largest_id + 1);
}

std::vector<std::vector<int>> keep_modelled_columns(const std::vector<std::vector<int>>& data_rows,
                                                    const std::string& path, std::size_t row_length,
                                                    std::vector<std::size_t>* kept_lines) {
  std::vector<std::vector<int>> alignment;
  if (kept_lines != nullptr) kept_lines->clear();
  for (std::size_t i = 0; i < data_rows.size(); ++i) {
    const auto& row = data_rows[i];
    if (row.empty() || row.front() < 1 || row.front() > 4) continue;
    if (row.size() < row_length) {
      input_error(
          path, i + 1,
          "the row holds " + to_string(row.size()) + " value(s), but the tree's leaves need " + to_string(row_length));
    }
    for (std::size_t k = 0; k < row.size(); ++k) {
      if (row[k] < 0 || row[k] > 5) {
        input_error(path, i + 1, "value " + to_string(row[k]) + " of sequence " + to_string(k) + " is outside 0..5");
      }
    }
    alignment.push_back(row);
    if (kept_lines != nullptr) kept_lines->push_back(i + 1);
  }
  return alignment;
}

void check_whole_number_cells(const std::string& path, int lowest, int highest) {
  std::ifstream file(path);
  std::string line;
  for (std::size_t number = 1; std::getline(file, line); ++number) {
    std::istringstream cells(line);
    std::string cell;
    for (std::size_t column = 1; cells >> cell; ++column) {
      const auto value = parse_exact<int>(cell);
      if (value && *value >= lowest && *value <= highest) continue;
      const std::string where = "Input error: " + path + " line " + to_string(number) + " column " + to_string(column) +
                                ": value " + quoted_value(cell);
      if (!value) throw InputError(where + " is not a whole number\n", path, number, cell);
      throw InputError(where + " is outside " + to_string(lowest) + ".." + to_string(highest) + "\n", path, number,
                       cell);
    }
  }
}

void check_branch_lengths(const std::string& path, const std::vector<double>& lengths,
                          const std::vector<std::size_t>& lines) {
  std::size_t shortest = lengths.size();
  std::size_t longest = lengths.size();
  for (std::size_t i = 0; i < lengths.size(); ++i) {
    const double length = lengths[i];
    if (length == 0.0) continue;
    if (length < smallest_branch_length || length > largest_branch_length) {
      std::ostringstream message;
      message << "branch length " << length << " is outside the lengths the sampler can carry: 0 (a branch "
              << "without events) or " << smallest_branch_length << " to " << largest_branch_length;
      input_error(path, lines.at(i), message.str());
    }
    if (shortest == lengths.size() || length < lengths[shortest]) shortest = i;
    if (longest == lengths.size() || length > lengths[longest]) longest = i;
  }
  if (shortest == lengths.size()) {
    throw InputError("Input error: " + path + ": every branch has length 0; at least one branch must be longer\n",
                     path);
  }
  if (lengths[shortest] * largest_branch_length_spread < lengths[longest]) {
    std::ostringstream message;
    message << "branch length " << lengths[shortest] << " is more than " << largest_branch_length_spread
            << " times shorter than the longest branch, " << lengths[longest] << " (line " << lines.at(longest)
            << "); the positive lengths of one tree must lie within that factor of each other (here "
            << lengths[longest] / largest_branch_length_spread << " to " << lengths[longest] << "), or be 0";
    input_error(path, lines.at(shortest), message.str());
  }
}
