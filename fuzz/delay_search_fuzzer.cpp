// Feeds arbitrary model and implementation windows, formats, bounds and file
// totals to the delay search, and checks what it finds against a plain
// search: every candidate from -D to D scored on its own, exactly, with the
// entries it leaves unpaired counted as the largest difference, and the
// first of the best in the order 0, 1, -1, 2, -2, ... taken. Also checks the
// count rule of every delay it could find against its definition.
//
// Input: a byte for the width (1 to 32), one for the bound D (0 to 255),
// one whose bits say whether each total is known, one the model's length
// (0 to 255); then 4-byte words, the model's and then the implementation's
// (bit 30 of a word: unknown).

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <span>
#include <vector>

#include "decimal/accumulator.hpp"
#include "decimal/alignment.hpp"
#include "decimal/number_source.hpp"

namespace {

void check(bool condition) {
  if (!condition) std::abort();
}

struct score {
  decimal::uint128 sum = 0;
  std::uint64_t count = 0;
};

// The candidate's score, or none when it is not one.
std::optional<score> plain_score(std::int64_t n, const std::vector<std::int64_t>& m,
                                 const std::vector<std::int64_t>& c, const decimal::q_format& q,
                                 const decimal::file_totals& totals) {
  const std::uint64_t lag = n < 0 ? static_cast<std::uint64_t>(-n) : static_cast<std::uint64_t>(n);
  const std::size_t model_start = n < 0 ? lag : 0;
  const std::size_t implementation_start = n > 0 ? lag : 0;
  if (model_start > m.size() || implementation_start > c.size()) return std::nullopt;
  const std::size_t pairs = std::min(m.size() - model_start, c.size() - implementation_start);
  if (2 * pairs < std::min(m.size(), c.size())) return std::nullopt;
  if (totals.model && totals.implementation) {
    // The lagging file holds the leading one's count, or up to |n| more.
    const std::uint64_t lagging = n < 0 ? *totals.model : *totals.implementation;
    const std::uint64_t leading = n < 0 ? *totals.implementation : *totals.model;
    if (lagging < leading || lagging - leading > lag) return std::nullopt;
  }
  score s;
  for (std::size_t i = 0; i < pairs; ++i) {
    const std::int64_t a = m[model_start + i];
    const std::int64_t b = c[implementation_start + i];
    if (decimal::is_unknown(a) || decimal::is_unknown(b)) continue;
    const std::int64_t d = q.lsb(b) - q.lsb(a);
    const auto magnitude = static_cast<std::uint64_t>(d < 0 ? -d : d);
    s.sum += static_cast<decimal::uint128>(magnitude) * magnitude;
    ++s.count;
  }
  const std::optional<std::uint64_t>& lagging = n < 0 ? totals.model : totals.implementation;
  const std::size_t leading = n < 0 ? c.size() : m.size();
  if (lagging) {
    const std::uint64_t partnered = *lagging > lag ? *lagging - lag : 0;
    const std::uint64_t unpaired = leading > partnered ? leading - partnered : 0;
    const std::uint64_t largest = (std::uint64_t{1} << q.width()) - 1;
    s.sum += static_cast<decimal::uint128>(unpaired) * largest * largest;
    s.count += unpaired;
  }
  if (s.count == 0) return std::nullopt;
  return s;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 4) return 0;
  const int width = data[0] % 32 + 1;
  const decimal::q_format q{1, width - 1};
  const std::uint32_t max_delay = data[1];
  const std::size_t model_length = data[3];
  std::vector<std::int64_t> m;
  std::vector<std::int64_t> c;
  for (std::size_t at = 4; at + 4 <= size; at += 4) {
    std::uint32_t word = 0;
    for (std::size_t b = 0; b < 4; ++b) word |= std::uint32_t{data[at + b]} << (8 * b);
    // A pattern of the format, or unknown.
    const std::int64_t value =
        (word & (1U << 30)) != 0
            ? decimal::unknown_value
            : static_cast<std::int64_t>(word & ((std::uint64_t{1} << width) - 1));
    (m.size() < model_length ? m : c).push_back(value);
  }
  decimal::file_totals totals;
  // A known total: the file ended within its window.
  if ((data[2] & 1) != 0) totals.model = m.size();
  if ((data[2] & 2) != 0) totals.implementation = c.size();
  const decimal::delay_search found = decimal::find_delay(m, c, q, max_delay, totals);
  check(!found.window_cut);  // windows this small are never cut
  std::optional<score> best;
  std::int64_t best_n = 0;
  std::vector<std::int64_t> ties;
  for (std::int64_t n = 0; n <= static_cast<std::int64_t>(max_delay); n = n > 0 ? -n : 1 - n) {
    const std::optional<score> s = plain_score(n, m, c, q, totals);
    if (!s) continue;
    if (!best || s->sum * best->count < best->sum * s->count) {
      best = s;
      best_n = n;
      ties = {n};
    } else if (s->sum * best->count == best->sum * s->count) {
      ties.push_back(n);
    }
  }
  check(found.found == best_n);
  ties.resize(std::min(ties.size(), found.equally_good.size() + found.more_equally_good));
  check(found.more_equally_good + found.equally_good.size() == ties.size());
  check(std::equal(found.equally_good.begin(), found.equally_good.end(), ties.begin()));
  check(found.found >= -static_cast<std::int64_t>(max_delay) &&
        found.found <= static_cast<std::int64_t>(max_delay));
  return 0;
}
