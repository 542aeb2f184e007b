#include "decimal/envelope.hpp"

#include <algorithm>
#include <limits>
#include <stdexcept>

namespace decimal {

void widen(envelope_column& column, const envelope_column& next) {
  column.last = next.last;
  column.model_min = std::min(column.model_min, next.model_min);
  column.model_max = std::max(column.model_max, next.model_max);
  column.implementation_min = std::min(column.implementation_min, next.implementation_min);
  column.implementation_max = std::max(column.implementation_max, next.implementation_max);
  column.difference_min = std::min(column.difference_min, next.difference_min);
  column.difference_max = std::max(column.difference_max, next.difference_max);
  column.unknown += next.unknown;
}

envelope::envelope(std::size_t max_columns, std::uint64_t first_index)
    : max_columns_(max_columns), entries_(first_index) {
  if (max_columns < 2 || max_columns % 2 != 0) {
    throw std::invalid_argument("envelope: the columns must be an even number from 2");
  }
  columns_.reserve(max_columns);
}

void envelope::add(double model, double implementation, double difference) {
  place({entries_, entries_, model, model, implementation, implementation, difference, difference});
}

void envelope::add_unknown() {
  constexpr double none = std::numeric_limits<double>::infinity();
  place({entries_, entries_, none, -none, none, -none, none, -none, 1});
}

void envelope::mark_fault() {
  if (still_after_ == 0) {
    if (windows_ == detail_windows) return;
    ++windows_;
    // The entries before it, those not kept already, then itself.
    const std::uint64_t kept_to = details_.empty() ? 0 : details_.back().last + 1;
    const std::size_t before = std::min(recent_count_, recent_.size());
    for (std::size_t k = before; k-- > 0;) {
      const envelope_column& entry = recent_[(recent_count_ - 1 - k) % recent_.size()];
      if ((details_.empty() || entry.first >= kept_to) && details_.size() < max_details) {
        details_.push_back(entry);
      }
    }
  }
  still_after_ = detail_reach;
}

void envelope::place(const envelope_column& entry) {
  // Kept whole after a fault, and remembered for the next one.
  if (still_after_ != 0) {
    --still_after_;
    if (details_.size() < max_details) details_.push_back(entry);
  }
  recent_[recent_count_++ % recent_.size()] = entry;
  ++entries_;
  if (!columns_.empty() && columns_.back().last - columns_.back().first + 1 < span_) {
    widen(columns_.back(), entry);
    return;
  }
  if (columns_.size() == max_columns_) {
    halve();
    // Every merged column is full: the entry starts a new one.
  }
  columns_.push_back(entry);
}

void envelope::halve() {
  for (std::size_t i = 0; i < columns_.size() / 2; ++i) {
    envelope_column merged = columns_[2 * i];
    widen(merged, columns_[2 * i + 1]);
    columns_[i] = merged;
  }
  columns_.resize(columns_.size() / 2);
  span_ *= 2;
}

}  // namespace decimal
