// Hex and binary words as test benches write them, and raw binary words.

#include "decimal/radix_file.hpp"

#include <gtest/gtest.h>

#include <array>
#include <charconv>
#include <cstdint>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "decimal/error.hpp"
#include "decimal/q_format.hpp"
#include "decimal/raw_file.hpp"
#include "scratch_dir.hpp"

namespace {

using decimal::number_range;
using decimal::parse_error;
constexpr std::int64_t x = decimal::unknown_value;

// The unknown value of a letter.
constexpr std::int64_t unknown(char letter) {
  for (std::size_t i = 0; i < decimal::unknown_letters.size(); ++i) {
    if (decimal::unknown_letters[i] == letter) return decimal::unknown_value_of(i);
  }
  return 0;
}

// The range of a result of W bits (unknowns allowed), and of samples.
number_range width(int bits) {
  return {-(std::int64_t{1} << (bits - 1)), (std::int64_t{1} << bits) - 1,
          "W" + std::to_string(bits), true};
}
number_range weak_unknown(int bits) {
  number_range range = width(bits);
  range.weak_unknown = true;
  return range;
}
const number_range samples{INT32_MIN, UINT32_MAX, "", false};

// Every number of `text`, fed `chunk` bytes at a time, through out-spans of
// one number, so that state carries over between words and between chunks;
// the words read from weak letters go to `weak`.
std::vector<std::int64_t> parse(const std::string& text, unsigned bits, const number_range& range,
                                std::size_t chunk, bool c_literals = false,
                                std::size_t* weak = nullptr) {
  decimal::radix_parser parser("t.txt", bits, range, c_literals);
  std::vector<std::int64_t> numbers;
  std::int64_t out = 0;
  for (std::size_t at = 0; at < text.size();) {
    const std::string_view part = std::string_view(text).substr(at, chunk);
    const auto step = parser.feed(part, std::span(&out, 1));
    at += step.bytes;
    if (step.numbers == 1) numbers.push_back(out);
  }
  if (parser.finish(std::span(&out, 1)) == 1) numbers.push_back(out);
  if (weak != nullptr) *weak = parser.weak();
  return numbers;
}

struct word_case {
  const char* edge;
  unsigned bits;  // 4 hex, 1 binary
  number_range range;
  std::string text;
  std::vector<std::int64_t> numbers;  // when good
  std::string message;                // when bad
  bool c_literals = false;
  std::size_t weak = 0;  // words read from weak letters
};

void PrintTo(const word_case& c, std::ostream* os) { *os << c.edge; }

class RadixWords : public testing::TestWithParam<word_case> {};

TEST_P(RadixWords, ReadOrToldWhereTheyGoWrong) {
  const word_case& c = GetParam();
  for (const std::size_t chunk :
       {std::size_t{1}, std::size_t{2}, std::size_t{3}, std::size_t{7}, std::size_t{1} << 16}) {
    SCOPED_TRACE(chunk);
    try {
      std::size_t weak = 0;
      EXPECT_EQ(parse(c.text, c.bits, c.range, chunk, c.c_literals, &weak), c.numbers);
      EXPECT_EQ(weak, c.weak);
      EXPECT_EQ(c.message, "");
    } catch (const parse_error& e) {
      EXPECT_EQ(e.what(), c.message);
    }
  }
}

const std::string unknown_suffix =
    " (U, W, X, Z and - are unknown bits, L and H weak ones: only a result may hold them)";

INSTANTIATE_TEST_SUITE_P(
    Hex, RadixWords,
    testing::Values(
        word_case{"plain_words_and_separators",
                  4,
                  width(12),
                  "7ff\t0\r\n1\v2\f3 \n",
                  {2047, 0, 1, 2, 3},
                  ""},
        word_case{"case", 4, width(16), "7FF 7ff Ab aB F800", {2047, 2047, 171, 171, 63488}, ""},
        word_case{
            "underscores_between_digits", 4, width(16), "1_fff 1__0 f_f", {8191, 16, 255}, ""},
        // Each width's extremes, and the first past them.
        word_case{"w1_extremes", 4, width(1), "1 0", {1, 0}, ""},
        word_case{"w1_past",
                  4,
                  width(1),
                  "1 2",
                  {},
                  "t.txt:1:3: 2 does not fit W1 (not between -1 and 1)"},
        word_case{"w12_extremes", 4, width(12), "fff 800 000", {4095, 2048, 0}, ""},
        word_case{"w12_past_the_pattern",
                  4,
                  width(12),
                  "1000",
                  {},
                  "t.txt:1:1: 1000 does not fit W12 (not between -2048 and 4095)"},
        // A 14-bit -4 sign-extended in a 16-bit word, as benches write it.
        word_case{"sign_extended_into_a_wider_word",
                  4,
                  width(14),
                  "3ffc fffc",
                  {},
                  "t.txt:1:6: fffc does not fit W14 (not between -8192 and 16383); as a 16-bit "
                  "word it is -4, sign-extended: see --word-bits=16"},
        word_case{"w16_extremes", 4, width(16), "ffff 8000", {65535, 32768}, ""},
        word_case{"w16_past",
                  4,
                  width(16),
                  "1_0000",
                  {},
                  "t.txt:1:1: 1_0000 does not fit W16 (not between -32768 and 65535)"},
        word_case{"w32_extremes", 4, width(32), "ffffffff 80000000", {4294967295, 2147483648}, ""},
        word_case{"w32_past",
                  4,
                  width(32),
                  "100000000",
                  {},
                  "t.txt:1:1: 100000000 does not fit W32 (not between -2147483648 and 4294967295)"},
        word_case{
            "very_long_number",
            4,
            width(32),
            "ffffffffffffffffffffffffffffffffffffffffffffffff",
            {},
            "t.txt:1:1: ffffffffffffffffffffffffffffffffffffffff... does not fit W32 (not between "
            "-2147483648 and 4294967295)"},
        word_case{"many_leading_zeros",
                  4,
                  width(16),
                  "000000000000000000000000000000000000000000007ff",
                  {2047},
                  ""},
        // Verilog's %h: unknown digits anywhere in a word, of either case,
        // the word's first letter naming it. A 12-bit 0000_xxxx_0101 prints
        // as 0x5 (0X5 when the digit is partly unknown): no prefix is read.
        word_case{"verilog_unknown_digits",
                  4,
                  width(12),
                  "x 3x7 xx7 37X z Z 0xz 1_x 0x5 0X5 zx",
                  {x, x, x, x, unknown('Z'), unknown('Z'), x, x, x, x, unknown('Z')},
                  ""},
        // VHDL's hwrite: std_logic's U, W, X, Z and - in any place, - first too;
        // L and H are weak 0s and 1s, read and counted.
        word_case{"vhdl_letters",
                  4,
                  width(12),
                  "UUU 0U1 W w0 -01 0-1 --- L H LH0 u",
                  {unknown('U'), unknown('U'), unknown('W'), unknown('W'), unknown('-'),
                   unknown('-'), unknown('-'), 0, 15, 240, unknown('U')},
                  "",
                  false,
                  3},
        word_case{"weak_letters_taken_as_unknown",
                  4,
                  weak_unknown(12),
                  "L 1 H",
                  {unknown('L'), 1, unknown('H')},
                  ""},
        // An unknown word still has the width it is written in.
        word_case{"unknown_word_too_wide",
                  4,
                  width(12),
                  "xxx fffffffffx",
                  {},
                  "t.txt:1:5: fffffffffx does not fit W12 with its unknown bits set (not between "
                  "-2048 and 4095)"},
        word_case{"unknown_word_one_digit_too_wide",
                  4,
                  width(12),
                  "UUU UUUU",
                  {},
                  "t.txt:1:5: UUUU does not fit W12 with its unknown bits set (not between -2048 "
                  "and 4095)"},
        word_case{"unknown_in_samples_is_bad",
                  4,
                  samples,
                  "1 3x7",
                  {},
                  "t.txt:1:3: expected a hex number, found \"3x7\"" + unknown_suffix},
        word_case{"weak_in_samples_is_bad",
                  4,
                  samples,
                  "1 H",
                  {},
                  "t.txt:1:3: expected a hex number, found \"H\"" + unknown_suffix},
        // Bad words, after good ones.
        word_case{"not_a_digit",
                  4,
                  width(12),
                  "1 2\n 7g",
                  {},
                  "t.txt:2:2: expected a hex number, found \"7g\""},
        word_case{"plus_is_no_sign",
                  4,
                  width(12),
                  "1 +1",
                  {},
                  "t.txt:1:3: expected a hex number, found \"+1\""},
        word_case{"binary_prefix_in_hex_is_digits", 4, width(12), "0b1", {177}, ""},
        word_case{"leading_underscore",
                  4,
                  width(12),
                  "_1",
                  {},
                  "t.txt:1:1: expected a hex number, found \"_1\""},
        word_case{"trailing_underscore",
                  4,
                  width(12),
                  "1_",
                  {},
                  "t.txt:1:1: expected a hex number, found \"1_\""},
        word_case{"decimal_point",
                  4,
                  width(12),
                  "1.5",
                  {},
                  "t.txt:1:1: expected a hex number, found \"1.5\""},
        word_case{"lone_slash",
                  4,
                  width(12),
                  "1 / 2",
                  {},
                  "t.txt:1:3: expected a hex number, found \"/\""},
        word_case{"slash_at_the_end",
                  4,
                  width(12),
                  "1 2/",
                  {},
                  "t.txt:1:3: expected a hex number, found \"2/\""},
        // Comments and addresses.
        word_case{"line_comments", 4, width(12), "// header\n1 // one\n2//two\n", {1, 2}, ""},
        word_case{"block_comments", 4, width(12), "/* a\n b */1/**/2 /* * / */ 3", {1, 2, 3}, ""},
        word_case{"unterminated_comment",
                  4,
                  width(12),
                  "1\n  /* open",
                  {},
                  "t.txt:2:3: comment not closed"},
        word_case{
            "addresses_where_they_belong", 4, width(12), "@0\n1\n2\n@2 3 @0_3 4", {1, 2, 3, 4}, ""},
        word_case{"address_that_jumps",
                  4,
                  width(12),
                  "@0 1 2\n@10 3",
                  {},
                  "t.txt:2:1: address \"@10\" is not the index of the next entry, 2"},
        word_case{"address_behind_the_next_index",
                  4,
                  width(12),
                  "@0 1 2\n@1 3",
                  {},
                  "t.txt:2:1: address \"@1\" is not the index of the next entry, 2"},
        word_case{"bad_address",
                  4,
                  width(12),
                  "@x",
                  {},
                  "t.txt:1:1: expected a hex address, found \"@x\""},
        word_case{
            "samples_are_32_bit", 4, samples, "ffffffff 80000000", {4294967295, 2147483648}, ""}));

INSTANTIATE_TEST_SUITE_P(
    Bin, RadixWords,
    testing::Values(
        word_case{"words", 1, width(12), "0b111 0B1_0 1000_0000_0000", {7, 2, 2048}, ""},
        word_case{"w12_extremes", 1, width(12), "1111_1111_1111 1000_0000_0000", {4095, 2048}, ""},
        word_case{"w12_past",
                  1,
                  width(12),
                  "1_0000_0000_0000",
                  {},
                  "t.txt:1:1: 1_0000_0000_0000 does not fit W12 (not between -2048 and 4095)"},
        // VHDL's write of a std_logic_vector: - first is a digit, not a sign.
        word_case{"unknown_bits",
                  1,
                  width(12),
                  "1x0 z 0bX U-1 -00010100101 UUUUUUUUUUUU",
                  {x, unknown('Z'), x, unknown('U'), unknown('-'), unknown('U')},
                  ""},
        word_case{"weak_bits", 1, width(12), "L H 1H0L", {0, 1, 12}, "", false, 3},
        word_case{"hex_digit_is_bad",
                  1,
                  width(12),
                  "1 2",
                  {},
                  "t.txt:1:3: expected a binary number, found \"2\""},
        word_case{"hex_prefix_is_an_unknown_digit", 1, width(12), "0x1", {x}, ""},
        word_case{"comments", 1, width(12), "1 // c\n/* c */ 10", {1, 2}, ""}));

// C and Python literals (printf "%#x", hex()): a sign, then a prefix on every word.
INSTANTIATE_TEST_SUITE_P(
    CHex, RadixWords,
    testing::Values(word_case{"literals",
                              4,
                              width(12),
                              "0x1f -0x27 0X7FF +0x0 0x1_0 -0x800",
                              {31, -39, 2047, 0, 16, -2048},
                              "",
                              true},
                    word_case{"no_prefix",
                              4,
                              width(12),
                              "0x1 0",
                              {},
                              "t.txt:1:5: expected a C hex literal (0x1f, -0x27), found \"0\"",
                              true},
                    word_case{"no_unknown_digit",
                              4,
                              width(12),
                              "0xx1",
                              {},
                              "t.txt:1:1: expected a C hex literal (0x1f, -0x27), found \"0xx1\"",
                              true},
                    word_case{"prefix_alone",
                              4,
                              width(12),
                              "-0x",
                              {},
                              "t.txt:1:1: expected a C hex literal (0x1f, -0x27), found \"-0x\"",
                              true},
                    word_case{"below_the_range",
                              4,
                              width(12),
                              "0x0 -0x801",
                              {},
                              "t.txt:1:5: -0x801 does not fit W12 (not between -2048 and 4095)",
                              true}));

// A narrower result in a wider container word (--word-bits): its value
// sign-extended from the word's top bit must fit the format.
number_range in_word(int bits, unsigned word_bits, bool is_unsigned = false) {
  const decimal::q_format format{is_unsigned ? 0 : 1, bits - (is_unsigned ? 0 : 1), is_unsigned};
  return {.min = format.lowest_lsb(),
          .max = format.highest_lsb(),
          .format = format.name(),
          .unknowns = true,
          .word_bits = word_bits};
}

INSTANTIATE_TEST_SUITE_P(
    WordBits, RadixWords,
    testing::Values(
        // Into the format: the extremes of Q1.13 from both sides of a 16-bit word.
        word_case{
            "q14_in_16_bits", 4, in_word(14, 16), "fffc 1fff e000 0", {-4, 8191, -8192, 0}, ""},
        // Out of it, after a word that fitted: positive and negative.
        word_case{"positive_past_the_format",
                  4,
                  in_word(14, 16),
                  "fffc 2000",
                  {},
                  "t.txt:1:6: 2000 (8192 as a 16-bit word) does not fit Q1.13 (not between "
                  "-8192 and 8191)"},
        word_case{"negative_past_the_format",
                  4,
                  in_word(14, 16),
                  "1 dfff",
                  {},
                  "t.txt:1:3: dfff (-8193 as a 16-bit word) does not fit Q1.13 (not between "
                  "-8192 and 8191)"},
        word_case{"wider_than_the_word",
                  4,
                  in_word(14, 16),
                  "0 1fffc",
                  {},
                  "t.txt:1:3: 1fffc does not fit a 16-bit word (--word-bits=16)"},
        // Leading zeros are no wider: a 16-bit pattern is its value.
        word_case{"leading_zeros", 4, in_word(14, 16), "0000fffc", {-4}, ""},
        word_case{"binary_in_a_byte", 1, in_word(6, 8), "11111100 00011111", {-4, 31}, ""},
        // 64-bit words, past where words of the format's own width stop growing.
        word_case{
            "in_64_bits", 4, in_word(32, 64), "fffffffffffffffc 7fffffff", {-4, INT32_MAX}, ""},
        word_case{"past_64_bits",
                  4,
                  in_word(32, 64),
                  "1 1_0000_0000_0000_0000",
                  {},
                  "t.txt:1:3: 1_0000_0000_0000_0000 does not fit a 64-bit word (--word-bits=64)"},
        word_case{"unknown_bits_within_the_word", 4, in_word(14, 16), "1 fxfc", {1, x}, ""},
        word_case{"unknown_bits_past_the_word",
                  4,
                  in_word(14, 16),
                  "1 x0000",
                  {},
                  "t.txt:1:3: x0000 does not fit a 16-bit word with its unknown bits set"},
        // Unsigned: a top bit set is negative, which no unsigned value is.
        word_case{"unsigned_in_16_bits", 4, in_word(12, 16, true), "0fff 0", {4095, 0}, ""},
        word_case{"unsigned_negative",
                  4,
                  in_word(12, 16, true),
                  "0 ffff",
                  {},
                  "t.txt:1:3: ffff (-1 as a 16-bit word) does not fit UQ0.12 (not between 0 and "
                  "4095)"}));

// Where the buffer holds a whole word and the byte after it, its digits are
// read without a check of the buffer's end for each: every length up to 8
// hex digits in either case, and up to 32 binary ones, each way a word can
// end, against a plain reading; then the words that leave that path.
TEST(RadixWordsLong, AgreeWithAPlainReading) {
  const std::string digits = "0123456789abcdefABCDEF";
  const std::array<const char*, 4> ends = {"\n", " ", "\t", "\r\n"};
  std::mt19937 random(11);
  std::string text;
  std::vector<std::int64_t> expected;
  for (std::size_t length = 1; length <= 8; ++length) {
    for (std::size_t k = 0; k < 40; ++k) {
      std::string word;
      for (std::size_t i = 0; i < length; ++i) word += digits[random() % digits.size()];
      std::uint64_t value = 0;
      std::from_chars(word.data(), word.data() + word.size(), value, 16);
      text += word + ends[k % ends.size()];
      expected.push_back(static_cast<std::int64_t>(value));
    }
  }
  // Words the 8-digit steps hand on to the plain path: leading zeros past 8
  // digits, an underscore, a prefix, a sign and an unknown digit.
  text += "0000000001 1234_5678 0xfFfF -80 12x4 ";
  expected.insert(expected.end(), {0x1, 0x12345678, x, unknown('-'), x});
  text += std::string(20, ' ');
  EXPECT_EQ(parse(text, 4, width(32), std::size_t{1} << 16), expected);
  std::string binary;
  std::vector<std::int64_t> binary_expected;
  for (std::size_t length = 1; length <= 32; ++length) {
    std::string word;
    for (std::size_t i = 0; i < length; ++i) word += static_cast<char>('0' + random() % 2);
    std::uint64_t value = 0;
    std::from_chars(word.data(), word.data() + word.size(), value, 2);
    binary += word + ends[length % ends.size()];
    binary_expected.push_back(static_cast<std::int64_t>(value));
  }
  binary += "0000000000000000000000000000000000000000001 1_0 -1 1x ";
  binary_expected.insert(binary_expected.end(), {1, 2, unknown('-'), x});
  EXPECT_EQ(parse(binary + std::string(50, ' '), 1, width(32), std::size_t{1} << 16),
            binary_expected);
  // Too many digits, or a value past the range, is told where the word starts.
  for (const auto& [bits, bad] : {std::pair<unsigned, const char*>{4, "1 2 100000000 "},
                                  {4, "1 2 12345678901234567 "},
                                  {1, "1 0 100000000000000000000000000000000 "},
                                  {1, "1 0 12 "}}) {
    SCOPED_TRACE(bad);
    try {
      parse(std::string(bad) + std::string(50, ' '), bits, width(32), std::size_t{1} << 16);
      ADD_FAILURE() << "no error";
    } catch (const parse_error& e) {
      EXPECT_EQ(e.column(), 5U) << e.what();
    }
  }
}

// An endless word ends the run once its message can be told, or once it is
// longer than any word a bench writes: bad, unknown, or good so far.
TEST(RadixWordsEndless, StopsAtWhatItsMessageShows) {
  for (const std::string_view unit : {"g", "x", "U", "1_", "0", "-"}) {
    SCOPED_TRACE(unit);
    for (const unsigned bits : {4U, 1U}) {
      decimal::radix_parser parser("t.txt", bits, width(12));
      std::string chunk;
      while (chunk.size() < 4096) chunk += unit;
      std::int64_t out = 0;
      EXPECT_THROW(
          {
            for (int i = 0; i < 1000; ++i) parser.feed(chunk, std::span(&out, 1));
          },
          parse_error);
    }
  }
  decimal::radix_parser address("t.txt", 4, width(12));
  std::int64_t out = 0;
  address.feed("@", std::span(&out, 1));
  EXPECT_THROW(
      {
        for (int i = 0; i < 1000; ++i) address.feed(std::string(4096, '0'), std::span(&out, 1));
      },
      parse_error);
}

class RawWords : public testing::Test {
 protected:
  // The numbers of `bytes` as words of `size` bytes.
  std::vector<std::int64_t> read(const std::string& bytes, unsigned size, bool big_endian,
                                 std::size_t asked = 100, const number_range& range = {}) {
    const std::string path = scratch_.write("w.bin", bytes);
    std::array<char, 7> buffer{};  // not a whole number of words: they must not straddle reads
    decimal::raw_reader reader(path, buffer, size, big_endian, range);
    std::vector<std::int64_t> numbers(asked);
    numbers.resize(reader.read(numbers));
    return numbers;
  }

