#include "support/test_trees.h"

#include <cmath>
#include <random>

ColumnStates columns_on(const TreeTable& table, const std::vector<std::vector<int>>& rows) {
  return ColumnStates(std::make_shared<const TreeTopology>(table), rows);
}

ColumnStates blank_columns(const TreeTable& table, std::size_t count) {
  const auto topology = std::make_shared<const TreeTopology>(table);
  return ColumnStates(topology, std::vector<std::vector<int>>(count, std::vector<int>(topology->sequence_count(), 0)));
}

double model_probability(int from, int to, double del, double ins, double mut, double t,
                         const std::vector<double>& freqs) {
  if (from == 0) return to == 0 ? std::exp(-ins * t) : (1 - std::exp(-ins * t)) * freqs[to - 1];
  if (to == 0) return 1 - std::exp(-del * t);
  const double kept = std::exp(-del * t);
  const double unchanged = std::exp(-mut * t);
  return kept * ((1 - unchanged) * freqs[to - 1] + (from == to ? unchanged : 0.0));
}

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
  std::vector<std::vector<int>> children(1);  // empty for a leaf
  std::vector<int> open{0};
  while (static_cast<int>(open.size()) < leaves) {
    const std::size_t at = std::uniform_int_distribution<std::size_t>(0, open.size() - 1)(engine);
    const int left = static_cast<int>(children.size());
    children[open[at]] = {left, left + 1};
    children.resize(children.size() + 2);
    open.erase(open.begin() + static_cast<long>(at));
    open.push_back(left);
    open.push_back(left + 1);
  }
  std::vector<int> bfs{0};
  for (std::size_t i = 0; i < bfs.size(); ++i) bfs.insert(bfs.end(), children[bfs[i]].begin(), children[bfs[i]].end());
  std::vector<int> label(children.size());
  int next_internal = 0, next_leaf = leaves - 1;
  for (const int node : bfs) label[node] = children[node].empty() ? next_leaf++ : next_internal++;
  TreeTable table;
  std::uniform_real_distribution<double> length(0.01, 1.0);
  for (const int node : bfs) {
    for (const int child : children[node]) {
      table.parents.push_back(label[node]);
      table.children.push_back(label[child]);
      table.lengths.push_back(length(engine));
    }
  }
  table.leaf_map.assign(children.size(), -1);
  for (int l = leaves - 1; l < static_cast<int>(children.size()); ++l) table.leaf_map[l] = l - (leaves - 1);
  return table;
}
