#include "support/test_trees.h"

#include <deque>
#include <random>

TreeTable three_leaf_table() {
  return TreeTable{{0, 0, 1, 1}, {1, 2, 3, 4}, {0.5, 0.25, 1.0, 2.0}, {-1, -1, 0, 1, 2}};
}

TreeTable four_leaf_table() {
  return TreeTable{{0, 0, 1, 1, 2, 2}, {1, 2, 3, 4, 5, 6}, {0.1, 0.2, 0.3, 0.4, 0.5, 0.6}, {-1, -1, -1, 0, 1, 2, 3}};
}

TreeTable six_leaf_table() {
  // ((a,b),(c,d)),(e,f) shaped: 0 -> 1, 2; 1 -> 3, 4; 2 -> 5, 6; 3 -> 7, 8; 4 -> 9, 10.
  // Internal 0..4, leaves 5..10.
  return TreeTable{{0, 0, 1, 1, 2, 2, 3, 3, 4, 4},
                   {1, 2, 3, 4, 5, 6, 7, 8, 9, 10},
                   {0.05, 0.1, 0.08, 0.12, 0.2, 0.15, 0.07, 0.09, 0.11, 0.06},
                   {-1, -1, -1, -1, -1, 0, 1, 2, 3, 4, 5}};
}

// Grows a random shape by splitting random leaves, then relabels it in the
// breadth-first order the tree reader requires: internal nodes first.
TreeTable random_table(int leaves, unsigned seed) {
  std::mt19937 engine(seed);
  struct Shape {
    int left = -1;
    int right = -1;
  };
  std::vector<Shape> shape(1);
  std::vector<int> open_leaves{0};
  while (static_cast<int>(open_leaves.size()) < leaves) {
    std::uniform_int_distribution<std::size_t> pick(0, open_leaves.size() - 1);
    const std::size_t at = pick(engine);
    const int node = open_leaves[at];
    shape[node].left = static_cast<int>(shape.size());
    shape[node].right = static_cast<int>(shape.size()) + 1;
    shape.resize(shape.size() + 2);
    open_leaves.erase(open_leaves.begin() + static_cast<long>(at));
    open_leaves.push_back(shape[node].left);
    open_leaves.push_back(shape[node].right);
  }
  const int internal_count = leaves - 1;
  std::vector<int> label(shape.size(), -1);
  int next_internal = 0;
  int next_leaf = internal_count;
  std::deque<int> queue{0};
  std::vector<int> bfs;
  while (!queue.empty()) {
    const int node = queue.front();
    queue.pop_front();
    bfs.push_back(node);
    const bool internal = shape[node].left >= 0;
    label[node] = internal ? next_internal++ : next_leaf++;
    if (internal) {
      queue.push_back(shape[node].left);
      queue.push_back(shape[node].right);
    }
  }
  TreeTable table;
  std::uniform_real_distribution<double> length(0.01, 1.0);
  for (const int node : bfs) {
    if (shape[node].left < 0) continue;
    for (const int child : {shape[node].left, shape[node].right}) {
      table.parents.push_back(label[node]);
      table.children.push_back(label[child]);
      table.lengths.push_back(length(engine));
    }
  }
  table.leaf_map.assign(shape.size(), -1);
  for (int l = internal_count; l < static_cast<int>(shape.size()); ++l) table.leaf_map[l] = l - internal_count;
  return table;
}
