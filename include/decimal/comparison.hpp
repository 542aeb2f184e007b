#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "decimal/accumulator.hpp"
#include "decimal/alignment.hpp"
#include "decimal/envelope.hpp"
#include "decimal/q_format.hpp"
#include "decimal/run.hpp"

namespace decimal {

// What decimal-diff checks a run against.
struct verdict_rules {
  q_format format{};
  std::uint64_t tolerance = 0;         // in LSB, 0 to 2^W - 1
  std::optional<double> min_snr_db{};  // fail also below this SNR
  std::optional<std::size_t> count{};  // compare only the first COUNT entries
  std::uint64_t skip = 0;              // read and check the first SKIP pairs, but leave them out
  delay_setting delay{};
};

// An entry beyond the tolerance, as read.
struct entry_beyond {
  std::uint64_t index;
  std::int64_t res_m;
  std::int64_t res_c;
  std::optional<std::int64_t> sample;  // none when the run has no samples
  std::int64_t difference;
};

// Takes each entry beyond the tolerance, in order, as long as it returns
// true: once it has all it shows, it returns false and gets no more.
using entry_sink = std::function<bool(const entry_beyond&)>;

// Why a run fails, each as the verdict line gives it ("2 entries beyond 6
// LSB", "snr 59.99 dB below 60 dB"); none when it passes. An SNR equal to the
// minimum passes, and is never shown rounded up to it.
std::vector<std::string> fail_reasons(const accumulator& figures,
                                      const std::optional<double>& min_snr_db);

// The unknown entries of each letter that has some, in std_logic's order
// (U X Z W - L H), as the summary and JSON give them.
std::vector<std::pair<char, std::uint64_t>> unknown_letter_tally(const accumulator& figures);

// The longest entry line: two Q32.0 extremes with six decimals, a 32-bit
// sample, a 20-digit index and a 33-bit difference fit with room to spare.
inline constexpr std::size_t max_entry_line = 160;

// Writes "index:I, res_m:M, res_c:C, samp:S, diff:D\n" into `out` (room for
// max_entry_line bytes) and returns its end: decimal's report line, with the
// results in `format` printed to format.decimals() digits, and the
// difference; without a sample, the line has no samp field.
char* render_entry_line(char* out, const q_format& format, std::uint64_t index, std::int64_t res_m,
                        std::int64_t res_c, std::optional<std::int64_t> sample,
                        std::int64_t difference);

// The same line for an entry.
char* render_entry_line(char* out, const q_format& format, const entry_beyond& entry);

// "B of N entries differ by more than T LSB; largest D LSB at index I; mean M
// LSB, rms R LSB, snr S dB", with " (K skipped)" after "entries" when some
// were, the unknown and missing entries after the count, " (minimum X dB)"
// with a minimum, and the lagging file's lead-in of a delay `lead_in` last;
// no line feed.
std::string summary_figures(const accumulator& figures, const std::optional<double>& min_snr_db,
                            std::uint64_t skipped = 0, std::int64_t lead_in = 0);

// The outcome of checking one directory.
struct run_verdict {
  accumulator figures;
  std::vector<std::string> reasons;  // empty for a pass
  std::uint64_t skipped = 0;
  std::optional<applied_delay> delay{};  // when one was given
  // The first entry beyond the tolerance or unknown, where debugging starts.
  std::optional<std::uint64_t> first_beyond{};

  bool pass() const noexcept { return reasons.empty(); }
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
                           std::int64_t lead_in = 0);

// Reads the run (see entry_stream) and compares it by `rules`, handing each
// entry beyond the tolerance to `beyond` and each entry compared to
// `plot_data`, when given; `start` starts the stream's helper threads.
// Throws the run's trouble, and trouble when rules.skip leaves no entry. A
// delay that was given or found goes to `delay_used`, when given, as soon as
// it is known: trouble after it still tells it.
run_verdict check_run(const run_paths& paths, const verdict_rules& rules, const entry_sink& beyond,
                      envelope* plot_data, const thread_starter& start = start_thread,
                      std::optional<applied_delay>* delay_used = nullptr);

}  // namespace decimal
