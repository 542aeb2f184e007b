#include "decimal/value_file.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <future>
#include <iterator>
#include <string>
#include <thread>

#include "decimal/error.hpp"
#include "decimal/run.hpp"
#include "scratch_dir.hpp"

namespace {

using decimal::entry_count;
using decimal::number_range;
using decimal::parse_error;
using decimal::raw_table;
using decimal::value_parser;

using numbers = std::array<std::int64_t, entry_count>;

// Parses the first entry_count numbers of `text` as the file "t.txt", fed in
// chunks of `chunk` bytes; returns them and the bytes consumed. Without
// `values`, the numbers are only checked.
std::pair<numbers, std::size_t> parse_counting_bytes(std::string_view text, std::size_t chunk,
                                                     bool values = true) {
  value_parser parser("t.txt");
  numbers out{};
  std::size_t got = 0;
  std::size_t used = 0;
  while (used < text.size() && got < entry_count) {
    const value_parser::progress step =
        parser.feed(text.substr(used, chunk), std::span(out).subspan(got), values);
    used += step.bytes;
    got += step.numbers;
  }
  if (got < entry_count) got += parser.finish(std::span(out).subspan(got));
  if (got < entry_count) parser.fail_count(entry_count);
  return {out, used};
}

numbers parse(std::string_view text, std::size_t chunk) {
  return parse_counting_bytes(text, chunk).first;
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

template <typename Table>
void expect_counting(const Table& table) {
  for (std::size_t i = 0; i < entry_count; ++i) ASSERT_EQ(table[i], static_cast<std::int64_t>(i));
}

constexpr std::array<std::size_t, 3> chunk_sizes = {1, 3, 1 << 16};

struct bad_file {
  std::string_view text;
  bool padded;  // followed by 201 good numbers, so that only the fault counts
  const char* message;
  std::size_t line;  // of the offending word; 0 with the column when there is none
  std::size_t column;
};

void PrintTo(const bad_file& c, std::ostream* os) {
  *os << testing::PrintToString(std::string(c.text));
}

class BadValueFile : public testing::TestWithParam<bad_file> {};

TEST_P(BadValueFile, FailsWithItsMessage) {
  const bad_file& c = GetParam();
  std::string text(c.text);
  if (c.padded) text += "\n" + counting_file(" ");
  for (const std::size_t chunk : chunk_sizes) {
    SCOPED_TRACE(chunk);
    // Checked alike without their values (the samples of a block that shows none).
    for (const bool values : {true, false}) {
      try {
        parse_counting_bytes(text, chunk, values);
        ADD_FAILURE() << "no error" << (values ? "" : " without values");
      } catch (const parse_error& e) {
        EXPECT_STREQ(e.what(), c.message);
        EXPECT_EQ(e.line(), c.line);
        EXPECT_EQ(e.column(), c.column);
      }
    }
  }
}

using namespace std::string_view_literals;

#define RANGE " (not between -2147483648 and 2147483647)"

INSTANTIATE_TEST_SUITE_P(
    Table, BadValueFile,
    testing::Values(
        bad_file{
            "1 2\n  12.5", true,
            "t.txt:2:3: expected an integer, found \"12.5\": a real number, where integers are "
            "read",
            2, 3},
        bad_file{"0x10", true, "t.txt:1:1: expected an integer, found \"0x10\"", 1, 1},
        bad_file{"1e3", true,
                 "t.txt:1:1: expected an integer, found \"1e3\": a real number, where integers are "
                 "read",
                 1, 1},
        // Not a real number: no hint.
        bad_file{"1e", true, "t.txt:1:1: expected an integer, found \"1e\"", 1, 1},
        bad_file{"5,", true, "t.txt:1:1: expected an integer, found \"5,\"", 1, 1},
        bad_file{"12abc", true, "t.txt:1:1: expected an integer, found \"12abc\"", 1, 1},
        bad_file{"-", true, "t.txt:1:1: expected an integer, found \"-\"", 1, 1},
        bad_file{"+-1", true, "t.txt:1:1: expected an integer, found \"+-1\"", 1, 1},
        bad_file{"1-2", true, "t.txt:1:1: expected an integer, found \"1-2\"", 1, 1},
        bad_file{"\t\t7\r\nabc", true, "t.txt:2:1: expected an integer, found \"abc\"", 2, 1},
        // A bad word after good ones: nothing of the word before may count.
        bad_file{"7 - 2", true, "t.txt:1:3: expected an integer, found \"-\"", 1, 3},
        bad_file{"-7\n\n+", true, "t.txt:3:1: expected an integer, found \"+\"", 3, 1},
        bad_file{"123456 7x", true, "t.txt:1:8: expected an integer, found \"7x\"", 1, 8},
        bad_file{"-1 2147483648", true, "t.txt:1:4: number out of range: \"2147483648\"" RANGE, 1,
                 4},
        // The bytes next to the digits, and NUL, which is no white space.
        bad_file{"7 9:", true, "t.txt:1:3: expected an integer, found \"9:\"", 1, 3},
        bad_file{"7 /7", true, "t.txt:1:3: expected an integer, found \"/7\"", 1, 3},
        bad_file{"1\0"
                 "2"sv,
                 true, "t.txt:1:1: expected an integer, found \"1\\x002\"", 1, 1},
        bad_file{"0\0"
                 "1\0"
                 "2\0"
                 "3"sv,
                 true, "t.txt:1:1: expected an integer, found \"0\\x001\\x002\\x003\"", 1, 1},
        // An out-of-range number with trailing junk is not an integer at all.
        bad_file{"99999999999x", true, "t.txt:1:1: expected an integer, found \"99999999999x\"", 1,
                 1},
        // Quoting: control, DEL, non-ASCII, quote and backslash bytes are escaped.
        bad_file{"a\x1b[0m", true, "t.txt:1:1: expected an integer, found \"a\\x1b[0m\"", 1, 1},
        bad_file{"~\x1f\x7f\x80", true,
                 "t.txt:1:1: expected an integer, found \"~\\x1f\\x7f\\x80\"", 1, 1},
        bad_file{"\xc3\xa9", true, "t.txt:1:1: expected an integer, found \"\\xc3\\xa9\"", 1, 1},
        bad_file{"\"\\", true, "t.txt:1:1: expected an integer, found \"\\\"\\\\\"", 1, 1},
        bad_file{"1 2 3 4 5 6 7 8\n1 2 99999999999", true,
                 "t.txt:2:5: number out of range: \"99999999999\"" RANGE, 2, 5},
        bad_file{"2147483648", true, "t.txt:1:1: number out of range: \"2147483648\"" RANGE, 1, 1},
        bad_file{"-2147483649", true, "t.txt:1:1: number out of range: \"-2147483649\"" RANGE, 1,
                 1},
        // Past 2^64: a number that wraps to 1 in 64 bits is still out of range.
        bad_file{"18446744073709551617", true,
                 "t.txt:1:1: number out of range: \"18446744073709551617\"" RANGE, 1, 1},
        bad_file{"5 -18446744073709551617", true,
                 "t.txt:1:3: number out of range: \"-18446744073709551617\"" RANGE, 1, 3},
        bad_file{"+18446744073709551617", true,
                 "t.txt:1:1: number out of range: \"+18446744073709551617\"" RANGE, 1, 1},
        // A bad word is judged on the bytes its message shows and one more:
        // out of range there, it is out of range whatever follows.
        bad_file{
            "99999999999999999999999999999999999999999x", true,
            "t.txt:1:1: number out of range: \"9999999999999999999999999999999999999999\"..." RANGE,
            1, 1},
        // Many leading zeros stand as "0...0", so that the digits after them show.
        bad_file{"00000000000000000000000000000000000000000000x", true,
                 "t.txt:1:1: expected an integer, found \"0...0x\" (44 leading zeros)", 1, 1},
        bad_file{"7 -0000000000000000000000000000000000000000000000000099999999999", true,
                 "t.txt:1:3: number out of range: \"-0...099999999999\" (50 leading zeros; not "
                 "between -2147483648 and 2147483647)",
                 1, 3},
        bad_file{
            "00000000000000000000000000000000000000000000000000000000000000000000000000000000000000"
            "0000000000000012345678901234567890123456789012345678901234567890",
            true,
            "t.txt:1:1: number out of range: \"0...01234567890123456789012345678901234567890\"... "
            "(100 leading zeros; not between -2147483648 and 2147483647)",
            1, 1},
        bad_file{"00009999999999", true, "t.txt:1:1: number out of range: \"00009999999999\"" RANGE,
                 1, 1},
        // A file in another encoding says so.
        bad_file{
            "\xef\xbb\xbf"
            "1 2",
            true,
            "t.txt:1:1: expected an integer, found \"\\xef\\xbb\\xbf1\" (the file starts with a "
            "UTF-8 byte order mark)",
            1, 1},
        bad_file{"\xff\xfe"
                 "1\0 \0"sv,
                 true,
                 "t.txt:1:1: expected an integer, found \"\\xff\\xfe1\\x00\" (the file looks like "
                 "UTF-16 text)",
                 1, 1},
        bad_file{"\xfe\xff\0"
                 "1"sv,
                 true,
                 "t.txt:1:1: expected an integer, found \"\\xfe\\xff\\x001\" (the file looks like "
                 "UTF-16 text)",
                 1, 1},
        bad_file{"1 \xef\xbb\xbf"
                 "1",
                 true, "t.txt:1:3: expected an integer, found \"\\xef\\xbb\\xbf1\"", 1, 3},
        // Only the file's first word can follow a byte order mark.
        bad_file{"1\n\xef\xbb\xbf"
                 "1",
                 true, "t.txt:2:1: expected an integer, found \"\\xef\\xbb\\xbf1\"", 2, 1},
        // A fault in a word that the end of the file ends.
        bad_file{
            "1 2 12.5", false,
            "t.txt:1:5: expected an integer, found \"12.5\": a real number, where integers are "
            "read",
            1, 5},
        bad_file{"1 +", false, "t.txt:1:3: expected an integer, found \"+\"", 1, 3},
        bad_file{"", false, "t.txt: expected 201 numbers, found 0", 0, 0},
        bad_file{" \n\t\r\n", false, "t.txt: expected 201 numbers, found 0", 0, 0},
        bad_file{"1 2 3", false, "t.txt: expected 201 numbers, found 3", 0, 0}));

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

// A bad word that never ends (a link to /dev/zero, say) ends the reading as
// soon as its message is known, while a run of valid digits may go on.
TEST(BadValueFile, EndlessBadWordEndsOnceItsMessageIsKnown) {
  struct endless {
    std::string_view start;
    char repeated;
    const char* what;
    const char* after;
  };
  for (const endless& word : {endless{"", '\0', "expected an integer, found ", ""},
                              endless{"x", '7', "expected an integer, found ", ""},
                              endless{"-", 'x', "expected an integer, found ", ""},
                              endless{"", '9', "number out of range: ", RANGE},
                              endless{"-", '9', "number out of range: ", RANGE}}) {
    std::string shown(word.start);
    shown.resize(40, word.repeated);
    const std::string message =
        "t.txt:1:3: " + std::string(word.what) + "\"" + shown + "\"..." + word.after;
    for (const std::size_t chunk : {std::size_t{1}, std::size_t{3}, std::size_t{4096}}) {
      SCOPED_TRACE(testing::PrintToString(message) + " in chunks of " + std::to_string(chunk));
      value_parser parser("t.txt");
      numbers out{};
      parser.feed("1 ", out);
      parser.feed(word.start, out);
      const std::string more(chunk, word.repeated);
      std::size_t fed = 0;
      try {
        for (; fed < (std::size_t{1} << 20); fed += chunk) parser.feed(more, out);
        ADD_FAILURE() << "no error";
      } catch (const parse_error& e) {
        EXPECT_LT(fed, 41 - word.start.size()) << "read on after the 41st byte";
        if (word.repeated != '\0') {
          EXPECT_EQ(e.what(), message);
        }
      }
    }
  }
  value_parser parser("t.txt");
  numbers out{};
  for (std::size_t fed = 0; fed < (std::size_t{1} << 20); fed += 4096) {
    EXPECT_EQ(parser.feed(std::string(4096, '0'), out).numbers, 0U);
  }
  EXPECT_EQ(parser.feed("7 ", out).numbers, 1U);
  EXPECT_EQ(out[0], 7) << "a run of valid digits may go on";
  // ... up to a limit, where one is set: a FIFO of endless zeros ends.
  for (const std::string_view sign : {"", "-"}) {
    number_range limited;
    limited.max_word_size = decimal::longest_word;
    value_parser bounded("t.txt", limited);
    bounded.feed(sign, out);
    try {
      for (std::size_t fed = 0; fed < 2 * decimal::longest_word; fed += 4096) {
        bounded.feed(std::string(4096, '0'), out);
      }
      ADD_FAILURE() << "no error";
    } catch (const parse_error& e) {
      EXPECT_EQ(std::string(e.what()),
                "t.txt:1:1: a word of more than 1048576 bytes, which no bench writes");
    }
  }
}

// decimal-diff reads "#" and "//" comments, as Octave and C benches write
// them; decimal does not.
TEST(GoodValueFile, CommentsWhereAllowed) {
  const std::string text = "# Created by Octave\n# name: y\n1 2 # two\n#\n// c bench\n3 //";
  number_range with_comments;
  with_comments.comments = true;
  for (const std::size_t chunk : chunk_sizes) {
    value_parser parser("t.txt", with_comments);
    std::array<std::int64_t, 4> out{};
    std::size_t got = 0;
    for (std::size_t used = 0; used < text.size();) {
      const auto step =
          parser.feed(std::string_view(text).substr(used, chunk), std::span(out).subspan(got));
      used += step.bytes;
      got += step.numbers;
    }
    got += parser.finish(std::span(out).subspan(got));
    EXPECT_EQ(got, 3U) << chunk;
    EXPECT_EQ(out, (std::array<std::int64_t, 4>{1, 2, 3, 0})) << chunk;
  }
  value_parser plain("t.txt");
  std::array<std::int64_t, 4> out{};
  EXPECT_THROW(plain.feed(text, out), parse_error);
}

// A "/" that opens no comment is a bad word, wherever the chunks end.
TEST(BadValueFile, SlashThatOpensNoComment) {
  number_range with_comments;
  with_comments.comments = true;
  for (const std::string_view text : {"1 2\n /x 3", "1 2\n /", "1 2\n / 3"}) {
    for (const std::size_t chunk :
         {std::size_t{1}, std::size_t{2}, std::size_t{6}, std::size_t{64}}) {
      SCOPED_TRACE(std::string(text) + " in chunks of " + std::to_string(chunk));
      value_parser parser("t.txt", with_comments);
      std::array<std::int64_t, 4> out{};
      try {
        std::size_t got = 0;
        for (std::size_t used = 0; used < text.size();) {
          const auto step = parser.feed(text.substr(used, chunk), std::span(out).subspan(got));
          used += step.bytes;
          got += step.numbers;
        }
        parser.finish(std::span(out).subspan(got));
        ADD_FAILURE() << "no error";
      } catch (const parse_error& e) {
        EXPECT_EQ(e.line(), 2U);
        EXPECT_EQ(e.column(), 2U);
        EXPECT_TRUE(std::string(e.what()).starts_with("t.txt:2:2: expected an integer, found \"/"))
            << e.what();
      }
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
    const numbers table = parse(text, chunk);
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
      const auto [table, used] = parse_counting_bytes(counting + tail, chunk);
      EXPECT_EQ(used, counting.size()) << "stops after the white space ending 200";
      expect_counting(table);
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

#undef RANGE

// The file reader, on real files and reading through tiny buffers.
class ValueFileOnDisk : public testing::Test {
 protected:
  scratch_dir dir_;
};

TEST_F(ValueFileOnDisk, ReadsThroughAnyBufferSize) {
  const std::string path = dir_.write("v.txt", counting_file("\r\n") + "trailing text");
  for (const std::size_t size : {1U, 2U, 3U, 1000U}) {
    std::string buffer(size, '\0');
    expect_counting(decimal::read_value_file(path.c_str(), buffer));
  }
  expect_counting(decimal::read_value_file(path.c_str()));
}

TEST_F(ValueFileOnDisk, WhiteSpaceLongerThanTheBuffer) {
  const std::string path = dir_.write("v.txt", std::string(200'000, ' ') + counting_file("\n"));
  expect_counting(decimal::read_value_file(path.c_str()));
}

TEST_F(ValueFileOnDisk, WordLongerThanTheBuffer) {
  std::string buffer(16, '\0');
  const std::string padded =
      dir_.write("padded.txt", std::string(100, '0') + "42 " + counting_file(" "));
  EXPECT_EQ(decimal::read_value_file(padded.c_str(), buffer)[0], 42);

  const std::string word = std::string(100, '0') + "x";
  const std::string bad = dir_.write("bad.txt", "1\n" + word + "\n" + counting_file(" "));
  try {
    decimal::read_value_file(bad.c_str(), buffer);
    ADD_FAILURE() << "no error";
  } catch (const parse_error& e) {
    EXPECT_EQ(std::string(e.what()),
              bad + ":2:1: expected an integer, found \"0...0x\" (100 leading zeros)");
  }
}

TEST_F(ValueFileOnDisk, EndlessFileOfZeroBytesEnds) {
  std::string shown;
  for (int i = 0; i < 40; ++i) shown += "\\x00";
  try {
    decimal::read_value_file("/dev/zero");
    ADD_FAILURE() << "no error";
  } catch (const parse_error& e) {
    EXPECT_EQ(std::string(e.what()),
              "/dev/zero:1:1: expected an integer, found \"" + shown + "\"...");
  }
}

TEST_F(ValueFileOnDisk, MissingFileAndDirectory) {
  const std::string missing = (dir_.path() / "none.txt").string();
  try {
    decimal::read_value_file(missing.c_str());
    ADD_FAILURE() << "no error";
  } catch (const decimal::error& e) {
    EXPECT_EQ(std::string(e.what()), missing + ": No such file or directory");
  }
  try {
    decimal::read_value_file(dir_.path().c_str());
    ADD_FAILURE() << "no error";
  } catch (const decimal::error& e) {
    EXPECT_EQ(std::string(e.what()), dir_.path().string() + ": Is a directory");
  }
}

std::size_t open_descriptors() {
  return static_cast<std::size_t>(std::distance(
      std::filesystem::directory_iterator("/proc/self/fd"), std::filesystem::directory_iterator()));
}

TEST_F(ValueFileOnDisk, ClosesTheFileWhateverHappens) {
  const std::string good = dir_.write("good.txt", counting_file(" "));
  const std::string bad = dir_.write("bad.txt", "1 x");
  const std::string shorter = dir_.write("short.txt", "1 2 3");
  const std::string missing = (dir_.path() / "none.txt").string();
  const std::size_t before = open_descriptors();
  for (const std::string& path : {good, bad, shorter, missing, dir_.path().string()}) {
    SCOPED_TRACE(path);
    try {
      decimal::read_value_file(path.c_str());
    } catch (const decimal::error&) {
    }
    EXPECT_EQ(open_descriptors(), before);
  }
}

// The writer keeps the pipe open after the numbers: a reader that waits for
// the end of the file never returns while it does.
TEST_F(ValueFileOnDisk, NothingAfterTheLastNumberIsRead) {
  const std::string fifo = (dir_.path() / "fifo").string();
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  std::promise<void> read;
  std::future<void> done = read.get_future();
  std::future_status held_open = std::future_status::deferred;
  std::thread writer([&] {
    const int fd = open(fifo.c_str(), O_WRONLY);
    const std::string text = counting_file("\n") + "201 202";
    if (fd >= 0 && ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size())) {
      held_open = done.wait_for(std::chrono::seconds(10));
    }
    if (fd >= 0) close(fd);
  });
  expect_counting(decimal::read_value_file(fifo.c_str()));
  read.set_value();
  writer.join();
  EXPECT_EQ(held_open, std::future_status::ready) << "the reader waited for the end of the file";
}

// The three files of a run, in the order that decides which error is told.
struct run_case {
  const char* name;
  bool samples_good;
  bool results_m_good;
  bool results_c_good;
  const char* failing;  // the file the message names, or nullptr
};

void PrintTo(const run_case& c, std::ostream* os) { *os << c.name; }

class RunFiles : public ValueFileOnDisk, public testing::WithParamInterface<run_case> {};

TEST_P(RunFiles, ReadsInOrderAndNamesTheFirstBadFile) {
  const run_case& c = GetParam();
  const auto put = [&](const char* name, bool good, std::size_t first) {
    std::string text;
    for (std::size_t i = 0; i < entry_count; ++i) text += std::to_string(first + i) + " ";
    dir_.write(std::string("run/") + name, good ? text : "x");
  };
  put("samples.txt", c.samples_good, 0);
  put("results_m.txt", c.results_m_good, 1000);
  put("results_c.txt", c.results_c_good, 2000);
  const std::string dir = (dir_.path() / "run").string();
  for (const std::string& given : {dir, dir + "/"}) {
    try {
      const decimal::run_files files = decimal::read_run_files(given);
      EXPECT_EQ(c.failing, nullptr);
      EXPECT_EQ(files.samples[200], 200);
      EXPECT_EQ(files.results_m[0], 1000);
      EXPECT_EQ(files.results_c[200], 2200);
    } catch (const parse_error& e) {
      ASSERT_NE(c.failing, nullptr) << e.what();
      EXPECT_EQ(std::string(e.what()),
                dir + "/" + c.failing + ":1:1: expected an integer, found \"x\"");
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Table, RunFiles,
    testing::Values(run_case{"all_good", true, true, true, nullptr},
                    run_case{"all_bad", false, false, false, "samples.txt"},
                    run_case{"both_results_bad", true, false, false, "results_m.txt"},
                    run_case{"results_c_bad", true, true, false, "results_c.txt"}));

}  // namespace

namespace {

struct fit_case {
  decimal::q_format format;
  std::string_view text;
  const char* message;  // nullptr when every number fits
};

void PrintTo(const fit_case& c, std::ostream* os) {
  *os << c.format.name() << ' ' << testing::PrintToString(std::string(c.text));
}

class FitsTheFormat : public testing::TestWithParam<fit_case> {};

// Each format's extremes in both spellings fit; the first number past them
// on either side does not, after good numbers and through any chunk size.
TEST_P(FitsTheFormat, OrSaysWhatItDoesNotFit) {
  const fit_case& c = GetParam();
  const decimal::number_range range{c.format.lowest_raw(), c.format.highest_raw(), c.format.name()};
  for (const std::size_t chunk : {std::size_t{1}, std::size_t{5}, std::size_t{1} << 16}) {
    SCOPED_TRACE(chunk);
    // Long enough that the reader's eight-byte steps take the numbers too.
    const std::string text = std::string(c.text) + std::string(64, ' ');
    value_parser parser("t.txt", range);
    std::array<std::int64_t, 8> out{};
    try {
      std::size_t used = 0;
      while (used < text.size())
        used += parser.feed(std::string_view(text).substr(used, chunk), out).bytes;
      EXPECT_EQ(c.message, nullptr);
    } catch (const parse_error& e) {
      ASSERT_NE(c.message, nullptr) << e.what();
      EXPECT_STREQ(e.what(), c.message);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Table, FitsTheFormat,
    testing::Values(
        fit_case{{1, 0}, "-1 0 1", nullptr},
        fit_case{{1, 0}, "0 -2", "t.txt:1:3: -2 does not fit Q1.0 (not between -1 and 1)"},
        fit_case{{1, 0}, "1 2", "t.txt:1:3: 2 does not fit Q1.0 (not between -1 and 1)"},
        fit_case{{1, 11}, "-2048 2047 4095 -1", nullptr},
        fit_case{
            {1, 11}, "7 -2049", "t.txt:1:3: -2049 does not fit Q1.11 (not between -2048 and 4095)"},
        fit_case{
            {1, 11}, "7 +4096", "t.txt:1:3: +4096 does not fit Q1.11 (not between -2048 and 4095)"},
        fit_case{{1, 15}, "-32768 32767 65535 0065535", nullptr},
        fit_case{{1, 15},
                 "1\n-32769",
                 "t.txt:2:1: -32769 does not fit Q1.15 (not between -32768 and 65535)"},
        fit_case{{1, 15},
                 "1\n65536",
                 "t.txt:2:1: 65536 does not fit Q1.15 (not between -32768 and 65535)"},
        fit_case{{32, 0}, "-2147483648 2147483647 4294967295", nullptr},
        fit_case{
            {32, 0},
            "1 -2147483649",
            "t.txt:1:3: -2147483649 does not fit Q32.0 (not between -2147483648 and 4294967295)"},
        fit_case{
            {32, 0},
            "1 4294967296",
            "t.txt:1:3: 4294967296 does not fit Q32.0 (not between -2147483648 and 4294967295)"},
        // Past 2^64 as well: no wrap makes it fit.
        fit_case{{32, 0},
                 "18446744073709551617",
                 "t.txt:1:1: 18446744073709551617 does not fit Q32.0 (not between -2147483648 and "
                 "4294967295)"},
        // Unsigned: 0 to 2^W-1 and nothing else, a negative word least of all.
        fit_case{{0, 12, true}, "0 4095 -0", nullptr},
        fit_case{{0, 12, true},
                 "0 4096",
                 "t.txt:1:3: 4096 does not fit UQ0.12 (not between 0 and 4095)"},
        fit_case{
            {0, 12, true}, "4095 -1", "t.txt:1:6: -1 does not fit UQ0.12 (not between 0 and 4095)"},
        fit_case{{32, 0, true}, "4294967295", nullptr},
        fit_case{{32, 0, true},
                 "1 4294967296",
                 "t.txt:1:3: 4294967296 does not fit UQ32.0 (not between 0 and 4294967295)"}));

}  // namespace
