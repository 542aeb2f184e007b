#include "decimal/comparison.hpp"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <stdexcept>
#include <string_view>

#include "decimal/fixed_point.hpp"
#include "decimal/report.hpp"

namespace decimal {
int lsb_value(std::int32_t raw) {
  return static_cast<int>(static_cast<std::int32_t>(static_cast<std::uint32_t>(raw) << 20) >> 20);
}

int lsb_difference(std::int32_t res_m, std::int32_t res_c) {
  return lsb_value(res_c) - lsb_value(res_m);
}

comparison compare_results(const raw_table& res_m, const raw_table& res_c, int tolerance) {
  if (tolerance < 0 || tolerance > max_lsb_difference) {
    throw std::invalid_argument("compare_results: tolerance must be 0 to 4095");
  }
  comparison result{};
  result.tolerance = tolerance;
  // Sums of integers below 2^32 each: exact in 64 bits.
  std::int64_t sum = 0;
  std::int64_t sum_of_squares = 0;
  std::int64_t model_energy = 0;
  for (std::size_t i = 0; i < entry_count; ++i) {
    const int d = lsb_difference(res_m[i], res_c[i]);
    result.differences[i] = d;
    if (std::abs(d) > tolerance) ++result.beyond_tolerance;
    if (std::abs(d) > std::abs(result.largest)) {
      result.largest = d;
      result.largest_index = i;
    }
    sum += d;
    sum_of_squares += std::int64_t{d} * d;
    model_energy += std::int64_t{lsb_value(res_m[i])} * lsb_value(res_m[i]);
  }
  const auto count = static_cast<double>(entry_count);
  result.mean = static_cast<double>(sum) / count;
  result.rms = std::sqrt(static_cast<double>(sum_of_squares) / count);
  if (sum_of_squares == 0) {
    result.snr_db = std::numeric_limits<double>::infinity();
  } else if (model_energy == 0) {
    result.snr_db = -std::numeric_limits<double>::infinity();
  } else {
    result.snr_db =
        10 * std::log10(static_cast<double>(model_energy) / static_cast<double>(sum_of_squares));
  }

  std::array<int, entry_count> sorted = result.differences;
  std::sort(sorted.begin(), sorted.end());
  for (const int d : sorted) {
    if (result.histogram.empty() || result.histogram.back().difference != d) {
      result.histogram.push_back({d, 0});
    }
    ++result.histogram.back().count;
  }
  return result;
}

bool passes(const comparison& result, std::optional<double> min_snr_db) {
  return result.beyond_tolerance == 0 && !(min_snr_db && result.snr_db < *min_snr_db);
}

std::string summary_figures(const comparison& result) {
  std::array<char, 256> text;
  const int n = std::snprintf(
      text.data(), text.size(),
      "%zu of %zu entries differ by more than %d LSB; largest %d LSB at index %zu; mean %.3f "
      "LSB, rms %.3f LSB, snr %.2f dB",
      result.beyond_tolerance, entry_count, result.tolerance, result.largest, result.largest_index,
      result.mean, result.rms, result.snr_db);
  return std::string(text.data(), static_cast<std::size_t>(n));
}

std::string render_verdict(const run_files& files, const comparison& result, bool pass) {
  std::string out;
  std::array<char, max_report_line + 32> line;
  for (std::size_t i = 0; i < entry_count; ++i) {
    const int d = result.differences[i];
    if (std::abs(d) <= result.tolerance) continue;
    char* end = render_report_fields(line.data(), i, to_fixed(files.results_m[i], result_width),
                                     to_fixed(files.results_c[i], result_width), files.samples[i]);
    constexpr std::string_view label = ", diff:";
    end = std::copy(label.begin(), label.end(), end);
    end = std::to_chars(end, line.data() + line.size(), d).ptr;
    *end++ = '\n';
    out.append(line.data(), end);
  }
  out += "histogram:";
  for (const histogram_bin& bin : result.histogram) {
    out += ' ' + std::to_string(bin.difference) + ':' + std::to_string(bin.count);
  }
  out += "\nsummary: " + summary_figures(result) + '\n';
  out += pass ? "verdict: pass\n" : "verdict: fail\n";
  return out;
}

}  // namespace decimal
