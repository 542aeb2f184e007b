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

// Reads the real numbers that models write (printf "%.17g", MATLAB's
// fprintf, numpy.savetxt) from chunks of any size: an optional sign, digits
// with an optional point and exponent ("1.0000000e+00", "-1.2345E-05",
// ".5", "3"), or a C99 hex float ("0x1.8p-3"), each read to the nearest
// double (exactly, when it is one). Words are separated by white space; "#"
// or "//" starting a word begins a comment to the end of the line. Each value
// is handed on as the real_word() of its value in LSB (range.real_scale);
// "nan", "inf" and values of max_real_lsb or more are bad words. Errors throw
// parse_error located at the word, prefixed by `name`.
class real_parser {
 public:
  real_parser(const std::string& name, number_range range);

  // A word longer than this is bad: no model writes one, however precise.
  static constexpr std::size_t max_word_size = 1024;

  using progress = chunk_progress;

  // Parses `chunk` until it or `out` is used up; when `out` fills, nothing
  // after the white space that ends the last number is consumed.
  progress feed(std::string_view chunk, std::span<std::int64_t> out, bool values = true);

  // Ends the input; writes a word still open to `out` (room for one) and
  // returns the numbers written, 0 or 1.
  std::size_t finish(std::span<std::int64_t> out);

  std::size_t count() const noexcept { return count_; }
  std::size_t unknown() const noexcept { return 0; }
  std::size_t weak() const noexcept { return 0; }
  const std::string& name() const noexcept { return name_; }

 private:
  // A good plain word at the front of `rest`, ended by white space there,
  // read into `out`: returns its length; 0, and `out` untouched, for any
  // other (for the general path to read, or tell what is wrong with it).
  std::size_t quick_word(std::string_view rest, std::int64_t& out) const;
  // The real_word() of `word`, which starts at `line`:`column`; throws when it is bad.
  std::int64_t value_of(std::string_view word, std::size_t line, std::size_t column) const;
  [[noreturn]] void fail(std::size_t line, std::size_t column, const std::string& what) const;

  std::string name_;
  number_range range_;
  double scale_;  // 2^range_.real_scale
  std::size_t count_ = 0;
  // Position: bytes before the current chunk, the line, and where it began.
  std::size_t offset_ = 0;
  std::size_t line_ = 1;
  std::size_t line_start_ = 0;
  bool in_comment_ = false;
  // A word begun in an earlier chunk, and where it began.
  std::string word_;
  bool in_word_ = false;
  std::size_t word_line_ = 0;
  std::size_t word_column_ = 0;
};

// A file of real words (see text_reader), read as real_word()s.
class real_reader final : public number_source {
 public:
  real_reader(const std::string& path, std::span<char> buffer, number_range range)
      : text_(path, buffer, std::move(range)) {}
  std::size_t read(std::span<std::int64_t> out, bool values = true) override {
    return text_.read(out, values);
  }
  std::size_t count() const noexcept override { return text_.count(); }
  std::size_t unknown() const noexcept override { return 0; }
  bool real() const noexcept override { return true; }
  const std::string& name() const noexcept override { return text_.name(); }

 private:
  text_reader<real_parser> text_;
};

}  // namespace decimal
