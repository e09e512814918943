#include <gtest/gtest.h>

#include <sstream>

#include "io/csv_reader.h"
#include "io/string_conversion.h"
#include "io/vector_writers.h"
#include "support/errors.h"
#include "support/process.h"

namespace {

template <typename T>
std::vector<std::vector<T>> parse(const std::string& text) {
  std::istringstream stream(text);
  const std::string name = "table.txt";
  TableParser<T> parser(stream, name);
  return parser.read();
}

using Rows = std::vector<std::vector<int>>;

TEST(TableReader, ReadsFieldsAsStreamExtractionFindsThem) {
  std::istringstream stream("3 4 5\n6\n");
  const std::string name = "t";
  TableParser<int> parser(stream, name);
  EXPECT_EQ(parser.read(), (Rows{{3, 4, 5}, {6}}));
  EXPECT_EQ(parser.line_count, 2);
  EXPECT_EQ(parser.field_count, 3);
  // A final newline makes no extra row, a blank line makes an empty one.
  EXPECT_EQ(parse<int>("1 2\n3 4"), parse<int>("1 2\n3 4\n"));
  EXPECT_EQ(parse<int>("1 2\n\n3 4\n"), (Rows{{1, 2}, {}, {3, 4}}));
  EXPECT_EQ(parse<int>("\n \t\r\n1 2\n3\n"), (Rows{{}, {}, {1, 2}, {3}}));  // leading ones too
  EXPECT_EQ(parse<int>("1 2\n3 4\n\n"), (Rows{{1, 2}, {3, 4}, {}}));
  EXPECT_EQ(parse<int>("1\t 2  \t3\r\n4\t5\r\n"), (Rows{{1, 2, 3}, {4, 5}}));
  EXPECT_EQ(parse<std::string>("0 1 0.5 name\n"), (std::vector<std::vector<std::string>>{{"0", "1", "0.5", "name"}}));

  TempDir dir;
  write_file(dir.path() / "t.txt", "1 2\n3\n");
  CSVReader<int> reader((dir.path() / "t.txt").string());
  EXPECT_EQ(reader.read(), (Rows{{1, 2}, {3}}));
  EXPECT_EQ(reader.line_count(), 2);
}

// Only a file without a non-blank line, or whose first one holds no value,
// is empty.
TEST(TableReader, AFileWithoutValuesIsEmptyAndAMissingFileIsNamed) {
  for (const char* text : {"\n \t\n\n", "\nx 1\n", ""}) {
    EXPECT_TRUE(throws_error<InputError>([&] { parse<int>(text); }, -1, "^empty file:table.txt\n$")) << text;
  }
  EXPECT_TRUE(throws_error<InputError>([] { CSVReader<int>("/no/such/file.txt"); }, -1,
                                       "^file not exist:/no/such/file.txt\n$"));
}

}  // namespace
