#include "simulation/rate_clustering.h"

#include <cmath>
#include <iomanip>

#include "io/errors.h"
#include "io/string_conversion.h"
#include "random/sampler.h"

namespace {

// ln(1 - x) for an event probability 1 - x, x = e^(-rate * length). With a
// zero rate or length the event is impossible and the log would be minus
// infinity; flooring it to the smallest normal double keeps a cluster with a
// zero rate drawable unless another cluster explains the event.
double log_event_probability(double no_event_probability) {
  static const double log_smallest_normal = std::log(2.2250738585072014e-308);
  const double event_probability = 1.0 - no_event_probability;
  return event_probability == 0.0 ? log_smallest_normal : std::log(event_probability);
}

// Per event type: (events, non-events, total branch length of the non-events).
struct ColumnEventStatistics {
  std::vector<double> deletions = std::vector<double>(3, 0.0);
  std::vector<double> insertions = std::vector<double>(3, 0.0);
  std::vector<double> mutations = std::vector<double>(3, 0.0);
};

void count_events(const Node* node, ColumnEventStatistics& statistics) {
  const double b = node->length;
  if (node->deletion == 1) {
    statistics.deletions[0] += 1.0;
  } else if (node->deletion == 0) {
    statistics.deletions[1] += 1.0;
    statistics.deletions[2] += b;
    if (node->bond == 0) {
      statistics.mutations[0] += 1.0;
    } else if (node->bond == 1) {
      statistics.mutations[1] += 1.0;
      statistics.mutations[2] += b;
    }
  } else if (node->insertion == 1) {
    statistics.insertions[0] += 1.0;
  } else if (node->insertion == 0) {
    statistics.insertions[1] += 1.0;
    statistics.insertions[2] += b;
  }
}

// Log likelihood of the tree's branch events under one set of rates. The
// terms are added node by node in label order.
double column_log_likelihood(PhyTree& tree, double d, double i, double m) {
  double log_likelihood = 0.0;
  for (std::size_t label = 1; label < tree.nodes.size(); ++label) {
    const Node* node = tree.nodes[label];
    const double b = node->length;
    if (node->deletion == 1) {
      log_likelihood += log_event_probability(std::exp(-d * b));
    } else if (node->deletion == 0) {
      log_likelihood += -d * b;
      if (node->bond == 0) {
        log_likelihood += log_event_probability(std::exp(-m * b));
      } else if (node->bond == 1) {
        log_likelihood += -m * b;
      }
    } else if (node->insertion == 1) {
      log_likelihood += log_event_probability(std::exp(-i * b));
    } else if (node->insertion == 0) {
      log_likelihood += -i * b;
    }
  }
  return log_likelihood;
}

ColumnEventStatistics column_statistics(PhyTree& tree) {
  ColumnEventStatistics statistics;
  for (std::size_t label = 1; label < tree.nodes.size(); ++label) count_events(tree.nodes[label], statistics);
  return statistics;
}

void write_column_line(const ColumnEventStatistics& statistics, const std::vector<double>& log_likelihoods,
                       const std::vector<double>& log_proportions, const std::vector<double>& log_weights,
                       std::ostream* out) {
  *out << std::scientific << std::setprecision(2);
  for (const auto* group : {&statistics.deletions, &statistics.insertions, &statistics.mutations}) {
    for (const double value : *group) *out << value << "\t";
  }
  for (const auto* group : {&log_likelihoods, &log_proportions, &log_weights}) {
    for (const double value : *group) *out << value << "\t";
  }
  *out << "\n";
}

void rebuild_members(const std::vector<int>& assignment, std::vector<std::vector<long>>& members) {
  for (auto& list : members) list.clear();
  for (std::size_t t = 0; t < assignment.size(); ++t) members.at(assignment[t]).push_back(static_cast<long>(t));
}

}  // namespace

void cluster_in_rates(std::vector<PhyTree*>& trees, const std::vector<double>& proportions,
                      std::vector<int>& assignment, std::vector<std::vector<long>>& members,
                      const std::vector<double>& deletion_rates, const std::vector<double>& insertion_rates,
                      const std::vector<double>& mutation_rates, std::ostream* out) {
  const std::size_t cluster_count = members.size();
  std::vector<int> clusters(cluster_count);
  for (std::size_t c = 0; c < cluster_count; ++c) clusters[c] = static_cast<int>(c);
  assignment.resize(trees.size());

  std::vector<double> log_likelihoods(cluster_count);
  std::vector<double> log_proportions(cluster_count);
  std::vector<double> log_weights(cluster_count);
  std::vector<double> weights(cluster_count);

  for (std::size_t t = 0; t < trees.size(); ++t) {
    PhyTree& tree = *trees[t];
    // The largest log weight is the shift of the exponentials: the first
    // cluster sets it and only a strictly larger one replaces it.
    double max_log_weight = 0.0;
    for (std::size_t c = 0; c < cluster_count; ++c) {
      log_likelihoods[c] =
          column_log_likelihood(tree, deletion_rates.at(c), insertion_rates.at(c), mutation_rates.at(c));
      log_proportions[c] = std::log(proportions.at(c));
      log_weights[c] = log_likelihoods[c] + log_proportions[c];
      if (c == 0 || log_weights[c] > max_log_weight) max_log_weight = log_weights[c];
    }
    if (out != nullptr) write_column_line(column_statistics(tree), log_likelihoods, log_proportions, log_weights, out);

    // With every log weight at minus infinity the shifted weights would all be
    // not-a-number and the draw meaningless: no cluster can hold the column.
    if (!std::isfinite(max_log_weight)) {
      throw InternalError("cluster_in_rates: column " + to_string(t) +
                          " has a log weight of minus infinity (or not a number) under every cluster: no cluster can "
                          "hold it; check for zero proportions and negative or infinite rates\n");
    }
    for (std::size_t c = 0; c < cluster_count; ++c) weights[c] = std::exp(log_weights[c] - max_log_weight);
    Sampler<int, double> sampler(clusters, weights);
    assignment[t] = sampler.draw_w_replace(1)[0];
  }
  rebuild_members(assignment, members);
}
