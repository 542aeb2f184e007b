#include "decimal/accumulator.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>

namespace decimal {
namespace {

std::uint64_t magnitude_of(std::int64_t d) {
  return d < 0 ? 0 - static_cast<std::uint64_t>(d) : static_cast<std::uint64_t>(d);
}

// 80-bit long double holds 64 bits of a sum exactly; the rest rounds far below what is printed.
long double wide(uint128 n) { return static_cast<long double>(n); }
long double wide(int128 n) { return static_cast<long double>(n); }

// What a block of a format of up to 24 bits adds to the figures, whatever
// the order of its entries: in a loop the compiler can turn into vector
// instructions, made for AVX2 too and chosen when the machine has it. Each
// difference and model value fits 32 bits, so their squares are products of
// 32-bit numbers; a block of up to 2^15 entries sums them in 64 bits.
struct narrow_sums {
  std::int64_t sum = 0;
  std::uint64_t squares = 0;
  std::uint64_t energy = 0;
  std::uint64_t beyond = 0;
  std::uint64_t largest = 0;  // magnitude
};

__attribute__((target_clones("avx2", "default"))) narrow_sums add_narrow(
    const std::int64_t* res_m, const std::int64_t* res_c, std::int64_t* differences, std::size_t n,
    int width, bool is_unsigned, std::uint64_t tolerance) {
  // The W-bit pattern of a raw number read signed (unsigned, as it is), by arithmetic alone.
  const std::int64_t half = is_unsigned ? 0 : std::int64_t{1} << (width - 1);
  const std::int64_t mask = (std::int64_t{1} << width) - 1;
  narrow_sums s;
  for (std::size_t i = 0; i < n; ++i) {
    const auto model = static_cast<std::int32_t>(((res_m[i] + half) & mask) - half);
    const auto implementation = static_cast<std::int32_t>(((res_c[i] + half) & mask) - half);
    const std::int32_t d = implementation - model;
    differences[i] = d;
    const auto magnitude = static_cast<std::uint64_t>(d < 0 ? -std::int64_t{d} : std::int64_t{d});
    s.sum += d;
    s.squares += static_cast<std::uint64_t>(std::int64_t{d} * d);
    s.energy += static_cast<std::uint64_t>(std::int64_t{model} * model);
    s.beyond += magnitude > tolerance ? 1 : 0;
    s.largest = std::max(s.largest, magnitude);
  }
  return s;
}

}  // namespace

std::size_t histogram::magnitude_bin(std::int64_t difference) noexcept {
  const auto places = static_cast<std::size_t>(std::bit_width(magnitude_of(difference)));
  return difference < 0 ? 32 - places : 32 + places;
}

void histogram::add_other(std::int64_t difference, std::uint64_t count) {
  if (!exact_) {
    magnitude_counts_[magnitude_bin(difference)] += count;
    return;
  }
  for (auto& [d, n] : other_counts_) {
    if (d == difference) {
      n += count;
      return;
    }
  }
  if (distinct() == max_exact) {
    // Too many to list.
    fold();
    magnitude_counts_[magnitude_bin(difference)] += count;
    return;
  }
  other_counts_.emplace_back(difference, count);
}

void histogram::fold() {
  if (!exact_) return;
  magnitude_counts_ = folded();
  exact_ = false;
  other_counts_ = {};
}

void histogram::merge(const histogram& other) {
  if (!other.exact_) {
    fold();
    for (std::size_t i = 0; i < magnitude_counts_.size(); ++i) {
      magnitude_counts_[i] += other.magnitude_counts_[i];
    }
    return;
  }
  for (std::size_t i = 0; i < other.small_counts_.size(); ++i) {
    const std::uint64_t count = other.small_counts_[i];
    if (count == 0) continue;
    if (exact_) {
      small_counts_[i] += count;
    } else {
      magnitude_counts_[magnitude_bin(static_cast<std::int64_t>(i) - small)] += count;
    }
  }
  for (const auto& [d, count] : other.other_counts_) add_other(d, count);
}

std::size_t histogram::distinct() const noexcept {
  return other_counts_.size() +
         static_cast<std::size_t>(std::count_if(small_counts_.begin(), small_counts_.end(),
                                                [](std::uint64_t n) { return n != 0; }));
}

std::array<std::uint64_t, 65> histogram::folded() const noexcept {
  std::array<std::uint64_t, 65> counts{};
  for (std::size_t i = 0; i < small_counts_.size(); ++i) {
    counts[magnitude_bin(static_cast<std::int64_t>(i) - small)] += small_counts_[i];
  }
  for (const auto& [d, count] : other_counts_) counts[magnitude_bin(d)] += count;
  return counts;
}

std::vector<histogram_bin> histogram::bins() const {
  std::vector<histogram_bin> out;
  if (exact()) {
    for (std::size_t i = 0; i < small_counts_.size(); ++i) {
      if (small_counts_[i] == 0) continue;
      const auto d = static_cast<std::int64_t>(i) - small;
      out.push_back({d, d, small_counts_[i]});
    }
    for (const auto& [d, count] : other_counts_) out.push_back({d, d, count});
    std::sort(out.begin(), out.end(),
              [](const histogram_bin& a, const histogram_bin& b) { return a.low < b.low; });
    return out;
  }
  const std::array<std::uint64_t, 65> counts = exact_ ? folded() : magnitude_counts_;
  for (std::size_t i = 0; i < counts.size(); ++i) {
    if (counts[i] == 0) continue;
    if (i == 32) {
      out.push_back({0, 0, counts[i]});
      continue;
    }
    const std::size_t k = (i > 32 ? i - 32 : 32 - i) - 1;
    const auto low = std::int64_t{1} << k;
    const std::int64_t high = (low << 1) - 1;
    if (i > 32) {
      out.push_back({low, high, counts[i]});
    } else {
      out.push_back({-high, -low, counts[i]});
    }
  }
  return out;
}

std::int64_t accumulator::add(std::int64_t res_m, std::int64_t res_c) {
  std::int64_t d = 0;
  add(std::span(&res_m, 1), std::span(&res_c, 1), std::span(&d, 1));
  return d;
}

bool accumulator::add(std::span<const std::int64_t> res_m, std::span<const std::int64_t> res_c,
                      std::span<std::int64_t> differences) {
  // Up to 24 bits, a square is below 2^48: 2^15 of them sum in 64 bits.
  constexpr std::size_t narrow_block = std::size_t{1} << 15;
  // Until a difference is found, the largest (0) is at the first entry known in both.
  if (entries_ == 0 && !res_m.empty()) largest_index_ = first_index_ + unknown_;
  if (real_model_) return add_real(res_m, res_c, differences);
  if (format_.width() > 24) return add_block<uint128>(res_m, res_c, differences);
  bool beyond = false;
  for (std::size_t at = 0; at < res_m.size(); at += narrow_block) {
    const std::size_t n = std::min(narrow_block, res_m.size() - at);
    const narrow_sums s = add_narrow(res_m.data() + at, res_c.data() + at, differences.data() + at,
                                     n, format_.width(), format_.is_unsigned, tolerance_);
    const std::span<const std::int64_t> block = differences.subspan(at, n);
    for (const std::int64_t d : block) histogram_.add(d);
    if (s.largest > largest_magnitude_) {
      // The first entry of the block that reaches it.
      std::size_t i = 0;
      while (magnitude_of(block[i]) != s.largest) ++i;
      largest_magnitude_ = s.largest;
      largest_ = block[i];
      largest_index_ = first_index_ + entries_ + unknown_ + i;
    }
    entries_ += n;
    beyond_tolerance_ += s.beyond;
    sum_ += s.sum;
    sum_of_squares_ += s.squares;
    model_energy_ += s.energy;
    beyond |= s.beyond != 0;
  }
  return beyond;
}

template <typename Sum>
bool accumulator::add_block(std::span<const std::int64_t> res_m,
                            std::span<const std::int64_t> res_c,
                            std::span<std::int64_t> differences) {
  const q_format format = format_;
  const auto lsb = [format](std::int64_t raw) { return format.lsb(raw); };
  const std::uint64_t tolerance = tolerance_;
  std::uint64_t largest_magnitude = largest_magnitude_;
  std::size_t largest_at = res_m.size();  // none in this block
  // |d| is below 2^33, so the plain sum of a block fits in 64 bits either way.
  std::int64_t sum = 0;
  Sum sum_of_squares = 0;
  Sum model_energy = 0;
  std::uint64_t beyond = 0;
  for (std::size_t i = 0; i < res_m.size(); ++i) {
    const std::int64_t model = lsb(res_m[i]);
    const std::int64_t d = lsb(res_c[i]) - model;
    differences[i] = d;
    const std::uint64_t magnitude = magnitude_of(d);
    beyond += magnitude > tolerance ? 1 : 0;
    if (magnitude > largest_magnitude) {
      largest_magnitude = magnitude;
      largest_at = i;
    }
    sum += d;
    sum_of_squares += Sum{magnitude} * magnitude;
    const std::uint64_t model_magnitude = magnitude_of(model);
    model_energy += Sum{model_magnitude} * model_magnitude;
    histogram_.add(d);
  }
  if (largest_at != res_m.size()) {
    largest_magnitude_ = largest_magnitude;
    largest_ = differences[largest_at];
    largest_index_ = first_index_ + entries_ + unknown_ + largest_at;
  }
  entries_ += res_m.size();
  beyond_tolerance_ += beyond;
  sum_ += sum;
  sum_of_squares_ += sum_of_squares;
  model_energy_ += model_energy;
  return beyond != 0;
}

namespace {

// `d` (below 2^52 in magnitude) to the nearest whole number, halves away from
// zero, as std::llround has it, without a call: d - trunc(d) is exact.
std::int64_t nearest_whole(double d) {
  const auto whole = static_cast<std::int64_t>(d);
  const double fraction = d - static_cast<double>(whole);
  return whole + (fraction >= 0.5 ? 1 : 0) - (fraction <= -0.5 ? 1 : 0);
}

}  // namespace

bool accumulator::add_real(std::span<const std::int64_t> res_m, std::span<const std::int64_t> res_c,
                           std::span<std::int64_t> differences) {
  std::uint64_t beyond = 0;
  // A block's sums in double, added up in long double: the rounding of a
  // block of up to a block's entries stays far below the digits printed.
  double sum = 0;
  double sum_of_squares = 0;
  double model_energy = 0;
  double largest_magnitude = std::fabs(largest_real_);
  for (std::size_t i = 0; i < res_m.size(); ++i) {
    const double model = real_of_word(res_m[i]);
    const double d = static_cast<double>(format_.lsb(res_c[i])) - model;
    differences[i] = real_word(d);
    const double magnitude = std::fabs(d);
    beyond += magnitude > real_tolerance_ ? 1 : 0;
    if (magnitude > largest_magnitude) {
      largest_magnitude = magnitude;
      largest_real_ = d;
      largest_ = nearest_whole(d);
      largest_index_ = first_index_ + entries_ + unknown_ + i;
    }
    sum += d;
    sum_of_squares += d * d;
    model_energy += model * model;
    histogram_.add(nearest_whole(d));
  }
  real_sum_ += sum;
  real_sum_of_squares_ += sum_of_squares;
  real_model_energy_ += model_energy;
  entries_ += res_m.size();
  beyond_tolerance_ += beyond;
  return beyond != 0;
}

void accumulator::merge(const accumulator& other) {
  if (other.entries_ != 0 &&
      (entries_ == 0 || (real_model_ ? std::fabs(other.largest_real_) > std::fabs(largest_real_)
                                     : other.largest_magnitude_ > largest_magnitude_))) {
    largest_ = other.largest_;
    largest_magnitude_ = other.largest_magnitude_;
    largest_real_ = other.largest_real_;
    largest_index_ = other.largest_index_;
  }
  entries_ += other.entries_;
  unknown_ += other.unknown_;
  for (std::size_t i = 0; i < unknown_letters_.size(); ++i) {
    unknown_letters_[i] += other.unknown_letters_[i];
  }
  if (other.missing_ != 0) missing_model_entries_ = other.missing_model_entries_;
  missing_ += other.missing_;
  weak_ += other.weak_;
  beyond_tolerance_ += other.beyond_tolerance_;
  sum_ += other.sum_;
  sum_of_squares_ += other.sum_of_squares_;
  model_energy_ += other.model_energy_;
  real_sum_ += other.real_sum_;
  real_sum_of_squares_ += other.real_sum_of_squares_;
  real_model_energy_ += other.real_model_energy_;
  histogram_.merge(other.histogram_);
}

double accumulator::mean() const noexcept {
  if (entries_ == 0) return 0;
  const long double sum = real_model_ ? real_sum_ : wide(sum_);
  return static_cast<double>(sum / static_cast<long double>(entries_));
}

double accumulator::rms() const noexcept {
  if (entries_ == 0) return 0;
  const long double squares = real_model_ ? real_sum_of_squares_ : wide(sum_of_squares_);
  return static_cast<double>(std::sqrt(squares / static_cast<long double>(entries_)));
}

double accumulator::snr_db() const noexcept {
  const long double squares = real_model_ ? real_sum_of_squares_ : wide(sum_of_squares_);
  const long double energy = real_model_ ? real_model_energy_ : wide(model_energy_);
  if (squares == 0) return std::numeric_limits<double>::infinity();
  if (energy == 0) return -std::numeric_limits<double>::infinity();
  return static_cast<double>(10 * std::log10(energy / squares));
}

}  // namespace decimal
