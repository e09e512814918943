#pragma once

#include <cstddef>
#include <vector>

#include "io/tree_input.h"

// The fixed rooted binary tree, one shape shared by every column: who is
// whose parent, the branch lengths and the leaf map. The per-column values
// and indicators live apart, in ColumnStates.
//
// Nodes are numbered by breadth-first position (first child before second):
// 0 is the root and every parent comes before its children, so walking the
// numbers upwards is a top-down order and downwards a bottom-up one. Each
// node keeps its label (0..size()-1), by which the branch table, the leaf map
// and the column states name it; the branch matrix above it is entry
// label - 1.
class TreeTopology {
 public:
  // Builds the shape from the branch table: rows come in pairs, one pair per
  // internal node, pairs in breadth-first order of their parents, left child
  // first. Rows out of that order throw an InputError ("tree nodes input
  // order has problem."), as do rows that run out before every internal node
  // has two children (and rows that no node reaches); an empty table throws
  // "Input error: no parents from tree input. \n".
  explicit TreeTopology(const BranchTable& table);

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

  // By label.
  int node_of(int label) const { return _node_of_label[label]; }
  int root_label() const { return _label[0]; }
  // Branch length above a label (0.0 for the root).
  double length_above(int label) const { return _length[_node_of_label[label]]; }
  // The largest parent label: the labels above it are the leaves that carry
  // a sequence, the sequence id of label l being sequence_of(l).
  int last_internal_label() const { return _last_internal_label; }
  int sequence_of(int label) const { return _leaf_map.at(label); }
  // Labels above last_internal_label(): the values a column gives.
  std::size_t sequence_count() const { return size() - 1 - static_cast<std::size_t>(_last_internal_label); }

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
  std::vector<int> _node_of_label;
  std::vector<int> _leaf_map;
  int _last_internal_label = -1;
};
