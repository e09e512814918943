#include <cmath>

#include "io/vector_writers.h"
#include "tree/phy_tree.h"

namespace {

// A child's contribution to its parent being in state s: the sum over the
// child's valid states j of P[s][j] * L_child(j), taken around the largest
// exponent m so that the largest term is exactly 1. Stores each term as the
// child's top-down weight for (s, j). An absent child is a factor 1.
struct ChildFactor {
  double sum = 1.0;
  double max = 0.0;
};

ChildFactor child_factor(Node* child, const std::vector<std::vector<double>>& p, std::size_t s, int parent_value,
                         std::vector<std::vector<double>>& weights, std::size_t k, std::ostream* out,
                         std::size_t position) {
  ChildFactor factor;
  if (child->value == 5) return factor;
  // The candidates' exponents are parked in the weight row they will end up
  // in, so the pass allocates nothing per node and state; entries of other
  // states j are not touched.
  const auto candidate = [&](std::size_t j) { return child->flag_subtree_lik_valid[j] && p[s][j] != 0.0; };
  bool found = false;
  for (std::size_t j = 0; j < k; ++j) {
    if (!candidate(j)) continue;
    weights[s][j] = std::log(p[s][j]) + child->subtree_lik[j];
    if (!found || weights[s][j] > factor.max) factor.max = weights[s][j];
    found = true;
  }
  factor.sum = 0.0;
  if (found) {
    for (std::size_t j = 0; j < k; ++j) {
      if (!candidate(j)) continue;
      weights[s][j] = std::exp(weights[s][j] - factor.max);
      factor.sum += weights[s][j];
    }
  } else {
    factor.max = 0.0;
  }
  if (out != nullptr) {
    *out << "c: " << position << "\n"
         << "child label: " << child->_label << "\n";
    if (found) {
      *out << "flag subtree lik valid:\n";
      write_vector_column(child->flag_subtree_lik_valid, out);
      *out << "subtree lik:\n";
      write_vector_column(child->subtree_lik, out);
      *out << "max: " << factor.max << "\n"
           << "top down sampling prob from:" << parent_value << "\n";
      write_vector_column(weights[s], out);
    }
    *out << "subtree sum: " << factor.sum << "\n";
  }
  return factor;
}

void size_tables(Node* v, std::size_t k, bool anc_not_exist) {
  if (v->subtree_lik.empty()) v->subtree_lik.assign(k, 0.0);
  if (v->flag_subtree_lik_valid.empty()) v->flag_subtree_lik_valid.assign(k, false);
  auto& weights = anc_not_exist ? v->top_down_sampling_probs_no_anc : v->top_down_sampling_probs;
  if (weights.empty()) weights.assign(k, std::vector<double>(k, 0.0));
}

void leaf_likelihood(Node* v, const std::vector<int>& all_values, std::ostream* out) {
  for (std::size_t s = 0; s < all_values.size(); ++s) {
    if (v->value == all_values[s]) {
      v->flag_subtree_lik_valid[s] = true;
      v->subtree_lik[s] = 0.0;
    } else {
      v->flag_subtree_lik_valid[s] = false;
    }
    if (out != nullptr) {
      *out << " value: " << all_values[s] << " flag_subtree_lik_valid: " << v->flag_subtree_lik_valid[s]
           << " subtree_lik: " << v->subtree_lik[s] << "\n";
    }
  }
}

}  // namespace

void PhyTree::bottomup(TransProbs& trans_probs, const std::vector<int>& all_values, std::ostream* out) {
  bottomup_pass(trans_probs, all_values, out, false);
}

void PhyTree::bottomup_anc_not_exist(TransProbs& trans_probs, const std::vector<int>& all_values, std::ostream* out) {
  bottomup_pass(trans_probs, all_values, out, true);
}

void PhyTree::bottomup_pass(TransProbs& trans_probs, const std::vector<int>& all_values, std::ostream* out,
                            bool anc_not_exist) {
  const auto& table = trans_probs.get_trans_probs();
  const std::size_t k = all_values.size();
  for (auto it = _bfs_order.rbegin(); it != _bfs_order.rend(); ++it) {
    Node* v = *it;
    if (out != nullptr) *out << "label: " << v->_label << "\n";
    size_tables(v, k, anc_not_exist);
    if (v->is_leaf()) {
      leaf_likelihood(v, all_values, out);
      continue;
    }
    if (v->value == 5) {
      v->flag_subtree_lik_valid.assign(k, false);
      continue;
    }
    for (Node* c : v->child_nodes) size_tables(c, k, anc_not_exist);
    const std::size_t states = (anc_not_exist && v == root) ? 1 : k;
    for (std::size_t s = 0; s < states; ++s) {
      ChildFactor factors[2];
      for (std::size_t position = 0; position < 2; ++position) {
        Node* c = v->child_nodes[position];
        auto& weights = anc_not_exist ? c->top_down_sampling_probs_no_anc : c->top_down_sampling_probs;
        const auto& p = table.at(c->_label - 1);
        factors[position] = child_factor(c, p, s, all_values[s], weights, k, c->value == 5 ? nullptr : out, position);
      }
      // ln(L_first * L_second) with the two shifts added back last, in this
      // order, so that the sums are reproducible to the last bit.
      if (factors[0].sum == 0.0 || factors[1].sum == 0.0) {
        v->flag_subtree_lik_valid[s] = false;
      } else {
        v->flag_subtree_lik_valid[s] = true;
        v->subtree_lik[s] = ((std::log(factors[0].sum) + std::log(factors[1].sum)) + factors[0].max) + factors[1].max;
      }
      if (out != nullptr) {
        *out << " value: " << all_values[s] << " flag_subtree_lik_valid: " << v->flag_subtree_lik_valid[s]
             << " subtree_lik: " << v->subtree_lik[s] << "\n---------------------------\n";
      }
    }
  }
}
