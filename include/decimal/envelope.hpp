#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace decimal {

// The entries first..last, by their extremes: the model's and the
// implementation's results and the differences, all in LSB.
struct envelope_column {
  std::uint64_t first;
  std::uint64_t last;
  std::int64_t model_min, model_max;
  std::int64_t implementation_min, implementation_max;
  std::int64_t difference_min, difference_max;
};

// A run of any length in at most max_columns columns of equal span: while
// the entries fit, one column each; past that, neighbouring columns merge and
// the span doubles, so a single outlying entry stays in sight.
class envelope {
 public:
  // The first entry added has the index `first_index`.
  explicit envelope(std::size_t max_columns = 2048, std::uint64_t first_index = 0);

  void add(std::int64_t model, std::int64_t implementation, std::int64_t difference);
  // Passes over the next `entries` indices: they have nothing to draw.
  void skip(std::uint64_t entries) noexcept { entries_ += entries; }

  const std::vector<envelope_column>& columns() const noexcept { return columns_; }
  // Entries per column (the last may hold fewer).
  std::uint64_t span() const noexcept { return span_; }
  // The index after the last entry added or passed over.
  std::uint64_t end() const noexcept { return entries_; }

 private:
  void halve();

  std::size_t max_columns_;
  std::uint64_t span_ = 1;
  std::uint64_t entries_ = 0;
  std::vector<envelope_column> columns_;
};

}  // namespace decimal
