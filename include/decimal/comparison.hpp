#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "decimal/accumulator.hpp"
#include "decimal/alignment.hpp"
#include "decimal/channel_layout.hpp"
#include "decimal/envelope.hpp"
#include "decimal/evm.hpp"
#include "decimal/q_format.hpp"
#include "decimal/run.hpp"

namespace decimal {

// What decimal-diff checks a run against.
struct verdict_rules {
  q_format format{};
  double tolerance = 0;  // in LSB, 0 to 2^W - 1; a fraction of one only with a real model
  std::optional<double> min_snr_db{};  // fail also below this SNR
  std::optional<double> max_mean{};    // fail also when |mean| is beyond this many LSB
  std::optional<int> accuracy{};       // fail also when this accuracy level is not met
  std::optional<std::size_t> count{};  // compare only the first COUNT entries (frames)
  std::uint64_t skip = 0;              // read and check the first SKIP pairs, but leave them out
  delay_setting delay{};               // in frames
  channel_layout channels{};

  // The limits of channel `channel`: its own, or the rules'.
  channel_limits limits(std::size_t channel) const {
    if (channel < channels.limits.size()) return channels.limits[channel];
    return {tolerance, min_snr_db, max_mean, accuracy};
  }
};

// Accuracy levels run from 1 to this.
inline constexpr int max_accuracy_level = 40;

// An entry beyond the tolerance, as read.
struct entry_beyond {
  std::uint64_t index;
  std::int64_t res_m;
  std::int64_t res_c;
  std::optional<std::int64_t> sample;  // none when the run has no samples
  std::int64_t difference;
  bool real_model = false;  // res_m and the difference are real_word()s
  std::string channel{};    // its name, with several channels: the index is the frame's
};

// Takes each entry beyond the tolerance, in order, as long as it returns
// true: once it has all it shows, it returns false and gets no more.
using entry_sink = std::function<bool(const entry_beyond&)>;

// Why a run fails, each as the verdict line gives it ("2 entries beyond 6
// LSB", "snr 59.99 dB below 60 dB"); none when it passes. An SNR equal to the
// minimum passes, and is never shown rounded up to it.
// A mean beyond `max_mean` fails too ("mean -0.498 LSB beyond ±0.25 LSB"),
// after the SNR, and then an `accuracy` level not met ("accuracy level 16 not
// met (rms 0.312 > 0.289 LSB)").
std::vector<std::string> fail_reasons(const accumulator& figures,
                                      const std::optional<double>& min_snr_db,
                                      const std::optional<double>& max_mean = {},
                                      const std::optional<int>& accuracy = {});

// accumulator::add() for a block with unknown entries: those are counted
// apart, with an unknown value for their difference; the runs between them are
// added as usual. Returns whether any entry is beyond the tolerance or unknown.
bool add_with_unknowns(accumulator& figures, std::span<const std::int64_t> model,
                       std::span<const std::int64_t> implementation,
                       std::span<std::int64_t> differences);

// The limits of accuracy level K for N fraction bits, as audio and video
// conformance states them: the rms of the differences at most
// 2^(N-K+1)/sqrt(12) LSB, and the largest |difference| at most 2^(N-K+2) LSB.
double accuracy_rms_limit(int fraction_bits, int level);
double accuracy_largest_limit(int fraction_bits, int level);
// The highest level from 1 to max_accuracy_level whose limits the figures
// meet; none when not even level 1's.
std::optional<int> highest_accuracy_level(const accumulator& figures);

// "rounding: mean M LSB, rms R LSB (ideal rounding: mean 0, rms 0.289 LSB)"
// and "accuracy: level K met; highest level met: H", each with its line feed:
// the first when `rounding`, the second when `accuracy_line` (with "level K
// ..." when `accuracy` names a level); "" with neither.
std::string rounding_lines(const accumulator& figures, bool rounding, bool accuracy_line,
                           const std::optional<int>& accuracy);

// The unknown entries of each letter that has some, in std_logic's order
// (U X Z W - L H), as the summary and JSON give them.
std::vector<std::pair<char, std::uint64_t>> unknown_letter_tally(const accumulator& figures);

// The longest entry line: two Q32.0 extremes with six decimals, a 32-bit
// sample, a 20-digit index and a 33-bit difference fit with room to spare.
// A channel's name adds at most max_channel_name bytes.
inline constexpr std::size_t max_channel_name = 16;
inline constexpr std::size_t max_entry_line = 160 + max_channel_name + 1;

// Writes "index:I, res_m:M, res_c:C, samp:S, diff:D\n" into `out` (room for
// max_entry_line bytes) and returns its end: decimal's report line, with the
// results in `format` printed to format.decimals() digits, and the
// difference; without a sample, the line has no samp field.
// With a `real_model`, res_m and the difference are real_word()s: the
// difference is printed with three decimals.
// A `channel` name follows the index: "index:5.Q, ...".
char* render_entry_line(char* out, const q_format& format, std::uint64_t index, std::int64_t res_m,
                        std::int64_t res_c, std::optional<std::int64_t> sample,
                        std::int64_t difference, bool real_model = false,
                        std::string_view channel = {});

// The same line for an entry.
char* render_entry_line(char* out, const q_format& format, const entry_beyond& entry);

// "B of N entries differ by more than T LSB; largest D LSB at index I; mean M
// LSB, rms R LSB, snr S dB", with " (K skipped)" after "entries" when some
// were, the unknown and missing entries after the count, " (minimum X dB)"
// with a minimum, and the lagging file's lead-in of a delay `lead_in` last;
// no line feed.
// A total over channels gives its `tolerance` text ("7,7,3") and the
// `largest_channel`'s name after the index ("at index 5.Q").
struct summary_naming {
  std::string tolerance{};
  std::string largest_channel{};
};
std::string summary_figures(const accumulator& figures, const std::optional<double>& min_snr_db,
                            std::uint64_t skipped = 0, std::int64_t lead_in = 0,
                            const summary_naming& naming = {});

// The figures of one channel of a run with several.
struct channel_verdict {
  std::size_t channel;
  std::string name;
  accumulator figures;
  std::optional<double> min_snr_db;  // its own
  std::vector<std::string> reasons;  // unnamed: "3 entries beyond 2 LSB"
  std::string rounding{};            // its rounding and accuracy lines, named
  std::optional<std::uint64_t> first_beyond{};
};

// The outcome of checking one directory.
struct run_verdict {
  // With several channels, the total over those compared.
  accumulator figures;
  std::vector<std::string> reasons;  // empty for a pass
  std::uint64_t skipped = 0;
  std::optional<applied_delay> delay{};  // when one was given
  // The first entry beyond the tolerance or unknown, where debugging starts.
  std::optional<std::uint64_t> first_beyond{};
  // The rounding and accuracy lines that follow the summary, when the run
  // has them (a real or wider model, --max-mean, --accuracy).
  std::string rounding{};
  bool shows_rounding = false;
  bool shows_accuracy = false;
  // With several channels: each one compared, in order, and where the
  // total's largest difference lies; with --complex, the EVM.
  std::vector<channel_verdict> channels{};
  std::string largest_channel{};
  std::string charted_channel{};    // the channel whose entries the plot data hold
  std::size_t frame = 1;            // entries in a frame, of every channel
  std::string tolerances{};         // the channels', as tolerance_list() gives them
  std::uint64_t entries_shown = 0;  // the lines of entries beyond, unknown or missing
  std::optional<evm_figures> evm{};

