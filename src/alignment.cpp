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

// Values in LSB, unknown values as unknown_value: none of them is a value of a format.
std::vector<std::int64_t> in_lsb(std::span<const std::int64_t> raw, const q_format& format) {
  std::vector<std::int64_t> values(raw.size());
  std::transform(raw.begin(), raw.end(), values.begin(),
                 [&](std::int64_t n) { return is_unknown(n) ? unknown_value : format.lsb(n); });
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

// In the order ties are settled: 0, 1, -1, 2, -2, ...
std::int64_t next_candidate(std::int64_t n) noexcept { return n > 0 ? -n : 1 - n; }

std::uint64_t magnitude_of(std::int64_t n) noexcept {
  return n < 0 ? -static_cast<std::uint64_t>(n) : static_cast<std::uint64_t>(n);
}

// What a candidate delay makes of windows of `model` and `implementation` entries.
struct candidate {
  bool eligible = false;
  std::size_t model_start = 0;
  std::size_t implementation_start = 0;
  std::size_t pairs = 0;
  std::uint64_t unpaired = 0;  // entries of the leading file known to have no partner
};

candidate shape_of(std::int64_t n, std::size_t model, std::size_t implementation,
                   const file_totals& totals) {
  candidate c;
  const std::uint64_t lag = magnitude_of(n);
  c.model_start = n < 0 ? lag : 0;
  c.implementation_start = n > 0 ? lag : 0;
  if (c.model_start > model || c.implementation_start > implementation) return c;
  c.pairs = std::min(model - c.model_start, implementation - c.implementation_start);
  if (2 * c.pairs < std::min(model, implementation)) return c;
  if (totals.model && totals.implementation &&
      !counts_agree(*totals.model, *totals.implementation, n)) {
    return c;
  }
  // The leading file's entries in its window whose partner would lie past
  // the lagging file's end.
  const std::optional<std::uint64_t>& lagging = n < 0 ? totals.model : totals.implementation;
  const std::size_t leading = n < 0 ? implementation : model;
  if (lagging) {
    const std::uint64_t partnered = *lagging > lag ? *lagging - lag : 0;
    c.unpaired = leading > partnered ? leading - partnered : 0;
  }
  c.eligible = true;
  return c;
}

// The pairs the eligible candidates compare within windows of `window` entries.
std::uint64_t search_cost(std::size_t model, std::size_t implementation, std::size_t window,
                          std::uint32_t max_delay, const file_totals& totals) {
  const std::size_t m = std::min(model, window);
  const std::size_t c = std::min(implementation, window);
  std::uint64_t cost = 0;
  for (std::int64_t n = 0; n <= static_cast<std::int64_t>(max_delay); n = next_candidate(n)) {
    const candidate shape = shape_of(n, m, c, totals);
    if (shape.eligible) cost += shape.pairs;
  }
  return cost;
}

constexpr std::size_t equally_good_shown = 5;

}  // namespace

std::string delay_line(const applied_delay& delay) {
  std::string line = "delay: " + std::to_string(delay.entries);
  if (!delay.searched_within) return line;
  const std::optional<delay_search>& search = delay.search;
  std::uint32_t bound = *delay.searched_within;
  if (search && search->window_cut) bound = std::min(bound, search->reach);
  line += " (found between " + (bound == 0 ? std::string("0") : "-" + std::to_string(bound)) +
          " and " + std::to_string(bound);
  if (search && search->window_cut) {
    line += " in the first " + std::to_string(search->window) +
            " entries of each file, to bound the search";
  }
  if (delay.count_difference && *delay.count_difference != 0) {
    const std::int64_t more = *delay.count_difference;
    line += std::string("; the ") + (more > 0 ? "implementation" : "model") + " holds " +
            std::to_string(magnitude_of(more)) + " more " +
            (magnitude_of(more) == 1 ? "entry" : "entries");
  }
  line += ')';
  if (search && search->all_equally_good && search->equally_good.size() > 1) {
    line += "; every delay fits the first entries equally well; " + std::to_string(delay.entries) +
            " was taken";
  } else if (search && search->equally_good.size() > 1) {
    line += "; delays";
    for (std::size_t i = 0; i < search->equally_good.size(); ++i) {
      line += (i == 0 ? " " : ", ") + std::to_string(search->equally_good[i]);
    }
    if (search->more_equally_good != 0) {
      line += " and " + std::to_string(search->more_equally_good) + " more";
    }
    line += " fit equally well; " + std::to_string(delay.entries) + " was taken";
  }
  return line;
}

