// Top-down ancestral sampling of PhyTree.
#include <cmath>
#include <cstddef>

#include "io/fatal.h"
#include "io/vector_writers.h"
#include "random/sampler.h"
#include "tree/phy_tree.h"

namespace {

bool is_residue(int value) { return value >= 1 && value <= 4; }

// Given parent and node both holding residue v, the branch kept it either
// without any mutation event (weight exp(-mu t)) or through mutation events
// whose last one landed on v again (weight (1 - exp(-mu t)) freq[v]). The
// deletion factor is common to both and left out.
int draw_bond(const Node& node, int parent_value, const std::vector<int>& all_value_index, double mutation_rate,
              const std::vector<double>& freqs) {
  const double no_event = std::exp(mutation_rate * -1.0 * node.length);
  const std::vector<double> weights{(1 - no_event) * freqs.at(all_value_index.at(parent_value) - 1), no_event};
  Sampler<int, double> bond_sampler({0, 1}, weights);
  return bond_sampler.draw_w_replace(1)[0];
}

// Indicators of the branch above `node` from its parent's value and its own.
// A residue under an empty parent would be an insertion inside the tree,
// which the model does not have.
void set_indicators(Node& node, int parent_value, const std::vector<int>& all_value_index, double mutation_rate,
                    const std::vector<double>& freqs) {
  const int value = node.value;
  if (parent_value == 0) {
    node.deletion = -1;
    node.bond = -1;
    if (value == 0) node.insertion = 0;
    if (is_residue(value)) {
      node.insertion = 1;
      fatal("insertion inside a tree occurs unexpectedly!", -1);
    }
  } else if (is_residue(parent_value)) {
    node.insertion = -1;
    if (value == 0) {
      node.deletion = 1;
      node.bond = -1;
    } else if (is_residue(value)) {
      node.deletion = 0;
      node.bond = value != parent_value ? 0 : draw_bond(node, parent_value, all_value_index, mutation_rate, freqs);
    }
  }
}

}  // namespace

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
    set_indicators(*node, parent_value, all_value_index, mutation_rate, freqs);
    for (Node* child : node->child_nodes) {
      if (child != nullptr) queue.push_back(child);
    }
  }
}
