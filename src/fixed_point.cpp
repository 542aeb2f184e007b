#include "decimal/fixed_point.hpp"

#include <stdexcept>

namespace decimal {

double to_fixed(std::int32_t raw, std::int32_t width) {
  if (width < 1 || width > 32) {
    throw std::invalid_argument("to_fixed: width must be 1 to 32");
  }
  // Sign-extend the low `width` bits: move the sign bit to bit 31, then shift
  // back arithmetically. Both shifts are below 32, so every width is defined.
  const auto shift = static_cast<unsigned>(32 - width);
  const auto extended =
      static_cast<std::int32_t>(static_cast<std::uint32_t>(raw) << shift) >> shift;
  // A power of two: the product is exact, and 0 * scale is +0.0.
  const double scale = 1.0 / static_cast<double>(std::uint64_t{1} << (width - 1));
  return static_cast<double>(extended) * scale;
}

}  // namespace decimal
