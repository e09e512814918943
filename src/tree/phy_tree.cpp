#include "tree/phy_tree.h"

#include <queue>
#include <sstream>

#include "io/csv_reader.h"
#include "io/errors.h"
#include "io/string_conversion.h"
#include "io/vector_writers.h"

namespace {

bool is_residue(int value) { return value >= 1 && value <= 4; }

void check_label(int label, std::size_t node_count) {
  if (label < 0 || static_cast<std::size_t>(label) >= node_count) {
    throw InputError("Input error: tree label " + to_string(label) + " is outside 0.." + to_string(node_count - 1) +
                     "\n");
  }
}

}  // namespace

PhyTree::PhyTree(const std::vector<int>& parents, const std::vector<int>& children, const std::vector<double>& lengths,
                 const std::vector<int>& map_from_leave_label_to_seq_id)
    : leave_label_to_seq_id(map_from_leave_label_to_seq_id), nodes(children.size() + 1, nullptr) {
  if (parents.empty()) throw InputError("Input error: no parents from tree input. \n");
  last_internal_label = -1;
  for (const int parent : parents) {
    if (parent > last_internal_label) last_internal_label = parent;
  }
  check_label(parents[0], nodes.size());
  root = new Node(nullptr, nullptr, nullptr, 0.0, parents[0]);
  nodes[root->_label] = root;
  _bfs_order.push_back(root);

  std::queue<Node*> queue;
  queue.push(root);
  std::size_t i = 0;
  while (!queue.empty()) {
    Node* p = queue.front();
    queue.pop();
    for (int k = 0; k < 2; ++k) {
      if (i >= parents.size() || i >= children.size() || i >= lengths.size()) {
        throw InputError("Input error: the tree input ends after " + to_string(i) + " branches, before internal node " +
                         to_string(p->_label) + " has two children\n");
      }
      if (parents[i] != p->_label) {
        throw InputError("tree nodes input order has problem.\ni:" + to_string(i) +
                         " parents.at(i):" + to_string(parents[i]) + " p->_label:" + to_string(p->_label) + "\n");
      }
      check_label(children[i], nodes.size());
      if (nodes[children[i]] != nullptr) {
        throw InputError("Input error: tree label " + to_string(children[i]) + " appears twice\n");
      }
      Node* child = new Node(p, nullptr, nullptr, lengths[i], children[i]);
      p->child_nodes[k] = child;
      nodes[child->_label] = child;
      _bfs_order.push_back(child);
      if (child->_label <= last_internal_label) queue.push(child);
      ++i;
    }
  }
}

PhyTree::~PhyTree() { dfs_delete(root); }

void PhyTree::dfs_delete(Node* node) {
  if (node == nullptr) return;
  dfs_delete(node->child_nodes[0]);
  dfs_delete(node->child_nodes[1]);
  nodes[node->_label] = nullptr;
  delete node;
}

void PhyTree::init_leave_values(const std::vector<int>& column) {
  for (std::size_t label = last_internal_label + 1; label < nodes.size(); ++label) {
    nodes[label]->value = column.at(leave_label_to_seq_id.at(label));
  }
}

std::vector<int> PhyTree::retrieve_leave_values() {
  std::vector<int> values(nodes.size() - 1 - last_internal_label);
  for (std::size_t label = last_internal_label + 1; label < nodes.size(); ++label) {
    values.at(leave_label_to_seq_id.at(label)) = nodes[label]->value;
  }
  return values;
}

void PhyTree::bfs_push_nodes_to_stack(std::stack<Node*>& stack) {
  for (Node* node : _bfs_order) stack.push(node);
}

// Absent children first: an absent child has no branch event, and the parent
// takes what the other child offers (absent, empty or its residue). Then the
// common cases: two different residues are resolved by a fair coin, which is
// the only random draw of the initialisation.
void PhyTree::init_parent_from_children(Node* p, Sampler<int, double>& coin) {
  Node* left = p->child_nodes[0];
  Node* right = p->child_nodes[1];
  const int l = left->value;
  const int r = right->value;
  if (l == 5) {
    if (r == 5) {
      p->value = 5;
      left->bond = -1;
      right->bond = -1;
    } else if (r >= 0 && r <= 4) {
      left->bond = -1;
      if (r == 0) {
        p->value = 0;
        right->bond = -1;
      } else {
        p->value = r;
        right->bond = 1;
      }
    }
  } else if (r == 5 && l >= 0 && l <= 4) {
    right->bond = -1;
    if (l == 0) {
      p->value = 0;
      left->bond = -1;
    } else {
      p->value = l;
      left->bond = 1;
    }
  }

  if (is_residue(l) && is_residue(r) && l != r) {
    if (coin.draw_w_replace(1)[0] == 1) {
      p->value = l;
      left->bond = 1;
      right->bond = 0;
    } else {
      p->value = r;
      left->bond = 0;
      right->bond = 1;
    }
  } else if (is_residue(l) && is_residue(r)) {
    p->value = l;
    left->bond = 1;
    right->bond = 1;
  } else if (l == 0 && r == 0) {
    p->value = 0;
    left->bond = -1;
    right->bond = -1;
  } else if (is_residue(l) && r == 0) {
    p->value = l;
    left->bond = 1;
    right->bond = -1;
  } else if (l == 0 && is_residue(r)) {
    p->value = r;
    left->bond = -1;
    right->bond = 1;
  }
  if (p == root) p->bond = -1;
}

