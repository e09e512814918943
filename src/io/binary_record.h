#pragma once

#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <vector>

// A flat record of fixed-size values in the machine's own byte order, for
// files that the same program on the same kind of machine reads back
// (checkpoints). Vectors and texts carry their length first.
class BinaryWriter {
 public:
  template <typename T>
  void put(const T& value) {
    static_assert(std::is_trivially_copyable_v<T>);
    _bytes.append(reinterpret_cast<const char*>(&value), sizeof(T));
  }
  template <typename T>
  void put_vector(const std::vector<T>& values) {
    static_assert(std::is_trivially_copyable_v<T>);
    put<std::uint64_t>(values.size());
    _bytes.append(reinterpret_cast<const char*>(values.data()), values.size() * sizeof(T));
  }
  void put_text(const std::string& text) {
    put<std::uint64_t>(text.size());
    _bytes.append(text);
  }
  const std::string& bytes() const { return _bytes; }
  std::string& bytes() { return _bytes; }

 private:
  std::string _bytes;
};

// Reads what a BinaryWriter wrote, in the same order. Reading past the end,
// or a length that cannot fit in what is left, throws std::runtime_error.
class BinaryReader {
 public:
  BinaryReader(const char* data, std::size_t size) : _data(data), _size(size) {}

  template <typename T>
  T get() {
    static_assert(std::is_trivially_copyable_v<T>);
    T value;
    std::memcpy(&value, take(sizeof(T)), sizeof(T));
    return value;
  }
  template <typename T>
  std::vector<T> get_vector() {
    static_assert(std::is_trivially_copyable_v<T>);
    const auto count = get<std::uint64_t>();
    if (count > (_size - _offset) / sizeof(T)) throw std::runtime_error("record ends inside a list");
    std::vector<T> values(count);
    if (count > 0) std::memcpy(values.data(), take(count * sizeof(T)), count * sizeof(T));
    return values;
  }
  std::string get_text() {
    const auto size = get<std::uint64_t>();
    if (size > _size - _offset) throw std::runtime_error("record ends inside a text");
    return std::string(take(size), size);
  }
  bool at_end() const { return _offset == _size; }

 private:
  const char* take(std::size_t size) {
    if (size > _size - _offset) throw std::runtime_error("record ends early");
    const char* start = _data + _offset;
    _offset += size;
    return start;
  }

  const char* _data;
  std::size_t _size;
  std::size_t _offset = 0;
};
