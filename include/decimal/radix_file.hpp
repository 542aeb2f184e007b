#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "decimal/number_source.hpp"
#include "decimal/text_reader.hpp"
#include "decimal/value_file.hpp"

namespace decimal {

// Reads the hex or binary words that test benches write ($fdisplay "%h",
// $writememh, VHDL's hwrite) from chunks of any size: digits of either case,
// with "_" between them, and in binary an optional 0b or 0B prefix. In a
// result file (a range that allows unknowns) the letters U, W, X, Z and -
// stand for unknown digits (of either case, - in any place: there is no sign)
// and make the word an unknown value of its first such letter, and L and H
// are weak digits of 0s and 1s, read as their value and counted, or as
// unknown with `weak_unknown`; an unknown word must still fit the range with
// every unknown bit set. With `c_literals`, words are C and Python hex
// literals instead (printf "%#x", hex()): an optional sign, a 0x or 0X
// prefix that every word carries, then the digits; no letter is unknown.
// "//" to the end of the line and "/* ... */" are comments; "@ADDR" (hex) is
// accepted only where it names the index of the next number. Errors throw
// parse_error located at the word, with messages prefixed by `name`. No word
// is read past max_word_size bytes.
class radix_parser {
 public:
  // `bits_per_digit` is 4 (hex) or 1 (binary, never with `c_literals`).
  radix_parser(const std::string& name, unsigned bits_per_digit, number_range range,
               bool c_literals = false);

  // Past it, a word is bad, however many leading zeros it has.
  static constexpr std::size_t max_word_size = longest_word;

  using progress = chunk_progress;

  // Parses `chunk` until it or `out` is used up; when `out` fills, nothing
  // after the byte that ends the last number is consumed. The values are
  // always worked out: `values` is for the readers' common interface.
  progress feed(std::string_view chunk, std::span<std::int64_t> out, bool values = true);

  // Ends the input; writes a word still open to `out` (room for one) and
  // returns the numbers written, 0 or 1.
  std::size_t finish(std::span<std::int64_t> out);

  std::size_t count() const noexcept { return count_; }
  std::size_t unknown() const noexcept { return unknown_; }
  std::size_t weak() const noexcept { return weak_; }
  const std::string& name() const noexcept { return name_; }

 private:
  enum class mode { between, word, line_comment, block_comment };

  void begin_word(std::size_t line, std::size_t column);
  void add_to_word(char c);
  // Ends the word; returns whether it was a number, written to `value`.
  bool end_word(std::int64_t& value);
  // Whether the word's digits so far are more than any number it may hold.
  bool beyond_every_number() const noexcept;
  // The value of a known word of range_.word_bits bits, sign-extended;
  // fails when the word is wider.
  std::int64_t sign_extended() const;
  [[noreturn]] void fail_word(const std::string& what) const;
  // The word as written, cut short for a message.
  std::string shown_word(bool quoted) const;

  std::string name_;
  unsigned bits_per_digit_;
  number_range range_;
  bool c_literals_;
  std::size_t count_ = 0;
  std::size_t unknown_ = 0;
  std::size_t weak_ = 0;

  mode mode_ = mode::between;
  // Position: bytes before the current chunk, the line, and where it began.
  std::size_t offset_ = 0;
  std::size_t line_ = 1;
  std::size_t line_start_ = 0;
  bool slash_ = false;  // a "/" that may open a comment, and where it stands
  std::size_t slash_line_ = 0;
  std::size_t slash_column_ = 0;
  bool star_ = false;  // a "*" in a block comment, which may close it
  std::size_t comment_line_ = 0;
  std::size_t comment_column_ = 0;

  // The word being read.
  std::size_t word_line_ = 0;
  std::size_t word_column_ = 0;
  std::size_t word_length_ = 0;
  static constexpr std::size_t shown_word_size = 40;
  std::array<char, shown_word_size + 1> kept_{};
  bool address_ = false;
  bool negative_ = false;
  bool prefix_possible_ = false;  // the digits so far are a single 0 right after the sign
  bool prefix_seen_ = false;
  bool malformed_ = false;
  bool too_long_ = false;
  std::size_t first_unknown_ = 0;  // 1 + the index in unknown_letters of the word's first; 0: none
  bool weak_digit_ = false;
  bool last_underscore_ = false;
  std::size_t digits_ = 0;
  // Stop growing past 2^40: out of every range. The pattern has every
  // unknown bit set.
  std::uint64_t magnitude_ = 0;
  std::uint64_t pattern_ = 0;
  bool wider_than_64_bits_ = false;  // with range_.word_bits, where the digits grow on
};

// A file of hex or binary words (see text_reader).
using radix_reader = text_reader<radix_parser>;

}  // namespace decimal
