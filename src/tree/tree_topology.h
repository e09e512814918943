#pragma once

#include <cstddef>
#include <vector>

#include "tree/phy_tree.h"

// The fixed tree shape shared by every column, as flat arrays. Nodes are
// numbered by breadth-first position (first child before second): 0 is the
// root and every parent comes before its children, so walking the numbers
// upwards is a top-down order and downwards a bottom-up one. Each node keeps
// its label, which selects the branch matrix above it (label - 1) and its
// Node in a column's PhyTree.
class TreeTopology {
 public:
  explicit TreeTopology(const PhyTree& tree);

  std::size_t size() const { return _label.size(); }
  int label(int node) const { return _label[node]; }
  // -1 for the root.
  int parent(int node) const { return _parent[node]; }
  // -1 for a leaf.
  int first_child(int node) const { return _first_child[node]; }
  int second_child(int node) const { return _second_child[node]; }
  bool is_leaf(int node) const { return _first_child[node] < 0; }
  double length(int node) const { return _length[node]; }
  // 0 for a leaf, otherwise one more than the higher child: nodes of one
  // height never depend on each other in a bottom-up pass.
  int height(int node) const { return _height[node]; }
  int max_height() const { return _max_height; }
  // The internal nodes of each height, in breadth-first order.
  const std::vector<int>& internal_nodes_of_height(int height) const { return _by_height.at(height); }
  const std::vector<int>& leaves() const { return _leaves; }

 private:
  std::vector<int> _label;
  std::vector<int> _parent;
  std::vector<int> _first_child;
  std::vector<int> _second_child;
  std::vector<double> _length;
  std::vector<int> _height;
  int _max_height = 0;
  std::vector<std::vector<int>> _by_height;
  std::vector<int> _leaves;
};
