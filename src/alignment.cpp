#include "decimal/alignment.hpp"

#include <algorithm>
#include <array>
#include <vector>

#include "decimal/accumulator.hpp"
#include "decimal/number_source.hpp"

namespace decimal {
namespace {

// The squared differences of the pairs known in both, summed, and how many.
struct pair_squares {
  uint128 sum = 0;
  std::uint64_t known = 0;
};

// Values in LSB, unknown_value kept: none of them is a value of a format.
std::vector<std::int64_t> in_lsb(std::span<const std::int64_t> raw, const q_format& format) {
  std::vector<std::int64_t> values(raw.size());
  std::transform(raw.begin(), raw.end(), values.begin(), [&](std::int64_t n) {
    return n == unknown_value ? unknown_value : format.lsb(n);
  });
  return values;
}

// Formats of up to 18 bits with no entry unknown: in doubles, exact, since
// each square is below 2^36 and a window's sum below 2^52; four sums in
// turn, so that the additions need not wait for each other.
pair_squares narrow_squares(std::span<const double> model, std::span<const double> implementation) {
  std::array<double, 4> sums{};
  std::size_t i = 0;
  for (; i + 4 <= model.size(); i += 4) {
    for (std::size_t k = 0; k < 4; ++k) {
      const double d = implementation[i + k] - model[i + k];
      sums[k] += d * d;
    }
  }
  for (; i < model.size(); ++i) {
    const double d = implementation[i] - model[i];
    sums[0] += d * d;
  }
  return {static_cast<uint128>(sums[0] + sums[1] + sums[2] + sums[3]), model.size()};
}

// Any width, any entry unknown: each square below 2^64.
pair_squares wide_squares(std::span<const std::int64_t> model,
                          std::span<const std::int64_t> implementation) {
  pair_squares squares;
  for (std::size_t i = 0; i < model.size(); ++i) {
    if (model[i] == unknown_value || implementation[i] == unknown_value) continue;
    const std::int64_t d = implementation[i] - model[i];
    const auto magnitude = static_cast<std::uint64_t>(d < 0 ? -d : d);
    const std::uint64_t square = magnitude * magnitude;  // |d| < 2^32
    squares.sum += square;
    ++squares.known;
  }
  return squares;
}

}  // namespace

std::string delay_line(const applied_delay& delay) {
  std::string line = "delay: " + std::to_string(delay.entries);
  if (delay.searched_within) {
    const std::string bound = std::to_string(*delay.searched_within);
    line += " (found between -" + bound + " and " + bound + ")";
  }
  return line;
}

bool counts_agree(std::uint64_t model, std::uint64_t implementation, std::int64_t delay) noexcept {
  const std::uint64_t lag =
      delay < 0 ? -static_cast<std::uint64_t>(delay) : static_cast<std::uint64_t>(delay);
  // The lagging file's count is the leading one's, or up to |delay| more.
  const std::uint64_t lagging = delay < 0 ? model : implementation;
  const std::uint64_t leading = delay < 0 ? implementation : model;
  return lagging >= leading && lagging - leading <= lag;
}

std::int64_t find_delay(std::span<const std::int64_t> model,
                        std::span<const std::int64_t> implementation, const q_format& format,
                        std::uint32_t max_delay) {
  const std::vector<std::int64_t> m = in_lsb(model, format);
  const std::vector<std::int64_t> c = in_lsb(implementation, format);
  const bool unknowns = std::ranges::find(m, unknown_value) != m.end() ||
                        std::ranges::find(c, unknown_value) != c.end();
  const bool narrow = !unknowns && format.width() <= 18;
  const std::vector<double> narrow_m(narrow ? m.begin() : m.end(), m.end());
  const std::vector<double> narrow_c(narrow ? c.begin() : c.end(), c.end());
  const std::size_t shorter = std::min(m.size(), c.size());
  std::int64_t best = 0;
  pair_squares best_squares;
  // In the order ties are settled: 0, 1, -1, 2, -2, ...
  for (std::int64_t n = 0; n <= static_cast<std::int64_t>(max_delay); n = n > 0 ? -n : 1 - n) {
    const auto lag = static_cast<std::size_t>(n < 0 ? -n : n);
    const std::size_t model_start = n < 0 ? lag : 0;
    const std::size_t implementation_start = n > 0 ? lag : 0;
    if (model_start > m.size() || implementation_start > c.size()) continue;
    const std::size_t pairs = std::min(m.size() - model_start, c.size() - implementation_start);
    if (2 * pairs < shorter) continue;
    const pair_squares squares =
        narrow ? narrow_squares(std::span(narrow_m).subspan(model_start, pairs),
                                std::span(narrow_c).subspan(implementation_start, pairs))
               : wide_squares(std::span(m).subspan(model_start, pairs),
                              std::span(c).subspan(implementation_start, pairs));
    if (squares.known == 0) continue;
    // Means compared exactly: sums below 2^80 times counts up to 2^16.
    if (best_squares.known == 0 ||
        squares.sum * best_squares.known < best_squares.sum * squares.known) {
      best = n;
      best_squares = squares;
    }
  }
  return best;
}

}  // namespace decimal
