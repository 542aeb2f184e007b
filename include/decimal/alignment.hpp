#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "decimal/q_format.hpp"

namespace decimal {

// How the implementation's entries line up with the model's. With a delay N
// > 0 the implementation lags: model entry k pairs with implementation entry
// k + N; with N < 0 the model lags: model entry k + |N| pairs with
// implementation entry k. Entries without a counterpart are not compared.
struct delay_setting {
  bool given = false;        // none given: the entries pair up as they come
  bool automatic = false;    // found by find_delay() within +-max_delay
  std::int64_t entries = 0;  // N, when given and not automatic
  std::uint32_t max_delay = 256;
};

inline constexpr std::uint32_t max_max_delay = 65535;
// find_delay() looks at no more than this many entries of each file.
inline constexpr std::size_t delay_window = 65536;

// The delay a run used, and the bound it was searched within, if it was.
struct applied_delay {
  std::int64_t entries = 0;
  std::optional<std::uint32_t> searched_within;
};

// "delay: 3", or "delay: 3 (found between -256 and 256)"; no line feed.
std::string delay_line(const applied_delay& delay);

// Whether a model of `model` entries and an implementation of
// `implementation` entries agree in length under `delay`: the file that
// leads may hold from 0 to |delay| entries more than the lagging one holds
// after its first |delay|.
bool counts_agree(std::uint64_t model, std::uint64_t implementation, std::int64_t delay) noexcept;

// The delay from -max_delay to max_delay whose pairs within the two windows
// (raw results of `format`; unknown_value takes no part) have the smallest
// mean squared difference in LSB, among the delays with at least half as
// many pairs as the shorter window; ties go to the smallest |N|, then to the
// positive one. 0 when no delay has a known pair.
std::int64_t find_delay(std::span<const std::int64_t> model,
                        std::span<const std::int64_t> implementation, const q_format& format,
                        std::uint32_t max_delay);

}  // namespace decimal
