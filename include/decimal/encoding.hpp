#pragma once

#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "decimal/number_source.hpp"
#include "decimal/value_file.hpp"

namespace decimal {

// How a file's numbers are written: text words separated by white space
// (decimal; hex and binary as HDL benches write them; C and Python hex
// literals; real numbers as models write them), raw binary words back to
// back, named as audio tools name them (signed integers, IEEE floats), or
// a NumPy .npy file.
enum class encoding {
  dec,
  hex,
  bin,
  chex,
  s8,
  s16le,
  s16be,
  s32le,
  s32be,
  real,
  f32le,
  f32be,
  f64le,
  f64be,
  npy
};

// Whether words of `form` are binary words rather than text.
constexpr bool is_raw(encoding form) noexcept {
  return form != encoding::dec && form != encoding::hex && form != encoding::bin &&
         form != encoding::chex && form != encoding::real;
}

// Whether words of `form` are always real values (npy's are when its dtype says so).
constexpr bool is_real(encoding form) noexcept {
  return form == encoding::real || form == encoding::f32le || form == encoding::f32be ||
         form == encoding::f64le || form == encoding::f64be;
}

// Whether words of `form` are hex or binary patterns.
constexpr bool is_radix(encoding form) noexcept {
  return form == encoding::hex || form == encoding::bin || form == encoding::chex;
}

// The encoding a name such as "hex" or "s16le" stands for.
std::optional<encoding> parse_encoding(std::string_view name);

// The numbers of the file at `path`, written in `form`, read through
// `buffer` (not empty); results must lie in `range`. Real values (and an
// .npy file's floats, which only `reals` allows) are read as real_word()s. A sample file is read
// with the default range, which hex and binary words widen to the unsigned
// 32-bit patterns (up to 2^32 - 1). Throws error when it cannot be opened.
std::unique_ptr<number_source> open_numbers(const std::string& path, encoding form,
                                            std::span<char> buffer, number_range range,
                                            bool reals = false);

// The names of the encodings, in the order of the enum.
std::string_view encoding_name(encoding form);

// The range of a sample file in `form`.
number_range samples_range(encoding form);

}  // namespace decimal
