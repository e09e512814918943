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
// The branch above the node labelled `relaxed` is taken as if it had a
// positive length.
unsigned possible_values(const TreeTopology& shape, int node, const std::vector<int>& column, int relaxed,
                         std::vector<unsigned>* masks = nullptr) {
  const int label = shape.label(node);
  if (shape.is_leaf(node)) return 1u << column.at(shape.sequence_of(label));
  const int children[2] = {shape.first_child(node), shape.second_child(node)};
  unsigned below[2];
  for (int k = 0; k < 2; ++k) below[k] = possible_values(shape, children[k], column, relaxed, masks);
  if (masks != nullptr) (*masks)[label] = below[0] == absent && below[1] == absent ? absent : 0;
  if (below[0] == absent && below[1] == absent) return absent;
  unsigned values = 0;
  for (int s = 0; s <= 4; ++s) {
    bool possible = true;
    for (int k = 0; k < 2 && possible; ++k) {
      if (below[k] == absent) continue;
      const bool without_events = shape.length(children[k]) == 0.0 && shape.label(children[k]) != relaxed;
      bool reached = false;
      for (int j = 0; j <= 4; ++j) reached = reached || (((below[k] >> j) & 1u) && may_follow(s, j, without_events));
      possible = reached;
    }
    if (possible) values |= 1u << s;
  }
  if (masks != nullptr) (*masks)[label] = values;
  return values;
}

bool has_zero_length_branch(const TreeTopology& shape) {
  for (std::size_t node = 1; node < shape.size(); ++node) {
    if (shape.length(static_cast<int>(node)) == 0.0) return true;
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
void set_indicators(NodeState& child, int parent) {
  const int value = child.value;
  child.deletion = static_cast<std::int8_t>(is_residue(parent) && value != 5 ? (value == 0 ? 1 : 0) : -1);
  child.insertion = static_cast<std::int8_t>(parent == 0 && value == 0 ? 0 : -1);
  child.bond = static_cast<std::int8_t>(is_residue(parent) && is_residue(value) ? (value == parent ? 1 : 0) : -1);
}

// The root of a modelled column holds a residue.
bool can_evolve(const TreeTopology& shape, const std::vector<int>& column, int relaxed) {
  return (possible_values(shape, 0, column, relaxed) & residues) != 0;
}

}  // namespace

int zero_length_branch_needing_an_event(const TreeTopology& shape, const std::vector<int>& column) {
  if (can_evolve(shape, column, -1)) return 0;
  for (int label = 0; label < static_cast<int>(shape.size()); ++label) {
    if (label != shape.root_label() && shape.length_above(label) == 0.0 && can_evolve(shape, column, label)) {
      return label;
    }
  }
  return -1;
}

void keep_zero_length_branches_without_events(ColumnStates& states, std::size_t column) {
  const TreeTopology& tree = states.topology();
  if (!has_zero_length_branch(tree)) return;
  std::vector<unsigned> masks(tree.size(), 0);
  const unsigned at_root = possible_values(tree, 0, states.leaf_values(column), -1, &masks) & residues;
  if (at_root == 0) return;
  bool changed = false;
  NodeState& root = states.at(column, tree.root_label());
  if (((at_root >> root.value) & 1u) == 0) {
    root.value = static_cast<std::int8_t>(lowest_value(at_root));
    changed = true;
  }
  // Parents before children (the breadth-first numbers), so each node
  // chooses given its parent's value.
  for (int node = 1; node < static_cast<int>(tree.size()); ++node) {
    const int label = tree.label(node);
    if (tree.is_leaf(node) || masks[label] == absent) continue;
    const int parent = states.at(column, tree.label(tree.parent(node))).value;
    NodeState& child = states.at(column, label);
    unsigned allowed = 0;
    for (int j = 0; j <= 4; ++j) {
      if (((masks[label] >> j) & 1u) && may_follow(parent, j, tree.length(node) == 0.0)) allowed |= 1u << j;
    }
    if (((allowed >> child.value) & 1u) == 0) {
      int value = ((allowed >> parent) & 1u) ? parent : lowest_value(allowed & residues);
      child.value = static_cast<std::int8_t>(value < 0 ? 0 : value);
      changed = true;
    }
  }
  if (!changed) return;
  for (int node = 1; node < static_cast<int>(tree.size()); ++node) {
    set_indicators(states.at(column, tree.label(node)), states.at(column, tree.label(tree.parent(node))).value);
  }
}

void check_zero_length_branches(const TreeTopology& shape, const std::vector<std::vector<int>>& alignment,
                                const std::vector<std::size_t>& lines, const std::string& data_path) {
  if (!has_zero_length_branch(shape)) return;
  for (std::size_t c = 0; c < alignment.size(); ++c) {
    const int label = zero_length_branch_needing_an_event(shape, alignment[c]);
    if (label == 0) continue;
    if (label > 0) {
      const std::string branch =
          to_string(shape.label(shape.parent(shape.node_of(label)))) + " to node " + to_string(label);
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
