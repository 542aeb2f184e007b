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
// $writememh, Python's hex()) from chunks of any size. A word is an optional
// sign, an optional prefix (0x or 0X in hex, 0b or 0B in binary), then
// digits of either case, with "_" between them. In a result file (a range
// that allows unknowns) a word with an x, X, z or Z digit is unknown_value.
// "//" to the end of the line and "/* ... */" are comments; "@ADDR" (hex) is
// accepted only where it names the index of the next number. Errors throw
// parse_error located at the word, with messages prefixed by `name`.
class radix_parser {
 public:
  // `bits_per_digit` is 4 (hex) or 1 (binary).
  radix_parser(const std::string& name, unsigned bits_per_digit, number_range range);

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
  const std::string& name() const noexcept { return name_; }

 private:
  enum class mode { between, word, line_comment, block_comment };

  void begin_word(std::size_t line, std::size_t column);
  void add_to_word(char c);
  // Ends the word; returns whether it was a number, written to `value`.
  bool end_word(std::int64_t& value);
  [[noreturn]] void fail_word(const std::string& what) const;
  // The word as written, cut short for a message.
  std::string shown_word(bool quoted) const;

  std::string name_;
  unsigned bits_per_digit_;
  number_range range_;
  std::size_t count_ = 0;
  std::size_t unknown_ = 0;

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
  bool unknown_digit_ = false;
  bool last_underscore_ = false;
  std::size_t digits_ = 0;
  std::uint64_t magnitude_ = 0;  // stops growing past 2^40: out of every range
};

// A file of hex or binary words (see text_reader).
using radix_reader = text_reader<radix_parser>;

}  // namespace decimal
