#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "decimal/error.hpp"

namespace decimal {

// What a result file holds where a test bench could not tell the bits (a
// Verilog "x" or "z"): outside every format's range.
inline constexpr std::int64_t unknown_value = INT64_MIN;
// What stands for the partner of an entry that has none (the other file
// ended first): outside every format's range too.
inline constexpr std::int64_t missing_value = INT64_MIN + 1;

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

  // Numbers read so far, and of them those unknown.
  virtual std::size_t count() const noexcept = 0;
  virtual std::size_t unknown() const noexcept = 0;

  // The file's name as messages show it.
  virtual const std::string& name() const noexcept = 0;

  // Throws parse_error "NAME: expected N numbers, found COUNT".
  [[noreturn]] void fail_count(std::size_t expected) const {
    throw parse_error(name() + ": expected " + std::to_string(expected) + " numbers, found " +
                          std::to_string(count()),
                      0, 0);
  }
};

}  // namespace decimal
