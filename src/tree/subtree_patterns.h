#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "tree/column_states.h"
#include "tree/tree_topology.h"

// Which columns look alike below each node. The likelihood tables of a node
// depend only on the leaf values below it and on the branch matrices: an
// internal node's current value enters the pass only through "is it 5
// (absent)?", and it is absent exactly when every leaf below it is. So every
// node gets a pattern id per column, equal ids meaning equal leaf values
// below: a leaf's id is its value (0..5), an internal node's id numbers the
// distinct pairs of its children's ids in order of first appearance. One pass
// per pattern then serves every column that shows it, and the whole column's
// pattern is the root's id.
class SubtreePatterns {
 public:
  // Reads the leaf values of every column and checks that each internal
  // node is absent (value 5) exactly when all leaves below it are; anything
  // else is an InternalError.
  explicit SubtreePatterns(const ColumnStates& states);

  std::size_t columns() const { return _columns; }
  int id(std::size_t column, int node) const { return _ids[column * _nodes + node]; }
  // Number of distinct ids of an internal node.
  int count(int node) const { return static_cast<int>(_child_ids[node].size()); }
  const std::array<int, 2>& child_ids(int node, int id) const { return _child_ids[node][id]; }
  // Every leaf below is absent.
  bool absent(int node, int id) const { return _absent[node][id] != 0; }

 private:
  std::size_t _columns = 0;
  std::size_t _nodes = 0;
  std::vector<std::int32_t> _ids;                           // [column][node]
  std::vector<std::vector<std::array<int, 2>>> _child_ids;  // [internal node][id]
  std::vector<std::vector<std::uint8_t>> _absent;           // [node][id]
};
