#include "tree/likelihood_engine.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "io/fatal.h"
#include "random/sampler.h"
#include "tree/branch_indicators.h"
#include "tree/trans_probs.h"

namespace {

constexpr int absent_value = 5;
// Below this many pattern passes per thread a level runs on the caller
// alone: waking the workers would cost more than it saves.
constexpr std::size_t min_passes_per_thread = 48;

bool same_bits(const std::vector<double>& a, const std::vector<double>& b) {
  return a.size() == b.size() && (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0);
}

bool same_bits(const std::vector<std::vector<double>>& a, const std::vector<std::vector<double>>& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (!same_bits(a[i], b[i])) return false;
  }
  return true;
}

// One run of consecutive passes of a level: the slots of one node in one
// (segment, rate state) table.
struct PassBlock {
  std::size_t table;
  int node;
  std::size_t first_pass;  // number of passes of the level before this block
  std::size_t passes;
};

}  // namespace

bool LikelihoodEngine::Arguments::operator==(const Arguments& other) const {
  return from_tos == other.from_tos && same_bits(thetas, other.thetas) &&
         same_bits(deletion_rates, other.deletion_rates) && same_bits(insertion_rates, other.insertion_rates) &&
         same_bits(mutation_rates, other.mutation_rates) && nonempty_values == other.nonempty_values &&
         children == other.children && same_bits(lengths, other.lengths);
}

LikelihoodEngine::LikelihoodEngine(const std::vector<PhyTree*>& trees, int threads)
    : _topology(*trees.at(0)),
      _patterns(_topology, trees),
      _states(trees),
      _pool(std::max(threads, 1)),
      _walk_values(_topology.size(), 0),
      _walk_skipped(_topology.size(), 0),
      _walk_tables(_topology.size(), nullptr) {}

void LikelihoodEngine::evaluate(const std::vector<std::vector<long>>& from_tos,
                                const std::vector<std::vector<double>>& thetas,
                                const std::vector<double>& deletion_rates, const std::vector<double>& insertion_rates,
                                const std::vector<double>& mutation_rates, const std::vector<int>& nonempty_values,
                                const std::vector<int>& children, const std::vector<double>& lengths) {
  Arguments arguments{from_tos,       thetas,          deletion_rates, insertion_rates,
                      mutation_rates, nonempty_values, children,       lengths};
  if (_evaluated && arguments == _arguments) return;
  _evaluated = false;
  _candidate_state = -1;
  _arguments = std::move(arguments);
  _rate_states = deletion_rates.size();
  assign_segments();
  prepare_tables();
  std::vector<TableJob> jobs;
  for (std::size_t t = 0; t < _arguments.from_tos.size() * _rate_states; ++t)
    jobs.push_back({&_tables[t], t / _rate_states});
  evaluate_patterns(jobs);
  _evaluated = true;
}

void LikelihoodEngine::evaluate_candidate(int rate_state, double deletion_rate, double insertion_rate,
                                          double mutation_rate) {
  if (!_evaluated || rate_state < 0 || static_cast<std::size_t>(rate_state) >= _rate_states) {
    throw std::out_of_range("candidate tables need an evaluated rate state");
  }
  const auto& a = _arguments;
  const std::size_t segments = a.from_tos.size();
  if (_candidate.size() < segments) _candidate.resize(segments);
  std::vector<TableJob> jobs;
  for (std::size_t segment = 0; segment < segments; ++segment) {
    TransProbs trans_probs(a.thetas.at(segment), deletion_rate, insertion_rate, mutation_rate, a.nonempty_values,
                           a.children, a.lengths);
    _candidate[segment].prepare(_topology, trans_probs, _slots[segment].total());
    jobs.push_back({&_candidate[segment], segment});
  }
  evaluate_patterns(jobs);
  _candidate_state = rate_state;
  _candidate_rates[0] = deletion_rate;
  _candidate_rates[1] = insertion_rate;
  _candidate_rates[2] = mutation_rate;
}

const PatternTables& LikelihoodEngine::candidate_root_tables(long column) const {
  if (_candidate_state < 0) throw std::out_of_range("no candidate tables");
  const int segment = _segment_of_column.at(static_cast<std::size_t>(column));
  if (segment < 0) throw std::out_of_range("column outside the evaluated segments");
  return root_tables_in(_candidate[segment], column);
}

