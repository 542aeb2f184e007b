#include "decimal/evm.hpp"

#include <algorithm>
#include <bit>
#include <cmath>

#include "decimal/display.hpp"

namespace decimal {
namespace {

// Bins of |error|^2: 0; below 2^-40; 128 to each octave up to 2^141; above.
constexpr std::uint64_t lowest_exponent = 1023 - 40;
constexpr std::uint64_t highest_exponent = 1023 + 140;
constexpr std::size_t bins_per_octave = 128;
constexpr std::size_t bin_count =
    2 + (highest_exponent - lowest_exponent + 1) * bins_per_octave + 1;

std::size_t bin_of(double squared) {
  if (squared == 0) return 0;
  const auto bits = std::bit_cast<std::uint64_t>(squared);
  const std::uint64_t exponent = bits >> 52;
  if (exponent < lowest_exponent) return 1;
  if (exponent > highest_exponent) return bin_count - 1;
  return 2 + (exponent - lowest_exponent) * bins_per_octave + ((bits >> 45) & 127);
}

uint128 square(std::int64_t n) {
  const std::uint64_t magnitude =
      n < 0 ? 0 - static_cast<std::uint64_t>(n) : static_cast<std::uint64_t>(n);
  return uint128{magnitude} * magnitude;
}

}  // namespace

evm_accumulator::evm_accumulator(evm_reference reference, double tolerance)
    : reference_(reference), tolerance_(tolerance) {}

void evm_accumulator::count_magnitude(std::uint64_t index, double squared) {
  if (counts_.empty()) {
    counts_.resize(bin_count);
    largest_.resize(bin_count);
  }
  const std::size_t bin = bin_of(squared);
  ++counts_[bin];
  if (squared > largest_[bin]) largest_[bin] = squared;
  if (squared > peak_squared_) {
    peak_squared_ = squared;
    peak_index_ = index;
  }
  ++frames_;
}

bool evm_accumulator::add(std::uint64_t index, std::int64_t model_i, std::int64_t model_q,
                          std::int64_t error_i, std::int64_t error_q) {
  const uint128 error = square(error_i) + square(error_q);
  const uint128 power = square(model_i) + square(model_q);
  error_energy_ += error;
  model_energy_ += power;
  if (power > model_peak_) model_peak_ = power;
  count_magnitude(index, static_cast<double>(error));
  // The tolerance is whole LSB here.
  const auto limit = static_cast<std::uint64_t>(tolerance_);
  if (error <= uint128{limit} * limit) return false;
  if (beyond_++ == 0) first_beyond_ = index;
  return true;
}

bool evm_accumulator::add_frames(std::uint64_t first_index, std::span<const std::int64_t> model_i,
                                 std::span<const std::int64_t> model_q,
                                 std::span<const std::int64_t> error_i,
                                 std::span<const std::int64_t> error_q, std::span<char> beyond) {
  if (counts_.empty()) {
    counts_.resize(bin_count);
    largest_.resize(bin_count);
  }
  const auto limit = static_cast<std::uint64_t>(tolerance_);
  // Beyond 2^32 LSB, no narrow error reaches the circle's edge.
  const std::uint64_t limit_squared = limit >> 32 != 0 ? UINT64_MAX : limit * limit;
  uint128 error_energy = 0;
  uint128 model_energy = 0;
  std::uint64_t model_peak = 0;
  double peak = peak_squared_;
  std::size_t peak_at = model_i.size();  // none in these frames
  std::uint64_t outside = 0;
  for (std::size_t f = 0; f < model_i.size(); ++f) {
    const auto error =
        static_cast<std::uint64_t>(error_i[f] * error_i[f] + error_q[f] * error_q[f]);
    const auto power =
        static_cast<std::uint64_t>(model_i[f] * model_i[f] + model_q[f] * model_q[f]);
    error_energy += error;
    model_energy += power;
    model_peak = std::max(model_peak, power);
    const auto squared = static_cast<double>(error);
    const std::size_t bin = bin_of(squared);
    ++counts_[bin];
    largest_[bin] = std::max(largest_[bin], squared);
    if (squared > peak) {
      peak = squared;
      peak_at = f;
    }
    const bool out = error > limit_squared;
    beyond[f] = out ? 1 : 0;
    outside += out ? 1 : 0;
  }
  error_energy_ += error_energy;
  model_energy_ += model_energy;
  if (model_peak > model_peak_) model_peak_ = model_peak;
  if (peak_at != model_i.size()) {
    peak_squared_ = peak;
    peak_index_ = first_index + peak_at;
  }
  if (outside != 0 && beyond_ == 0) {
    std::size_t f = 0;
    while (beyond[f] == 0) ++f;
    first_beyond_ = first_index + f;
  }
  beyond_ += outside;
  frames_ += model_i.size();
  return outside != 0;
}

bool evm_accumulator::add_real(std::uint64_t index, double model_i, double model_q, double error_i,
                               double error_q) {
  real_ = true;
  const long double error =
      static_cast<long double>(error_i) * error_i + static_cast<long double>(error_q) * error_q;
  const long double power =
      static_cast<long double>(model_i) * model_i + static_cast<long double>(model_q) * model_q;
  real_error_energy_ += error;
  real_model_energy_ += power;
  if (power > real_model_peak_) real_model_peak_ = power;
  count_magnitude(index, static_cast<double>(error));
  if (error <= static_cast<long double>(tolerance_) * tolerance_) return false;
  if (beyond_++ == 0) first_beyond_ = index;
  return true;
}

evm_figures evm_accumulator::figures() const {
  evm_figures out;
  out.frames = frames_;
  out.reference = reference_;
  out.beyond_circle = beyond_;
  out.first_beyond_circle = first_beyond_;
  if (frames_ == 0) return out;
  const long double frames = frames_;
  const long double energy = real_ ? real_error_energy_ + static_cast<long double>(error_energy_)
                                   : static_cast<long double>(error_energy_);
  const long double model_energy =
      real_ ? real_model_energy_ : static_cast<long double>(model_energy_);
  const long double model_peak = real_ ? real_model_peak_ : static_cast<long double>(model_peak_);
  // Power times frames, so that the rms is the square root of a ratio of sums.
  const long double reference =
      reference_ == evm_reference::average ? model_energy : model_peak * frames;
  out.error_energy = energy;
  out.reference_energy = reference;
  if (reference == 0) {
    out.reference_zero = true;
    const double infinite = energy == 0 ? 0 : INFINITY;
    out.rms = out.peak = out.percentile_95 = infinite;
    out.peak_index = peak_index_;
    return out;
  }
  const auto amplitude_of = [&](long double squared) {
    return static_cast<double>(std::sqrt(squared * frames / reference));
  };
  out.rms = static_cast<double>(std::sqrt(energy / reference));
  out.peak = amplitude_of(peak_squared_);
  out.peak_index = peak_index_;
  // Nearest rank: the smallest magnitude that at least 95% of the frames do not exceed.
  const std::uint64_t rank = (frames_ * 95 + 99) / 100;
  std::uint64_t seen = 0;
  for (std::size_t bin = 0; bin < counts_.size(); ++bin) {
    seen += counts_[bin];
    if (seen >= rank) {
      out.percentile_95 = amplitude_of(largest_[bin]);
      break;
    }
  }
  return out;
}

std::string evm_percent(double ratio) {
  if (std::isinf(ratio)) return "inf";
  const double percent = ratio * 100;
  // Two decimals, or as many as it takes to show a small one at all.
  for (int decimals = 2;; ++decimals) {
    std::string shown = fixed_decimal(percent, decimals);
    while (shown.back() == '0' && shown.find('.') != std::string::npos) shown.pop_back();
    if (shown.back() == '.') shown.pop_back();
    if (shown != "0" || percent == 0 || decimals == 12) return shown;
  }
}

namespace {

std::string decibels(double ratio) {
  return ratio == 0 ? "-inf" : fixed_decimal(20 * std::log10(ratio), 1);
}

}  // namespace

std::string evm_line(const evm_figures& evm) {
  const std::string reference = evm.reference == evm_reference::average
                                    ? "(to the model's average power)"
                                    : "(to the model's peak power)";
  if (evm.frames == 0) return "evm: none (no frame known in both)";
  if (evm.reference_zero && evm.rms != 0) return "evm: infinite (the model's power is 0)";
  return "evm: rms " + evm_percent(evm.rms) + "% (" + decibels(evm.rms) + " dB), peak " +
         evm_percent(evm.peak) + "% at index " + std::to_string(evm.peak_index) +
         ", 95th percentile " + evm_percent(evm.percentile_95) + "% " + reference;
}

std::optional<std::string> evm_reason(const evm_figures& evm, const evm_limit& limit) {
  if (evm.frames == 0) return std::nullopt;
  if (evm.reference_zero) {
    if (evm.rms == 0) return std::nullopt;
    return "evm infinite (the model's power is 0)";
  }
  const long double error = evm.error_energy;
  const long double reference = evm.reference_energy;
  if (!limit.decibels) {
    // rms% > L exactly when error * 100^2 > L^2 * reference.
    const long double l = limit.value;
    if (error * 10000 <= l * l * reference) return std::nullopt;
    std::string shown = evm_percent(evm.rms);
    if (std::stod(shown) <= limit.value) shown = shortest_decimal(evm.rms * 100);
    return "evm " + shown + "% above " + shortest_decimal(limit.value) + "%";
  }
  // 10 log10(error / reference) > D; exact where D is a whole multiple of 10 dB.
  bool above = false;
  const double tens = limit.value / 10;
  if (tens == std::floor(tens) && std::fabs(tens) <= 18) {
    const long double power = std::pow(10.0L, std::fabs(tens));
    above = tens <= 0 ? error * power > reference : error > reference * power;
  } else {
    above = 10 * std::log10(static_cast<double>(error / reference)) > limit.value;
  }
  if (!above) return std::nullopt;
  std::string shown = decibels(evm.rms);
  if (std::stod(shown) <= limit.value) shown = shortest_decimal(20 * std::log10(evm.rms));
  return "evm " + shown + " dB above " + shortest_decimal(limit.value) + " dB";
}

}  // namespace decimal
