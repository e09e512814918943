#include "tree/branch_indicators.h"

#include "io/errors.h"
#include "random/sampler.h"

namespace {

bool is_residue(int value) { return value >= 1 && value <= 4; }

// Given parent and node both holding residue v, the branch kept it either
// without any mutation event (weight exp(-mu t)) or through mutation events
// whose last one landed on v again (weight (1 - exp(-mu t)) freq[v]). The
// deletion factor is common to both and left out.
int draw_bond(int parent_value, double no_mutation, const std::vector<int>& all_value_index,
              const std::vector<double>& freqs) {
  const double weights[2] = {(1 - no_mutation) * freqs.at(all_value_index.at(parent_value) - 1), no_mutation};
  return static_cast<int>(draw_weighted_index(weights, 2));
}

}  // namespace

// A residue under an empty parent would be an insertion inside the tree,
// which the model does not have.
void set_branch_indicators(NodeState& node, int parent_value, double no_mutation,
                           const std::vector<int>& all_value_index, const std::vector<double>& freqs) {
  const int value = node.value;
  if (parent_value == 0) {
    node.deletion = -1;
    node.bond = -1;
    if (value == 0) node.insertion = 0;
    if (is_residue(value)) {
      node.insertion = 1;
      throw InternalError("insertion inside a tree occurs unexpectedly!");
    }
  } else if (is_residue(parent_value)) {
    node.insertion = -1;
    if (value == 0) {
      node.deletion = 1;
      node.bond = -1;
    } else if (is_residue(value)) {
      node.deletion = 0;
      node.bond = static_cast<std::int8_t>(
          value != parent_value ? 0 : draw_bond(parent_value, no_mutation, all_value_index, freqs));
    }
  }
}
