#include "tree/tree_topology.h"

#include <algorithm>

#include "io/errors.h"
#include "io/string_conversion.h"

namespace {

void check_label(int label, std::size_t node_count) {
  if (label < 0 || static_cast<std::size_t>(label) >= node_count) {
    throw InputError("Input error: tree label " + to_string(label) + " is outside 0.." + to_string(node_count - 1) +
                     "\n");
  }
}

}  // namespace

// The breadth-first queue of the construction is the node list itself: a
// node is appended when its row is read, and its own pair of rows is due
// when the walk reaches it.
TreeTopology::TreeTopology(const BranchTable& table) : _leaf_map(table.leaf_map) {
  const auto& parents = table.parents;
  const auto& children = table.children;
  const std::size_t node_count = children.size() + 1;
  if (parents.empty()) throw InputError("Input error: no parents from tree input. \n");
  _last_internal_label = *std::max_element(parents.begin(), parents.end());
  check_label(parents[0], node_count);
  _node_of_label.assign(node_count, -1);
  _node_of_label[parents[0]] = 0;
  _label.push_back(parents[0]);
  _parent.push_back(-1);
  _length.push_back(0.0);
  std::size_t i = 0;
  for (std::size_t head = 0; head < _label.size(); ++head) {
    const int p = _label[head];
    _first_child.push_back(-1);
    _second_child.push_back(-1);
    if (p > _last_internal_label) continue;
    for (int k = 0; k < 2; ++k, ++i) {
      if (i >= parents.size() || i >= children.size() || i >= table.lengths.size()) {
        throw InputError("Input error: the tree input ends after " + to_string(i) + " branches, before internal node " +
                         to_string(p) + " has two children\n");
      }
      if (parents[i] != p) {
        throw InputError("tree nodes input order has problem.\ni:" + to_string(i) +
                         " parents.at(i):" + to_string(parents[i]) + " p->_label:" + to_string(p) + "\n");
      }
      check_label(children[i], node_count);
      if (_node_of_label[children[i]] >= 0) {
        throw InputError("Input error: tree label " + to_string(children[i]) + " appears twice\n");
      }
      (k == 0 ? _first_child : _second_child)[head] = static_cast<int>(_label.size());
      _node_of_label[children[i]] = static_cast<int>(_label.size());
      _label.push_back(children[i]);
      _parent.push_back(static_cast<int>(head));
      _length.push_back(table.lengths[i]);
    }
  }
  if (_label.size() != node_count) {
    throw InputError("Input error: " + to_string(node_count - _label.size()) +
                     " branch(es) of the tree input hang below no node of the tree\n");
  }
  _height.assign(size(), 0);
  for (int node = static_cast<int>(size()) - 1; node >= 0; --node) {
    if (is_leaf(node)) {
      _leaves.insert(_leaves.begin(), node);
      continue;
    }
    _height[node] = 1 + std::max(_height[first_child(node)], _height[second_child(node)]);
  }
  _max_height = _height[0];
  _by_height.assign(_max_height + 1, {});
  for (std::size_t node = 0; node < size(); ++node) {
    if (!is_leaf(static_cast<int>(node))) _by_height[_height[node]].push_back(static_cast<int>(node));
  }
}