void LikelihoodEngine::accept_candidate() {
  if (_candidate_state < 0) throw std::out_of_range("no candidate tables");
  const auto state = static_cast<std::size_t>(_candidate_state);
  for (std::size_t segment = 0; segment < _arguments.from_tos.size(); ++segment) {
    std::swap(_tables[segment * _rate_states + state], _candidate[segment]);
  }
  _arguments.deletion_rates[state] = _candidate_rates[0];
  _arguments.insertion_rates[state] = _candidate_rates[1];
  _arguments.mutation_rates[state] = _candidate_rates[2];
  _candidate_state = -1;
}

// Each segment collects the patterns its columns show; a pattern that occurs
// in two segments is evaluated in both, since the frequencies differ.
void LikelihoodEngine::assign_segments() {
  const auto columns = static_cast<long>(_patterns.columns());
  const auto& from_tos = _arguments.from_tos;
  _segment_of_column.assign(_patterns.columns(), -1);
  if (_slots.size() < from_tos.size()) _slots.resize(from_tos.size());
  for (std::size_t segment = 0; segment < from_tos.size(); ++segment) {
    const long first = from_tos[segment].at(0);
    const long last = from_tos[segment].at(1);
    if (first < 0 || last >= columns) throw std::out_of_range("segment bounds outside the alignment's columns");
    for (long column = first; column <= last; ++column) _segment_of_column[column] = static_cast<int>(segment);
    _slots[segment].reset(_topology, _patterns);
    _slots[segment].collect(_topology, _patterns, first, last);
  }
}

void LikelihoodEngine::prepare_tables() {
  const auto& a = _arguments;
  if (_tables.size() < a.from_tos.size() * _rate_states) _tables.resize(a.from_tos.size() * _rate_states);
  for (std::size_t segment = 0; segment < a.from_tos.size(); ++segment) {
    for (std::size_t state = 0; state < _rate_states; ++state) {
      TransProbs trans_probs(a.thetas.at(segment), a.deletion_rates.at(state), a.insertion_rates.at(state),
                             a.mutation_rates.at(state), a.nonempty_values, a.children, a.lengths);
      table(segment, static_cast<int>(state)).prepare(_topology, trans_probs, _slots[segment].total());
    }
  }
}

// Nodes of one height depend only on lower ones, so a level's passes, over
// every table, are independent: they are cut into one contiguous range per
// thread, and the levels run from the leaves up.
void LikelihoodEngine::evaluate_patterns(const std::vector<TableJob>& jobs) {
  std::vector<PassBlock> blocks;
  for (int height = 1; height <= _topology.max_height(); ++height) {
    blocks.clear();
    std::size_t passes = 0;
    for (std::size_t t = 0; t < jobs.size(); ++t) {
      const PatternSlots& slots = _slots[jobs[t].segment];
      for (const int node : _topology.internal_nodes_of_height(height)) {
        const std::size_t count = slots.ids(node).size();
        if (count == 0) continue;
        blocks.push_back({t, node, passes, count});
        passes += count;
      }
    }
    _pool.for_ranges(
        passes,
        [&](std::size_t begin, std::size_t end) {
          auto block = std::upper_bound(blocks.begin(), blocks.end(), begin,
                                        [](std::size_t pass, const PassBlock& b) { return pass < b.first_pass; });
          --block;
          for (std::size_t pass = begin; pass < end; ++pass) {
            while (pass >= block->first_pass + block->passes) ++block;
            const TableJob& job = jobs[block->table];
            job.tables->evaluate(_topology, _patterns, _slots[job.segment], block->node, pass - block->first_pass);
          }
        },
        min_passes_per_thread);
  }
}

const PatternTables& LikelihoodEngine::node_tables(long column, int rate_state, int node) const {
  const int segment = _segment_of_column.at(static_cast<std::size_t>(column));
  if (!_evaluated || segment < 0) throw std::out_of_range("column outside the evaluated segments");
  if (rate_state < 0 || static_cast<std::size_t>(rate_state) >= _rate_states) {
    throw std::out_of_range("rate state without evaluated tables");
  }
  const PatternSlots& slots = _slots[segment];
  if (node < 0 || static_cast<std::size_t>(node) >= _topology.size() || _topology.is_leaf(node)) {
    throw std::out_of_range("node without likelihood tables");
  }
  return table(segment, rate_state).tables(slots.slot(node, _patterns.id(static_cast<std::size_t>(column), node)));
}