void PhyTree::init_child_indicators(Node* p) {
  for (Node* c : p->child_nodes) {
    if (is_residue(p->value)) {
      c->insertion = -1;
      if (is_residue(c->value)) {
        c->deletion = 0;
      } else if (c->value == 0) {
        c->deletion = 1;
      } else if (c->value == 5) {
        c->deletion = -1;
      }
    } else if (p->value == 0) {
      c->deletion = -1;
      if (c->value == 0) {
        c->insertion = 0;
      } else if (c->value == 5) {
        c->insertion = -1;
      } else if (is_residue(c->value)) {
        c->insertion = 1;
        throw InternalError("insertion is initialized unexpectedly!\n");
      }
    } else if (p->value == 5) {
      c->deletion = -1;
      c->insertion = -1;
    }
  }
}

void PhyTree::init_nodes() {
  Sampler<int, double> coin({0, 1}, {0.5, 0.5});
  std::stack<Node*> stack;
  bfs_push_nodes_to_stack(stack);
  while (!stack.empty()) {
    Node* node = stack.top();
    stack.pop();
    if (!node->is_leaf()) init_parent_from_children(node, coin);
  }

  if (root->value == 0) root->value = 1;
  if (root->value == 5) {
    std::ostringstream shown;
    shown << "root of a tree becomes pale yellow or double line. \n";
    dfs(root, &shown);
    throw InternalError(shown.str(), 1);
  }

  root->deletion = -1;
  root->insertion = -1;
  for (Node* node : _bfs_order) {
    if (!node->is_leaf()) init_child_indicators(node);
  }
}

void PhyTree::dfs(Node* node, std::ostream* out) {
  if (node == nullptr) return;
  if (node != root) {
    *out << "p.label: " << node->parent->_label << "\tp.value: " << node->parent->value << "\tlabel: " << node->_label
         << "\tvalue: " << node->value << "\tdeletion: " << node->deletion << "\tinsertion: " << node->insertion
         << "\tbond: " << node->bond << "\tlength: " << node->length << "\n";
  }
  dfs(node->child_nodes[0], out);
  dfs(node->child_nodes[1], out);
}

void PhyTree::depth_first_search(std::ostream* out) { dfs(root, out); }

void PhyTree::output_internal_values(std::ostream* out) {
  for (int label = 0; label <= last_internal_label; ++label) *out << nodes[label]->value << " ";
  *out << " leaves: ";
  for (std::size_t label = last_internal_label + 1; label < nodes.size(); ++label) *out << nodes[label]->value << " ";
  *out << "\n";
}

void PhyTree::output_deletions(std::ostream* out) {
  for (Node* node : nodes) *out << node->deletion << " ";
  *out << "\n";
}

void PhyTree::output_insertions(std::ostream* out) {
  for (Node* node : nodes) *out << node->insertion << " ";
  *out << "\n";
}

void PhyTree::output_bonds(std::ostream* out) {
  for (Node* node : nodes) *out << node->bond << " ";
  *out << "\n";
}

void PhyTree::test_init(const std::string& file_name, std::ostream* out) {
  CSVReader<int> reader(file_name);
  const std::vector<int> leaves = reader.read(true).at(0);
  *out << "in test_init:\n"
       << "one set of leaves:\n";
  write_vector_row(leaves, out);
  init_leave_values(leaves);
  init_nodes();
  *out << "after initialization: \n"
       << "leaves are initialized as:\n";
  write_vector_row(retrieve_leave_values(), out);
  *out << "ancestor is initialized as:\n" << root->value << "\n";
  *out << "dfs display: \n";
  dfs(root, out);
}

void initialize_trees(std::vector<PhyTree*>& trees, const std::vector<int>& parents, const std::vector<int>& children,
                      const std::vector<double>& lengths, const std::vector<int>& map_from_leave_label_to_seq_id,
                      const std::vector<std::vector<int>>& alignment, std::ostream* out) {
  trees.assign(alignment.size(), nullptr);
  for (std::size_t c = 0; c < alignment.size(); ++c) {
    trees[c] = new PhyTree(parents, children, lengths, map_from_leave_label_to_seq_id);
    trees[c]->init_leave_values(alignment[c]);
    if (out != nullptr) write_vector_row(trees[c]->retrieve_leave_values(), out);
  }
}
