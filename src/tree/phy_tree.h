#pragma once

#include <ostream>
#include <stack>
#include <string>
#include <vector>

#include "random/sampler.h"
#include "tree/node.h"
#include "tree/trans_probs.h"

// One alignment column's copy of the fixed rooted binary tree. Internal nodes
// carry the labels 0..last_internal_label (0 is the root), leaves the labels
// above it; `nodes` is indexed by label. The tree owns its nodes.
class PhyTree {
 public:
  // Builds the tree from the branch table: rows come in pairs, one pair per
  // internal node, pairs in breadth-first order of their parents, left child
  // first. Rows out of that order throw an InputError ("tree nodes input
  // order has problem."), as do rows that run out before every internal node
  // has two children; an empty table with "Input error: no parents from tree
  // input. \n".
  PhyTree(const std::vector<int>& parents, const std::vector<int>& children, const std::vector<double>& lengths,
          const std::vector<int>& map_from_leave_label_to_seq_id);
  ~PhyTree();
  PhyTree(const PhyTree&) = delete;
  PhyTree& operator=(const PhyTree&) = delete;

  // Sets every leaf's value from a column indexed by sequence id.
  void init_leave_values(const std::vector<int>& column);
  // The leaves' values indexed by sequence id.
  std::vector<int> retrieve_leave_values();
  // Gives internal nodes initial values and every node its indicators by a
  // parsimony-like rule; one rand() draw per internal node whose two children
  // hold different residues, in reverse breadth-first order.
  void init_nodes();

  // Pushes the nodes in breadth-first order, so popping yields every node after
  // all of its descendants and the root last.
  void bfs_push_nodes_to_stack(std::stack<Node*>& stack);
  void dfs(Node* node, std::ostream* out);
  void depth_first_search(std::ostream* out);
  void output_internal_values(std::ostream* out);
  void output_deletions(std::ostream* out);
  void output_bonds(std::ostream* out);
  void output_insertions(std::ostream* out);
  void dfs_delete(Node* node);
  // Self-test: reads one row of leaf values, initialises and dumps the tree.
  void test_init(const std::string& file_name, std::ostream* out);

  // Pruning recursion in log space: leaves every node's subtree_lik and flags
  // per state and every non-root node's top-down weights.
  void bottomup(TransProbs& trans_probs, const std::vector<int>& all_values, std::ostream* out);
  // As bottomup, but the weights go to top_down_sampling_probs_no_anc and the
  // root is evaluated for the empty state only.
  void bottomup_anc_not_exist(TransProbs& trans_probs, const std::vector<int>& all_values, std::ostream* out);

  // Draws every internal value below the (already drawn) root from the last
  // bottom-up weights and sets the indicators, drawing `bond` where parent and
  // node hold the same residue.
  void topdown(const std::vector<int>& all_values, const std::vector<int>& all_value_index, double mutation_rate,
               const std::vector<double>& freqs, std::ostream* out);

  // Simulation of one column (root value, then every branch in preorder).
  std::vector<int> generate_data(int previous_root_value, Sampler<int, double>& nonempty_previous_sampler,
                                 Sampler<int, double>& empty_previous_sampler, Sampler<int, double>& root_value_sampler,
                                 double deletion_rate, double insertion_rate, double mutation_rate,
                                 Sampler<int, double>& value_sampler, int empty_code);
  void dfs_generate(Node* node, double deletion_rate, double insertion_rate, double mutation_rate,
                    Sampler<int, double>& value_sampler);

  Node* root = nullptr;
  int last_internal_label = -1;
  std::vector<int> leave_label_to_seq_id;
  std::vector<Node*> nodes;

 private:
  void bottomup_pass(TransProbs& trans_probs, const std::vector<int>& all_values, std::ostream* out,
                     bool anc_not_exist);
  void init_parent_from_children(Node* parent, Sampler<int, double>& coin);
  void init_child_indicators(Node* parent);
  // Nodes in breadth-first order, fixed at construction.
  std::vector<Node*> _bfs_order;
};

// Replaces `trees` by one tree per alignment column, leaves loaded from the
// column. With a non-null `out`, writes every tree's leaf values as a row.
void initialize_trees(std::vector<PhyTree*>& trees, const std::vector<int>& parents, const std::vector<int>& children,
                      const std::vector<double>& lengths, const std::vector<int>& map_from_leave_label_to_seq_id,
                      const std::vector<std::vector<int>>& alignment, std::ostream* out);
