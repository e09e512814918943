#include "segmentation/segmentation_recorder.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "random/variates.h"
#include "segmentation/partition_sampler.h"
#include "support/test_trees.h"

namespace {

const std::vector<int> nonempty_value_index{0, 0, 1, 2, 3};
constexpr int num_values = 4;
// Cases up to this many columns list every value; longer ones list digests.
constexpr long full_listing_columns = 24;
// Cases up to this many columns also record the diagnostic streams.
constexpr long diagnostic_columns = 8;
// End columns per digest line.
constexpr long digest_group = 32;

struct RecordedCase {
  int leaves;
  unsigned tree_seed;
  long columns;
  long max_partitions;
  unsigned data_seed;
  unsigned draw_seed;
  double residue_share;  // chance that a node, the root included, holds a residue
  double block_spread;   // > 0: most blocks get arbitrary values in [-spread, spread]
};

// Empty, absent, one-column and maximal-partition cases, every k_max from 1
// to 6, residue-poor and residue-rich trees, and arbitrary block values whose
// spread drives most backward weights below the range of exp.
const std::vector<RecordedCase> recorded_cases{
    {3, 1, 1, 0, 101, 1001, 0.7, 0.0},       {3, 2, 2, 1, 102, 1002, 0.7, 0.0},
    {4, 3, 3, 2, 103, 1003, 0.5, 0.0},       {5, 4, 5, 4, 104, 1004, 0.9, 0.0},
    {6, 5, 7, 6, 105, 1005, 0.7, 0.0},       {3, 6, 8, 3, 106, 1006, 0.5, 0.0},
    {7, 7, 13, 4, 107, 1007, 0.9, 0.0},      {6, 8, 24, 6, 108, 1008, 0.7, 0.0},
    {4, 9, 24, 2, 109, 1009, 0.7, 40.0},     {9, 10, 40, 3, 110, 1010, 0.5, 0.0},
    {6, 11, 75, 4, 111, 1011, 0.9, 0.0},     {12, 12, 150, 6, 112, 1012, 0.7, 0.0},
    {6, 13, 300, 4, 113, 1013, 0.9, 0.0},    {5, 14, 280, 5, 114, 1014, 0.95, 0.0},
    {8, 15, 120, 4, 115, 1015, 0.7, 3000.0}, {5, 16, 16, 5, 116, 1016, 0.7, 3000.0},
};

// Every node, the root included, gets a residue with the given chance and
// otherwise an empty (3 in 4) or absent value; indicators are -1, 0 or 1 at
// random, consistent with the values or not.
void randomise_nodes(const TreeSet& set, double residue_share, std::mt19937& engine) {
  std::bernoulli_distribution residue(residue_share);
  std::uniform_int_distribution<int> residue_value(1, 4);
  std::bernoulli_distribution empty(0.75);
  std::uniform_int_distribution<int> indicator(-1, 1);
  for (PhyTree* tree : set.trees) {
    for (Node* node : tree->nodes) {
      node->value = residue(engine) ? residue_value(engine) : (empty(engine) ? 0 : 5);
      node->deletion = indicator(engine);
      node->insertion = indicator(engine);
      node->bond = indicator(engine);
    }
  }
}

std::string hex(double value) {
  std::ostringstream text;
  text << std::hexfloat << value;
  return text.str();
}

// FNV-1a over the bytes of the values' bit patterns.
std::uint64_t digest(const std::vector<double>& values) {
  std::uint64_t hash = 14695981039346656037ULL;
  for (const double value : values) {
    std::uint64_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    for (int byte = 0; byte < 8; ++byte) {
      hash ^= (bits >> (8 * byte)) & 0xffU;
      hash *= 1099511628211ULL;
    }
  }
  return hash;
}

void write_values(std::ostream& out, const std::string& label, const std::vector<double>& values) {
  out << label << ":";
  for (const double value : values) out << " " << hex(value);
  out << "\n";
}

void write_digest(std::ostream& out, const std::string& label, const std::vector<double>& values) {
  std::ostringstream text;
  text << std::hex << digest(values);
  out << label << " n=" << values.size() << " digest=" << text.str() << "\n";
}

// Overwrites about two blocks in three (all blocks of one column and the
// blocks u..v with u + v divisible by 3 keep their computed values).
void override_blocks(PartitionSampler& sampler, long columns, double spread, std::mt19937& engine) {
  std::uniform_real_distribution<double> block(-spread, spread);
  for (long v = 2; v <= columns; ++v) {
    for (long u = 1; u < v; ++u) {
      if ((u + v) % 3 != 0) sampler.set_block_log_likelihood(v, u, block(engine));
    }
  }
}

std::vector<double> block_row(const PartitionSampler& sampler, long v) {
  std::vector<double> row;
  for (long u = 1; u <= v; ++u) row.push_back(sampler.block_log_likelihood(v, u));
  return row;
}

void record_blocks(std::ostream& out, const PartitionSampler& sampler, long columns) {
  for (long first = 1; first <= columns; first += digest_group) {
    const long last = std::min(columns, first + digest_group - 1);
    std::vector<double> group;
    for (long v = first; v <= last; ++v) {
      const std::vector<double> row = block_row(sampler, v);
      if (columns <= full_listing_columns) write_values(out, "g v=" + std::to_string(v), row);
      group.insert(group.end(), row.begin(), row.end());
    }
    if (columns > full_listing_columns) {
      write_digest(out, "g v=" + std::to_string(first) + ".." + std::to_string(last), group);
    }
  }
}

// Log marginals of every prefix, the position priors and every backward
// weight row; in small cases each weight is also read one by one.
void record_forward(std::ostream& out, const PartitionSampler& sampler, long columns, long max_partitions) {
  const bool full = columns <= full_listing_columns;
  for (long p = 1; p <= max_partitions; ++p) {
    out << "log position prior p=" << p << ": " << hex(sampler.log_position_prior(p)) << "\n";
    std::vector<double> marginals;
    for (long v = p + 1; v <= columns; ++v) marginals.push_back(sampler.log_marginal(p, v));
    const std::string label = "f p=" + std::to_string(p);
    full ? write_values(out, label, marginals) : write_digest(out, label, marginals);
    for (long first = p + 1; first <= columns; first += digest_group) {
      const long last = std::min(columns, first + digest_group - 1);
      std::vector<double> group;
      for (long v = first; v <= last; ++v) {
        const std::vector<double> row = sampler.backward_weights(p, v);
        if (full) {
          std::vector<double> one_by_one;
          for (long u = p + 1; u <= v; ++u) one_by_one.push_back(sampler.backward_weight(p, v, u));
          write_values(out, "b p=" + std::to_string(p) + " v=" + std::to_string(v), row);
          write_values(out, "b entries p=" + std::to_string(p) + " v=" + std::to_string(v), one_by_one);
        }
        group.insert(group.end(), row.begin(), row.end());
      }
      if (!full) {
        write_digest(out, "b p=" + std::to_string(p) + " v=" + std::to_string(first) + ".." + std::to_string(last),
                     group);
      }
    }
  }
}

void record_from_tos(std::ostream& out, PartitionSampler& sampler, const std::vector<std::vector<long>>& from_tos) {
  out << "from_tos:";
  for (const std::vector<long>& from_to : from_tos) out << " " << from_to.at(0) << "-" << from_to.at(1);
  double log_posterior_term = 0.0;
  const double log_prior = sampler.compute_post_para(from_tos, log_posterior_term);
  out << " prior " << hex(log_prior) << " posterior term " << hex(log_posterior_term) << "\n";
}

// Three draws of the number of partitions with their boundaries, then the
// boundaries of every number of partitions, then the next uniform of the
// stream.
void record_draws(std::ostream& out, PartitionSampler& sampler, long columns, long max_partitions, unsigned seed) {
  if (max_partitions < 1) return;
  std::srand(seed);
  const bool diagnostics = columns <= diagnostic_columns;
  for (int draw = 0; draw < 3; ++draw) {
    std::ostringstream row;
    const long p = sampler.sample_number_partitions(&row);
    out << "number of partitions " << p << " row: " << row.str();
    std::ostringstream positions_text;
    const std::vector<std::vector<long>> from_tos =
        sampler.sample_partition_positions(p, diagnostics ? &positions_text : nullptr);
    record_from_tos(out, sampler, from_tos);
    if (diagnostics) out << "diagnostics sample_partition_positions:" << positions_text.str() << "\n";
  }
  for (long p = 1; p <= max_partitions; ++p)
    record_from_tos(out, sampler, sampler.sample_partition_positions(p, nullptr));
  out << "next uniform " << hex(draw_unit_uniform()) << "\n";
}

void record_case(std::ostream& out, std::size_t index, const RecordedCase& recorded, WorkerPool* pool) {
  out << "case " << index << " leaves=" << recorded.leaves << " columns=" << recorded.columns
      << " k_max=" << recorded.max_partitions << " residue share=" << recorded.residue_share
      << " block spread=" << recorded.block_spread << "\n";
  const TreeTable table = random_table(recorded.leaves, recorded.tree_seed);
  TreeSet set;
  for (long c = 0; c < recorded.columns; ++c) set.add(table.make_tree());
  std::mt19937 engine(recorded.data_seed);
  PartitionSampler sampler(recorded.max_partitions, recorded.columns, num_values, set.trees);
  sampler.use_worker_pool(pool);
  const bool diagnostics = recorded.columns <= diagnostic_columns;
  // Two iterations: the second must rebuild every table from the new states.
  for (unsigned iteration = 0; iteration < 2; ++iteration) {
    out << "iteration " << iteration << "\n";
    randomise_nodes(set, recorded.residue_share, engine);
    std::ostringstream blocks_text;
    sampler.compute_single_blocks(set.trees, nonempty_value_index, diagnostics ? &blocks_text : nullptr);
    if (diagnostics) out << "diagnostics compute_single_blocks:" << blocks_text.str() << "\n";
    if (recorded.block_spread > 0.0) override_blocks(sampler, recorded.columns, recorded.block_spread, engine);
    record_blocks(out, sampler, recorded.columns);
    std::ostringstream forward_text;
    sampler.forward(diagnostics ? &forward_text : nullptr);
    if (diagnostics) out << "diagnostics forward:" << forward_text.str() << "\n";
    record_forward(out, sampler, recorded.columns, recorded.max_partitions);
    record_draws(out, sampler, recorded.columns, recorded.max_partitions, recorded.draw_seed + iteration);
  }
}

}  // namespace

void record_segmentation_outputs(std::ostream& out, WorkerPool* pool) {
  for (std::size_t index = 0; index < recorded_cases.size(); ++index) {
    record_case(out, index, recorded_cases[index], pool);
  }
}
