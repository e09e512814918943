#include "ratestates/emission_probs.h"

#include <cstddef>
#include <limits>
#include <stdexcept>

#include "io/diagnostics.h"
#include "io/vector_writers.h"

void compute_obs_emission_probs(const ColumnStates& states, LikelihoodEngine& engine,
                                const Versioned<Segmentation>& segmentation, const Versioned<EventRates>& rates,
                                std::vector<std::vector<double>>& emission_probs) {
  engine.evaluate(segmentation, rates);
  const int n_states = static_cast<int>(rates->states());
  for (const std::vector<long>& bounds : segmentation->from_tos) {
    for (long column = bounds.at(0); column <= bounds.at(1); ++column) {
      if (column < 0 || static_cast<std::size_t>(column) >= states.columns()) {
        throw std::out_of_range("segment bound beyond the columns");
      }
      const auto root_value = static_cast<std::size_t>(states.root_value(static_cast<std::size_t>(column)));
      std::vector<double>& row = emission_probs.at(static_cast<std::size_t>(column));
      for (int k = 0; k < n_states; ++k) {
        const PatternTables& root = engine.root_tables(column, k);
        const double log_likelihood = root.subtree_lik.at(root_value);
        row.at(k) = LikelihoodEngine::valid(root, static_cast<int>(root_value))
                        ? log_likelihood
                        : -std::numeric_limits<double>::infinity();
      }
    }
  }
  if (std::ostream* out = diagnostics()) write_vectors_two_dim(emission_probs, *out);
}
