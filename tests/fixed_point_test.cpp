#include "decimal/fixed_point.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <stdexcept>

namespace {

using decimal::to_fixed;

struct exact_case {
  std::int32_t raw;
  std::int32_t width;
  double expected;
  const char* edge;
};

void PrintTo(const exact_case& c, std::ostream* os) {
  *os << "to_fixed(" << c.raw << ", " << c.width << ") [" << c.edge << "]";
}

class ToFixedExact : public testing::TestWithParam<exact_case> {};

TEST_P(ToFixedExact, GivesTheExactDouble) {
  const exact_case& c = GetParam();
  const double result = to_fixed(c.raw, c.width);
  EXPECT_EQ(result, c.expected);
  EXPECT_EQ(std::signbit(result), std::signbit(c.expected)) << "sign of zero";
}

constexpr std::int32_t int32_min = std::numeric_limits<std::int32_t>::min();
constexpr std::int32_t int32_max = std::numeric_limits<std::int32_t>::max();

INSTANTIATE_TEST_SUITE_P(Table, ToFixedExact,
                         testing::Values(
                             // Width 12, as the report uses it.
                             exact_case{0, 12, 0.0, "zero is +0.0"},
                             exact_case{1, 12, 0x1p-11, "least significant bit"},
                             exact_case{16, 12, 0x1p-7, "single fraction bit"},
                             exact_case{1024, 12, 0.5, "top fraction bit"},
                             exact_case{2047, 12, 2047 * 0x1p-11, "largest value"},
                             exact_case{2048, 12, -1.0, "sign bit alone: most negative"},
                             exact_case{2049, 12, -2047 * 0x1p-11, "sign bit and lsb"},
                             exact_case{3072, 12, -0.5, "sign bit and top fraction bit"},
                             exact_case{4095, 12, -0x1p-11, "all ones: minus one lsb"},
                             exact_case{4096, 12, 0.0, "only bit 12 set: ignored, +0.0"},
                             exact_case{4097, 12, 0x1p-11, "bit 12 ignored"},
                             exact_case{-1, 12, -0x1p-11, "signed form of 4095"},
                             exact_case{-2048, 12, -1.0, "signed form of 2048"},
                             exact_case{-2049, 12, 2047 * 0x1p-11, "wraps to 2047"},
                             exact_case{0x7ffff000, 12, 0.0, "all high bits set, low 12 clear"},
                             exact_case{int32_min, 12, 0.0, "bit 31 alone ignored"},
                             // Width 1: no fraction bits.
                             exact_case{0, 1, 0.0, "width 1, bit clear"},
                             exact_case{1, 1, -1.0, "width 1, sign bit"},
                             exact_case{-2, 1, 0.0, "width 1, high bits ignored"},
                             // Width 31: the sign bit is bit 30, bit 31 is ignored.
                             exact_case{0x40000000, 31, -1.0, "width 31, sign bit"},
                             exact_case{0x3fffffff, 31, 0x3fffffff * 0x1p-30, "width 31, largest"},
                             exact_case{int32_min, 31, 0.0, "width 31, bit 31 ignored"},
                             exact_case{-1, 31, -0x1p-30, "width 31, all ones"},
                             // Width 32: the whole value as Q0.31.
                             exact_case{int32_min, 32, -1.0, "width 32, most negative"},
                             exact_case{int32_max, 32, int32_max * 0x1p-31, "width 32, largest"},
                             exact_case{-1, 32, -0x1p-31, "width 32, all ones"},
                             exact_case{1, 32, 0x1p-31, "width 32, least significant bit"}));

// Every 12-bit pattern: the values step by exactly 2^-11 from -1 upwards when
// the patterns are taken in signed order, and bits above the width never count.
TEST(ToFixedSweep, AllTwelveBitPatterns) {
  double previous = -1.0 - 0x1p-11;
  for (std::int32_t signed_pattern = -2048; signed_pattern <= 2047; ++signed_pattern) {
    const std::int32_t unsigned_pattern = signed_pattern & 0xfff;
    const double value = to_fixed(unsigned_pattern, 12);
    ASSERT_EQ(value - previous, 0x1p-11) << "pattern " << unsigned_pattern;
    ASSERT_FALSE(std::signbit(value) && value == 0.0);
    ASSERT_EQ(to_fixed(signed_pattern, 12), value);
    ASSERT_EQ(to_fixed(unsigned_pattern | 0x5a5a5000, 12), value);
    ASSERT_EQ(to_fixed(unsigned_pattern | int32_min, 12), value);
    previous = value;
  }
  EXPECT_EQ(previous, 1.0 - 0x1p-11);
}

// Across widths: the lowest bit weighs 2^-(width-1), the sign bit -1.
TEST(ToFixedSweep, WeightsForEveryWidth) {
  for (std::int32_t width = 1; width <= 32; ++width) {
    SCOPED_TRACE(width);
    const auto sign_bit = static_cast<std::int32_t>(std::uint32_t{1} << (width - 1));
    EXPECT_EQ(to_fixed(sign_bit, width), -1.0);
    EXPECT_EQ(to_fixed(0, width), 0.0);
    EXPECT_FALSE(std::signbit(to_fixed(0, width)));
    if (width > 1) {
      EXPECT_EQ(to_fixed(1, width), std::ldexp(1.0, 1 - width));
    }
  }
}

TEST(ToFixedWidth, RejectsWidthsOutsideOneToThirtyTwo) {
  for (const std::int32_t width : {0, -1, 33, 64, int32_min, int32_max}) {
    EXPECT_THROW(to_fixed(1, width), std::invalid_argument) << "width " << width;
  }
}

}  // namespace
