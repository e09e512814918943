#include "tree/column_states.h"

#include <stdexcept>

ColumnStates::ColumnStates(const std::vector<PhyTree*>& trees)
    : _columns(trees.size()),
      _nodes(trees.at(0)->nodes.size()),
      _root_label(trees.at(0)->root->_label),
      _last_internal_label(trees.at(0)->last_internal_label),
      _leave_label_to_seq_id(trees.at(0)->leave_label_to_seq_id),
      _lengths(_nodes, 0.0),
      _states(_columns * _nodes) {
  for (std::size_t label = 0; label < _nodes; ++label) {
    if (const Node* node = trees[0]->nodes[label]) _lengths[label] = node->length;
  }
  for (std::size_t column = 0; column < _columns; ++column) {
    for (const Node* node : trees[column]->nodes) {
      if (node != nullptr) store(column, *node);
    }
  }
}

std::vector<int> ColumnStates::leaf_values(std::size_t column) const {
  std::vector<int> values(_nodes - 1 - static_cast<std::size_t>(_last_internal_label));
  for (std::size_t label = _last_internal_label + 1; label < _nodes; ++label) {
    values.at(_leave_label_to_seq_id.at(label)) = at(column, static_cast<int>(label)).value;
  }
  return values;
}

void ColumnStates::restore(const std::vector<NodeState>& states, std::vector<PhyTree*>& trees) {
  if (states.size() != _states.size() || trees.size() != _columns) {
    throw std::invalid_argument("node states of another alignment or tree");
  }
  _states = states;
  for (std::size_t column = 0; column < _columns; ++column) {
    for (Node* node : trees[column]->nodes) {
      if (node == nullptr) continue;
      const NodeState& state = at(column, node->_label);
      node->value = state.value;
      node->deletion = state.deletion;
      node->insertion = state.insertion;
      node->bond = state.bond;
    }
  }
}
