#include "tree/initial_states.h"

#include <sstream>

#include "io/errors.h"
#include "random/sampler.h"
#include "tree/zero_length_branches.h"

namespace {

bool is_residue(int value) { return value >= 1 && value <= 4; }

// Absent children first: an absent child has no branch event, and the parent
// takes what the other child offers (absent, empty or its residue). Then the
// common cases: two different residues are resolved by a fair coin, which is
// the only random draw of the initialisation.
void init_parent_from_children(NodeState& p, NodeState& left, NodeState& right, Sampler<int, double>& coin) {
  const int l = left.value;
  const int r = right.value;
  if (l == 5) {
    if (r == 5) {
      p.value = 5;
      left.bond = -1;
      right.bond = -1;
    } else if (r >= 0 && r <= 4) {
      left.bond = -1;
      if (r == 0) {
        p.value = 0;
        right.bond = -1;
      } else {
        p.value = static_cast<std::int8_t>(r);
        right.bond = 1;
      }
    }
  } else if (r == 5 && l >= 0 && l <= 4) {
    right.bond = -1;
    if (l == 0) {
      p.value = 0;
      left.bond = -1;
    } else {
      p.value = static_cast<std::int8_t>(l);
      left.bond = 1;
    }
  }

  if (is_residue(l) && is_residue(r) && l != r) {
    if (coin.draw_w_replace(1)[0] == 1) {
      p.value = static_cast<std::int8_t>(l);
      left.bond = 1;
      right.bond = 0;
    } else {
      p.value = static_cast<std::int8_t>(r);
      left.bond = 0;
      right.bond = 1;
    }
  } else if (is_residue(l) && is_residue(r)) {
    p.value = static_cast<std::int8_t>(l);
    left.bond = 1;
    right.bond = 1;
  } else if (l == 0 && r == 0) {
    p.value = 0;
    left.bond = -1;
    right.bond = -1;
  } else if (is_residue(l) && r == 0) {
    p.value = static_cast<std::int8_t>(l);
    left.bond = 1;
    right.bond = -1;
  } else if (l == 0 && is_residue(r)) {
    p.value = static_cast<std::int8_t>(r);
    left.bond = -1;
    right.bond = 1;
  }
}

void init_child_indicators(int parent_value, NodeState& c) {
  if (is_residue(parent_value)) {
    c.insertion = -1;
    if (is_residue(c.value)) {
      c.deletion = 0;
    } else if (c.value == 0) {
      c.deletion = 1;
    } else if (c.value == 5) {
      c.deletion = -1;
    }
  } else if (parent_value == 0) {
    c.deletion = -1;
    if (c.value == 0) {
      c.insertion = 0;
    } else if (c.value == 5) {
      c.insertion = -1;
    } else if (is_residue(c.value)) {
      c.insertion = 1;
      throw InternalError("insertion is initialized unexpectedly!\n");
    }
  } else if (parent_value == 5) {
    c.deletion = -1;
    c.insertion = -1;
  }
}

// Every branch in preorder (node, first subtree, second subtree), one line
// each, for the message about an absent root.
void show_branches(const ColumnStates& states, std::size_t column, int node, std::ostream& out) {
  const TreeTopology& tree = states.topology();
  if (node != 0) {
    const NodeState& parent = states.at(column, tree.label(tree.parent(node)));
    const NodeState& own = states.at(column, tree.label(node));
    out << "p.label: " << tree.label(tree.parent(node)) << "\tp.value: " << int{parent.value}
        << "\tlabel: " << tree.label(node) << "\tvalue: " << int{own.value} << "\tdeletion: " << int{own.deletion}
        << "\tinsertion: " << int{own.insertion} << "\tbond: " << int{own.bond} << "\tlength: " << tree.length(node)
        << "\n";
  }
  if (tree.is_leaf(node)) return;
  show_branches(states, column, tree.first_child(node), out);
  show_branches(states, column, tree.second_child(node), out);
}

}  // namespace

void initialise_column(ColumnStates& states, std::size_t column) {
  const TreeTopology& tree = states.topology();
  Sampler<int, double> coin({0, 1}, {0.5, 0.5});
  for (int node = static_cast<int>(tree.size()) - 1; node >= 0; --node) {
    if (tree.is_leaf(node)) continue;
    NodeState& p = states.at(column, tree.label(node));
    init_parent_from_children(p, states.at(column, tree.label(tree.first_child(node))),
                              states.at(column, tree.label(tree.second_child(node))), coin);
    if (node == 0) p.bond = -1;
  }

  NodeState& root = states.at(column, tree.root_label());
  if (root.value == 0) root.value = 1;
  if (root.value == 5) {
    std::ostringstream shown;
    shown << "root of a tree becomes pale yellow or double line. \n";
    show_branches(states, column, 0, shown);
    throw InternalError(shown.str(), 1);
  }

  root.deletion = -1;
  root.insertion = -1;
  for (int node = 0; node < static_cast<int>(tree.size()); ++node) {
    if (tree.is_leaf(node)) continue;
    const int parent_value = states.at(column, tree.label(node)).value;
    init_child_indicators(parent_value, states.at(column, tree.label(tree.first_child(node))));
    init_child_indicators(parent_value, states.at(column, tree.label(tree.second_child(node))));
  }
}

void initialise_columns(ColumnStates& states) {
  for (std::size_t column = 0; column < states.columns(); ++column) {
    initialise_column(states, column);
    keep_zero_length_branches_without_events(states, column);
  }
}
