#include "decimal/q_format.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <optional>
#include <string>

namespace {

using decimal::q_format;

struct spelling {
  const char* text;
  std::optional<q_format> format;
};

void PrintTo(const spelling& c, std::ostream* os) { *os << '"' << c.text << '"'; }

class QFormatSpelling : public testing::TestWithParam<spelling> {};

TEST_P(QFormatSpelling, ParsesOrRefuses) {
  EXPECT_EQ(decimal::parse_q_format(GetParam().text), GetParam().format);
}

INSTANTIATE_TEST_SUITE_P(
    Table, QFormatSpelling,
    testing::Values(spelling{"Q1.11", q_format{1, 11}},  // the default
                    spelling{"Q15", q_format{1, 15}},    // QN is Q1.N
                    spelling{"Q4.12", q_format{4, 12}}, spelling{"Q1.31", q_format{1, 31}},
                    spelling{"Q32.0", q_format{32, 0}},  // an integer of 32 bits
                    spelling{"Q1.0", q_format{1, 0}},    // one bit: -1 or 0
                    spelling{"Q0", q_format{1, 0}},      // Q1.0 again
                    spelling{"Q0.11", std::nullopt},     // no sign bit
                    spelling{"Q1.32", std::nullopt},     // 33 bits
                    spelling{"Q32", std::nullopt},       // Q1.32
                    // Over 32 bits whatever the split.
                    spelling{"Q33.0", std::nullopt}, spelling{"Q4.31", std::nullopt},
                    spelling{"Q17.16", std::nullopt}, spelling{"Q", std::nullopt},
                    spelling{"Q.", std::nullopt}, spelling{"Q1.", std::nullopt},
                    spelling{"Q.11", std::nullopt}, spelling{"q1.11", std::nullopt},
                    spelling{"Q1.11x", std::nullopt}, spelling{"Q+1.11", std::nullopt},
                    spelling{"Q1.-1", std::nullopt}, spelling{" Q1.11", std::nullopt},
                    spelling{"Q1.1.1", std::nullopt}, spelling{"Q999999999999.1", std::nullopt},
                    spelling{"", std::nullopt}));

struct extreme {
  q_format format;
  std::int64_t raw;
  std::int64_t lsb;  // the pattern as a signed W-bit integer
};

void PrintTo(const extreme& c, std::ostream* os) { *os << c.format.name() << ' ' << c.raw; }

class QFormatValue : public testing::TestWithParam<extreme> {};

// Each pattern in both spellings; the value is the signed pattern over 2^N, exactly.
TEST_P(QFormatValue, SignedPatternOverTwoToTheN) {
  const extreme& c = GetParam();
  EXPECT_GE(c.raw, c.format.lowest_raw());
  EXPECT_LE(c.raw, c.format.highest_raw());
  EXPECT_EQ(c.format.lsb(c.raw), c.lsb);
  EXPECT_EQ(c.format.real(c.raw), std::ldexp(static_cast<double>(c.lsb), -c.format.fraction_bits));
}

constexpr q_format q1_0{1, 0};
constexpr q_format q1_11{1, 11};
constexpr q_format q1_15{1, 15};
constexpr q_format q1_31{1, 31};
constexpr q_format q32_0{32, 0};

INSTANTIATE_TEST_SUITE_P(
    Table, QFormatValue,
    testing::Values(extreme{q1_0, 0, 0}, extreme{q1_0, -1, -1}, extreme{q1_0, 1, -1},
                    extreme{q1_11, -2048, -2048}, extreme{q1_11, 2048, -2048},
                    extreme{q1_11, 2047, 2047}, extreme{q1_11, -1, -1}, extreme{q1_11, 4095, -1},
                    extreme{q1_15, -32768, -32768}, extreme{q1_15, 32768, -32768},
                    extreme{q1_15, 32767, 32767}, extreme{q1_15, 65535, -1},
                    extreme{q1_31, INT32_MIN, INT32_MIN}, extreme{q1_31, 2147483648, INT32_MIN},
                    extreme{q1_31, INT32_MAX, INT32_MAX}, extreme{q1_31, 4294967295, -1},
                    extreme{q32_0, 4294967295, -1}, extreme{q32_0, INT32_MIN, INT32_MIN}));

TEST(QFormat, RangeOfEachWidth) {
  struct range {
    q_format format;
    std::int64_t lowest;
    std::int64_t highest;
  };
  for (const range& r :
       {range{q1_0, -1, 1}, range{q1_11, -2048, 4095}, range{q_format{4, 12}, -32768, 65535},
        range{q1_31, -2147483648, 4294967295}}) {
    EXPECT_EQ(r.format.lowest_raw(), r.lowest) << r.format.name();
    EXPECT_EQ(r.format.highest_raw(), r.highest) << r.format.name();
  }
}

// The wrap pair: the largest code against the smallest is the largest
// difference there is, not 1.
TEST(QFormat, WrapIsTheLargestDifference) {
  for (const q_format& f : {q1_0, q1_11, q1_15, q1_31}) {
    const std::int64_t top = (std::int64_t{1} << (f.width() - 1)) - 1;
    const std::int64_t bottom = -(std::int64_t{1} << (f.width() - 1));
    EXPECT_EQ(decimal::lsb_difference(f, top, bottom), -f.highest_raw()) << f.name();
    EXPECT_EQ(decimal::lsb_difference(f, bottom, top), f.highest_raw()) << f.name();
  }
}

// The difference in LSB is exactly the difference of the real values times 2^N.
TEST(QFormat, DifferenceIsTheRealDifferenceInLsb) {
  for (const q_format& f : {q1_11, q_format{4, 12}, q1_31}) {
    const std::int64_t step = f.highest_raw() / 97 + 1;
    for (std::int64_t m = f.lowest_raw(); m <= f.highest_raw(); m += step) {
      for (std::int64_t c = f.highest_raw(); c >= f.lowest_raw(); c -= step + 3) {
        ASSERT_EQ(static_cast<double>(decimal::lsb_difference(f, m, c)),
                  std::ldexp(f.real(c) - f.real(m), f.fraction_bits))
            << f.name() << ' ' << m << ' ' << c;
      }
    }
  }
}

TEST(QFormat, DecimalsTellNeighbouringCodesApart) {
  EXPECT_EQ(q1_11.decimals(), 6);
  EXPECT_EQ(q1_15.decimals(), 6);              // 4.5 digits: printf's six suffice
  EXPECT_EQ((q_format{1, 20}.decimals()), 7);  // 6.02
  EXPECT_EQ(q1_31.decimals(), 10);             // 9.33
  EXPECT_EQ(q32_0.decimals(), 6);
  EXPECT_EQ(q1_31.name(), "Q1.31");
}

}  // namespace
