#include "decimal/comparison.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <string>
#include <vector>

#include "decimal/fixed_point.hpp"

namespace {

using decimal::raw_table;

struct changed_entry {
  std::size_t index;
  std::int32_t model;
  std::int32_t implementation;
};

struct comparison_case {
  const char* edge;
  std::int32_t model;           // every model entry but the changed ones
  std::int32_t implementation;  // every implementation entry but the changed ones
  std::vector<changed_entry> changed;
  int tolerance;
  int largest;
  std::size_t largest_index;
  const char* histogram;
  const char* summary;
  bool pass;
};

void PrintTo(const comparison_case& c, std::ostream* os) { *os << c.edge; }

class Comparison : public testing::TestWithParam<comparison_case> {};

TEST_P(Comparison, ExactFigures) {
  const comparison_case& c = GetParam();
  raw_table model;
  raw_table implementation;
  model.fill(c.model);
  implementation.fill(c.implementation);
  for (const changed_entry& entry : c.changed) {
    model[entry.index] = entry.model;
    implementation[entry.index] = entry.implementation;
  }
  const decimal::comparison result = decimal::compare_results(model, implementation, c.tolerance);
  EXPECT_EQ(result.largest, c.largest);
  EXPECT_EQ(result.largest_index, c.largest_index);
  EXPECT_EQ(decimal::passes(result, std::nullopt), c.pass);

  // The lines that close decimal-diff's output.
  const decimal::run_files files{raw_table{}, model, implementation};
  const std::string verdict = decimal::render_verdict(files, result, c.pass);
  const std::string tail = std::string(c.histogram) + "\n" + c.summary + "\n" +
                           (c.pass ? "verdict: pass\n" : "verdict: fail\n");
  ASSERT_GE(verdict.size(), tail.size());
  EXPECT_EQ(verdict.substr(verdict.size() - tail.size()), tail);
}

INSTANTIATE_TEST_SUITE_P(
    Table, Comparison,
    testing::Values(
        comparison_case{"all_equal",
                        1000,
                        1000,
                        {},
                        0,
                        0,
                        0,
                        "histogram: 0:201",
                        "summary: 0 of 201 entries differ by more than 0 LSB; largest 0 LSB at "
                        "index 0; mean 0.000 LSB, rms 0.000 LSB, snr inf dB",
                        true},
        comparison_case{"one_up",
                        1000,
                        1000,
                        {{7, 1000, 1001}},
                        0,
                        1,
                        7,
                        "histogram: 0:200 1:1",
                        "summary: 1 of 201 entries differ by more than 0 LSB; largest 1 LSB at "
                        "index 7; mean 0.005 LSB, rms 0.071 LSB, snr 83.03 dB",
                        false},
        comparison_case{"one_down_at_the_end",
                        1000,
                        1000,
                        {{200, 1000, 999}},
                        0,
                        -1,
                        200,
                        "histogram: -1:1 0:200",
                        "summary: 1 of 201 entries differ by more than 0 LSB; largest -1 LSB at "
                        "index 200; mean -0.005 LSB, rms 0.071 LSB, snr 83.03 dB",
                        false},
        // -1 and 4095, -2048 and 2048, 2047 and -2049: the same low 12 bits.
        comparison_case{"signed_and_unsigned_forms",
                        -1,
                        4095,
                        {{0, -2048, 2048}, {1, 2047, -2049}},
                        0,
                        0,
                        0,
                        "histogram: 0:201",
                        "summary: 0 of 201 entries differ by more than 0 LSB; largest 0 LSB at "
                        "index 0; mean 0.000 LSB, rms 0.000 LSB, snr inf dB",
                        true},
        // An overflow that wrapped is the largest difference there is, not 1.
        comparison_case{"wrapped_from_largest_to_smallest",
                        1000,
                        1000,
                        {{3, 2047, 2048}},
                        0,
                        -4095,
                        3,
                        "histogram: -4095:1 0:200",
                        "summary: 1 of 201 entries differ by more than 0 LSB; largest -4095 LSB at "
                        "index 3; mean -20.373 LSB, rms 288.839 LSB, snr 10.86 dB",
                        false},
        comparison_case{"wrapped_from_smallest_to_largest",
                        1000,
                        1000,
                        {{3, 2048, 2047}},
                        0,
                        4095,
                        3,
                        "histogram: 0:200 4095:1",
                        "summary: 1 of 201 entries differ by more than 0 LSB; largest 4095 LSB at "
                        "index 3; mean 20.373 LSB, rms 288.839 LSB, snr 10.86 dB",
                        false},
        comparison_case{"model_all_zero",
                        0,
                        0,
                        {{5, 0, 3}},
                        0,
                        3,
                        5,
                        "histogram: 0:200 3:1",
                        "summary: 1 of 201 entries differ by more than 0 LSB; largest 3 LSB at "
                        "index 5; mean 0.015 LSB, rms 0.212 LSB, snr -inf dB",
                        false},
        comparison_case{"tolerance_at_the_largest",
                        1000,
                        1000,
                        {{10, 1000, 993}, {20, 1000, 1005}},
                        7,
                        -7,
                        10,
                        "histogram: -7:1 0:199 5:1",
                        "summary: 0 of 201 entries differ by more than 7 LSB; largest -7 LSB at "
                        "index 10; mean -0.010 LSB, rms 0.607 LSB, snr 64.34 dB",
                        true},
        comparison_case{"tolerance_one_below_the_largest",
                        1000,
                        1000,
                        {{10, 1000, 993}, {20, 1000, 1005}},
                        6,
                        -7,
                        10,
                        "histogram: -7:1 0:199 5:1",
                        "summary: 1 of 201 entries differ by more than 6 LSB; largest -7 LSB at "
                        "index 10; mean -0.010 LSB, rms 0.607 LSB, snr 64.34 dB",
                        false},
        // Equal magnitudes: the first index wins, whatever the sign.
        comparison_case{"largest_magnitude_twice",
                        1000,
                        1000,
                        {{4, 1000, 1003}, {9, 1000, 997}},
                        0,
                        3,
                        4,
                        "histogram: -3:1 0:199 3:1",
                        "summary: 2 of 201 entries differ by more than 0 LSB; largest 3 LSB at "
                        "index 4; mean 0.000 LSB, rms 0.299 LSB, snr 70.48 dB",
                        false}));

// The difference is exactly the difference of the converted values, in LSB,
// over a spread of raw values, signed, unsigned and beyond 12 bits.
TEST(Comparison, DifferenceIsTheRealDifferenceTimes2048) {
  for (std::int32_t m = -2048; m < 2048 * 3; m += 7) {
    for (std::int32_t c = -4096; c < 4096; c += 13) {
      const int d = decimal::lsb_difference(m, c);
      ASSERT_LE(std::abs(d), decimal::max_lsb_difference);
      ASSERT_EQ(static_cast<double>(d),
                (decimal::to_fixed(c, 12) - decimal::to_fixed(m, 12)) * 2048)
          << m << ' ' << c;
    }
  }
}

TEST(Comparison, MinimumSnr) {
  raw_table model;
  model.fill(1000);
  raw_table implementation = model;
  EXPECT_TRUE(decimal::passes(decimal::compare_results(model, implementation, 0), 1e300))
      << "bit-exact: an infinite SNR";
  implementation[7] = 1001;
  const decimal::comparison one_off = decimal::compare_results(model, implementation, 1);
  EXPECT_TRUE(decimal::passes(one_off, std::nullopt));
  EXPECT_TRUE(decimal::passes(one_off, 83.03));  // 83.0319...
  EXPECT_FALSE(decimal::passes(one_off, 83.04));
  model.fill(0);
  EXPECT_FALSE(decimal::passes(decimal::compare_results(model, implementation, 4095), -1e300))
      << "a model of zeros against anything else: -inf";
}

TEST(Comparison, LinesBeyondTheToleranceAreReportLinesWithTheirDifference) {
  raw_table samples{};
  samples[113] = 742;
  raw_table model{};
  raw_table implementation{};
  model[113] = 1093;
  implementation[113] = 1086;
  implementation[200] = -2048;
  const decimal::comparison result = decimal::compare_results(model, implementation, 6);
  const std::string verdict =
      decimal::render_verdict({samples, model, implementation}, result, false);
  EXPECT_EQ(verdict.substr(0, verdict.find("histogram:")),
            "index:113, res_m:0.533691, res_c:0.530273, samp:742, diff:-7\n"
            "index:200, res_m:0.000000, res_c:-1.000000, samp:0, diff:-2048\n");
}

TEST(Comparison, ToleranceOutsideItsRangeIsRefused) {
  EXPECT_THROW(decimal::compare_results(raw_table{}, raw_table{}, -1), std::invalid_argument);
  EXPECT_THROW(decimal::compare_results(raw_table{}, raw_table{}, 4096), std::invalid_argument);
}

}  // namespace
