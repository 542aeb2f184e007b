#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace decimal {

// decimal-diff reads at most this many channels interleaved.
inline constexpr std::size_t max_channels = 64;

// What one channel is checked against.
struct channel_limits {
  double tolerance = 0;
  std::optional<double> min_snr_db{};
  std::optional<double> max_mean{};
  std::optional<int> accuracy{};
};

// How a complex result's error is held to the tolerance: each part on its
// own (a box around the model's value) or by its magnitude (a circle).
enum class tolerance_shape { box, circle };

// What the EVM is relative to: the model's average power or its peak power.
enum class evm_reference { average, peak };

// A limit on the rms EVM: a percentage, or a level in dB (20 log10 of the ratio).
struct evm_limit {
  double value = 0;
  bool decibels = false;
};

// How a run's result entries fall into channels, and what is checked of them.
struct channel_layout {
  std::size_t count = 1;                // entries in each frame, one per channel in turn
  std::vector<std::string> names{};     // empty: the channels' numbers from 0
  std::vector<std::size_t> selected{};  // the channels compared, ascending; empty: all
  // Per channel, in channel order; empty: the rules' own for every channel.
  std::vector<channel_limits> limits{};
  bool complex = false;  // channel 0 is I, channel 1 Q
  tolerance_shape shape = tolerance_shape::box;
  evm_reference reference = evm_reference::average;
  std::optional<evm_limit> max_evm{};

  // Whether the run is read as more than a single stream of entries.
  bool several() const noexcept { return count > 1; }
  // The name of channel `channel` as indices and lines show it.
  std::string name(std::size_t channel) const {
    return channel < names.size() ? names[channel] : std::to_string(channel);
  }
  bool compared(std::size_t channel) const noexcept {
    if (selected.empty()) return true;
    for (const std::size_t c : selected) {
      if (c == channel) return true;
    }
    return false;
  }
};

}  // namespace decimal
