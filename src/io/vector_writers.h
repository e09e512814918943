#pragma once

#include <cstddef>
#include <ostream>
#include <vector>

// The four printers of every vector the program writes. Numbers use the
// stream's current format; nothing here sets precision, width or flags.

// Elements separated by one space, the last followed by "\n". An empty vector
// writes nothing at all.
template <typename T>
void write_vector_row(const std::vector<T>& values, std::ostream& out) {
  const std::size_t size = values.size();
  for (std::size_t i = 0; i < size; ++i) {
    out << values[i] << (i + 1 == size ? "\n" : " ");
  }
}

// Each element followed by "\n" (a bool prints as 1 or 0).
template <typename T>
void write_vector_column(const std::vector<T>& values, std::ostream& out) {
  for (std::size_t i = 0; i < values.size(); ++i) out << values[i] << "\n";
}

// One row per inner vector; an empty inner vector leaves no blank line.
template <typename T>
void write_vectors_two_dim(const std::vector<std::vector<T>>& rows, std::ostream& out) {
  for (const auto& row : rows) write_vector_row(row, out);
}

// Every matrix as rows, with nothing between matrices.
template <typename T>
void write_vectors_three_dim(const std::vector<std::vector<std::vector<T>>>& matrices, std::ostream& out) {
  for (const auto& matrix : matrices) write_vectors_two_dim(matrix, out);
}
