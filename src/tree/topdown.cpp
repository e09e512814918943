// Top-down ancestral sampling of PhyTree.
#include <cstddef>

#include "io/vector_writers.h"
#include "random/sampler.h"
#include "tree/branch_indicators.h"
#include "tree/phy_tree.h"

// Breadth-first, so every parent's value is final before its children are
// drawn; within a node the value is drawn before the bond. An absent node
// (value 5) ends its branch of the walk: nothing below it is visited and it
// consumes no random draw.
void PhyTree::topdown(const std::vector<int>& all_values, const std::vector<int>& all_value_index, double mutation_rate,
                      const std::vector<double>& freqs, std::ostream* out) {
  std::vector<Node*> queue;
  queue.reserve(_bfs_order.size());
  for (Node* child : root->child_nodes) {
    if (child != nullptr) queue.push_back(child);
  }
  for (std::size_t head = 0; head < queue.size(); ++head) {
    Node* node = queue[head];
    if (node->value == 5) continue;
    const int parent_value = node->parent->value;
    if (!node->is_leaf()) {
      const auto& weights = node->top_down_sampling_probs.at(all_value_index.at(parent_value));
      Sampler<int, double> value_sampler(all_values, weights);
      node->value = value_sampler.draw_w_replace(1)[0];
      if (out != nullptr) {
        *out << "p->_label:" << node->_label << "\n";
        write_vector_row(weights, out);
      }
    }
    set_branch_indicators(*node, parent_value, no_mutation_probability(mutation_rate, node->length), all_value_index,
                          freqs);
    for (Node* child : node->child_nodes) {
      if (child != nullptr) queue.push_back(child);
    }
  }
}