  scratch_dir scratch_;
};

// One byte pattern read every way.
TEST_F(RawWords, EachSizeAndByteOrder) {
  const std::string bytes("\x01\x80\xff\x7f\x00\x00\x00\x80", 8);
  EXPECT_EQ(read(bytes, 1, false), (std::vector<std::int64_t>{1, -128, -1, 127, 0, 0, 0, -128}));
  EXPECT_EQ(read(bytes, 2, false), (std::vector<std::int64_t>{-32767, 32767, 0, -32768}));
  EXPECT_EQ(read(bytes, 2, true), (std::vector<std::int64_t>{384, -129, 0, 128}));
  EXPECT_EQ(read(bytes, 4, false), (std::vector<std::int64_t>{2147450881, -2147483648}));
  EXPECT_EQ(read(bytes, 4, true), (std::vector<std::int64_t>{25231231, 128}));
}

TEST_F(RawWords, ATrailingPartialWordIsTrouble) {
  try {
    read(std::string("\x01\x00\x02", 3), 2, false);
    ADD_FAILURE() << "no error";
  } catch (const parse_error& e) {
    EXPECT_EQ(std::string(e.what()),
              (scratch_.path() / "w.bin").string() + ": 1 byte after the last whole 16-bit word");
  }
}

// With a count, nothing after the last word asked for is read: not the bad
// tail, nor a word out of range.
TEST_F(RawWords, NothingPastTheWordsAskedFor) {
  const number_range q11{-2048, 4095, "Q1.11", true};
  EXPECT_EQ(read(std::string("\x01\x00\x02\x00\xff\x7f\x09", 7), 2, false, 2, q11),
            (std::vector<std::int64_t>{1, 2}));
  try {
    read(std::string("\x01\x00\x02\x00\xff\x7f", 6), 2, false, 3, q11);
    ADD_FAILURE() << "no error";
  } catch (const parse_error& e) {
    EXPECT_EQ(std::string(e.what()), (scratch_.path() / "w.bin").string() +
                                         ": word 3 (byte 4): 32767 does not fit Q1.11 (not "
                                         "between -2048 and 4095)");
  }
}

}  // namespace