bool counts_agree(std::uint64_t model, std::uint64_t implementation, std::int64_t delay) noexcept {
  const std::uint64_t lag = magnitude_of(delay);
  // The lagging file's count is the leading one's, or up to |delay| more.
  const std::uint64_t lagging = delay < 0 ? model : implementation;
  const std::uint64_t leading = delay < 0 ? implementation : model;
  return lagging >= leading && lagging - leading <= lag;
}

delay_search find_delay(std::span<const std::int64_t> model,
                        std::span<const std::int64_t> implementation, const q_format& format,
                        std::uint32_t max_delay, const file_totals& totals) {
  delay_search result;
  // The largest window whose search compares no more than max_search_pairs pairs.
  std::size_t window = std::max(model.size(), implementation.size());
  if (search_cost(model.size(), implementation.size(), window, max_delay, totals) >
      max_search_pairs) {
    result.window_cut = true;
    std::size_t low = 1;
    std::size_t high = window;  // low fits, high does not
    while (high - low > 1) {
      const std::size_t middle = low + (high - low) / 2;
      const bool fits = search_cost(model.size(), implementation.size(), middle, max_delay,
                                    totals) <= max_search_pairs;
      (fits ? low : high) = middle;
    }
    window = low;
    model = model.first(std::min(model.size(), window));
    implementation = implementation.first(std::min(implementation.size(), window));
  }
  result.window = window;
  const std::vector<std::int64_t> m = in_lsb(model, format);
  const std::vector<std::int64_t> c = in_lsb(implementation, format);
  const bool unknowns = std::ranges::find(m, unknown_value) != m.end() ||
                        std::ranges::find(c, unknown_value) != c.end();
  const bool narrow = !unknowns && format.width() <= 18;
  const std::vector<double> narrow_m(narrow ? m.begin() : m.end(), m.end());
  const std::vector<double> narrow_c(narrow ? c.begin() : c.end(), c.end());
  // An entry left without a partner scores as a pair of the largest difference.
  const std::uint64_t largest = (std::uint64_t{1} << format.width()) - 1;
  const uint128 unpaired_square = static_cast<uint128>(largest) * largest;
  uint128 best_sum = 0;
  std::uint64_t best_count = 0;
  std::size_t eligible = 0;
  std::size_t ties = 0;
  for (std::int64_t n = 0; n <= static_cast<std::int64_t>(max_delay); n = next_candidate(n)) {
    const candidate shape = shape_of(n, m.size(), c.size(), totals);
    if (!shape.eligible) continue;
    result.any_candidate = true;
    result.reach = std::max(result.reach, static_cast<std::uint32_t>(magnitude_of(n)));
    const pair_squares squares =
        narrow
            ? narrow_squares(std::span(narrow_m).subspan(shape.model_start, shape.pairs),
                             std::span(narrow_c).subspan(shape.implementation_start, shape.pairs))
            : wide_squares(std::span(m).subspan(shape.model_start, shape.pairs),
                           std::span(c).subspan(shape.implementation_start, shape.pairs));
    const uint128 sum = squares.sum + shape.unpaired * unpaired_square;
    const std::uint64_t count = squares.known + shape.unpaired;
    if (count == 0) continue;
    ++eligible;
    // Means compared exactly: sums below 2^82 times counts up to 2^17.
    if (best_count == 0 || sum * best_count < best_sum * count) {
      result.found = n;
      result.equally_good = {n};
      result.more_equally_good = 0;
      best_sum = sum;
      best_count = count;
      ties = 1;
    } else if (sum * best_count == best_sum * count) {
      ++ties;
      if (result.equally_good.size() < equally_good_shown) {
        result.equally_good.push_back(n);
      } else {
        ++result.more_equally_good;
      }
    }
  }
  result.all_equally_good = eligible > 1 && ties == eligible;
  return result;
}

}  // namespace decimal
