#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "decimal/error.hpp"

namespace decimal {

// The letters test benches write for bits a simulation could not resolve:
// Verilog's x and z, VHDL's std_logic U, W, X, Z and - (and L and H, weak
// 0 and 1, where they are to be taken as unknown).
inline constexpr std::array<char, 7> unknown_letters = {'X', 'U', 'W', 'Z', '-', 'L', 'H'};

// What a result file holds where a test bench could not tell the bits, one
// value for each of unknown_letters (the first letter of the word that is
// one of them): outside every format's range. unknown_value is X's.
inline constexpr std::int64_t unknown_value = INT64_MIN;
constexpr std::int64_t unknown_value_of(std::size_t letter) noexcept {
  return INT64_MIN + static_cast<std::int64_t>(letter);
}
constexpr bool is_unknown(std::int64_t n) noexcept {
  return static_cast<std::uint64_t>(n) - static_cast<std::uint64_t>(INT64_MIN) <
         unknown_letters.size();
}
// The index in unknown_letters of an unknown value.
constexpr std::size_t unknown_letter(std::int64_t n) noexcept {
  return static_cast<std::size_t>(static_cast<std::uint64_t>(n) -
                                  static_cast<std::uint64_t>(INT64_MIN));
}
// A byte of a bench's word as std_logic reads it, of either case: the index
// in unknown_letters of a letter of unknown bits (L and H only when
// `weak_unknown`), or none.
constexpr std::optional<std::size_t> unknown_letter_index(char c, bool weak_unknown) noexcept {
  const char upper = c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
  if (!weak_unknown && (upper == 'L' || upper == 'H')) return std::nullopt;
  for (std::size_t i = 0; i < unknown_letters.size(); ++i) {
    if (unknown_letters[i] == upper) return i;
  }
  return std::nullopt;
}

// The level of a weak letter, L (0) or H (1), of either case; none for any other byte.
constexpr std::optional<int> weak_level(char c) noexcept {
  if (c == 'L' || c == 'l') return 0;
  if (c == 'H' || c == 'h') return 1;
  return std::nullopt;
}

// What stands for the partner of an entry that has none (the other file
// ended first): outside every format's range too.
inline constexpr std::int64_t missing_value = INT64_MIN + 8;

// A real model's value, in LSB of the implementation's format, travels
// where integers do as its double's bits: -0 and the few negative
// subnormals whose bits are unknown_value's and missing_value's (all below
// 5e-323 LSB) are read as 0, so that a real word is never taken for them.
constexpr std::int64_t real_word(double lsb) noexcept {
  const auto bits = std::bit_cast<std::int64_t>(lsb);
  return static_cast<std::uint64_t>(bits) - static_cast<std::uint64_t>(INT64_MIN) <= 8 ? 0 : bits;
}
constexpr double real_of_word(std::int64_t word) noexcept { return std::bit_cast<double>(word); }

// Past this many LSB, a real value's difference from an integer is no longer
// exact in a double: a real model's values must stay below it.
inline constexpr double max_real_lsb = 0x1p52;

// The numbers of one file, read in one pass whatever its encoding.
class number_source {
 public:
  number_source() = default;
  number_source(const number_source&) = delete;
  number_source& operator=(const number_source&) = delete;
  virtual ~number_source() = default;

  // Reads the next numbers into `out`; fewer than it holds only at the end
  // of the file, and nothing of the file past the last of them. Without
  // `values`, the numbers are checked alike, but what `out` holds for them
  // is left unspecified. Throws error (open, read) or parse_error.
  virtual std::size_t read(std::span<std::int64_t> out, bool values = true) = 0;

  // Numbers read so far, of them those unknown, and those read as known
  // from a weak letter (L, H).
  virtual std::size_t count() const noexcept = 0;
  virtual std::size_t unknown() const noexcept = 0;
  virtual std::size_t weak() const noexcept { return 0; }
  // Files it reads in turn, a number from each: counts of each file are count() / files().
  virtual std::size_t files() const noexcept { return 1; }
  // Whether the numbers are real_word()s rather than integers.
  virtual bool real() const noexcept { return false; }

  // The file's name as messages show it.
  virtual const std::string& name() const noexcept = 0;

  // Throws parse_error with shortage(expected).
  [[noreturn]] void fail_count(std::size_t expected) const {
    throw parse_error(shortage(expected), 0, 0);
  }
  // "NAME: expected N numbers, found COUNT", N and COUNT as read() gives
  // them; a source that gives a number more than once, or takes numbers from
  // two files, tells them of its files.
  virtual std::string shortage(std::size_t expected) const {
    return name() + ": expected " + std::to_string(expected) + " numbers, found " +
           std::to_string(count());
  }
};

}  // namespace decimal
