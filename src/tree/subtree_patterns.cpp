#include "tree/subtree_patterns.h"

#include <cstdint>
#include <unordered_map>

#include "io/errors.h"
#include "io/string_conversion.h"

namespace {

constexpr int absent_value = 5;

}  // namespace

SubtreePatterns::SubtreePatterns(const ColumnStates& states)
    : _columns(states.columns()),
      _nodes(states.topology().size()),
      _ids(_columns * _nodes, 0),
      _child_ids(_nodes),
      _absent(_nodes) {
  const TreeTopology& topology = states.topology();
  for (const int leaf : topology.leaves()) {
    for (int value = 0; value <= absent_value; ++value) _absent[leaf].push_back(value == absent_value ? 1 : 0);
  }
  std::vector<std::unordered_map<std::uint64_t, int>> seen(_nodes);
  for (std::size_t column = 0; column < _columns; ++column) {
    std::int32_t* ids = &_ids[column * _nodes];
    // Children before parents: the breadth-first numbers downwards.
    for (int node = static_cast<int>(_nodes) - 1; node >= 0; --node) {
      const int value = states.at(column, topology.label(node)).value;
      if (topology.is_leaf(node)) {
        if (value < 0 || value > absent_value) {
          throw InternalError("internal error: leaf value " + to_string(value) + " of column " + to_string(column) +
                              " is outside 0..5\n");
        }
        ids[node] = value;
        continue;
      }
      const int first = ids[topology.first_child(node)];
      const int second = ids[topology.second_child(node)];
      const std::uint64_t key = (static_cast<std::uint64_t>(first) << 32) | static_cast<std::uint32_t>(second);
      const auto [found, is_new] = seen[node].try_emplace(key, count(node));
      if (is_new) {
        _child_ids[node].push_back({first, second});
        const bool both_absent =
            _absent[topology.first_child(node)][first] && _absent[topology.second_child(node)][second];
        _absent[node].push_back(both_absent ? 1 : 0);
      }
      ids[node] = found->second;
      if ((value == absent_value) != absent(node, ids[node])) {
        throw InternalError("internal error: node " + to_string(topology.label(node)) + " of column " +
                            to_string(column) + " has value " + to_string(value) +
                            ", but the leaves below it say it is " + (absent(node, ids[node]) ? "absent" : "present") +
                            "\n");
      }
    }
  }
}
