#include "tree/zero_length_branches.h"

#include "io/fatal.h"
#include "io/string_conversion.h"

namespace {

constexpr unsigned absent = 1u << 5;
constexpr unsigned residues = 0b11110;

// Whether a node may hold `child` below a parent holding `parent`: nothing
// comes out of an empty position, and nothing changes on a branch without
// events; any other change is an event on a branch of positive length.
bool may_follow(int parent, int child, bool without_events) {
  if (parent == 0) return child == 0;
  return !without_events || child == parent;
}

// The values (bits 0..4) that `node` can hold given the leaves below it, or
// `absent` when every leaf below is. The branch above `relaxed` is taken as
// if it had a positive length.
unsigned possible_values(const PhyTree& shape, const Node* node, const std::vector<int>& column, int relaxed) {
  if (node->is_leaf()) return 1u << column.at(shape.leave_label_to_seq_id.at(node->_label));
  unsigned below[2];
  for (int k = 0; k < 2; ++k) below[k] = possible_values(shape, node->child_nodes[k], column, relaxed);
  if (below[0] == absent && below[1] == absent) return absent;
  unsigned values = 0;
  for (int s = 0; s <= 4; ++s) {
    bool possible = true;
    for (int k = 0; k < 2 && possible; ++k) {
      const Node* child = node->child_nodes[k];
      if (below[k] == absent) continue;
      const bool without_events = child->length == 0.0 && child->_label != relaxed;
      bool reached = false;
      for (int j = 0; j <= 4; ++j) reached = reached || (((below[k] >> j) & 1u) && may_follow(s, j, without_events));
      possible = reached;
    }
    if (possible) values |= 1u << s;
  }
  return values;
}

// The root of a modelled column holds a residue.
bool can_evolve(const PhyTree& shape, const std::vector<int>& column, int relaxed) {
  return (possible_values(shape, shape.root, column, relaxed) & residues) != 0;
}

}  // namespace

int zero_length_branch_needing_an_event(const PhyTree& shape, const std::vector<int>& column) {
  if (can_evolve(shape, column, -1)) return 0;
  for (const Node* node : shape.nodes) {
    if (node != shape.root && node->length == 0.0 && can_evolve(shape, column, node->_label)) return node->_label;
  }
  return -1;
}

void check_zero_length_branches(const PhyTree& shape, const std::vector<std::vector<int>>& alignment,
                                const std::vector<std::size_t>& lines, const std::string& data_path) {
  bool has_zero_length = false;
  for (const Node* node : shape.nodes) has_zero_length = has_zero_length || (node != shape.root && node->length == 0.0);
  if (!has_zero_length) return;
  for (std::size_t c = 0; c < alignment.size(); ++c) {
    const int label = zero_length_branch_needing_an_event(shape, alignment[c]);
    if (label == 0) continue;
    const std::string where = "Input error: " + data_path + " line " + to_string(lines.at(c)) + ": ";
    if (label > 0) {
      const std::string branch = to_string(shape.nodes[label]->parent->_label) + " " + to_string(label);
      fatal(where + "the column needs an event on branch " + branch + " of length 0, which carries none " +
                "(and nothing is inserted inside the tree); give the branch a positive length or drop the column\n",
            -1);
    }
    fatal(where + "the column needs events on several branches of length 0, which carry none (and nothing is " +
              "inserted inside the tree); give them positive lengths or drop the column\n",
          -1);
  }
}
