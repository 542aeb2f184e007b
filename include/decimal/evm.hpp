#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "decimal/accumulator.hpp"
#include "decimal/channel_layout.hpp"

namespace decimal {

// The error vector magnitude of a complex run, as ratios to the reference
// amplitude (the square root of the model's average or peak power).
struct evm_figures {
  std::uint64_t frames = 0;  // known in both parts of both files
  evm_reference reference = evm_reference::average;
  double rms = 0;
  double peak = 0;
  std::uint64_t peak_index = 0;  // the first frame where the peak occurs
  // The 95th percentile of the frames' EVM (nearest rank): the largest
  // magnitude of its bin of the magnitudes' histogram, so exact where a bin
  // holds a single magnitude (every |error| below 16 LSB in whole LSB) and
  // otherwise at most evm_percentile_resolution above the true one.
  double percentile_95 = 0;
  bool reference_zero = false;  // the model is all zeros: any error is an infinite EVM
  // Frames whose error's magnitude lies beyond the tolerance (circle).
  std::uint64_t beyond_circle = 0;
  std::optional<std::uint64_t> first_beyond_circle{};
  // The rms EVM's ratio of powers, for exact comparisons with a limit: the
  // error's energy over the reference power times the frames.
  long double error_energy = 0;
  long double reference_energy = 0;
};

inline constexpr std::int64_t narrow_evm_value = (std::int64_t{1} << 31) - 1;

// How far above the true 95th percentile the one given may be, relative to it.
inline constexpr double evm_percentile_resolution = 0.004;

// Sums a complex run's error vectors frame by frame, in bounded memory: the
// magnitudes' percentile comes from a histogram of 128 bins an octave of
// |error|^2, each keeping its largest.
class evm_accumulator {
 public:
  // `tolerance`: the largest |error| in LSB that the circle allows.
  evm_accumulator(evm_reference reference, double tolerance);

  // Adds frame `index`: the model's I and Q and the errors (c - m), in whole LSB.
  // Returns whether the error lies beyond the tolerance's circle.
  bool add(std::uint64_t index, std::int64_t model_i, std::int64_t model_q, std::int64_t error_i,
           std::int64_t error_q);
  // Adds frames `first_index` on, as add() each, writing into `beyond`
  // whether each lies beyond the circle; returns whether any does. Every
  // value must lie within +-narrow_evm_value, as those of formats up to
  // 30 bits do: their squares sum in 64 bits.
  bool add_frames(std::uint64_t first_index, std::span<const std::int64_t> model_i,
                  std::span<const std::int64_t> model_q, std::span<const std::int64_t> error_i,
                  std::span<const std::int64_t> error_q, std::span<char> beyond);
  // The same with a real model's values, in LSB.
  bool add_real(std::uint64_t index, double model_i, double model_q, double error_i,
                double error_q);

  evm_figures figures() const;

 private:
  void count_magnitude(std::uint64_t index, double squared);

  evm_reference reference_;
  double tolerance_;
  std::uint64_t frames_ = 0;
  // Exact for whole LSB; a real model's in long double.
  uint128 error_energy_ = 0;
  uint128 model_energy_ = 0;
  uint128 model_peak_ = 0;
  long double real_error_energy_ = 0;
  long double real_model_energy_ = 0;
  long double real_model_peak_ = 0;
  bool real_ = false;
  double peak_squared_ = -1;
  std::uint64_t peak_index_ = 0;
  std::uint64_t beyond_ = 0;
  std::optional<std::uint64_t> first_beyond_;
  std::vector<std::uint64_t> counts_;  // by bin of |error|^2
  std::vector<double> largest_;        // the largest |error|^2 each bin has seen
};

// "evm: rms 0.84% (-41.5 dB), peak 3.1% at index 97, 95th percentile 1.6%
// (to the model's average power)", without its line feed; `index` shows a
// frame index.
std::string evm_line(const evm_figures& evm);

// Why the rms EVM fails `limit`: "evm 0.84% above 0.5%" or "evm -41.5 dB
// above -45 dB", never shown rounded to the limit; none when it meets it (at
// the limit, it does).
std::optional<std::string> evm_reason(const evm_figures& evm, const evm_limit& limit);

// A percentage with up to two decimals, as the EVM line shows it: "0.84", "3.1", "17.5".
std::string evm_percent(double ratio);

}  // namespace decimal
