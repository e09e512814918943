#include "tree/pattern_likelihoods.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "io/errors.h"
#include "io/string_conversion.h"
#include "numerics/exp_kernels.h"

namespace {

constexpr int n_states = likelihood_states;
constexpr int absent_value = 5;
constexpr double minus_infinity = -std::numeric_limits<double>::infinity();

// An absent subtree is a factor 1 for its parent: a sum of 1.0 with shift 0.
ChildMessage absent_message() {
  ChildMessage message;
  message.log_sum.fill(std::log(1.0));
  message.max.fill(0.0);
  return message;
}

const ChildMessage& factor_one() {
  static const ChildMessage message = absent_message();
  return message;
}

}  // namespace

void PatternSlots::reset(const TreeTopology& topology, const SubtreePatterns& patterns) {
  const std::size_t nodes = topology.size();
  if (_local.size() != nodes) {
    _local.assign(nodes, {});
    _ids.assign(nodes, {});
    _offset.assign(nodes, 0);
    for (std::size_t node = 0; node < nodes; ++node) {
      if (!topology.is_leaf(static_cast<int>(node))) _local[node].assign(patterns.count(static_cast<int>(node)), -1);
    }
  }
  for (std::size_t node = 0; node < nodes; ++node) {
    for (const int id : _ids[node]) _local[node][id] = -1;
    _ids[node].clear();
  }
  _total = 0;
}

void PatternSlots::collect(const TreeTopology& topology, const SubtreePatterns& patterns, long first, long last) {
  const int nodes = static_cast<int>(topology.size());
  for (long column = first; column <= last; ++column) {
    for (int node = 0; node < nodes; ++node) {
      if (topology.is_leaf(node)) continue;
      const int id = patterns.id(static_cast<std::size_t>(column), node);
      int& local = _local[node][id];
      if (local >= 0) continue;
      local = static_cast<int>(_ids[node].size());
      _ids[node].push_back(id);
    }
  }
  _total = 0;
  for (int node = 0; node < nodes; ++node) {
    _offset[node] = _total;
    _total += _ids[node].size();
  }
}

void PatternLikelihoods::prepare(const TreeTopology& topology, TransProbs& trans_probs, std::size_t slots) {
  const auto& matrices = trans_probs.get_trans_probs();
  const std::size_t nodes = topology.size();
  _log_p.resize(nodes);
  _leaf_messages.resize(nodes);
  for (std::size_t node = 1; node < nodes; ++node) {
    const int label = topology.label(static_cast<int>(node));
    const auto& p = matrices.at(label - 1);
    if (p.size() != n_states) {
      throw InternalError("internal error: the branch matrix above node " + to_string(label) + " is not 5 x 5\n");
    }
    for (int s = 0; s < n_states; ++s) {
      if (p[s].size() != n_states) {
        throw InternalError("internal error: the branch matrix above node " + to_string(label) + " is not 5 x 5\n");
      }
      for (int j = 0; j < n_states; ++j) _log_p[node][s * n_states + j] = std::log(p[s][j]);
    }
  }
  // A leaf is a node whose only possible state is its value, with ln L = 0.
  for (const int leaf : topology.leaves()) {
    if (leaf == 0) continue;
    for (int value = 0; value < n_states; ++value) {
      PatternTables tables;
      tables.subtree_lik.fill(0.0);
      tables.valid = static_cast<std::uint8_t>(1u << value);
      child_message(tables, leaf, _leaf_messages[leaf][value]);
    }
    _leaf_messages[leaf][absent_value] = factor_one();
  }
  // Grown only, and geometrically: the tables of earlier iterations are
  // overwritten, never freed, zeroed and copied again for a few more slots.
  if (_tables.size() < slots) _tables.resize(std::max(slots, _tables.size() + _tables.size() / 2));
}

