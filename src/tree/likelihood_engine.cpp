#include "tree/likelihood_engine.h"

#include <algorithm>
#include <stdexcept>

#include "io/errors.h"
#include "random/sampler.h"
#include "tree/branch_indicators.h"
#include "tree/trans_probs.h"

namespace {

constexpr int absent_value = 5;
// Below this many pattern passes per thread a level runs on the caller
// alone: waking the workers would cost more than it saves.
constexpr std::size_t min_passes_per_thread = 48;

// One run of consecutive passes of a level: the slots of one node in one
// (segment, rate state) table.
struct PassBlock {
  std::size_t table;
  int node;
  std::size_t first_pass;  // number of passes of the level before this block
  std::size_t passes;
};

}  // namespace

LikelihoodEngine::LikelihoodEngine(const ColumnStates& states, WorkerPool& pool)
    : _topology(states.shared_topology()),
      _patterns(states),
      _pool(pool),
      _walk_values(_topology->size(), 0),
      _walk_skipped(_topology->size(), 0),
      _walk_tables(_topology->size(), nullptr) {}

void LikelihoodEngine::evaluate(const Versioned<Segmentation>& segmentation, const Versioned<EventRates>& rates) {
  if (_evaluated && segmentation.version() == _segmentation_version && rates.version() == _rates_version) return;
  _evaluated = false;
  _candidate_state = -1;
  _segments = segmentation->from_tos.size();
  _rate_states = rates->states();
  assign_segments(*segmentation);
  prepare_tables(*segmentation, *rates);
  std::vector<TableJob> jobs;
  for (std::size_t t = 0; t < _segments * _rate_states; ++t) jobs.push_back({&_tables[t], t / _rate_states});
  evaluate_patterns(jobs);
  _segmentation_version = segmentation.version();
  _rates_version = rates.version();
  _evaluated = true;
}

void LikelihoodEngine::evaluate_candidate(const Versioned<Segmentation>& segmentation, int rate_state,
                                          const StateRates& candidate) {
  if (!_evaluated || segmentation.version() != _segmentation_version) {
    throw InternalError("internal error: candidate tables need the segments of the last evaluation\n");
  }
  if (rate_state < 0 || static_cast<std::size_t>(rate_state) >= _rate_states) {
    throw std::out_of_range("candidate tables need an evaluated rate state");
  }
  if (_candidate.size() < _segments) _candidate.resize(_segments);
  std::vector<TableJob> jobs;
  for (std::size_t segment = 0; segment < _segments; ++segment) {
    TransProbs trans_probs(*_topology, segmentation->thetas.at(segment), candidate);
    _candidate[segment].prepare(*_topology, trans_probs, _slots[segment].total());
    jobs.push_back({&_candidate[segment], segment});
  }
  evaluate_patterns(jobs);
  _candidate_state = rate_state;
  _candidate_rates = candidate;
}

const PatternTables& LikelihoodEngine::candidate_root_tables(long column) const {
  if (_candidate_state < 0) throw std::out_of_range("no candidate tables");
  const int segment = _segment_of_column.at(static_cast<std::size_t>(column));
  if (segment < 0) throw std::out_of_range("column outside the evaluated segments");
  return root_tables_in(_candidate[segment], column);
}

void LikelihoodEngine::accept_candidate(Versioned<EventRates>& rates) {
  if (_candidate_state < 0) throw std::out_of_range("no candidate tables");
  if (rates.version() != _rates_version) {
    throw InternalError("internal error: a candidate replaces rates of the last evaluation only\n");
  }
  const auto state = static_cast<std::size_t>(_candidate_state);
  for (std::size_t segment = 0; segment < _segments; ++segment) {
    std::swap(_tables[segment * _rate_states + state], _candidate[segment]);
  }
  EventRates& changed = rates.change();
  changed.deletion.at(state) = _candidate_rates.deletion;
  changed.insertion.at(state) = _candidate_rates.insertion;
  changed.mutation.at(state) = _candidate_rates.mutation;
  _rates_version = rates.version();
  _candidate_state = -1;
}

// Each segment collects the patterns its columns show; a pattern that occurs
// in two segments is evaluated in both, since the frequencies differ.
void LikelihoodEngine::assign_segments(const Segmentation& segmentation) {
  const auto columns = static_cast<long>(_patterns.columns());
  const auto& from_tos = segmentation.from_tos;
  _segment_of_column.assign(_patterns.columns(), -1);
  if (_slots.size() < from_tos.size()) _slots.resize(from_tos.size());
  for (std::size_t segment = 0; segment < from_tos.size(); ++segment) {
    const long first = from_tos[segment].at(0);
    const long last = from_tos[segment].at(1);
    if (first < 0 || last >= columns) throw std::out_of_range("segment bounds outside the alignment's columns");
    for (long column = first; column <= last; ++column) _segment_of_column[column] = static_cast<int>(segment);
    _slots[segment].reset(*_topology, _patterns);
    _slots[segment].collect(*_topology, _patterns, first, last);
  }
}

void LikelihoodEngine::prepare_tables(const Segmentation& segmentation, const EventRates& rates) {
  if (_tables.size() < _segments * _rate_states) _tables.resize(_segments * _rate_states);
  for (std::size_t segment = 0; segment < _segments; ++segment) {
    for (std::size_t state = 0; state < _rate_states; ++state) {
      TransProbs trans_probs(*_topology, segmentation.thetas.at(segment), rates.of(state));
      table(segment, static_cast<int>(state)).prepare(*_topology, trans_probs, _slots[segment].total());
    }
  }
}

