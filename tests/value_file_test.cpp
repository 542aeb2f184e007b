#include "decimal/value_file.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "decimal/error.hpp"

namespace {

using decimal::entry_count;
using decimal::parse_error;
using decimal::raw_table;
using decimal::value_parser;

// Parses `text` as the file "t.txt", fed in chunks of `chunk` bytes.
raw_table parse(std::string_view text, std::size_t chunk) {
  value_parser parser("t.txt");
  while (!text.empty() && !parser.complete()) {
    const std::size_t used = parser.feed(text.substr(0, std::min(chunk, text.size())));
    text.remove_prefix(used);
  }
  return parser.finish();
}

// "0 1 2 ... 200" with `separator` between the numbers.
std::string counting_file(std::string_view separator) {
  std::string text;
  for (std::size_t i = 0; i < entry_count; ++i) {
    text += std::to_string(i);
    text += separator;
  }
  return text;
}

void expect_counting(const raw_table& table) {
  for (std::size_t i = 0; i < entry_count; ++i) ASSERT_EQ(table[i], static_cast<std::int32_t>(i));
}

constexpr std::array<std::size_t, 3> chunk_sizes = {1, 3, 1 << 16};

struct bad_file {
  const char* text;
  bool padded;  // followed by 201 good numbers, so that only the fault counts
  const char* message;
};

void PrintTo(const bad_file& c, std::ostream* os) {
  *os << testing::PrintToString(std::string(c.text));
}

class BadValueFile : public testing::TestWithParam<bad_file> {};

TEST_P(BadValueFile, FailsWithItsMessage) {
  const bad_file& c = GetParam();
  std::string text = c.text;
  if (c.padded) text += "\n" + counting_file(" ");
  for (const std::size_t chunk : chunk_sizes) {
    SCOPED_TRACE(chunk);
    try {
      parse(text, chunk);
      ADD_FAILURE() << "no error";
    } catch (const parse_error& e) {
      EXPECT_STREQ(e.what(), c.message);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Table, BadValueFile,
    testing::Values(
        bad_file{"1 2\n  12.5", true, "t.txt:2:3: expected an integer, found \"12.5\""},
        bad_file{"0x10", true, "t.txt:1:1: expected an integer, found \"0x10\""},
        bad_file{"1e3", true, "t.txt:1:1: expected an integer, found \"1e3\""},
        bad_file{"5,", true, "t.txt:1:1: expected an integer, found \"5,\""},
        bad_file{"12abc", true, "t.txt:1:1: expected an integer, found \"12abc\""},
        bad_file{"-", true, "t.txt:1:1: expected an integer, found \"-\""},
        bad_file{"+-1", true, "t.txt:1:1: expected an integer, found \"+-1\""},
        bad_file{"1-2", true, "t.txt:1:1: expected an integer, found \"1-2\""},
        bad_file{"\t\t7\r\nabc", true, "t.txt:2:1: expected an integer, found \"abc\""},
        // An out-of-range number with trailing junk is not an integer at all.
        bad_file{"99999999999x", true, "t.txt:1:1: expected an integer, found \"99999999999x\""},
        // Quoting: control, non-ASCII, quote and backslash bytes are escaped.
        bad_file{"a\x1b[0m", true, "t.txt:1:1: expected an integer, found \"a\\x1b[0m\""},
        bad_file{"\xc3\xa9", true, "t.txt:1:1: expected an integer, found \"\\xc3\\xa9\""},
        bad_file{"\"\\", true, "t.txt:1:1: expected an integer, found \"\\\"\\\\\""},
        bad_file{"1 2 3 4 5 6 7 8\n1 2 99999999999", true,
                 "t.txt:2:5: number out of range: \"99999999999\""},
        bad_file{"2147483648", true, "t.txt:1:1: number out of range: \"2147483648\""},
        bad_file{"-2147483649", true, "t.txt:1:1: number out of range: \"-2147483649\""},
        // A fault in a word that the end of the file ends.
        bad_file{"1 2 12.5", false, "t.txt:1:5: expected an integer, found \"12.5\""},
        bad_file{"", false, "t.txt: expected 201 numbers, found 0"},
        bad_file{" \n\t\r\n", false, "t.txt: expected 201 numbers, found 0"},
        bad_file{"1 2 3", false, "t.txt: expected 201 numbers, found 3"}));

TEST(BadValueFile, ShortByOne) {
  std::string text = counting_file("\n");
  text.resize(text.rfind("200"));
  EXPECT_THROW(
      {
        try {
          parse(text, 7);
        } catch (const parse_error& e) {
          EXPECT_STREQ(e.what(), "t.txt: expected 201 numbers, found 200");
          EXPECT_EQ(e.line(), 0U);
          throw;
        }
      },
      parse_error);
}

TEST(BadValueFile, LongWordIsCutShortInTheMessage) {
  const std::string word = "x" + std::string(100'000, '7');
  for (const std::size_t chunk : chunk_sizes) {
    try {
      parse("1\n " + word, chunk);
      ADD_FAILURE() << "no error";
    } catch (const parse_error& e) {
      EXPECT_EQ(std::string(e.what()),
                "t.txt:2:2: expected an integer, found \"" + word.substr(0, 40) + "\"...");
      EXPECT_EQ(e.line(), 2U);
      EXPECT_EQ(e.column(), 2U);
    }
  }
}

TEST(GoodValueFile, AnyWhiteSpaceSeparates) {
  for (const char* separator : {" ", "\n", "\r\n", "\t", " \v\f\t\r\n  "}) {
    SCOPED_TRACE(testing::PrintToString(separator));
    for (const std::size_t chunk : chunk_sizes)
      expect_counting(parse(counting_file(separator), chunk));
  }
}

TEST(GoodValueFile, SignsLeadingZerosAndLimits) {
  std::string text =
      "-2147483648 +2147483647 -0 +0 007 -0002047 " + std::string(100'000, '0') + "4095";
  for (std::size_t i = 7; i < entry_count; ++i) text += " 1";
  for (const std::size_t chunk : chunk_sizes) {
    const raw_table table = parse(text, chunk);
    EXPECT_EQ(table[0], INT32_MIN);
    EXPECT_EQ(table[1], INT32_MAX);
    EXPECT_EQ(table[2], 0);
    EXPECT_EQ(table[3], 0);
    EXPECT_EQ(table[4], 7);
    EXPECT_EQ(table[5], -2047);
    EXPECT_EQ(table[6], 4095);
    EXPECT_EQ(table[200], 1);
  }
}

TEST(GoodValueFile, NothingAfterTheLastNumberIsRead) {
  const std::string counting = counting_file(" ");
  for (const std::string tail : {"201 202 203", "garbage \xff 12.5", "", "\n"}) {
    for (const std::size_t chunk : chunk_sizes) {
      value_parser parser("t.txt");
      const std::string text = counting + tail;
      std::size_t used = 0;
      while (used < text.size() && !parser.complete()) {
        used += parser.feed(std::string_view(text).substr(used, chunk));
      }
      EXPECT_EQ(used, counting.size()) << "stops after the white space ending 200";
      expect_counting(parser.finish());
    }
  }
}

TEST(GoodValueFile, LastNumberMayEndTheFile) {
  std::string text = counting_file(" ");
  text.pop_back();
  for (const std::size_t chunk : chunk_sizes) expect_counting(parse(text, chunk));
}

TEST(GoodValueFile, LastNumberMustBeWhole) {
  std::string text = counting_file(" ");
  text.back() = 'x';  // "200x"
  EXPECT_THROW(parse(text, 5), parse_error);
}

// The file reader, on real files and reading through tiny buffers.
class ValueFileOnDisk : public testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::path(testing::TempDir()) /
           testing::UnitTest::GetInstance()->current_test_info()->name();
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  std::string write(const std::string& name, const std::string& text) {
    std::string path = (dir_ / name).string();
    std::ofstream(path, std::ios::binary) << text;
    return path;
  }

  std::filesystem::path dir_;
};

TEST_F(ValueFileOnDisk, ReadsThroughAnyBufferSize) {
  const std::string path = write("v.txt", counting_file("\r\n") + "trailing text");
  for (const std::size_t size : {1U, 2U, 3U, 1000U}) {
    std::string buffer(size, '\0');
    expect_counting(decimal::read_value_file(path.c_str(), buffer));
  }
  expect_counting(decimal::read_value_file(path.c_str()));
}

TEST_F(ValueFileOnDisk, WhiteSpaceLongerThanTheBuffer) {
  const std::string path = write("v.txt", std::string(200'000, ' ') + counting_file("\n"));
  expect_counting(decimal::read_value_file(path.c_str()));
}

TEST_F(ValueFileOnDisk, WordLongerThanTheBuffer) {
  std::string buffer(16, '\0');
  const std::string padded =
      write("padded.txt", std::string(100, '0') + "42 " + counting_file(" "));
  EXPECT_EQ(decimal::read_value_file(padded.c_str(), buffer)[0], 42);

  const std::string word = std::string(100, '7') + "x";
  const std::string bad = write("bad.txt", "1\n" + word + "\n" + counting_file(" "));
  try {
    decimal::read_value_file(bad.c_str(), buffer);
    ADD_FAILURE() << "no error";
  } catch (const parse_error& e) {
    EXPECT_EQ(std::string(e.what()),
              bad + ":2:1: expected an integer, found \"" + word.substr(0, 40) + "\"...");
  }
}

TEST_F(ValueFileOnDisk, MissingFileAndDirectory) {
  const std::string missing = (dir_ / "none.txt").string();
  try {
    decimal::read_value_file(missing.c_str());
    ADD_FAILURE() << "no error";
  } catch (const decimal::error& e) {
    EXPECT_EQ(std::string(e.what()), missing + ": No such file or directory");
  }
  try {
    decimal::read_value_file(dir_.c_str());
    ADD_FAILURE() << "no error";
  } catch (const decimal::error& e) {
    EXPECT_EQ(std::string(e.what()), dir_.string() + ": Is a directory");
  }
}

}  // namespace
