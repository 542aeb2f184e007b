#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "decimal/q_format.hpp"

namespace decimal {

// How the implementation's entries line up with the model's. With a delay N
// > 0 the implementation lags: model entry k pairs with implementation entry
// k + N, and the implementation's first N entries are its lead-in; with N < 0
// the model lags: model entry k + |N| pairs with implementation entry k, and
// the model's first |N| entries are its lead-in. A lead-in is read and
// checked but not compared; every other entry of either file is compared,
// or counted as missing its partner, which fails the run.
struct delay_setting {
  bool given = false;        // none given: the entries pair up as they come
  bool automatic = false;    // found by find_delay() within +-max_delay
  std::int64_t entries = 0;  // N, when given and not automatic
  std::uint32_t max_delay = 256;
};

inline constexpr std::uint32_t max_max_delay = 65535;
// find_delay() looks at no more than this many entries of each file.
inline constexpr std::size_t delay_window = 65536;
// ... and compares no more than this many pairs, over all its candidates.
inline constexpr std::uint64_t max_search_pairs = std::uint64_t{1} << 26;

// What find_delay() looked at and what it found.
struct delay_search {
  std::int64_t found = 0;
  // The delays that scored as well as `found`, `found` first, then in the
  // order ties are settled; no more than a line shows.
  std::vector<std::int64_t> equally_good;
  std::size_t more_equally_good = 0;  // those left out of equally_good
  bool all_equally_good = false;      // every candidate scored alike
  // The most entries of each file it compared, and the delays that could
  // pair half of them: fewer than asked when the windows were cut to bound
  // the search.
  std::size_t window = 0;
  std::uint32_t reach = 0;
  bool window_cut = false;
  bool any_candidate = false;  // false: no delay within the bound fits the files' counts
};

// The delay a run used, and how it was found, if it was.
struct applied_delay {
  std::int64_t entries = 0;
  std::optional<std::uint32_t> searched_within;
  std::optional<delay_search> search{};
  // The implementation's count less the model's, once both are known.
  std::optional<std::int64_t> count_difference{};
};

// "delay: 3", or "delay: 3 (found between -256 and 256)", with what the
// search could not tell apart and the files' difference in length; no line feed.
std::string delay_line(const applied_delay& delay);

// Whether a model of `model` entries and an implementation of
// `implementation` entries agree in length under `delay`: the lagging file
// may hold from the leading file's count to |delay| entries more.
bool counts_agree(std::uint64_t model, std::uint64_t implementation, std::int64_t delay) noexcept;

// The total counts of the files, when the windows hold the whole of them.
struct file_totals {
  std::optional<std::uint64_t> model;
  std::optional<std::uint64_t> implementation;
};

// The delay from -max_delay to max_delay with the smallest mean squared
// difference in LSB over the pairs it makes within the two windows (raw
// results of `format`; unknown_value takes no part), among the delays that
// pair at least half the shorter window and, where both totals are known,
// that counts_agree() allows. Each entry of the leading file that a delay
// leaves without a partner (known where the lagging file's total is) counts
// as a pair of the largest difference the format has, so that no delay wins
// by leaving faults out. Ties go to the smallest |N|, then to the positive
// one; 0 when no delay has a known pair. The windows are cut so that no
// more than max_search_pairs pairs are compared.
delay_search find_delay(std::span<const std::int64_t> model,
                        std::span<const std::int64_t> implementation, const q_format& format,
                        std::uint32_t max_delay, const file_totals& totals = {});

}  // namespace decimal
