#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "decimal/accumulator.hpp"
#include "decimal/envelope.hpp"
#include "decimal/held_output.hpp"
#include "decimal/q_format.hpp"
#include "decimal/run.hpp"

namespace decimal {

// What decimal-diff checks a run against.
struct verdict_rules {
  q_format format{};
  std::uint64_t tolerance = 0;         // in LSB, 0 to 2^W - 1
  std::optional<double> min_snr_db{};  // fail also below this SNR
  std::optional<std::size_t> count{};  // compare only the first COUNT entries
};

// Why a run fails, each as the verdict line gives it ("2 entries beyond 6
// LSB", "snr 59.99 dB below 60 dB"); none when it passes. An SNR equal to the
// minimum passes, and is never shown rounded up to it.
std::vector<std::string> fail_reasons(const accumulator& figures,
                                      const std::optional<double>& min_snr_db);

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

// "B of N entries differ by more than T LSB; largest D LSB at index I; mean M
// LSB, rms R LSB, snr S dB", and " (minimum X dB)" with a minimum; no line feed.
std::string summary_figures(const accumulator& figures, const std::optional<double>& min_snr_db);

// The lines that close the output: the histogram, the summary and the verdict.
std::string render_closing(const accumulator& figures, const std::optional<double>& min_snr_db,
                           const std::vector<std::string>& reasons);

// The outcome of checking one directory.
struct run_verdict {
  accumulator figures;
  std::vector<std::string> reasons;  // empty for a pass

  bool pass() const noexcept { return reasons.empty(); }
};

// Reads the run (see entry_stream) and compares it by `rules`, appending the
// line of each entry beyond the tolerance to `lines` and each entry to
// `plot_data`, when given. Throws the run's trouble.
run_verdict check_run(const run_paths& paths, const verdict_rules& rules, held_output* lines,
                      envelope* plot_data);

}  // namespace decimal
