#include "decimal/encoding.hpp"

#include <array>
#include <utility>

#include "decimal/npy_file.hpp"
#include "decimal/radix_file.hpp"
#include "decimal/raw_file.hpp"
#include "decimal/real_file.hpp"

namespace decimal {

namespace {

constexpr std::array<std::string_view, 15> names{"dec",   "hex",   "bin",   "chex",  "s8",
                                                 "s16le", "s16be", "s32le", "s32be", "real",
                                                 "f32le", "f32be", "f64le", "f64be", "npy"};

}  // namespace

std::string_view encoding_name(encoding form) { return names.at(static_cast<std::size_t>(form)); }

std::optional<encoding> parse_encoding(std::string_view name) {
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (names[i] == name) return static_cast<encoding>(i);
  }
  return std::nullopt;
}

number_range samples_range(encoding form) {
  number_range range;
  range.max_word_size = longest_word;
  range.comments = true;
  if (form == encoding::hex || form == encoding::bin || form == encoding::chex) {
    range.max = UINT32_MAX;
  }
  return range;
}

std::unique_ptr<number_source> open_numbers(const std::string& path, encoding form,
                                            std::span<char> buffer, number_range range,
                                            bool reals) {
  const auto floats = [&](unsigned size, bool big_endian) {
    return std::make_unique<raw_reader>(
        path, buffer, raw_word{size, big_endian, raw_kind::ieee_float}, std::move(range));
  };
  switch (form) {
    case encoding::real:
      return std::make_unique<real_reader>(path, buffer, std::move(range));
    case encoding::f32le:
      return floats(4, false);
    case encoding::f32be:
      return floats(4, true);
    case encoding::f64le:
      return floats(8, false);
    case encoding::f64be:
      return floats(8, true);
    case encoding::npy:
      return open_npy(path, buffer, std::move(range), reals);
    case encoding::dec:
      return std::make_unique<value_reader>(path, buffer, std::move(range));
    case encoding::hex:
      return std::make_unique<radix_reader>(path, buffer, 4U, std::move(range));
    case encoding::bin:
      return std::make_unique<radix_reader>(path, buffer, 1U, std::move(range));
    case encoding::chex:
      return std::make_unique<radix_reader>(path, buffer, 4U, std::move(range), true);
    case encoding::s8:
      return std::make_unique<raw_reader>(path, buffer, 1, false, std::move(range));
    case encoding::s16le:
      return std::make_unique<raw_reader>(path, buffer, 2, false, std::move(range));
    case encoding::s16be:
      return std::make_unique<raw_reader>(path, buffer, 2, true, std::move(range));
    case encoding::s32le:
      return std::make_unique<raw_reader>(path, buffer, 4, false, std::move(range));
    case encoding::s32be:
      break;
  }
  return std::make_unique<raw_reader>(path, buffer, 4, true, std::move(range));
}

}  // namespace decimal
