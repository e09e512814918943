#pragma once

#include <fstream>
#include <istream>
#include <sstream>
#include <string>
#include <vector>

#include "io/errors.h"
#include "io/input_file.h"

// Reads a whitespace-separated table from a stream, by rows: inner vector i
// holds every value that could be extracted from line i, left to right, up to
// the first failed extraction (a blank line gives an empty row, so that row i
// stays line i + 1 for messages; the callers skip empty rows). The number of fields of
// the first line that is not blank (white space only) decides whether the
// table is empty: if it has none, or every line is blank, it throws an
// InputError "empty file:" followed by `name`.
template <typename T>
class TableParser {
 public:
  TableParser(std::istream& stream, const std::string& name) : _stream(stream), _name(name) {}

  std::vector<std::vector<T>> read() {
    std::string line;
    bool found_first = false;
    line_count = 0;
    field_count = 0;
    while (std::getline(_stream, line)) {
      ++line_count;
      if (found_first || is_blank(line)) continue;
      found_first = true;
      field_count = static_cast<int>(extract_all(line).size());
    }
    if (field_count == 0) throw InputError("empty file:" + _name + "\n", _name);
    _stream.clear();
    _stream.seekg(0);
    return read_rows();
  }

  int line_count = 0;
  int field_count = 0;

 private:
  static bool is_blank(const std::string& line) { return line.find_first_not_of(" \t\r\n\v\f") == std::string::npos; }

  static std::vector<T> extract_all(const std::string& line) {
    std::istringstream fields(line);
    std::vector<T> values;
    T value{};
    while (fields >> value) values.push_back(value);
    return values;
  }

  std::vector<std::vector<T>> read_rows() {
    std::vector<std::vector<T>> table(line_count);
    std::string line;
    for (int i = 0; i < line_count; ++i) {
      std::getline(_stream, line);
      table[i] = extract_all(line);
    }
    return table;
  }

  std::istream& _stream;
  const std::string& _name;
};

// A whitespace-separated table file. The file is opened at construction; if it
// cannot be opened it throws an InputError "file not exist:" followed by the
// name. A path that is not a regular file (opening a pipe could wait for
// ever), or a file larger than the machine's memory, is refused first, with
// the message of check_input_file.
template <typename T>
class CSVReader {
 public:
  explicit CSVReader(const std::string& file_name) : _file_name(file_name) {
    check_input_file(_file_name);
    _stream.open(_file_name);
    if (!_stream.is_open()) throw InputError("file not exist:" + _file_name + "\n", _file_name);
  }

  // Reads the whole file by rows and returns a copy of the table.
  std::vector<std::vector<T>> read() {
    TableParser<T> parser(_stream, _file_name);
    _table = parser.read();
    _line_count = parser.line_count;
    _field_count = parser.field_count;
    return _table;
  }

  int line_count() const { return _line_count; }
  int field_count() const { return _field_count; }

 private:
  std::string _file_name;
  std::ifstream _stream;
  int _line_count = 0;
  int _field_count = 0;
  std::vector<std::vector<T>> _table;
};
