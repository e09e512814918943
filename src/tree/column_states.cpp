#include "tree/column_states.h"

#include <stdexcept>

ColumnStates::ColumnStates(std::shared_ptr<const TreeTopology> topology, const std::vector<std::vector<int>>& alignment)
    : _topology(std::move(topology)),
      _columns(alignment.size()),
      _nodes(_topology->size()),
      _root_label(_topology->root_label()),
      _states(_columns * _nodes) {
  for (std::size_t column = 0; column < _columns; ++column) {
    for (std::size_t label = _topology->last_internal_label() + 1; label < _nodes; ++label) {
      const int value = alignment[column].at(_topology->sequence_of(static_cast<int>(label)));
      at(column, static_cast<int>(label)).value = static_cast<std::int8_t>(value);
    }
  }
}

std::vector<int> ColumnStates::leaf_values(std::size_t column) const {
  std::vector<int> values(_topology->sequence_count());
  for (std::size_t label = _topology->last_internal_label() + 1; label < _nodes; ++label) {
    values.at(_topology->sequence_of(static_cast<int>(label))) = at(column, static_cast<int>(label)).value;
  }
  return values;
}

void ColumnStates::restore(const std::vector<NodeState>& states) {
  if (states.size() != _states.size()) throw std::invalid_argument("node states of another alignment or tree");
  _states = states;
}
