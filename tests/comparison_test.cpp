#include "decimal/comparison.hpp"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "decimal/accumulator.hpp"

namespace {

using decimal::accumulator;
using decimal::q_format;

// The figures of comparing `model` with `implementation` entry by entry.
accumulator compare(const std::vector<std::int64_t>& model,
                    const std::vector<std::int64_t>& implementation, std::uint64_t tolerance,
                    q_format format = {}) {
  accumulator figures(format, static_cast<double>(tolerance));
  std::vector<std::int64_t> differences(model.size());
  figures.add(model, implementation, differences);
  return figures;
}

std::string closing(const accumulator& figures, std::optional<double> min_snr_db = {}) {
  return decimal::render_closing(figures, min_snr_db, decimal::fail_reasons(figures, min_snr_db));
}

struct changed_entry {
  std::size_t index;
  std::int64_t model;
  std::int64_t implementation;
};

struct comparison_case {
  const char* edge;
  std::int64_t model;           // every model entry but the changed ones
  std::int64_t implementation;  // every implementation entry but the changed ones
  std::vector<changed_entry> changed;
  std::uint64_t tolerance;
  const char* closing;  // histogram, summary and verdict
};

void PrintTo(const comparison_case& c, std::ostream* os) { *os << c.edge; }

class Comparison : public testing::TestWithParam<comparison_case> {};

TEST_P(Comparison, ExactFigures) {
  const comparison_case& c = GetParam();
  std::vector<std::int64_t> model(201, c.model);
  std::vector<std::int64_t> implementation(201, c.implementation);
  for (const changed_entry& entry : c.changed) {
    model[entry.index] = entry.model;
    implementation[entry.index] = entry.implementation;
  }
  EXPECT_EQ(closing(compare(model, implementation, c.tolerance)), c.closing);
}

INSTANTIATE_TEST_SUITE_P(
    Table, Comparison,
    testing::Values(
        comparison_case{"all_equal",
                        1000,
                        1000,
                        {},
                        0,
                        "histogram: 0:201\n"
                        "summary: 0 of 201 entries differ by more than 0 LSB; largest 0 LSB at "
                        "index 0; mean 0.000 LSB, rms 0.000 LSB, snr inf dB\n"
                        "verdict: pass\n"},
        comparison_case{"one_up",
                        1000,
                        1000,
                        {{7, 1000, 1001}},
                        0,
                        "histogram: 0:200 1:1\n"
                        "summary: 1 of 201 entries differ by more than 0 LSB; largest 1 LSB at "
                        "index 7; mean 0.005 LSB, rms 0.071 LSB, snr 83.03 dB\n"
                        "verdict: fail: 1 entry beyond 0 LSB\n"},
        comparison_case{"one_down_at_the_end",
                        1000,
                        1000,
                        {{200, 1000, 999}},
                        0,
                        "histogram: -1:1 0:200\n"
                        "summary: 1 of 201 entries differ by more than 0 LSB; largest -1 LSB at "
                        "index 200; mean -0.005 LSB, rms 0.071 LSB, snr 83.03 dB\n"
                        "verdict: fail: 1 entry beyond 0 LSB\n"},
        // -1 and 4095, -2048 and 2048: the same 12-bit patterns.
        comparison_case{"signed_and_unsigned_forms",
                        -1,
                        4095,
                        {{0, -2048, 2048}},
                        0,
                        "histogram: 0:201\n"
                        "summary: 0 of 201 entries differ by more than 0 LSB; largest 0 LSB at "
                        "index 0; mean 0.000 LSB, rms 0.000 LSB, snr inf dB\n"
                        "verdict: pass\n"},
        // An overflow that wrapped is the largest difference there is, not 1.
        comparison_case{"wrapped_from_largest_to_smallest",
                        1000,
                        1000,
                        {{3, 2047, 2048}},
                        0,
                        "histogram: -4095:1 0:200\n"
                        "summary: 1 of 201 entries differ by more than 0 LSB; largest -4095 LSB "
                        "at index 3; mean -20.373 LSB, rms 288.839 LSB, snr 10.86 dB\n"
                        "verdict: fail: 1 entry beyond 0 LSB\n"},
        comparison_case{"wrapped_from_smallest_to_largest",
                        1000,
                        1000,
                        {{3, 2048, 2047}},
                        0,
                        "histogram: 0:200 4095:1\n"
                        "summary: 1 of 201 entries differ by more than 0 LSB; largest 4095 LSB at "
                        "index 3; mean 20.373 LSB, rms 288.839 LSB, snr 10.86 dB\n"
                        "verdict: fail: 1 entry beyond 0 LSB\n"},
        comparison_case{"model_all_zero",
                        0,
                        0,
                        {{5, 0, 3}},
                        0,
                        "histogram: 0:200 3:1\n"
                        "summary: 1 of 201 entries differ by more than 0 LSB; largest 3 LSB at "
                        "index 5; mean 0.015 LSB, rms 0.212 LSB, snr -inf dB\n"
                        "verdict: fail: 1 entry beyond 0 LSB\n"},
        // Both all zeros agree: an infinite SNR, not -inf.
        comparison_case{"both_all_zero",
                        0,
                        0,
                        {},
                        0,
                        "histogram: 0:201\n"
                        "summary: 0 of 201 entries differ by more than 0 LSB; largest 0 LSB at "
                        "index 0; mean 0.000 LSB, rms 0.000 LSB, snr inf dB\n"
                        "verdict: pass\n"},
        comparison_case{"tolerance_at_the_largest",
                        1000,
                        1000,
                        {{10, 1000, 993}, {20, 1000, 1005}},
                        7,
                        "histogram: -7:1 0:199 5:1\n"
                        "summary: 0 of 201 entries differ by more than 7 LSB; largest -7 LSB at "
                        "index 10; mean -0.010 LSB, rms 0.607 LSB, snr 64.34 dB\n"
                        "verdict: pass\n"},
        comparison_case{"tolerance_one_below_the_largest",
                        1000,
                        1000,
                        {{10, 1000, 993}, {20, 1000, 1005}},
                        6,
                        "histogram: -7:1 0:199 5:1\n"
                        "summary: 1 of 201 entries differ by more than 6 LSB; largest -7 LSB at "
                        "index 10; mean -0.010 LSB, rms 0.607 LSB, snr 64.34 dB\n"
                        "verdict: fail: 1 entry beyond 6 LSB\n"},
        // The widest tolerance there is lets even a wrap pass.
        comparison_case{"tolerance_4095",
                        1000,
                        1000,
                        {{3, 2047, 2048}},
                        4095,
                        "histogram: -4095:1 0:200\n"
                        "summary: 0 of 201 entries differ by more than 4095 LSB; largest -4095 "
                        "LSB at index 3; mean -20.373 LSB, rms 288.839 LSB, snr 10.86 dB\n"
                        "verdict: pass\n"},
        // Equal magnitudes: the first index wins, whatever the sign.
        comparison_case{"largest_magnitude_twice",
                        1000,
                        1000,
                        {{4, 1000, 1003}, {9, 1000, 997}},
                        0,
                        "histogram: -3:1 0:199 3:1\n"
                        "summary: 2 of 201 entries differ by more than 0 LSB; largest 3 LSB at "
                        "index 4; mean 0.000 LSB, rms 0.299 LSB, snr 70.48 dB\n"
                        "verdict: fail: 2 entries beyond 0 LSB\n"}));

struct snr_case {
  const char* edge;
  std::uint64_t tolerance;
  std::optional<double> min_snr_db;
  const char* summary_end;
  const char* verdict;
};

void PrintTo(const snr_case& c, std::ostream* os) { *os << c.edge; }

class MinimumSnr : public testing::TestWithParam<snr_case> {};

// 201 entries of 1000 against one of 1001: 83.0319... dB.
TEST_P(MinimumSnr, ReasonsOnTheVerdictLine) {
  const snr_case& c = GetParam();
  std::vector<std::int64_t> model(201, 1000);
  std::vector<std::int64_t> implementation = model;
  implementation[7] = 1001;
  const std::string text = closing(compare(model, implementation, c.tolerance), c.min_snr_db);
  const std::size_t verdict = text.find("verdict:");
  EXPECT_EQ(text.substr(verdict), c.verdict);
  const std::string summary = text.substr(0, verdict - 1);
  EXPECT_TRUE(summary.ends_with(c.summary_end)) << summary;
}

INSTANTIATE_TEST_SUITE_P(
    Table, MinimumSnr,
    testing::Values(
        snr_case{"no_minimum", 1, std::nullopt, "snr 83.03 dB", "verdict: pass\n"},
        snr_case{"below", 1, 83.02, "snr 83.03 dB (minimum 83.02 dB)", "verdict: pass\n"},
        snr_case{"above", 1, 84, "snr 83.03 dB (minimum 84 dB)",
                 "verdict: fail: snr 83.03 dB below 84 dB\n"},
        // 83.0319 shows as 83.03 in the summary; the reason never shows it
        // rounded up to the minimum it misses.
        snr_case{"just_above_the_rounded_figure", 1, 83.032, "snr 83.03 dB (minimum 83.032 dB)",
                 "verdict: fail: snr 83.03 dB below 83.032 dB\n"},
        snr_case{"rounds_up_to_it", 1, 83.0325, "snr 83.03 dB (minimum 83.0325 dB)",
                 "verdict: fail: snr 83.03 dB below 83.0325 dB\n"},
        snr_case{"both_reasons", 0, 90, "snr 83.03 dB (minimum 90 dB)",
                 "verdict: fail: 1 entry beyond 0 LSB; snr 83.03 dB below 90 dB\n"}));

TEST(MinimumSnrEdges, EqualPassesAndInfinitiesAreOrdered) {
  std::vector<std::int64_t> model(201, 1000);
  std::vector<std::int64_t> implementation = model;
  implementation[7] = 1001;
  const accumulator one_off = compare(model, implementation, 1);
  EXPECT_TRUE(decimal::fail_reasons(one_off, one_off.snr_db()).empty())
      << "an SNR equal to the minimum passes";
  const accumulator same = compare(model, model, 0);
  EXPECT_EQ(same.snr_db(), std::numeric_limits<double>::infinity());
  EXPECT_TRUE(decimal::fail_reasons(same, 1e300).empty());
  const accumulator zeros = compare(std::vector<std::int64_t>(201, 0), implementation, 4095);
  EXPECT_EQ(zeros.snr_db(), -std::numeric_limits<double>::infinity());
  // A negative SNR of -6.0206 dB shows as -6.02, the minimum it misses: -6.03.
  const accumulator worse = compare({1}, {3}, 2);
  EXPECT_EQ(decimal::fail_reasons(worse, -6.02),
            std::vector<std::string>{"snr -6.03 dB below -6.02 dB"});
  EXPECT_EQ(decimal::fail_reasons(worse, -6.01),
            std::vector<std::string>{"snr -6.02 dB below -6.01 dB"});
  EXPECT_TRUE(decimal::fail_reasons(worse, -6.03).empty());
  EXPECT_EQ(decimal::fail_reasons(zeros, -1e6),
            std::vector<std::string>{"snr -inf dB below -1000000 dB"})
      << "a minimum in the form it was given, never an exponent";
}

struct line_case {
  q_format format;
  std::int64_t model;
  std::int64_t implementation;
  const char* line;
};

void PrintTo(const line_case& c, std::ostream* os) { *os << c.line; }

class EntryLine : public testing::TestWithParam<line_case> {};

TEST_P(EntryLine, ReportLineWithItsDifference) {
  const line_case& c = GetParam();
  std::array<char, decimal::max_entry_line> buffer;
  char* end = decimal::render_entry_line(
      buffer.data(), c.format, 113, c.model, c.implementation, -2147483648,
      decimal::lsb_difference(c.format, c.model, c.implementation));
  EXPECT_EQ(std::string(buffer.data(), end), c.line);
}

INSTANTIATE_TEST_SUITE_P(
    Table, EntryLine,
    testing::Values(
        // decimal's line, byte for byte, with the difference.
        line_case{{},
                  1093,
                  1086,
                  "index:113, res_m:0.533691, res_c:0.530273, samp:-2147483648, diff:-7\n"},
        line_case{{},
                  0,
                  2048,
                  "index:113, res_m:0.000000, res_c:-1.000000, samp:-2147483648, diff:-2048\n"},
        // Ten digits tell neighbouring Q1.31 codes apart; six would not.
        line_case{{1, 31},
                  2147483647,
                  2147483646,
                  "index:113, res_m:0.9999999995, res_c:0.9999999991, samp:-2147483648, "
                  "diff:-1\n"},
        line_case{{32, 0},
                  2147483647,
                  2147483648,
                  "index:113, res_m:2147483647.000000, res_c:-2147483648.000000, "
                  "samp:-2147483648, diff:-4294967295\n"},
        line_case{{4, 12},
                  -32768,
                  32767,
                  "index:113, res_m:-8.000000, res_c:7.999756, samp:-2147483648, diff:65535\n"}));

// The histogram lists each difference while there are at most 64 of them,
// and power-of-two magnitude bins past that.
TEST(Histogram, SwitchesToMagnitudeBinsPast64Differences) {
  for (const int distinct : {64, 65}) {
    SCOPED_TRACE(distinct);
    std::vector<std::int64_t> model;
    std::vector<std::int64_t> implementation;
    // -40 .. distinct-41: small ones counted in place and others apart, in turn.
    for (int d = -40; d < distinct - 40; ++d) {
      model.push_back(1000);
      implementation.push_back(1000 + d);
    }
    model.push_back(1000);
    implementation.push_back(1000);  // a second 0
    const accumulator figures = compare(model, implementation, 4095);
    const std::vector<decimal::histogram_bin> bins = figures.histogram().bins();
    if (distinct == 64) {
      ASSERT_EQ(bins.size(), 64U);
      EXPECT_EQ(bins.front(), (decimal::histogram_bin{-40, -40, 1}));
      EXPECT_EQ(bins[40], (decimal::histogram_bin{0, 0, 2}));
      EXPECT_EQ(bins.back(), (decimal::histogram_bin{23, 23, 1}));
    } else {
      EXPECT_EQ(closing(figures).substr(0, closing(figures).find('\n')),
                "histogram: -63..-32:9 -31..-16:16 -15..-8:8 -7..-4:4 -3..-2:2 -1:1 0:2 1:1 "
                "2..3:2 4..7:4 8..15:8 16..31:9");
    }
  }
}

// A late difference that makes the 65th, and one after the switch, both land in bins.
TEST(Histogram, SwitchMidwayKeepsEveryCount) {
  std::vector<std::int64_t> model(200, 0);
  std::vector<std::int64_t> implementation(200);
  for (std::size_t i = 0; i < implementation.size(); ++i) {
    implementation[i] = static_cast<std::int64_t>(i % 70 * 29);
  }
  const accumulator figures = compare(model, implementation, 4095);
  std::uint64_t total = 0;
  for (const auto& bin : figures.histogram().bins()) total += bin.count;
  EXPECT_FALSE(figures.histogram().exact());
  EXPECT_EQ(total, 200U);
  EXPECT_EQ(figures.histogram().bins().back(), (decimal::histogram_bin{1024, 2047, 92}));
}

// Sums at the extremes lose no bit: squares of 2^32 - 1, and the narrow sums
// of formats up to 24 bits over more entries than one of their blocks.
TEST(Accumulator, SumsAtExtremeValuesAreExact) {
  const q_format q32{32, 0};
  accumulator wide(q32, 0);
  const std::uint64_t top = 4294967295;  // 2^32 - 1
  const decimal::uint128 square = decimal::uint128{top} * top;
  // As if 2^32 - 1 entries of the largest difference had gone before.
  wide.resume(top, decimal::int128{top} * top, square * top, 0);
  const std::int64_t difference = wide.add(2147483647, 2147483648);
  EXPECT_EQ(difference, -static_cast<std::int64_t>(top));
  EXPECT_EQ(wide.entries(), std::uint64_t{1} << 32);
  EXPECT_TRUE(wide.sum_of_squares() == square * (decimal::uint128{1} << 32));
  EXPECT_TRUE(wide.sum() == decimal::int128{top} * top - top);
  EXPECT_TRUE(wide.model_energy() == decimal::uint128{2147483647} * 2147483647);

  const q_format q24{24, 0};
  const std::size_t n = std::size_t{1} << 17;
  const accumulator narrow = compare(std::vector<std::int64_t>(n, 8388607),
                                     std::vector<std::int64_t>(n, -8388608), 0, q24);
  const decimal::uint128 d = 16777215;  // 2^24 - 1
  EXPECT_TRUE(narrow.sum_of_squares() == d * d * n);
  EXPECT_TRUE(narrow.model_energy() == decimal::uint128{8388607} * 8388607 * n);
  EXPECT_EQ(narrow.mean(), -16777215.0);
  EXPECT_EQ(narrow.rms(), 16777215.0);
}

// Formats of 25 to 32 bits, whose squares pass 2^49: sums over more entries
// than 2^15 stay exact.
// The largest difference is the first of its magnitude, whichever sign,
// within a block and across blocks added in turn; before any difference it
// is at the first entry known in both.
TEST(Accumulator, LargestIsTheFirstOfItsMagnitude) {
  for (const q_format q : {q_format{}, q_format{1, 31}}) {
    accumulator figures(q, 0, 10);
    std::vector<std::int64_t> differences(4);
    const std::vector<std::int64_t> model = {5, 5, 5, 5};
    figures.add_unknown();
    figures.add(model, std::vector<std::int64_t>{5, 5, 5, 5}, differences);
    EXPECT_EQ(figures.largest_index(), 11U) << "the first known, not the unknown at 10";
    figures.add(model, std::vector<std::int64_t>{5, 8, 2, 8}, differences);
    EXPECT_EQ(figures.largest(), 3);
    EXPECT_EQ(figures.largest_index(), 16U);
    // A later block with the same magnitude, or less, leaves it.
    figures.add(model, std::vector<std::int64_t>{2, 7, 5, 5}, differences);
    EXPECT_EQ(figures.largest(), 3);
    EXPECT_EQ(figures.largest_index(), 16U);
    figures.add(model, std::vector<std::int64_t>{5, 5, 1, 1}, differences);
    EXPECT_EQ(figures.largest(), -4);
    EXPECT_EQ(figures.largest_index(), 25U);
  }
}

TEST(Accumulator, WideSumsOverManyEntriesAreExact) {
  const std::size_t n = (std::size_t{1} << 15) + 3;
  for (const int width : {25, 32}) {
    const q_format q{1, width - 1};
    const std::int64_t highest = (std::int64_t{1} << (width - 1)) - 1;  // the signed extremes
    const std::int64_t lowest = -highest - 1;
    const accumulator figures =
        compare(std::vector<std::int64_t>(n, highest), std::vector<std::int64_t>(n, lowest), 0, q);
    const decimal::uint128 d = static_cast<std::uint64_t>(highest - lowest);  // 2^W - 1
    EXPECT_TRUE(figures.sum_of_squares() == d * d * n) << width;
    EXPECT_TRUE(figures.model_energy() == decimal::uint128{static_cast<std::uint64_t>(highest)} *
                                              static_cast<std::uint64_t>(highest) * n)
        << width;
    EXPECT_EQ(figures.mean(), -static_cast<double>(highest - lowest)) << width;
    EXPECT_EQ(figures.largest(), lowest - highest) << width;
  }
}

}  // namespace
