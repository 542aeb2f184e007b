#pragma once

#include <cstdint>

namespace decimal {

// Real value of the low `width` bits of `raw`, read as two's complement with
// `width - 1` fraction bits: the sign bit weighs -1, bit j below it 2^-(width-1-j).
// Bits at and above `width` are ignored. Exact for every width from 1 to 32;
// a clear sign bit gives +0.0, never -0.0.
// Throws std::invalid_argument for a width outside 1..32.
double to_fixed(std::int32_t raw, std::int32_t width);

}  // namespace decimal
