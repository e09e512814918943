#include "tree/tree_topology.h"

#include <algorithm>

TreeTopology::TreeTopology(const PhyTree& tree) {
  std::vector<const Node*> order{tree.root};
  _parent.push_back(-1);
  for (std::size_t head = 0; head < order.size(); ++head) {
    const Node* node = order[head];
    _label.push_back(node->_label);
    _length.push_back(node->length);
    _first_child.push_back(-1);
    _second_child.push_back(-1);
    if (node->is_leaf()) continue;
    _first_child[head] = static_cast<int>(order.size());
    _second_child[head] = static_cast<int>(order.size()) + 1;
    for (const Node* child : node->child_nodes) {
      order.push_back(child);
      _parent.push_back(static_cast<int>(head));
    }
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
