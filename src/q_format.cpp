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
  return (is_unsigned ? "UQ" : "Q") + std::to_string(integer_bits) + '.' +
         std::to_string(fraction_bits);
}

namespace {

// Plain digits only, at most two: from_chars would take a sign.
std::optional<int> whole_number(std::string_view digits) {
  if (digits.empty() || digits.size() > 2 ||
      digits.find_first_not_of("0123456789") != std::string_view::npos) {
    return std::nullopt;
  }
  int n = 0;
  std::from_chars(digits.data(), digits.data() + digits.size(), n);
  return n;
}

std::optional<q_format> checked(std::optional<int> integer_bits, std::optional<int> fraction_bits,
                                bool is_unsigned) {
  if (!integer_bits || !fraction_bits || *integer_bits < (is_unsigned ? 0 : 1) ||
      *integer_bits + *fraction_bits < 1 || *integer_bits + *fraction_bits > 32) {
    return std::nullopt;
  }
  return q_format{*integer_bits, *fraction_bits, is_unsigned};
}

}  // namespace

std::optional<q_format> parse_q_format(std::string_view text) {
  const bool is_unsigned = text.starts_with('U');
  if (is_unsigned) text.remove_prefix(1);
  if (!text.starts_with('Q')) return std::nullopt;
  text.remove_prefix(1);
  const std::size_t point = text.find('.');
  if (point == std::string_view::npos) {
    return checked(is_unsigned ? 0 : 1, whole_number(text), is_unsigned);
  }
  return checked(whole_number(text.substr(0, point)), whole_number(text.substr(point + 1)),
                 is_unsigned);
}

std::optional<q_format> foreign_q_format(std::string_view text) {
  // ARM's and TI's QM.N counts the integer bits without the sign: Q0.15 is 16 bits.
  if (text.starts_with('Q') && !parse_q_format(text)) {
    const std::size_t point = text.find('.');
    if (point != std::string_view::npos) {
      const std::optional<int> m = whole_number(text.substr(1, point - 1));
      return checked(m ? std::optional(*m + 1) : std::nullopt, whole_number(text.substr(point + 1)),
                     false);
    }
  }
  // MATLAB's fixed-point data types: sfixW_EnN, ufixW_EnN, sfixW, ufixW.
  const bool is_unsigned = text.starts_with("ufix");
  if (!is_unsigned && !text.starts_with("sfix")) return std::nullopt;
  text.remove_prefix(4);
  const std::size_t scale = text.find("_En");
  const std::optional<int> width = whole_number(text.substr(0, scale));
  const std::optional<int> fraction =
      scale == std::string_view::npos ? 0 : whole_number(text.substr(scale + 3));
  if (!width || !fraction) return std::nullopt;
  return checked(*width - *fraction, fraction, is_unsigned);
}

}  // namespace decimal
