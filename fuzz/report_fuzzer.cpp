// Renders reports from arbitrary tables and checks each line against the C
// library's printf, and that it reads back to the numbers it was made from.
//
// Input: one byte choosing the fixed-point width (1 to 32), then the raw
// samples, res_m and res_c as native 32-bit integers (missing ones are 0).

#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "decimal/fixed_point.hpp"
#include "decimal/report.hpp"

namespace {

using decimal::entry_count;

// Six digits after the point are within half a unit of the sixth digit; a
// little more once the printed number is itself read back as a double.
constexpr double half_unit = 0.5e-6 * (1 + 1e-9);

void check(bool condition) {
  if (!condition) std::abort();
}

// The number after `label` on `line`, which must follow it directly.
template <class T>
T field(std::string_view line, std::string_view label) {
  const std::size_t at = line.find(label);
  check(at != std::string_view::npos);
  const char* first = line.data() + at + label.size();
  T value{};
  const auto [end, error] = std::from_chars(first, line.data() + line.size(), value);
  check(error == std::errc{} && end != first);
  return value;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::int32_t width = data[0] % 32 + 1;
  std::array<std::int32_t, 3 * entry_count> raw{};
  std::memcpy(raw.data(), data + 1, std::min(size - 1, sizeof raw));

  decimal::raw_table samples{};
  decimal::real_table res_m{};
  decimal::real_table res_c{};
  for (std::size_t i = 0; i < entry_count; ++i) {
    samples[i] = raw[i];
    res_m[i] = decimal::to_fixed(raw[entry_count + i], width);
    res_c[i] = decimal::to_fixed(raw[2 * entry_count + i], width);
  }
  decimal::report_buffer buffer;
  std::string_view report = decimal::render_report(samples, res_m, res_c, buffer);

  for (std::size_t i = 0; i < entry_count; ++i) {
    const std::size_t end = report.find('\n');
    check(end != std::string_view::npos);
    const std::string_view line = report.substr(0, end + 1);
    report.remove_prefix(end + 1);

    std::array<char, 128> expected{};
    const int n =
        std::snprintf(expected.data(), expected.size(), "index:%zu, res_m:%f, res_c:%f, samp:%d\n",
                      i, res_m[i], res_c[i], samples[i]);
    check(line == std::string_view(expected.data(), static_cast<std::size_t>(n)));

    check(field<std::size_t>(line, "index:") == i);
    check(std::fabs(field<double>(line, "res_m:") - res_m[i]) <= half_unit);
    check(std::fabs(field<double>(line, "res_c:") - res_c[i]) <= half_unit);
    check(field<std::int32_t>(line, "samp:") == samples[i]);
  }
  check(report.empty());
  return 0;
}
