#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "decimal/envelope.hpp"

namespace decimal {

// What a static chart shows beside its columns.
struct chart_marks {
  int fraction_bits = 0;
  double tolerance = 0;
  std::optional<std::uint64_t> first_beyond;
  std::string title;  // its accessible name
};

// At most this many columns across a static chart: neighbours merge, so
// that the page's picture stays small.
inline constexpr std::size_t chart_svg_columns = 300;

// A chart of `entries` as an inline SVG that needs neither scripts nor a
// style sheet (colours as presentation attributes): both results above
// (the model as a band, the implementation's least and greatest as a band
// over it), the difference in LSB below with the tolerance band, columns
// beyond it in red, unknown entries as purple marks on zero, and the first
// beyond as a dashed line. For the page when scripts cannot run; the
// interactive chart replaces it where they can.
std::string chart_svg(const envelope& entries, const chart_marks& marks);

}  // namespace decimal
