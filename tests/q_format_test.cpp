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
                    spelling{"", std::nullopt},
                    // Unsigned: no sign bit, so M may be 0; UQN is UQ0.N.
                    spelling{"UQ0.12", q_format{0, 12, true}},
                    spelling{"UQ12", q_format{0, 12, true}},
                    spelling{"UQ12.0", q_format{12, 0, true}},
                    spelling{"UQ0.32", q_format{0, 32, true}},  // the widest
                    spelling{"UQ0.33", std::nullopt}, spelling{"UQ0.0", std::nullopt},
                    spelling{"UQ0", std::nullopt}, spelling{"uQ1.11", std::nullopt},
                    spelling{"U1.11", std::nullopt}));

struct foreign_spelling {
  const char* text;
  std::optional<q_format> here;
};

void PrintTo(const foreign_spelling& c, std::ostream* os) { *os << '"' << c.text << '"'; }

class ForeignSpelling : public testing::TestWithParam<foreign_spelling> {};

TEST_P(ForeignSpelling, SaysWhatItIsHere) {
  EXPECT_EQ(decimal::foreign_q_format(GetParam().text), GetParam().here);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ForeignSpelling,
    testing::Values(foreign_spelling{"Q0.15", q_format{1, 15}},        // ARM: M without the sign
                    foreign_spelling{"Q0.31", q_format{1, 31}},        // the widest
                    foreign_spelling{"Q1.31", std::nullopt},           // valid here: no hint
                    foreign_spelling{"Q0.32", std::nullopt},           // 33 bits either way
                    foreign_spelling{"sfix16_En15", q_format{1, 15}},  // MATLAB
                    foreign_spelling{"ufix12_En12", q_format{0, 12, true}},
                    foreign_spelling{"sfix8", q_format{8, 0}},
                    foreign_spelling{"sfix16_En16", std::nullopt},  // no sign bit left
                    foreign_spelling{"sfix40_En20", std::nullopt},  // over 32 bits
                    foreign_spelling{"fix16_En15", std::nullopt}));

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
constexpr q_format uq0_12{0, 12, true};

INSTANTIATE_TEST_SUITE_P(
    Table, QFormatValue,
    testing::Values(extreme{q1_0, 0, 0}, extreme{q1_0, -1, -1}, extreme{q1_0, 1, -1},
                    extreme{q1_11, -2048, -2048}, extreme{q1_11, 2048, -2048},
                    extreme{q1_11, 2047, 2047}, extreme{q1_11, -1, -1}, extreme{q1_11, 4095, -1},
                    extreme{q1_15, -32768, -32768}, extreme{q1_15, 32768, -32768},
                    extreme{q1_15, 32767, 32767}, extreme{q1_15, 65535, -1},
                    extreme{q1_31, INT32_MIN, INT32_MIN}, extreme{q1_31, 2147483648, INT32_MIN},
                    extreme{q1_31, INT32_MAX, INT32_MAX}, extreme{q1_31, 4294967295, -1},
                    extreme{q32_0, 4294967295, -1}, extreme{q32_0, INT32_MIN, INT32_MIN},
                    // Unsigned: every pattern is its own value, the top one too.
                    extreme{uq0_12, 0, 0}, extreme{uq0_12, 4095, 4095}, extreme{uq0_12, 2048, 2048},
                    extreme{q_format{0, 32, true}, 4294967295, 4294967295}));

TEST(QFormat, RangeOfEachWidth) {
  struct range {
    q_format format;
    std::int64_t lowest;
    std::int64_t highest;
  };
  for (const range& r :
       {range{q1_0, -1, 1}, range{q1_11, -2048, 4095}, range{q_format{4, 12}, -32768, 65535},
        range{q1_31, -2147483648, 4294967295}, range{uq0_12, 0, 4095}}) {
    EXPECT_EQ(r.format.lowest_raw(), r.lowest) << r.format.name();
    EXPECT_EQ(r.format.highest_raw(), r.highest) << r.format.name();
  }
}

// An ADC's 12-bit code that wraps past full scale (4095 + 11 reads 6) is
// 4089 LSB off, not 6 as the same bits read signed would be.
TEST(QFormat, UnsignedWrapIsAWholeScaleAway) {
  EXPECT_EQ(decimal::lsb_difference(uq0_12, 4095, 6), -4089);
  EXPECT_EQ(decimal::lsb_difference(q_format{12, 0}, 4095, 6), 7);
  EXPECT_EQ(uq0_12.real(4095), 0x1.ffep-1);
  EXPECT_EQ(uq0_12.name(), "UQ0.12");
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