const PatternTables& LikelihoodEngine::root_tables_in(const PatternLikelihoods& tables, long column) const {
  const PatternSlots& slots = _slots[_segment_of_column[static_cast<std::size_t>(column)]];
  return tables.tables(slots.slot(0, _patterns.id(static_cast<std::size_t>(column), 0)));
}

void LikelihoodEngine::sample_internal_nodes(const std::vector<std::vector<long>>& from_tos,
                                             std::vector<PhyTree*>& trees, const std::vector<int>& all_value_index,
                                             const std::vector<int>& column_rate_states,
                                             const std::vector<double>& mutation_rates,
                                             const std::vector<std::vector<double>>& thetas) {
  if (!_evaluated || from_tos != _arguments.from_tos || !same_bits(mutation_rates, _arguments.mutation_rates)) {
    fatal("internal error: the top-down draw needs the tables of its own segments and rates\n", -1);
  }
  // exp(-mu t) of every branch, once per rate state instead of once per bond.
  std::vector<std::vector<double>> no_mutation(mutation_rates.size(), std::vector<double>(_topology.size(), 0.0));
  for (std::size_t state = 0; state < mutation_rates.size(); ++state) {
    for (std::size_t node = 1; node < _topology.size(); ++node) {
      no_mutation[state][node] =
          no_mutation_probability(mutation_rates[state], _topology.length(static_cast<int>(node)));
    }
  }
  for (std::size_t segment = 0; segment < from_tos.size(); ++segment) {
    for (long column = from_tos[segment].at(0); column <= from_tos[segment].at(1); ++column) {
      const int state = column_rate_states.at(column);
      topdown(column, *trees.at(column), table(segment, state), _slots[segment], no_mutation.at(state), all_value_index,
              thetas.at(segment));
    }
  }
}

// The walk of PhyTree::topdown over the breadth-first numbers: a node is
// visited when its parent was and it is not absent (the queue of the tree's
// own walk holds exactly these nodes, in this order). An internal node's
// value is drawn from its pattern's weight row of the parent's value, then
// the branch's indicators are set.
void LikelihoodEngine::topdown(long column, PhyTree& tree, const PatternLikelihoods& likelihoods,
                               const PatternSlots& slots, const std::vector<double>& no_mutation,
                               const std::vector<int>& all_value_index, const std::vector<double>& freqs) {
  const auto c = static_cast<std::size_t>(column);
  // The tables of a column's patterns lie scattered over the (segment, rate
  // state) table; asking for all of them before the walk lets their memory
  // loads overlap instead of stalling one draw after the other.
  for (int v = 1; v < static_cast<int>(_topology.size()); ++v) {
    if (_topology.is_leaf(v)) continue;
    const PatternTables* tables = &likelihoods.tables(slots.slot(v, _patterns.id(c, v)));
    _walk_tables[v] = tables;
    const char* bytes = reinterpret_cast<const char*>(tables->top_down_weights.data());
    for (std::size_t offset = 0; offset < sizeof(tables->top_down_weights); offset += 64) {
      __builtin_prefetch(bytes + offset);
    }
  }
  _states.store(c, *tree.root);
  _walk_values[0] = static_cast<std::int8_t>(tree.root->value);
  _walk_skipped[0] = 0;
  for (int v = 1; v < static_cast<int>(_topology.size()); ++v) {
    const int p = _topology.parent(v);
    Node& node = *tree.nodes[_topology.label(v)];
    if ((p != 0 && _walk_skipped[p]) || node.value == absent_value) {
      _walk_skipped[v] = 1;
      continue;
    }
    _walk_skipped[v] = 0;
    const int parent_value = _walk_values[p];
    if (!_topology.is_leaf(v)) {
      const double* row =
          _walk_tables[v]->top_down_weights.data() + all_value_index.at(parent_value) * likelihood_states;
      node.value = static_cast<int>(draw_weighted_index(row, likelihood_states));
    }
    set_branch_indicators(node, parent_value, no_mutation[v], all_value_index, freqs);
    _states.store(c, node);
    _walk_values[v] = static_cast<std::int8_t>(node.value);
  }
}
