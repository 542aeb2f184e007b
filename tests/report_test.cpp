#include "decimal/report.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <thread>

#include "decimal/fixed_point.hpp"

namespace {

using decimal::entry_count;
using decimal::raw_table;
using decimal::real_table;

// The line as the C library's printf writes it: the definition of the format.
std::string printf_line(std::size_t index, double m, double c, std::int32_t sample) {
  std::array<char, 128> line;
  const int n = std::snprintf(line.data(), line.size(), "index:%zu, res_m:%f, res_c:%f, samp:%d\n",
                              index, m, c, sample);
  return std::string(line.data(), static_cast<std::size_t>(n));
}

std::string render(const raw_table& samples, const real_table& m, const real_table& c) {
  decimal::report_buffer buffer;
  return std::string(decimal::render_report(samples, m, c, buffer));
}

TEST(Report, FirstLineOfTheFormat) {
  raw_table samples{};
  raw_table m{};
  raw_table c{};
  samples[0] = 37;
  m[0] = 1024;
  c[0] = 4095;
  const std::string report =
      render(samples, decimal::convert_results(m), decimal::convert_results(c));
  EXPECT_EQ(report.substr(0, report.find('\n') + 1),
            "index:0, res_m:0.500000, res_c:-0.000488, samp:37\n");
  EXPECT_EQ(report.substr(report.rfind('\n', report.size() - 2) + 1),
            "index:200, res_m:0.000000, res_c:0.000000, samp:0\n");
}

TEST(Report, RoundsHalfwayCasesToEven) {
  raw_table raw{};
  raw[0] = 16;  // 0.0078125
  raw[1] = 48;  // 0.0234375
  raw[2] = -16;
  const std::string report =
      render(raw, decimal::convert_results(raw), decimal::convert_results(raw));
  EXPECT_NE(report.find("index:0, res_m:0.007812, res_c:0.007812, samp:16\n"), std::string::npos);
  EXPECT_NE(report.find("index:1, res_m:0.023438, res_c:0.023438, samp:48\n"), std::string::npos);
  EXPECT_NE(report.find("index:2, res_m:-0.007812, res_c:-0.007812, samp:-16\n"),
            std::string::npos);
}

// Every Q1.11 value, in both columns, and samples at the int32 extremes,
// matches printf byte for byte.
TEST(Report, MatchesPrintfForEveryTwelveBitValue) {
  for (std::int32_t first = 0; first < 4096; first += static_cast<std::int32_t>(entry_count)) {
    raw_table samples;
    raw_table m;
    raw_table c;
    for (std::size_t i = 0; i < entry_count; ++i) {
      const auto k = static_cast<std::int32_t>(i);
      m[i] = (first + k) & 0xfff;
      c[i] = 4095 - m[i];
      samples[i] = k % 2 == 0 ? INT32_MIN + k : INT32_MAX - k;
    }
    const real_table real_m = decimal::convert_results(m);
    const real_table real_c = decimal::convert_results(c);
    std::string expected;
    for (std::size_t i = 0; i < entry_count; ++i) {
      expected += printf_line(i, real_m[i], real_c[i], samples[i]);
    }
    ASSERT_EQ(render(samples, real_m, real_c), expected) << "from pattern " << first;
  }
}

// Every line at its longest: a buffer bound that is too small fails here (and
// AddressSanitizer sees the overflow).
TEST(Report, LongestReportFitsItsBuffer) {
  raw_table samples;
  samples.fill(INT32_MIN);
  real_table results;
  results.fill(-1.0);
  std::string expected;
  for (std::size_t i = 0; i < entry_count; ++i) {
    expected += printf_line(i, -1.0, -1.0, INT32_MIN);
  }
  const std::string report = render(samples, results, results);
  EXPECT_EQ(report, expected);
  EXPECT_LE(report.size(), sizeof(decimal::report_buffer));
}

// A non-blocking pipe that holds less than the report takes it in pieces.
TEST(Report, WriteAllDeliversEveryPiece) {
  raw_table samples;
  samples.fill(INT32_MIN);
  real_table results;
  results.fill(-1.0);
  const std::string report = render(samples, results, results);
  std::array<int, 2> pipe_ends{};
  ASSERT_EQ(pipe2(pipe_ends.data(), O_CLOEXEC), 0);
  ASSERT_GE(fcntl(pipe_ends[1], F_SETPIPE_SZ, 4096), 0);
  ASSERT_LT(fcntl(pipe_ends[1], F_GETPIPE_SZ), static_cast<int>(report.size()));
  ASSERT_EQ(fcntl(pipe_ends[1], F_SETFL, O_NONBLOCK), 0);
  std::string received;
  std::thread reader([&] {
    std::array<char, 1000> piece;
    for (ssize_t n; (n = read(pipe_ends[0], piece.data(), piece.size())) > 0;) {
      received.append(piece.data(), static_cast<std::size_t>(n));
      std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
  });
  EXPECT_NO_THROW(decimal::write_all(pipe_ends[1], report));
  close(pipe_ends[1]);
  reader.join();
  close(pipe_ends[0]);
  EXPECT_EQ(received, report);
}

TEST(Report, RejectsValuesNoConversionGives) {
  real_table m{};
  for (const double bad : {1.5, -2.0, 1e300, std::numeric_limits<double>::quiet_NaN(),
                           std::nextafter(1.0, 2.0), std::nextafter(-1.0, -2.0)}) {
    m[200] = bad;
    EXPECT_THROW(render(raw_table{}, m, real_table{}), std::out_of_range);
  }
  // The range's ends themselves are values.
  for (const double edge : {1.0, -1.0}) {
    m[200] = edge;
    EXPECT_NO_THROW(render(raw_table{}, m, real_table{})) << edge;
  }
}

}  // namespace
