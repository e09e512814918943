#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "tree/tree_topology.h"

// The value and the three event indicators of one node in one column, in
// four bytes. The indicators describe the branch from the parent to the node
// and take -1 (not applicable), 0 or 1:
//   deletion  1: parent holds a residue, node is empty; 0: both hold residues.
//   insertion 1: parent empty, node holds a residue; 0: both empty.
//   bond      1: both hold residues and the residue came down unchanged;
//             0: both hold residues and a mutation event happened.
// Values: 0 empty, 1..4 residues, 5 absent (takes no part in the column).
struct NodeState {
  std::int8_t value = 0;
  std::int8_t deletion = -1;
  std::int8_t insertion = -1;
  std::int8_t bond = -1;
};

// The one store of every column's node values and indicators, indexed
// [column][label] in one flat array: 4 bytes per node, and the nodes of one
// label a fixed stride apart, so that the counts of the segmentation, rate
// and shape updates scan memory in order. The leaves hold the alignment; the
// internal nodes what the sampler last drew. The tree shape is shared by all
// columns and kept apart (topology()).
class ColumnStates {
 public:
  // One column per alignment row (indexed by sequence id): the leaves above
  // the last internal label take the row's values, every other node value 0
  // and every indicator -1. A row too short for the leaf map throws
  // std::out_of_range.
  ColumnStates(std::shared_ptr<const TreeTopology> topology, const std::vector<std::vector<int>>& alignment);

  const TreeTopology& topology() const { return *_topology; }
  const std::shared_ptr<const TreeTopology>& shared_topology() const { return _topology; }
  std::size_t columns() const { return _columns; }
  // Labels per column.
  std::size_t nodes() const { return _nodes; }
  const NodeState& at(std::size_t column, int label) const { return _states[column * _nodes + label]; }
  NodeState& at(std::size_t column, int label) { return _states[column * _nodes + label]; }
  int root_value(std::size_t column) const { return at(column, _root_label).value; }
  void set_root_value(std::size_t column, int value) {
    at(column, _root_label).value = static_cast<std::int8_t>(value);
  }
  // The column's leaf values indexed by sequence id.
  std::vector<int> leaf_values(std::size_t column) const;

  // Every node's state, column after column, label after label: with the
  // leaf values fixed by the input, all that a column carries from one
  // iteration to the next.
  const std::vector<NodeState>& all() const { return _states; }
  // Takes back such a list; throws std::invalid_argument if its size is not
  // columns() x nodes().
  void restore(const std::vector<NodeState>& states);

 private:
  std::shared_ptr<const TreeTopology> _topology;
  std::size_t _columns = 0;
  std::size_t _nodes = 0;
  int _root_label = 0;
  std::vector<NodeState> _states;
};
