#include "decimal/envelope.hpp"

#include <algorithm>
#include <limits>
#include <stdexcept>

namespace decimal {
namespace {

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

}  // namespace

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

void envelope::place(const envelope_column& entry) {
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
