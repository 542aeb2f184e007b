#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "decimal/value_file.hpp"

namespace decimal {

// A difference in least significant bits of Q1.11 runs from -4095 to 4095.
inline constexpr int max_lsb_difference = 4095;

// A raw result in LSB: its low 12 bits as a signed integer, -2048 to 2047.
int lsb_value(std::int32_t raw);

// The difference of one entry in LSB: the low 12 bits of `res_c` and of
// `res_m`, each read as a signed 12-bit integer, subtracted. It is
// (to_fixed(res_c, 12) - to_fixed(res_m, 12)) * 2048 exactly.
int lsb_difference(std::int32_t res_m, std::int32_t res_c);

struct histogram_bin {
  int difference;
  std::size_t count;

  bool operator==(const histogram_bin&) const = default;
};

// How the implementation's results differ from the model's.
struct comparison {
  std::array<int, entry_count> differences;
  int tolerance;                         // in LSB
  std::size_t beyond_tolerance;          // entries with |difference| > tolerance
  int largest;                           // the difference of largest magnitude, 0 when all agree
  std::size_t largest_index;             // the first entry where it occurs, 0 when all agree
  double mean;                           // of the differences, in LSB
  double rms;                            // root of the mean of their squares, in LSB
  double snr_db;                         // 10 log10(sum of model^2 / sum of difference^2);
                                         // +inf when all agree, -inf when only the model is all 0
  std::vector<histogram_bin> histogram;  // every difference that occurs, ascending
};

// Compares raw results entry by entry; `tolerance` must lie in 0..max_lsb_difference.
comparison compare_results(const raw_table& res_m, const raw_table& res_c, int tolerance);

// Every entry within the tolerance and, when given, the SNR not below `min_snr_db`.
bool passes(const comparison& result, std::optional<double> min_snr_db);

// The verdict as decimal-diff prints it: the report line of each entry beyond
// the tolerance with ", diff:D" appended, then the histogram, the summary and
// "verdict: pass" or "verdict: fail" lines.
std::string render_verdict(const run_files& files, const comparison& result, bool pass);

// "B of 201 entries differ by more than N LSB; largest D LSB at index I; mean
// M LSB, rms R LSB, snr S dB", the summary's figures without a line feed.
std::string summary_figures(const comparison& result);

}  // namespace decimal