// The child's factor for every parent state s, exactly as the column pass
// forms it: the candidates are the child states j that are possible and
// reachable (P[s][j] != 0, that is ln P[s][j] != -inf); the first candidate
// sets the maximum and only a strictly greater one replaces it; each weight
// is exp(t_j - max) (the maximum's own term is exp(0) = 1 exactly); the sum
// runs over increasing j from 0.0. The exponentials of all parent states are
// taken in one call of the bulk exp, which gives std::exp's bits.
void PatternLikelihoods::child_message(const PatternTables& child, int child_node, ChildMessage& message,
                                       double* weights_out) const {
  const auto& log_p = _log_p[child_node];
  std::array<double, n_states * n_states> weights{};  // 0 where j is no candidate
  std::array<std::uint8_t, n_states> candidates{};
  // The exponents other than the maxima (whose weight is 1), packed for the bulk exp.
  std::array<double, n_states * n_states> packed;
  std::array<std::uint8_t, n_states * n_states> packed_at;
  std::size_t n_packed = 0;
  for (int s = 0; s < n_states; ++s) {
    std::array<double, n_states> exponents{};
    double max = 0.0;
    for (int j = 0; j < n_states; ++j) {
      const double log_pj = log_p[s * n_states + j];
      if (((child.valid >> j) & 1u) == 0 || log_pj == minus_infinity) continue;
      exponents[j] = log_pj + child.subtree_lik[j];
      if (candidates[s] == 0 || exponents[j] > max) max = exponents[j];
      candidates[s] |= static_cast<std::uint8_t>(1u << j);
    }
    for (int j = 0; j < n_states; ++j) {
      if (((candidates[s] >> j) & 1u) == 0) continue;
      const double shifted = exponents[j] - max;
      if (shifted == 0.0) {
        weights[s * n_states + j] = 1.0;
      } else {
        packed[n_packed] = shifted;
        packed_at[n_packed++] = static_cast<std::uint8_t>(s * n_states + j);
      }
    }
    message.max[s] = candidates[s] == 0 ? 0.0 : max;
  }
  numerics::exp_kernel().exp_array(packed.data(), packed.data(), n_packed);
  for (std::size_t i = 0; i < n_packed; ++i) weights[packed_at[i]] = packed[i];
  for (int s = 0; s < n_states; ++s) {
    double sum = 0.0;
    for (int j = 0; j < n_states; ++j) {
      if ((candidates[s] >> j) & 1u) sum += weights[s * n_states + j];
    }
    message.log_sum[s] = candidates[s] == 0 ? minus_infinity : std::log(sum);
  }
  if (weights_out != nullptr) std::copy(weights.begin(), weights.end(), weights_out);
}

const ChildMessage& PatternLikelihoods::message_of(const TreeTopology& topology, const SubtreePatterns& patterns,
                                                   const PatternSlots& slots, int node, int id) const {
  if (topology.is_leaf(node)) return _leaf_messages[node][id];
  if (patterns.absent(node, id)) return factor_one();
  return _tables[slots.slot(node, id)].up;
}

// ln L(s) = ((ln sum_first + ln sum_second) + max_first) + max_second, in
// exactly this order; a child with no possible state makes s impossible.
void PatternLikelihoods::evaluate(const TreeTopology& topology, const SubtreePatterns& patterns,
                                  const PatternSlots& slots, int node, std::size_t local_slot) {
  const int id = slots.ids(node)[local_slot];
  PatternTables& tables = _tables[slots.first_slot(node) + local_slot];
  tables.valid = 0;
  tables.subtree_lik.fill(0.0);
  if (patterns.absent(node, id)) {
    tables.up = factor_one();
    tables.top_down_weights.fill(0.0);
    return;
  }
  const auto& child_ids = patterns.child_ids(node, id);
  const ChildMessage& first = message_of(topology, patterns, slots, topology.first_child(node), child_ids[0]);
  const ChildMessage& second = message_of(topology, patterns, slots, topology.second_child(node), child_ids[1]);
  for (int s = 0; s < n_states; ++s) {
    if (first.log_sum[s] == minus_infinity || second.log_sum[s] == minus_infinity) continue;
    tables.subtree_lik[s] = ((first.log_sum[s] + second.log_sum[s]) + first.max[s]) + second.max[s];
    tables.valid |= static_cast<std::uint8_t>(1u << s);
  }
  if (node != 0) child_message(tables, node, tables.up, tables.top_down_weights.data());
}