// Nodes of one height depend only on lower ones, so a level's passes, over
// every table, are independent: they are cut into one contiguous range per
// thread, and the levels run from the leaves up.
void LikelihoodEngine::evaluate_patterns(const std::vector<TableJob>& jobs) {
  std::vector<PassBlock> blocks;
  for (int height = 1; height <= _topology->max_height(); ++height) {
    blocks.clear();
    std::size_t passes = 0;
    for (std::size_t t = 0; t < jobs.size(); ++t) {
      const PatternSlots& slots = _slots[jobs[t].segment];
      for (const int node : _topology->internal_nodes_of_height(height)) {
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
            job.tables->evaluate(*_topology, _patterns, _slots[job.segment], block->node, pass - block->first_pass);
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
  if (node < 0 || static_cast<std::size_t>(node) >= _topology->size() || _topology->is_leaf(node)) {
    throw std::out_of_range("node without likelihood tables");
  }
  return table(segment, rate_state).tables(slots.slot(node, _patterns.id(static_cast<std::size_t>(column), node)));
}

const PatternTables& LikelihoodEngine::root_tables_in(const PatternLikelihoods& tables, long column) const {
  const PatternSlots& slots = _slots[_segment_of_column[static_cast<std::size_t>(column)]];
  return tables.tables(slots.slot(0, _patterns.id(static_cast<std::size_t>(column), 0)));
}

void LikelihoodEngine::sample_internal_nodes(const Versioned<Segmentation>& segmentation,
                                             const Versioned<EventRates>& rates,
                                             const std::vector<int>& column_rate_states, ColumnStates& states) {
  if (!_evaluated || segmentation.version() != _segmentation_version || rates.version() != _rates_version) {
    throw InternalError("internal error: the top-down draw needs the tables of its own segments and rates\n");
  }
  const std::vector<double>& mutation_rates = rates->mutation;
  // exp(-mu t) of every branch, once per rate state instead of once per bond.
  std::vector<std::vector<double>> no_mutation(mutation_rates.size(), std::vector<double>(_topology->size(), 0.0));
  for (std::size_t state = 0; state < mutation_rates.size(); ++state) {
    for (std::size_t node = 1; node < _topology->size(); ++node) {
      no_mutation[state][node] =
          no_mutation_probability(mutation_rates[state], _topology->length(static_cast<int>(node)));
    }
  }
  const auto& from_tos = segmentation->from_tos;
  for (std::size_t segment = 0; segment < from_tos.size(); ++segment) {
    for (long column = from_tos[segment].at(0); column <= from_tos[segment].at(1); ++column) {
      const int state = column_rate_states.at(column);
      topdown(column, segment, state, no_mutation.at(state), segmentation->thetas.at(segment), states);
    }
  }
}

// A walk from the root over the breadth-first numbers: a node is visited
// when its parent was and it is not absent, so every parent's value is final
// before its children are drawn. An internal node's value is drawn from its
// pattern's weight row of the parent's value, then the branch's indicators
// are set (the value before the bond).
void LikelihoodEngine::topdown(long column, std::size_t segment, int rate_state,
                               const std::vector<double>& no_mutation, const std::vector<double>& freqs,
                               ColumnStates& states) {
  const auto c = static_cast<std::size_t>(column);
  const PatternLikelihoods& likelihoods = table(segment, rate_state);
  const PatternSlots& slots = _slots[segment];
  const std::vector<int>& all_value_index = model_alphabet().all_value_index;
  // The tables of a column's patterns lie scattered over the (segment, rate
  // state) table; asking for all of them before the walk lets their memory
  // loads overlap instead of stalling one draw after the other.
  for (int v = 1; v < static_cast<int>(_topology->size()); ++v) {
    if (_topology->is_leaf(v)) continue;
    const PatternTables* tables = &likelihoods.tables(slots.slot(v, _patterns.id(c, v)));
    _walk_tables[v] = tables;
    const char* bytes = reinterpret_cast<const char*>(tables->top_down_weights.data());
    for (std::size_t offset = 0; offset < sizeof(tables->top_down_weights); offset += 64) {
      __builtin_prefetch(bytes + offset);
    }
  }
  _walk_values[0] = static_cast<std::int8_t>(states.root_value(c));
  _walk_skipped[0] = 0;
  for (int v = 1; v < static_cast<int>(_topology->size()); ++v) {
    const int p = _topology->parent(v);
    NodeState& node = states.at(c, _topology->label(v));
    if ((p != 0 && _walk_skipped[p]) || node.value == absent_value) {
      _walk_skipped[v] = 1;
      continue;
    }
    _walk_skipped[v] = 0;
    const int parent_value = _walk_values[p];
    if (!_topology->is_leaf(v)) {
      const double* row =
          _walk_tables[v]->top_down_weights.data() + all_value_index.at(parent_value) * likelihood_states;
      node.value = static_cast<std::int8_t>(draw_weighted_index(row, likelihood_states));
    }
    set_branch_indicators(node, parent_value, no_mutation[v], all_value_index, freqs);
    _walk_values[v] = node.value;
  }
}
