#pragma once

#include <optional>
#include <string>
#include <vector>

#include "decimal/comparison.hpp"

namespace decimal {

// What one call of decimal-diff checks, and how it reports.
struct batch_settings {
  verdict_rules rules;
  std::optional<std::string> samples_name = samples_file;  // none: the run has no samples
  std::string results_m_name = results_m_file;
  std::string results_c_name = results_c_file;
  // The files of the imaginary parts, when a complex result is written as two.
  std::optional<std::string> results_m_imag_name;
  std::optional<std::string> results_c_imag_name;
  bool sample_per_entry = false;  // samples as many as the result entries, not one a frame
  run_encodings encodings{};
  std::vector<std::string> directories;  // none: the current directory
  std::optional<std::string> plot_file;  // for a single directory
  std::optional<std::string> plot_dir;   // a plot of each failed one, up to plot_dir_limit
  std::optional<std::string> junit_file;
  std::optional<std::string> junit_suite;   // none: decimal-diff and the verdict's options
  std::optional<std::string> html_file;     // the page of every directory
  std::optional<std::string> summary_file;  // a Markdown summary, replaced
  std::optional<std::string> step_summary;  // a CI step's summary, appended to
  bool quiet = false;
  bool json = false;
  bool color = false;     // the text's verdicts and differences beyond the tolerance in colour
  bool progress = false;  // a line of progress on standard error, a terminal
  std::string options;    // the command line's options, as the page states them
};

// How many failed directories --plot-dir draws, at most.
inline constexpr std::size_t plot_dir_limit = 100;

// Exit statuses, as cmp and diff have them.
inline constexpr int status_pass = 0;
inline constexpr int status_fail = 1;
inline constexpr int status_trouble = 2;

// The name, without its directory, that --plot-dir gives the plot of the
// directory `dir`: its letters, digits, '.', '-' and '_', anything else as
// '_', and ".png"; "current.png" for the current directory.
std::string plot_name(const std::string& dir);

// Checks every directory in the order given, whatever the others gave, and
// writes each one's output whole once it is known: its lines, or one JSON
// line, on standard output, and its trouble on standard error. With several
// directories, each block starts with "==> DIR <==" and a total line ends
// the output. Returns the worst status of any directory. Throws error when
// standard output or the JUnit report cannot be written.
int run_batch(const batch_settings& settings);

}  // namespace decimal
