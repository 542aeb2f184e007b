#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "decimal/file_descriptor.hpp"
#include "decimal/number_source.hpp"
#include "decimal/text_reader.hpp"

namespace decimal {

// The numbers a value file may hold, and how one outside them is told: as
// "number out of range: "WORD" (not between MIN and MAX)", or, when `format`
// names a fixed-point format, as "WORD does not fit FORMAT (not between MIN
// and MAX)". The default is the signed 32-bit range.
struct number_range {
  std::int64_t min = INT32_MIN;
  std::int64_t max = INT32_MAX;
  std::string format{};
  bool unknowns = false;      // words of unknown bits (see unknown_letters) are unknown, not bad
  bool weak_unknown = false;  // L and H are unknown too, not weak 0 and 1
  // A word longer than this, leading zeros and all, is bad: no endless word
  // keeps a reader reading.
  std::size_t max_word_size = SIZE_MAX;
  // A word that starts "#" or "//" begins a comment to the end of the line
  // (Octave's header, a C bench's note).
  bool comments = false;
  // Hex and binary words are patterns of this many bits (0: of any width),
  // two's complement, and stand for their sign-extended value: a narrower
  // result in a wider word (fffc in 16 bits is -4).
  unsigned word_bits = 0;
  // A real value is read in LSB of a format of this many fraction bits (it
  // is multiplied by 2^real_scale) and must stay below max_real_lsb.
  int real_scale = 0;
};

// Longer than any word a bench writes, however many leading zeros.
inline constexpr std::size_t longest_word = std::size_t{1} << 20;

// Reads the numbers of a value file from chunks of any size, handing each on
// as soon as the white space or the end of the input ends it, and keeping no
// more than one word's state between chunks. A word is a run of bytes between
// white space (blank, \t, \n, \v, \f, \r); each must be an optional sign and
// one or more decimal digits, within the range. Errors throw parse_error with
// messages prefixed by `name`. A bad word is read only as far as its message
// shows it (shown_word_size bytes, and one more to tell whether it is cut), so
// an endless one still ends.
class value_parser {
 public:
  explicit value_parser(const std::string& name, number_range range = {});

  using progress = chunk_progress;

  // Parses `chunk` until it or `out` is used up. When `out` fills, the bytes
  // consumed end with the white space that ends the last number written, and
  // nothing after it is looked at. Without `values`, the numbers are checked
  // alike, but what is written for them may be 0: for reading on cheaply.
  progress feed(std::string_view chunk, std::span<std::int64_t> out, bool values = true);

  // Ends the input: a word still open is taken as ended, and written to `out`
  // (which must have room for one) when it is a number. Returns the numbers
  // written, 0 or 1.
  std::size_t finish(std::span<std::int64_t> out);

  // Numbers read so far, and of them those unknown.
  std::size_t count() const noexcept { return count_; }
  std::size_t unknown() const noexcept { return unknown_; }
  std::size_t weak() const noexcept { return weak_; }

  const std::string& name() const noexcept { return name_; }

  // Throws parse_error "NAME: expected N numbers, found COUNT".
  [[noreturn]] void fail_count(std::size_t expected) const;

 private:
  // Long enough to recognise a word in a message, short enough for one line.
  static constexpr std::size_t shown_word_size = 40;
  // More leading zeros than this are shown as "0...0", and counted.
  static constexpr std::size_t shown_zeros = 4;

  // The general case: a word arrives in parts, one per chunk that holds some
  // of it; only the parts before the last are copied, and only as far as a
  // message shows them.
  void begin_word(const char* at);
  // Goes on with the word begun by a pending "/", which is no comment: a bad word.
  void resume_slash_word();
  // Reads the word on from `start` (not at white space) up to the next white
  // space or `end`, and returns where it stopped: before either only once the
  // word is bad and read as far as its message shows it.
  const char* read_word(const char* start, const char* end);
  bool out_of_range() const noexcept;
  bool bad() const noexcept { return malformed_ || too_long_ || out_of_range(); }
  void keep_for_message(std::string_view part);
  // Ends the word; returns its value, or throws when it is not a number.
  std::int64_t end_word(std::string_view last_part);
  [[noreturn]] void fail_word(std::string_view last_part);
  // Counts the lines of the current chunk up to `to`.
  void scan_to(const char* to);

  std::string name_;
  // The largest magnitude without a minus sign, and with one.
  std::array<std::uint64_t, 2> limits_;
  unsigned fitting_digits_ = 0;  // a number of fewer digits always fits
  number_range range_;
  std::size_t count_ = 0;
  std::size_t unknown_ = 0;
  std::size_t weak_ = 0;

  // Position: bytes before the current chunk; lines before `scanned_` in it
  // and where the line there began. Lines are counted apart from the words,
  // a chunk at a time.
  const char* chunk_ = nullptr;
  const char* scanned_ = nullptr;
  std::size_t offset_ = 0;
  std::size_t line_ = 1;
  std::size_t line_start_ = 0;

  // The word being read, which may span chunks.
  bool in_word_ = false;
  bool in_comment_ = false;
  bool slash_pending_ = false;  // a "/" ended the last chunk, where a word begins
  std::size_t word_line_ = 0;
  std::size_t word_column_ = 0;
  std::size_t word_length_ = 0;
  bool negative_ = false;
  bool malformed_ = false;
  bool too_long_ = false;
  std::size_t digits_ = 0;
  std::uint64_t magnitude_ = 0;  // no longer grows once out of range
  std::array<char, shown_word_size> kept_{};
  std::size_t kept_length_ = 0;
  std::size_t leading_zeros_ = 0;  // of the digits read, before the first that is not 0
  std::size_t zeros_skipped_ = 0;  // of them, left out of kept_
};

// A value file of decimal words (see text_reader).
using value_reader = text_reader<value_parser>;

}  // namespace decimal
