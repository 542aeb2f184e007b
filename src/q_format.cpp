#include "decimal/q_format.hpp"

#include <charconv>
#include <cmath>

namespace decimal {

double q_format::real(std::int64_t raw) const noexcept {
  // A power of two: the quotient of an integer below 2^32 is exact.
  return std::ldexp(static_cast<double>(lsb(raw)), -fraction_bits);
}

int q_format::decimals() const noexcept {
  // N log10 2 is never a whole number for N > 0, so the rounding of the
  // product cannot move the ceiling.
  const auto needed = static_cast<int>(std::ceil(fraction_bits * std::log10(2.0)));
  return needed > 6 ? needed : 6;
}

std::string q_format::name() const {
  return 'Q' + std::to_string(integer_bits) + '.' + std::to_string(fraction_bits);
}

std::optional<q_format> parse_q_format(std::string_view text) {
  // Plain digits only: from_chars would take a sign.
  const auto whole_number = [](std::string_view digits) -> std::optional<int> {
    if (digits.empty() || digits.size() > 2 ||
        digits.find_first_not_of("0123456789") != std::string_view::npos) {
      return std::nullopt;
    }
    int n = 0;
    std::from_chars(digits.data(), digits.data() + digits.size(), n);
    return n;
  };
  if (!text.starts_with('Q')) return std::nullopt;
  text.remove_prefix(1);
  const std::size_t point = text.find('.');
  std::optional<int> integer_bits = 1;
  std::optional<int> fraction_bits;
  if (point == std::string_view::npos) {
    fraction_bits = whole_number(text);
  } else {
    integer_bits = whole_number(text.substr(0, point));
    fraction_bits = whole_number(text.substr(point + 1));
  }
  if (!integer_bits || !fraction_bits || *integer_bits < 1 || *integer_bits + *fraction_bits > 32) {
    return std::nullopt;
  }
  return q_format{*integer_bits, *fraction_bits};
}

}  // namespace decimal
