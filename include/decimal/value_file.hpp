#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <utility>

namespace decimal {

// Every value file holds at least this many numbers; the rest is never read.
inline constexpr std::size_t entry_count = 201;

using raw_table = std::array<std::int32_t, entry_count>;

// Reads the numbers of a value file from chunks of any size, keeping no more
// than one word's state between chunks. A word is a run of bytes between
// white space (blank, \t, \n, \v, \f, \r); each of the first entry_count words
// must be an optional sign and one or more decimal digits, in the signed
// 32-bit range. Errors throw parse_error with messages prefixed by `name`.
// A bad word is read only as far as its message shows it (shown_word_size
// bytes, and one more to tell whether it is cut), so an endless one still ends.
class value_parser {
 public:
  explicit value_parser(std::string name) : name_(std::move(name)) {}

  // Consumes `chunk` up to and including the white space that ends the last
  // needed word; returns the number of bytes consumed.
  std::size_t feed(std::string_view chunk);

  // True once entry_count numbers have been read and the last one has ended.
  bool complete() const noexcept { return count_ == entry_count; }

  // Ends the input: a word still open is taken as ended. Throws parse_error
  // when the input held fewer than entry_count numbers.
  const raw_table& finish();

 private:
  // Long enough to recognise a word in a message, short enough for one line.
  static constexpr std::size_t shown_word_size = 40;

  // A word arrives in parts, one per chunk that holds some of it; only the
  // parts before the last are copied, and only as far as a message shows them.
  void begin_word(std::size_t line, std::size_t column);
  // Reads the word on from `start` (not at white space) up to the next white
  // space or `end`, and returns where it stopped: before either only once the
  // word is bad and read as far as its message shows it.
  const char* read_word(const char* start, const char* end);
  bool out_of_range() const noexcept;
  bool bad() const noexcept { return malformed_ || out_of_range(); }
  void keep_for_message(std::string_view part);
  void end_word(std::string_view last_part);
  [[noreturn]] void fail_word(std::string_view last_part);

  std::string name_;
  raw_table values_{};
  std::size_t count_ = 0;

  // Position: bytes consumed before the current chunk, and where the current line starts.
  std::size_t offset_ = 0;
  std::size_t line_ = 1;
  std::size_t line_start_ = 0;

  // The word being read, which may span chunks.
  bool in_word_ = false;
  std::size_t word_line_ = 0;
  std::size_t word_column_ = 0;
  std::size_t word_length_ = 0;
  bool negative_ = false;
  bool malformed_ = false;
  std::size_t digits_ = 0;
  std::uint64_t magnitude_ = 0;  // no longer grows once out of range
  std::array<char, shown_word_size> kept_{};
  std::size_t kept_length_ = 0;
};

// Reads the first entry_count numbers of the file at `path` through `buffer`
// (not empty), and never reads past the white space that ends the last of
// them. Throws error when the file cannot be opened or read, parse_error when
// it is malformed.
raw_table read_value_file(const char* path, std::span<char> buffer);

// The same through a buffer of its own, sized for ordinary files.
raw_table read_value_file(const char* path);

// The raw numbers of one comparison: the input and the two result sets.
struct run_files {
  raw_table samples;
  raw_table results_m;  // the reference model's
  raw_table results_c;  // the implementation's
};

// Reads "samples.txt", "results_m.txt" and "results_c.txt" from `dir`, in
// that order, each closed before the next is opened; the first error ends it.
// An empty `dir` is the current directory, and messages then name the files
// alone; otherwise they name them as DIR/NAME.
run_files read_run_files(const std::string& dir = {});

}  // namespace decimal
