#include "tree/zero_length_branches.h"

#include "io/errors.h"
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
// `absent` when every leaf below is; with `masks`, stored there by label too.
// The branch above `relaxed` is taken as if it had a positive length.
unsigned possible_values(const PhyTree& shape, const Node* node, const std::vector<int>& column, int relaxed,
                         std::vector<unsigned>* masks = nullptr) {
  if (node->is_leaf()) return 1u << column.at(shape.leave_label_to_seq_id.at(node->_label));
  unsigned below[2];
  for (int k = 0; k < 2; ++k) below[k] = possible_values(shape, node->child_nodes[k], column, relaxed, masks);
  if (masks != nullptr) (*masks)[node->_label] = below[0] == absent && below[1] == absent ? absent : 0;
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
  if (masks != nullptr) (*masks)[node->_label] = values;
  return values;
}

bool has_zero_length_branch(const PhyTree& shape) {
  for (const Node* node : shape.nodes) {
    if (node != shape.root && node->length == 0.0) return true;
  }
  return false;
}

int lowest_value(unsigned values) {
  for (int v = 0; v <= 4; ++v) {
    if ((values >> v) & 1u) return v;
  }
  return -1;
}

bool is_residue(int value) { return value >= 1 && value <= 4; }

// The indicators of the branch above `child`, read off the two values as the
// initialisation sets them: a residue kept is a bond, a residue changed a
// mutation, a residue lost a deletion; an empty position stays empty.
void set_indicators(Node& child, int parent) {
  const int value = child.value;
  child.deletion = is_residue(parent) && value != 5 ? (value == 0 ? 1 : 0) : -1;
  child.insertion = parent == 0 && value == 0 ? 0 : -1;
  child.bond = is_residue(parent) && is_residue(value) ? (value == parent ? 1 : 0) : -1;
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

void keep_zero_length_branches_without_events(PhyTree& tree) {
  if (!has_zero_length_branch(tree)) return;
  std::vector<unsigned> masks(tree.nodes.size(), 0);
  const unsigned at_root = possible_values(tree, tree.root, tree.retrieve_leave_values(), -1, &masks) & residues;
  if (at_root == 0) return;
  bool changed = false;
  if (((at_root >> tree.root->value) & 1u) == 0) {
    tree.root->value = lowest_value(at_root);
    changed = true;
  }
  // Parents before children, so each node chooses given its parent's value.
  std::vector<Node*> queue{tree.root};
  for (std::size_t head = 0; head < queue.size(); ++head) {
    Node* node = queue[head];
    for (Node* child : node->child_nodes) {
      if (child == nullptr || child->is_leaf() || masks[child->_label] == absent) continue;
      unsigned allowed = 0;
      for (int j = 0; j <= 4; ++j) {
        if (((masks[child->_label] >> j) & 1u) && may_follow(node->value, j, child->length == 0.0)) allowed |= 1u << j;
      }
      if (((allowed >> child->value) & 1u) == 0) {
        child->value = ((allowed >> node->value) & 1u) ? node->value : lowest_value(allowed & residues);
        if (child->value < 0) child->value = 0;
        changed = true;
      }
      queue.push_back(child);
    }
  }
  if (!changed) return;
  for (Node* node : tree.nodes) {
    if (node != tree.root) set_indicators(*node, node->parent->value);
  }
}

void check_zero_length_branches(const PhyTree& shape, const std::vector<std::vector<int>>& alignment,
                                const std::vector<std::size_t>& lines, const std::string& data_path) {
  if (!has_zero_length_branch(shape)) return;
  for (std::size_t c = 0; c < alignment.size(); ++c) {
    const int label = zero_length_branch_needing_an_event(shape, alignment[c]);
    if (label == 0) continue;
    if (label > 0) {
      const std::string branch = to_string(shape.nodes[label]->parent->_label) + " to node " + to_string(label);
      throw InputError::at_line(data_path, lines.at(c),
                                "the column needs an event on the branch from node " + branch +
                                    ", whose length 0 carries none (and nothing is inserted inside the tree); give "
                                    "the branch a positive length or drop the column");
    }
    throw InputError::at_line(data_path, lines.at(c),
                              "the column needs events on several branches of length 0, which carry none (and "
                              "nothing is inserted inside the tree); give them positive lengths or drop the column");
  }
}
