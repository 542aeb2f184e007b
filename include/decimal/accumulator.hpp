#pragma once

#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <span>
#include <utility>
#include <vector>

#include "decimal/number_source.hpp"
#include "decimal/q_format.hpp"

namespace decimal {

// Wide enough that sums of 2^32 squares of 2^32 each lose no bit.
__extension__ using int128 = __int128;
__extension__ using uint128 = unsigned __int128;

// Differences from `low` to `high` (equal for a single difference), seen `count` times.
struct histogram_bin {
  std::int64_t low;
  std::int64_t high;
  std::uint64_t count;

  bool operator==(const histogram_bin&) const = default;
};

// How often each difference occurs, in bounded memory: every difference on
// its own while there are at most max_exact of them, else power-of-two
// magnitude bins (..., -7..-4, -3..-2, -1, 0, 1, 2..3, 4..7, ...).
class histogram {
 public:
  static constexpr std::size_t max_exact = 64;

  void add(std::int64_t difference) {
    if (exact_ && difference >= -small && difference <= small) {
      ++small_counts_[static_cast<std::size_t>(difference + small)];
      return;
    }
    add_other(difference);
  }

  // Adds every difference `other` counted.
  void merge(const histogram& other);

  // The bins that occur, ascending.
  std::vector<histogram_bin> bins() const;

  // True when every bin holds a single difference.
  bool exact() const noexcept { return exact_ && distinct() <= max_exact; }

 private:
  // |d| up to this is counted in place: fewer than max_exact differences,
  // so only a difference counted apart can make too many.
  static constexpr std::int64_t small = 31;
  void add_other(std::int64_t difference, std::uint64_t count = 1);
  // From here on, magnitude bins.
  void fold();
  std::size_t distinct() const noexcept;
  // The exact counts, folded into magnitude bins.
  std::array<std::uint64_t, 65> folded() const noexcept;
  static std::size_t magnitude_bin(std::int64_t difference) noexcept;

  bool exact_ = true;
  std::array<std::uint64_t, 2 * small + 1> small_counts_{};
  std::vector<std::pair<std::int64_t, std::uint64_t>> other_counts_;  // at most max_exact
  // 0 in the middle; k + 1 places above it, 2^k to 2^(k+1)-1; below it the same negated.
  std::array<std::uint64_t, 65> magnitude_counts_{};
};

// The figures of a comparison, fed one entry at a time: differences in LSB of
// the format, d = s(res_c) - s(res_m), against a tolerance. With a
// `real_model`, the model's entries are real_word()s in LSB, and each
// difference is the real_word() of c - m, worked out in double precision,
// with its sums in long double; the histogram counts it rounded to whole
// LSB, halves away from zero.
class accumulator {
 public:
  // The first entry added has the index `first_index`. A fraction of an LSB
  // in the tolerance counts only with a real model.
  accumulator(const q_format& format, double tolerance, std::uint64_t first_index = 0,
              bool real_model = false)
      : format_(format),
        real_model_(real_model),
        tolerance_(static_cast<std::uint64_t>(tolerance)),
        real_tolerance_(tolerance),
        first_index_(first_index) {}

  // Adds the next entry; returns its difference.
  std::int64_t add(std::int64_t res_m, std::int64_t res_c);

  // Adds the next entries, writing their differences to `differences` (as
  // long as the others). Returns whether any lies beyond the tolerance.
  bool add(std::span<const std::int64_t> res_m, std::span<const std::int64_t> res_c,
           std::span<std::int64_t> differences);

  // Counts the next entry as unknown: it takes no part in the figures, but
  // holds its index.
  void add_unknown(std::size_t letter = 0) noexcept {
    ++unknown_;
    ++unknown_letters_.at(letter);
  }
  // Counts the next entry, of the model's file or the implementation's, as
  // missing its partner in the other: like an unknown one.
  void add_missing(bool model_entry) noexcept {
    ++missing_;
    missing_model_entries_ = model_entry;
  }