  bool pass() const noexcept { return reasons.empty(); }
  // The channel the plot data hold, when there are several.
  const channel_verdict* charted() const noexcept {
    for (const channel_verdict& c : channels) {
      if (c.name == charted_channel) return &c;
    }
    return nullptr;
  }
};

// The reasons as the verdict line gives them, joined by "; ".
std::string joined_reasons(const std::vector<std::string>& reasons);

// "histogram: D:C ..." ("histogram: none" when no entry is known in both)
// and "verdict: pass" or "verdict: fail: REASONS", each with its line feed.
std::string histogram_line(const accumulator& figures);
std::string verdict_line(const std::vector<std::string>& reasons);

// The lines that close the output: the delay when one was given, the
// histogram, the summary and the verdict.
std::string render_closing(const run_verdict& verdict, const std::optional<double>& min_snr_db);
std::string render_closing(const accumulator& figures, const std::optional<double>& min_snr_db,
                           const std::vector<std::string>& reasons, std::uint64_t skipped = 0,
                           std::int64_t lead_in = 0, const std::string& rounding = {});

// Reads the run (see entry_stream) and compares it by `rules`, handing each
// entry beyond the tolerance to `beyond` and each entry compared to
// `plot_data`, when given; `start` starts the stream's helper threads.
// Throws the run's trouble, and trouble when rules.skip leaves no entry. A
// delay that was given or found goes to `delay_used`, when given, as soon as
// it is known: trouble after it still tells it.
// The delay a run uses, in frames, once `stream` knows it: given, or found
// by a search that read its window; none when none was given or none fits.
std::optional<applied_delay> delay_of(const entry_stream& stream, const delay_setting& delay);

// With several channels, `plot_data` gets the worst channel's entries (the
// verdict's charted one), and `channel_plot_data`, when given, each
// channel's, in the order of the verdict's channels.
run_verdict check_run(const run_paths& paths, const verdict_rules& rules, const entry_sink& beyond,
                      envelope* plot_data, const thread_starter& start = start_thread,
                      std::optional<applied_delay>* delay_used = nullptr,
                      std::vector<envelope>* channel_plot_data = nullptr);

}  // namespace decimal
