// The files a reference model writes: real numbers as text, raw IEEE words,
// and NumPy .npy arrays.

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "decimal/encoding.hpp"
#include "decimal/error.hpp"
#include "decimal/npy_file.hpp"
#include "decimal/real_file.hpp"
#include "scratch_dir.hpp"

namespace {

using decimal::number_range;
using decimal::parse_error;

// A model's range for the implementation's format Q1.11: values in its LSB.
number_range q1_11() { return {.format = "Q1.11", .comments = true, .real_scale = 11}; }

// The values in LSB of every word of `text`, fed `chunk` bytes at a time
// through out-spans of one number, so that state carries over between words
// and chunks.
std::vector<double> parse(const std::string& text, std::size_t chunk,
                          const number_range& range = q1_11()) {
  decimal::real_parser parser("m.txt", range);
  std::vector<double> values;
  std::int64_t out = 0;
  for (std::size_t at = 0; at < text.size();) {
    const auto step = parser.feed(std::string_view(text).substr(at, chunk), std::span(&out, 1));
    at += step.bytes;
    if (step.numbers == 1) values.push_back(decimal::real_of_word(out));
  }
  if (parser.finish(std::span(&out, 1)) == 1) values.push_back(decimal::real_of_word(out));
  return values;
}

struct real_case {
  const char* edge;
  std::string text;
  std::vector<double> lsb;  // when good
  std::string message;      // when bad
};

void PrintTo(const real_case& c, std::ostream* os) { *os << c.edge; }

class RealWords : public testing::TestWithParam<real_case> {};

TEST_P(RealWords, ReadToTheNearestDoubleOrToldWhereTheyGoWrong) {
  const real_case& c = GetParam();
  for (const std::size_t chunk :
       {std::size_t{1}, std::size_t{2}, std::size_t{5}, std::size_t{4096}}) {
    SCOPED_TRACE(chunk);
    try {
      EXPECT_EQ(parse(c.text, chunk), c.lsb);
      EXPECT_EQ(c.message, "");
    } catch (const parse_error& e) {
      EXPECT_EQ(e.what(), c.message);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Table, RealWords,
    testing::Values(
        // Each spelling a model writes, in LSB of Q1.11 (times 2048).
        real_case{"spellings",
                  "1.0000000e+00 -1.2345E-05 .5 3 -0 +0.25 1.",
                  {2048, -1.2345e-05 * 2048, 1024, 6144, 0, 512, 2048},
                  ""},
        // A %.17g word: the nearest double, exactly as strtod reads it.
        real_case{"seventeen_digits", "0.4472135954999579", {0.4472135954999579 * 2048}, ""},
        // C99 hex floats are exact, either case.
        real_case{"hex_floats", "0x1.8p-3 -0X1P-11 0x0p0", {384, -1, 0}, ""},
        // Comments after a value, and a value after a comment's line.
        real_case{"comments", "# t, y\n0.5 // half\n-0.5", {1024, -1024}, ""},
        // A value too small for a double is as near to 0 as it gets.
        real_case{"underflow", "1e-400", {0}, ""},
        // 2^52 LSB is the first magnitude refused, after a good word.
        real_case{"just_below_2_to_the_52_lsb",
                  "1 0x1.fffffffffffffp40",
                  {2048, 0x1.fffffffffffffp51},
                  ""},
        real_case{"at_2_to_the_52_lsb",
                  "1 -0x1p41",
                  {},
                  "m.txt:1:3: \"-0x1p41\" is 2^52 LSB or more of Q1.11, past what is compared "
                  "exactly"},
        real_case{"nan", "0.5\n0.25\nnan", {}, "m.txt:3:1: not a finite number: \"nan\""},
        real_case{"inf", "0.5 -inf", {}, "m.txt:1:5: not a finite number: \"-inf\""},
        real_case{"overflow", "1e400", {}, "m.txt:1:1: not a finite number: \"1e400\""},
        real_case{
            "not_a_number", "0.5 0.5.5", {}, "m.txt:1:5: expected a real number, found \"0.5.5\""},
        // A decimal comma, two signs, a hex prefix alone, a bench's x.
        real_case{"decimal_comma", "1 0,5", {}, "m.txt:1:3: expected a real number, found \"0,5\""},
        real_case{"two_signs", "+-1", {}, "m.txt:1:1: expected a real number, found \"+-1\""},
        real_case{"prefix_alone", "0x", {}, "m.txt:1:1: expected a real number, found \"0x\""},
        real_case{"unknown_letter", "1 x", {}, "m.txt:1:3: expected a real number, found \"x\""}));

// A word longer than any a model writes ends the reading, fed in small chunks too.
TEST(RealWordsEndless, StopAtTheLongestWord) {
  for (const std::size_t chunk : {std::size_t{7}, std::size_t{4096}}) {
    decimal::real_parser parser("m.txt", q1_11());
    const std::string zeros(chunk, '0');
    std::int64_t out = 0;
    EXPECT_THROW(
        {
          for (int i = 0; i < 100000; ++i) parser.feed(zeros, std::span(&out, 1));
        },
        parse_error);
  }
}

// An .npy file's bytes: the magic, a version, its header padded as numpy pads
// it (to 64 bytes in all, ending in a line feed), then `data`.
std::string npy(const std::string& dict, unsigned major = 1, const std::string& data = {}) {
  const std::size_t length_bytes = major == 1 ? 2 : 4;
  std::string header = dict;
  while ((10 + length_bytes - 2 + header.size() + 1) % 64 != 0) header += ' ';
  header += '\n';
  std::string out = "\x93NUMPY";
  out += static_cast<char>(major);
  out += '\0';
  for (std::size_t i = 0; i < length_bytes; ++i) {
    out += static_cast<char>((header.size() >> (8 * i)) & 0xff);
  }
  return out + header + data;
}

std::string dict(const std::string& descr, const std::string& shape,
                 const std::string& fortran = "False") {
  return "{'descr': '" + descr + "', 'fortran_order': " + fortran + ", 'shape': " + shape + ", }";
}

// The bytes of `values` as words of type T, in the machine's (little-endian) order or reversed.
template <typename T>
std::string words(const std::vector<T>& values, bool big_endian = false) {
  std::string out;
  for (const T value : values) {
    char bytes[sizeof(T)];
    std::memcpy(bytes, &value, sizeof(T));
    if (big_endian) std::reverse(bytes, bytes + sizeof(T));
    out.append(bytes, sizeof(T));
  }
  return out;
}

struct npy_case {
  const char* edge;
  std::string file;
  std::vector<double> values;  // as read: integers of the format, or LSB of a real
  bool real = false;
  std::string message{};  // when bad
};

void PrintTo(const npy_case& c, std::ostream* os) { *os << c.edge; }

class NpyFiles : public testing::TestWithParam<npy_case> {};

TEST_P(NpyFiles, ReadOrToldWhatWasFound) {
  const npy_case& c = GetParam();
  const scratch_dir scratch;
  const std::string path = scratch.write("m.npy", c.file);
  std::array<char, 64> buffer;
  number_range range = q1_11();
  range.min = -2048;
  range.max = 4095;
  try {
    const auto file = decimal::open_numbers(path, decimal::encoding::npy, buffer, range, true);
    std::vector<std::int64_t> out(c.values.size() + 3);
    out.resize(file->read(out));
    std::vector<double> values;
    values.reserve(out.size());
    for (const std::int64_t n : out) {
      values.push_back(file->real() ? decimal::real_of_word(n) : static_cast<double>(n));
    }
    EXPECT_EQ(values, c.values);
    EXPECT_EQ(file->real(), c.real);
    EXPECT_EQ(c.message, "");
  } catch (const decimal::error& e) {
    EXPECT_EQ(std::string(e.what()).substr(std::string(e.what()).find("m.npy")), c.message);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Table, NpyFiles,
    testing::Values(
        // Each version, dtype and byte order numpy writes for a 1-D array.
        npy_case{
            "f8_v1", npy(dict("<f8", "(2,)"), 1, words<double>({0.5, -0x1p-11})), {1024, -1}, true},
        npy_case{"f8_big_endian_v2",
                 npy(dict(">f8", "(2,)"), 2, words<double>({0.5, 0.25}, true)),
                 {1024, 512},
                 true},
        npy_case{"f4_v3", npy(dict("<f4", "(1,)"), 3, words<float>({-0.75F})), {-1536}, true},
        npy_case{"i2",
                 npy(dict("<i2", "(3,)"), 1, words<std::int16_t>({-2048, 2047, 0})),
                 {-2048, 2047, 0}},
        npy_case{
            "i2_big_endian", npy(dict(">i2", "(1,)"), 1, words<std::int16_t>({-5}, true)), {-5}},
        npy_case{"i1", npy(dict("|i1", "(2,)"), 1, words<std::int8_t>({-128, 127})), {-128, 127}},
        npy_case{"i4", npy(dict("<i4", "(1,)"), 1, words<std::int32_t>({-2048})), {-2048}},
        npy_case{"i8", npy(dict("<i8", "(1,)"), 1, words<std::int64_t>({4095})), {4095}},
        npy_case{"u1", npy(dict("|u1", "(1,)"), 1, words<std::uint8_t>({255})), {255}},
        npy_case{"u2", npy(dict("<u2", "(1,)"), 1, words<std::uint16_t>({4095})), {4095}},
        npy_case{
            "u4_big_endian", npy(dict(">u4", "(1,)"), 1, words<std::uint32_t>({7}, true)), {7}},
        npy_case{"empty", npy(dict("<f8", "(0,)")), {}, true},
        // An integer past the format, after one that fits.
        npy_case{"u2_past_the_format",
                 npy(dict("<u2", "(2,)"), 1, words<std::uint16_t>({1, 4096})),
                 {},
                 false,
                 "m.npy: word 2 (byte 2): 4096 does not fit Q1.11 (not between -2048 and 4095)"},
        npy_case{"nan_word",
                 npy(dict("<f8", "(2,)"), 1, words<double>({0.5, NAN})),
                 {},
                 true,
                 "m.npy: word 2 (byte 8): not a finite number: nan"},
        // What numpy writes for arrays that are not 1-D in C order.
        npy_case{"two_dimensional",
                 npy(dict("<f8", "(1000, 2)")),
                 {},
                 true,
                 "m.npy: a 2-D array (1000, 2) where a 1-D one is needed"},
        npy_case{"scalar",
                 npy(dict("<f8", "()")),
                 {},
                 true,
                 "m.npy: a 0-D array () where a 1-D one is needed"},
        npy_case{"fortran_order",
                 npy(dict("<f8", "(4,)", "True")),
                 {},
                 true,
                 "m.npy: a Fortran-order array where C order is needed"},
        npy_case{"complex_dtype",
                 npy(dict("<c16", "(4,)")),
                 {},
                 true,
                 "m.npy: a dtype \"<c16\" where one of i1 i2 i4 i8 u1 u2 u4 f4 f8 is needed"},
        npy_case{"u8_dtype",
                 npy(dict("<u8", "(4,)")),
                 {},
                 true,
                 "m.npy: a dtype \"<u8\" where one of i1 i2 i4 i8 u1 u2 u4 f4 f8 is needed"},
        npy_case{"structured_dtype",
                 npy("{'descr': [('x', '<f8')], 'fortran_order': False, 'shape': (2,), }"),
                 {},
                 true,
                 "m.npy: a structured or missing dtype where one of i1 i2 i4 i8 u1 u2 u4 f4 f8 is "
                 "needed"},
        // The file's bytes against its header.
        npy_case{"fewer_words_than_the_shape",
                 npy(dict("<f8", "(3,)"), 1, words<double>({0.5, 0.5})),
                 {},
                 true,
                 "m.npy: holds 2 entries where its header's shape says 3"},
        npy_case{"more_words_than_the_shape",
                 npy(dict("<f8", "(1,)"), 1, words<double>({0.5, 0.5})),
                 {},
                 true,
                 "m.npy: more words than its header's shape, 1, holds"},
        npy_case{"partial_word",
                 npy(dict("<f8", "(1,)"), 1, std::string(4, '\0')),
                 {},
                 true,
                 "m.npy: 4 bytes after the last whole 64-bit word"},
        npy_case{"truncated_header",
                 npy(dict("<f8", "(1,)")).substr(0, 40),
                 {},
                 true,
                 "m.npy: a .npy header cut short"},
        // A length field that says less than the header holds: the dict is cut.
        npy_case{"length_field_lies",
                 [] {
                   std::string file = npy(dict("<f8", "(1,)"), 1, words<double>({0.5}));
                   file[8] = 20;
                   return file;
                 }(),
                 {},
                 true,
                 "m.npy: not a .npy header: \"{'descr': '<f8', 'fo\""},
        npy_case{"version_4",
                 npy(dict("<f8", "(1,)"), 4),
                 {},
                 true,
                 "m.npy: a .npy file of version 4.0 where 1.0, 2.0 or 3.0 is needed"},
        npy_case{"not_npy",
                 "0.5\n",
                 {},
                 true,
                 "m.npy: not a NumPy .npy file (no \\x93NUMPY at its start)"}));

// Only a model holds reals: an .npy of floats elsewhere is refused, and an
// .npy file read as text is named for what it is.
TEST(NpyFiles, FloatsOnlyForTheModelAndAHintElsewhere) {
  const scratch_dir scratch;
  const std::string path =
      scratch.write("c.npy", npy(dict("<f8", "(1,)"), 1, words<double>({0.5})));
  std::array<char, 64> buffer;
  try {
    decimal::open_numbers(path, decimal::encoding::npy, buffer, q1_11(), false);
    ADD_FAILURE() << "read";
  } catch (const decimal::error& e) {
    EXPECT_NE(std::string(e.what()).find("c.npy: an array of floats where integers of the format "
                                         "are needed (only the model may hold real values)"),
              std::string::npos)
        << e.what();
  }
  for (const decimal::encoding form : {decimal::encoding::dec, decimal::encoding::hex}) {
    const auto text = decimal::open_numbers(path, form, buffer, q1_11());
    std::array<std::int64_t, 1> out;
    try {
      text->read(out);
      ADD_FAILURE() << "read";
    } catch (const parse_error& e) {
      EXPECT_TRUE(std::string(e.what()).ends_with(
          "(the file is a NumPy .npy file: see --model-encoding=npy)"))
          << e.what();
    }
  }
}

// Raw IEEE words of either size and byte order, and the raw-tail rule.
TEST(FloatWords, EachSizeAndByteOrder) {
  const scratch_dir scratch;
  std::array<char, 64> buffer;
  struct row {
    decimal::encoding form;
    std::string bytes;
  };
  for (const row& r :
       {row{decimal::encoding::f64le, words<double>({0.5, -0x1p-11, 0x1p-12})},
        row{decimal::encoding::f64be, words<double>({0.5, -0x1p-11, 0x1p-12}, true)},
        row{decimal::encoding::f32le, words<float>({0.5F, -0x1p-11F, 0x1p-12F})},
        row{decimal::encoding::f32be, words<float>({0.5F, -0x1p-11F, 0x1p-12F}, true)}}) {
    const std::string path = scratch.write("m.bin", r.bytes);
    const auto file = decimal::open_numbers(path, r.form, buffer, q1_11(), true);
    std::array<std::int64_t, 4> out;
    ASSERT_EQ(file->read(out), 3U);
    EXPECT_TRUE(file->real());
    EXPECT_EQ(decimal::real_of_word(out[0]), 1024);
    EXPECT_EQ(decimal::real_of_word(out[1]), -1);
    EXPECT_EQ(decimal::real_of_word(out[2]), 0.5);  // half an LSB, exactly
  }
  const std::string path = scratch.write("m.bin", words<double>({0.5, INFINITY}) + "abc");
  const auto file = decimal::open_numbers(path, decimal::encoding::f64le, buffer, q1_11(), true);
  std::array<std::int64_t, 4> out;
  EXPECT_THROW(
      {
        try {
          file->read(out);
        } catch (const parse_error& e) {
          EXPECT_TRUE(
              std::string(e.what()).ends_with("m.bin: word 2 (byte 8): not a finite number: inf"))
              << e.what();
          throw;
        }
      },
      parse_error);
}

// A real word never reads as an unknown or a missing entry: -0 and the
// negative subnormals whose bits those are read as 0.
TEST(RealWord, NeverTakenForAnUnknownOrMissingEntry) {
  for (const double tiny : {-0.0, -0x1p-1074, -0x1p-1071, 0x1p-1074}) {
    const std::int64_t word = decimal::real_word(tiny);
    EXPECT_FALSE(decimal::is_unknown(word)) << tiny;
    EXPECT_NE(word, decimal::missing_value) << tiny;
  }
  EXPECT_EQ(decimal::real_of_word(decimal::real_word(-0x1p-1074)), 0);
  EXPECT_EQ(decimal::real_of_word(decimal::real_word(-0x1p-1060)), -0x1p-1060);
  EXPECT_EQ(decimal::real_of_word(decimal::real_word(-0.734)), -0.734);
}

}  // namespace
