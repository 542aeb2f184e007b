#pragma once

#include <optional>
#include <string>
#include <vector>

#include "decimal/comparison.hpp"

namespace decimal {

// check_run() for a run of several channels (rules.channels): each frame's
// entries go to their channel's figures, with its own limits, and with
// --complex the frame's error vector to the EVM. Indices are frames; the
// delay, skip and count count frames too.
run_verdict check_channels(const run_paths& paths, const verdict_rules& rules,
                           const entry_sink& beyond, envelope* plot_data,
                           const thread_starter& start, std::optional<applied_delay>* delay_used,
                           std::vector<envelope>* channel_plot_data = nullptr);

// Each channel's histogram, summary and rounding lines ("summary Q: ..."),
// the EVM and the total, each with its line feed.
std::string channel_lines(const run_verdict& verdict);

// The closing lines of such a run: the delay, channel_lines() and the verdict.
std::string render_channels_closing(const run_verdict& verdict);

// The total line's figures, as the summary of the run.
std::string total_figures(const run_verdict& verdict);

// "channel Q: 3 entries beyond 2 LSB": a channel's reason, named.
std::string channel_reason(const std::string& name, const std::string& reason);

// The tolerances of the channels compared, as the total line gives them:
// "7" when they agree, else "7,7,3".
std::string tolerance_list(const verdict_rules& rules);

}  // namespace decimal
