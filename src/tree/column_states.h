#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "tree/node.h"
#include "tree/phy_tree.h"

// The value and the three event indicators of one node in one column, in
// four bytes (values 0..5, indicators -1..1).
struct NodeState {
  std::int8_t value = 0;
  std::int8_t deletion = -1;
  std::int8_t insertion = -1;
  std::int8_t bond = -1;
};

// Every column's node values and indicators in one flat array, indexed
// [column][label]: 4 bytes per node instead of a heap node with its tables,
// and the nodes of one label a fixed stride apart, so that the counts of the
// rate and shape updates scan memory in order. Also keeps the branch length
// above each label and each column's leaf values by sequence id.
class ColumnStates {
 public:
  // Copies the current values and indicators of every column's tree.
  explicit ColumnStates(const std::vector<PhyTree*>& trees);

  std::size_t columns() const { return _columns; }
  std::size_t nodes() const { return _nodes; }
  const NodeState& at(std::size_t column, int label) const { return _states[column * _nodes + label]; }
  int root_value(std::size_t column) const { return at(column, _root_label).value; }
  // Branch length above a label (0.0 for the root).
  double length(int label) const { return _lengths[label]; }
  // The column's leaf values indexed by sequence id, as
  // PhyTree::retrieve_leave_values gives them.
  std::vector<int> leaf_values(std::size_t column) const;

  // Every node's state, column after column, label after label: with the
  // leaf values fixed by the input, all that a column's tree carries from one
  // iteration to the next.
  const std::vector<NodeState>& all() const { return _states; }
  // Takes back such a list (throws std::invalid_argument if its size is not
  // columns() x nodes()) and writes every column's values and indicators
  // into its tree as well.
  void restore(const std::vector<NodeState>& states, std::vector<PhyTree*>& trees);

  // Copies one node's current value and indicators.
  void store(std::size_t column, const Node& node) {
    _states[column * _nodes + node._label] = {
        static_cast<std::int8_t>(node.value), static_cast<std::int8_t>(node.deletion),
        static_cast<std::int8_t>(node.insertion), static_cast<std::int8_t>(node.bond)};
  }

 private:
  std::size_t _columns = 0;
  std::size_t _nodes = 0;
  int _root_label = 0;
  int _last_internal_label = -1;
  std::vector<int> _leave_label_to_seq_id;
  std::vector<double> _lengths;
  std::vector<NodeState> _states;
};
