#pragma once

#include <array>
#include <vector>

// One node of a column's tree. The three event indicators describe the branch
// from the parent to this node and take -1 (not applicable), 0 or 1:
//   deletion  1: parent holds a residue, node is empty; 0: both hold residues.
//   insertion 1: parent empty, node holds a residue; 0: both empty.
//   bond      1: both hold residues and the residue came down unchanged;
//             0: both hold residues and a mutation event happened.
// Values: 0 empty, 1..4 residues, 5 absent (takes no part in the column).
// Likelihood tables are indexed by position in all_values (= the value 0..4).
struct Node {
  Node(Node* parent_node, Node* first_child, Node* second_child, double branch_length, int label)
      : parent(parent_node), child_nodes{first_child, second_child}, length(branch_length), _label(label) {}

  bool is_leaf() const { return child_nodes[0] == nullptr && child_nodes[1] == nullptr; }

  Node* parent;
  std::array<Node*, 2> child_nodes;
  double length;  // branch from the parent; 0.0 for the root
  int _label;
  int deletion = -1;
  int insertion = -1;
  int bond = -1;
  int value = 0;
  // ln P(leaf values below | this node holds state s), valid where the flag is set.
  std::vector<double> subtree_lik;
  std::vector<bool> flag_subtree_lik_valid;
  // [parent state][own state]: unnormalised weight of the own state given the
  // parent's, left by the last bottom-up pass for the top-down draw.
  std::vector<std::vector<double>> top_down_sampling_probs;
  std::vector<std::vector<double>> top_down_sampling_probs_no_anc;
};
