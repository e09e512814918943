#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

// The values a node takes: 0 empty, 1..4 the residues (5, absent, is no
// value: the node takes no part in the column). Likelihood tables are
// indexed by position in all_values (= the value), per-residue frequency
// vectors by position in residues.
struct Alphabet {
  std::vector<int> residues{1, 2, 3, 4};
  std::vector<int> residue_index{0, 0, 1, 2, 3};  // by value: position in residues
  std::vector<int> all_values{0, 1, 2, 3, 4};
  std::vector<int> all_value_index{0, 1, 2, 3, 4};  // by value: position in all_values

  int residue_count() const { return static_cast<int>(residues.size()); }
  int value_count() const { return static_cast<int>(all_values.size()); }
};

// The one alphabet of the model.
const Alphabet& model_alphabet();

// The event rates of one rate state: a residue is deleted at rate
// `deletion`, an empty position receives a residue at rate `insertion`, and
// a kept residue mutates at rate `mutation`, per unit of branch length.
struct StateRates {
  double deletion = 0.0;
  double insertion = 0.0;
  double mutation = 0.0;
};

// The event rates of every rate state (-1.0: not yet drawn).
struct EventRates {
  std::vector<double> deletion;
  std::vector<double> insertion;
  std::vector<double> mutation;

  std::size_t states() const { return deletion.size(); }
  // Throws std::out_of_range for a state beyond any of the three lists.
  StateRates of(std::size_t state) const { return {deletion.at(state), insertion.at(state), mutation.at(state)}; }
};

// The segmentation of the alignment and what each segment has of its own.
struct Segmentation {
  // Per segment: its first and last column (numbered from 0, both
  // included); the segments are contiguous and cover every column.
  std::vector<std::vector<long>> from_tos;
  // Per segment: the frequencies (4) of newly arising residues.
  std::vector<std::vector<double>> thetas;
  // Per segment: the root-value transition rows (4 x 4) between residues.
  std::vector<std::vector<std::vector<double>>> betas;
  // The root's emptying (gamma) and re-filling (eta) probabilities, one
  // entry each.
  std::vector<double> gammas;
  std::vector<double> etas;
};

// A value with a version that changes whenever it may have changed: read
// access through * and ->, write access only through change(), which takes a
// new version. Whoever computes from the value keeps the version it used and
// knows without comparing the value whether its result is still current.
// Versions are unique among all values of one type.
template <class T>
class Versioned {
 public:
  Versioned() : _version(next_version()) {}
  explicit Versioned(T value) : _value(std::move(value)), _version(next_version()) {}

  const T& operator*() const { return _value; }
  const T* operator->() const { return &_value; }
  T& change() {
    _version = next_version();
    return _value;
  }
  std::uint64_t version() const { return _version; }

 private:
  static std::uint64_t next_version() {
    static std::atomic<std::uint64_t> last{0};
    return ++last;
  }

  T _value;
  std::uint64_t _version;
};
