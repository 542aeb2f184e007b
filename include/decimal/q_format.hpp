#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace decimal {

// A fixed-point format: two's complement QM.N, M integer bits counting the
// sign bit (M >= 1) and N fraction bits (N >= 0), or unsigned UQM.N (M >= 0),
// M + N from 1 to 32 bits either way.
struct q_format {
  int integer_bits = 1;
  int fraction_bits = 11;
  bool is_unsigned = false;

  int width() const noexcept { return integer_bits + fraction_bits; }

  // The numbers that spell a pattern of the format: for a signed format,
  // signed, -2^(W-1) to 2^(W-1)-1, or unsigned, 0 to 2^W-1; for an unsigned
  // one only the latter.
  std::int64_t lowest_raw() const noexcept { return is_unsigned ? 0 : lowest_lsb(); }
  std::int64_t highest_raw() const noexcept { return (std::int64_t{1} << width()) - 1; }

  // The values in LSB: -2^(W-1) to 2^(W-1)-1, or 0 to 2^W-1 unsigned.
  std::int64_t lowest_lsb() const noexcept {
    return is_unsigned ? 0 : -(std::int64_t{1} << (width() - 1));
  }
  std::int64_t highest_lsb() const noexcept {
    return is_unsigned ? highest_raw() : (std::int64_t{1} << (width() - 1)) - 1;
  }

  // The pattern of `raw` (one of the numbers above) read as a W-bit
  // integer of the format's signedness: the value in LSB.
  std::int64_t lsb(std::int64_t raw) const noexcept {
    if (is_unsigned) return raw;
    const auto shift = static_cast<unsigned>(64 - width());
    return static_cast<std::int64_t>(static_cast<std::uint64_t>(raw) << shift) >> shift;
  }

  // The real value of `raw`: lsb(raw) / 2^N, exact.
  double real(std::int64_t raw) const noexcept;

  // Digits after the point that tell two neighbouring codes apart, and never
  // fewer than printf's six: ceil(N log10 2) when that is more.
  int decimals() const noexcept;

  // "Q1.11", "Q4.12", "Q1.31", "UQ0.12".
  std::string name() const;

  bool operator==(const q_format&) const = default;
};

// The difference of two codes in LSB, s(c) - s(m): -(2^W-1) to 2^W-1.
inline std::int64_t lsb_difference(const q_format& format, std::int64_t res_m,
                                   std::int64_t res_c) noexcept {
  return format.lsb(res_c) - format.lsb(res_m);
}

// Reads "QM.N", or "QN" for Q1.N, and "UQM.N" or "UQN" for UQ0.N; nullopt
// for any other spelling or a width outside 1..32.
std::optional<q_format> parse_q_format(std::string_view text);

// For a spelling that other tools use for a format ("Q0.15" as ARM writes
// it, MATLAB's "sfix16_En15"), what it is here ("Q1.15"); nullopt for
// anything else.
std::optional<q_format> foreign_q_format(std::string_view text);

}  // namespace decimal
