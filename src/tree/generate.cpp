// Simulation of one column along PhyTree: the root value from the root chain
// of the alignment, then every branch from the root down.
#include <cmath>

#include "io/errors.h"
#include "random/variates.h"
#include "tree/phy_tree.h"

std::vector<int> PhyTree::generate_data(int previous_root_value, Sampler<int, double>& nonempty_previous_sampler,
                                        Sampler<int, double>& empty_previous_sampler,
                                        Sampler<int, double>& root_value_sampler, double deletion_rate,
                                        double insertion_rate, double mutation_rate,
                                        Sampler<int, double>& value_sampler, int empty_code) {
  root->deletion = -1;
  root->insertion = -1;
  root->bond = -1;

  // The first column has no predecessor, so it never draws emptiness. Later
  // columns first decide whether the root position exists at all (it empties
  // with probability gamma after a residue and refills with probability eta
  // after an empty root), and only then draw which residue it holds.
  if (previous_root_value == -1) {
    root->value = root_value_sampler.draw_w_replace(1)[0];
  } else {
    Sampler<int, double>& emptiness_sampler =
        previous_root_value == 0 ? empty_previous_sampler : nonempty_previous_sampler;
    const int x = emptiness_sampler.draw_w_replace(1)[0];
    root->value = x == empty_code ? 0 : root_value_sampler.draw_w_replace(1)[0];
  }

  for (Node* child : root->child_nodes) {
    if (child != nullptr) dfs_generate(child, deletion_rate, insertion_rate, mutation_rate, value_sampler);
  }
  return retrieve_leave_values();
}

// Every node takes one uniform u1 first, whatever happens to it; a kept
// residue takes a second one, u2, for the mutation event. The recursion is
// preorder, so the draws follow node, left subtree, right subtree: this order
// fixes the simulated alignment for a given seed and must not change.
void PhyTree::dfs_generate(Node* node, double deletion_rate, double insertion_rate, double mutation_rate,
                           Sampler<int, double>& value_sampler) {
  const double t = node->length;
  const double u1 = draw_unit_uniform();
  const Node* parent = node->parent;

  if (parent->value == 0) {
    node->deletion = -1;
    node->bond = -1;
    if (u1 < 1.0 - std::exp(-insertion_rate * t)) {
      node->insertion = 1;
      node->value = value_sampler.draw_w_replace(1)[0];
      throw InternalError("insertion in simulation occurs unexpectedly! \n");
    }
    node->insertion = 0;
    node->value = 0;
  } else {
    node->insertion = -1;
    if (1.0 - std::exp(-deletion_rate * t) > u1) {
      node->deletion = 1;
      node->bond = -1;
      node->value = 0;
    } else {
      node->deletion = 0;
      const double u2 = draw_unit_uniform();
      // A mutation event redraws the residue from the segment's frequencies,
      // so it may land on the parent's own residue; it still counts as an
      // event (bond 0), as in the equal-input model the sampler fits.
      if (1.0 - std::exp(-mutation_rate * t) > u2) {
        node->bond = 0;
        node->value = value_sampler.draw_w_replace(1)[0];
      } else {
        node->bond = 1;
        node->value = parent->value;
      }
    }
  }

  for (Node* child : node->child_nodes) {
    if (child != nullptr) dfs_generate(child, deletion_rate, insertion_rate, mutation_rate, value_sampler);
  }
}
