#pragma once

#include <array>
#include <concepts>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace decimal {

// The entries first..last, by their extremes: the model's and the
// implementation's results and the differences, all in LSB (whole numbers
// but for a real model's values and differences), over the entries known
// in both; and how many were unknown.
struct envelope_column {
  std::uint64_t first;
  std::uint64_t last;
  double model_min, model_max;
  double implementation_min, implementation_max;
  double difference_min, difference_max;
  std::uint64_t unknown = 0;

  // Whether any of its entries is known in both: else the extremes are
  // infinities that stand for none.
  bool known() const noexcept { return model_min <= model_max; }
};

// Widens `column` over `next`, the column after it: its last index, the
// extremes of each series and the unknown entries of both.
void widen(envelope_column& column, const envelope_column& next);

// A run of any length in at most max_columns columns of equal span: while
// the entries fit, one column each; past that, neighbouring columns merge and
// the span doubles, so a single outlying entry stays in sight.
class envelope {
 public:
  // The first entry added has the index `first_index`.
  explicit envelope(std::size_t max_columns = 2048, std::uint64_t first_index = 0);

  void add(double model, double implementation, double difference);
  // Whole LSB, below 2^53: exact as doubles.
  template <std::integral Model, std::integral Implementation, std::integral Difference>
  void add(Model model, Implementation implementation, Difference difference) {
    add(static_cast<double>(model), static_cast<double>(implementation),
        static_cast<double>(difference));
  }
  // An entry unknown in either file: nothing to draw but its mark.
  void add_unknown();
  // Passes over the next `entries` indices: they have nothing to draw.
  void skip(std::uint64_t entries) noexcept { entries_ += entries; }
  // The entry just added is beyond the tolerance or unknown: the entries
  // around it, up to detail_reach each side, are kept whole for a zoomed
  // view, for the first detail_windows such places.
  void mark_fault();

  const std::vector<envelope_column>& columns() const noexcept { return columns_; }
  // Entries per column (the last may hold fewer).
  std::uint64_t span() const noexcept { return span_; }
  // The index after the last entry added or passed over.
  std::uint64_t end() const noexcept { return entries_; }
  // The entries kept whole around the first faults, in order, one column each.
  const std::vector<envelope_column>& details() const noexcept { return details_; }

  static constexpr std::size_t detail_windows = 4;
  static constexpr std::size_t detail_reach = 8;
  static constexpr std::size_t max_details = detail_windows * (2 * detail_reach + 1);

 private:
  void place(const envelope_column& entry);
  void halve();

  std::size_t max_columns_;
  std::uint64_t span_ = 1;
  std::uint64_t entries_ = 0;
  std::vector<envelope_column> columns_;
  // The last entries, for the window before a fault: detail_reach and the fault.
  std::array<envelope_column, detail_reach + 1> recent_{};
  std::size_t recent_count_ = 0;
  std::vector<envelope_column> details_;
  std::size_t windows_ = 0;
  std::size_t still_after_ = 0;  // entries yet to keep after the last fault
};

}  // namespace decimal