  // Whether a difference as add() gives it lies beyond the tolerance.
  bool beyond(std::int64_t difference) const noexcept {
    if (real_model_) return std::fabs(real_of_word(difference)) > real_tolerance_;
    return static_cast<std::uint64_t>(difference < 0 ? -difference : difference) > tolerance_;
  }

  const q_format& format() const noexcept { return format_; }
  bool real_model() const noexcept { return real_model_; }
  double tolerance() const noexcept { return real_tolerance_; }
  // Entries known in both result files, and those unknown in either.
  std::uint64_t entries() const noexcept { return entries_; }
  std::uint64_t unknown() const noexcept { return unknown_; }
  // Of them, those of each of unknown_letters.
  const std::array<std::uint64_t, decimal::unknown_letters.size()>& unknown_letters()
      const noexcept {
    return unknown_letters_;
  }
  // Words read from a weak letter (L, H) as known, in either result file.
  void add_weak(std::uint64_t words) noexcept { weak_ += words; }
  std::uint64_t weak() const noexcept { return weak_; }
  // Entries of one file without a partner in the other, added after the pairs.
  std::uint64_t missing() const noexcept { return missing_; }
  bool missing_model_entries() const noexcept { return missing_model_entries_; }
  std::uint64_t beyond_tolerance() const noexcept { return beyond_tolerance_; }
  // The difference of largest magnitude and the first entry where it occurs; 0 when all agree.
  // largest() is it rounded to whole LSB (halves away from zero) with a real model.
  std::int64_t largest() const noexcept { return largest_; }
  double largest_lsb() const noexcept {
    return real_model_ ? largest_real_ : static_cast<double>(largest_);
  }
  std::uint64_t largest_index() const noexcept { return largest_index_; }
  // Of the differences, in LSB; 0 for no entries.
  double mean() const noexcept;
  double rms() const noexcept;
  // 10 log10(sum of s(res_m)^2 / sum of d^2): +inf when all agree, -inf when
  // only the model is all zeros.
  double snr_db() const noexcept;
  const decimal::histogram& histogram() const noexcept { return histogram_; }

  // The sums, for tests at the extremes.
  int128 sum() const noexcept { return sum_; }
  uint128 sum_of_squares() const noexcept { return sum_of_squares_; }
  uint128 model_energy() const noexcept { return model_energy_; }

  // Adds the figures of `other`, of the same format and kind of model, as
  // if its entries had come after these: the sum of channels. Its largest
  // difference takes the place of this one's only when larger.
  void merge(const accumulator& other);

  // Continues from sums already taken over `entries` entries (for tests of
  // counts that would take too long to feed).
  void resume(std::uint64_t entries, int128 sum, uint128 sum_of_squares, uint128 model_energy) {
    entries_ = entries;
    sum_ = sum;
    sum_of_squares_ = sum_of_squares;
    model_energy_ = model_energy;
  }

 private:
  bool add_real(std::span<const std::int64_t> res_m, std::span<const std::int64_t> res_c,
                std::span<std::int64_t> differences);
  template <typename Sum>
  bool add_block(std::span<const std::int64_t> res_m, std::span<const std::int64_t> res_c,
                 std::span<std::int64_t> differences);

  q_format format_;
  bool real_model_;
  std::uint64_t tolerance_;
  double real_tolerance_;
  std::uint64_t first_index_;
  std::uint64_t entries_ = 0;
  std::uint64_t unknown_ = 0;
  std::array<std::uint64_t, decimal::unknown_letters.size()> unknown_letters_{};
  std::uint64_t missing_ = 0;
  std::uint64_t weak_ = 0;
  bool missing_model_entries_ = true;
  std::uint64_t beyond_tolerance_ = 0;
  std::int64_t largest_ = 0;
  std::uint64_t largest_magnitude_ = 0;
  std::uint64_t largest_index_ = first_index_;
  int128 sum_ = 0;
  uint128 sum_of_squares_ = 0;
  uint128 model_energy_ = 0;
  // A real model's: the largest difference, and the sums.
  double largest_real_ = 0;
  long double real_sum_ = 0;
  long double real_sum_of_squares_ = 0;
  long double real_model_energy_ = 0;
  decimal::histogram histogram_;
};

}  // namespace decimal
