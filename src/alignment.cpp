#include "decimal/alignment.hpp"

#include <algorithm>
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

// Differences of up to 2^24 - 1 LSB: each square below 2^48, a window's sum below 2^64.
pair_squares narrow_squares(std::span<const std::int64_t> model,
                            std::span<const std::int64_t> implementation) {
  std::uint64_t sum = 0;
  for (std::size_t i = 0; i < model.size(); ++i) {
    const std::int64_t d = implementation[i] - model[i];
    sum += static_cast<std::uint64_t>(d * d);
  }
  return {sum, model.size()};
}

// Any width, any entry unknown: each square below 2^64.
pair_squares wide_squares(std::span<const std::int64_t> model,
                          std::span<const std::int64_t> implementation) {
  pair_squares squares;
  for (std::size_t i = 0; i < model.size(); ++i) {
    if (model[i] == unknown_value || implementation[i] == unknown_value) continue;
    const std::int64_t d = implementation[i] - model[i];
    const auto magnitude = static_cast<std::uint64_t>(d < 0 ? -d : d);
    squares.sum += magnitude * magnitude;
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
  const bool narrow = !unknowns && format.width() <= 24;
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
    const std::span model_part = std::span(m).subspan(model_start, pairs);
    const std::span implementation_part = std::span(c).subspan(implementation_start, pairs);
    const pair_squares squares = narrow ? narrow_squares(model_part, implementation_part)
                                        : wide_squares(model_part, implementation_part);
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
