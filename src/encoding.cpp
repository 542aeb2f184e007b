#include "decimal/encoding.hpp"

#include <array>
#include <utility>

#include "decimal/radix_file.hpp"
#include "decimal/raw_file.hpp"

namespace decimal {

std::optional<encoding> parse_encoding(std::string_view name) {
  static constexpr std::array<std::pair<std::string_view, encoding>, 9> names{{
      {"dec", encoding::dec},
      {"hex", encoding::hex},
      {"bin", encoding::bin},
      {"chex", encoding::chex},
      {"s8", encoding::s8},
      {"s16le", encoding::s16le},
      {"s16be", encoding::s16be},
      {"s32le", encoding::s32le},
      {"s32be", encoding::s32be},
  }};
  for (const auto& [spelling, form] : names) {
    if (spelling == name) return form;
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
                                            std::span<char> buffer, number_range range) {
  switch (form) {
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
