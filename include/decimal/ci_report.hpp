#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "decimal/comparison.hpp"
#include "decimal/output_file.hpp"

namespace decimal {

enum class run_outcome { pass, fail, trouble };

// "pass", "fail" or "trouble", as the reports name an outcome.
const char* verdict_name(run_outcome outcome);

// What checking one directory gave, for the reports that cover a whole call.
struct directory_report {
  std::string directory;  // as given on the command line
  run_outcome outcome = run_outcome::trouble;
  std::optional<run_verdict> verdict;  // none in trouble
  std::string message;                 // trouble's, without the program's name
  std::optional<applied_delay> delay;  // the delay used, in trouble too once it was known
  std::string attachment;              // the file of its plot by --plot-dir, if any
  std::string hint;     // for a failure: "a delay of 3 would explain it (--delay=3)", if one would
  std::string summary;  // the summary line as the text has it, without "summary: "
  // What a CI viewer opens on: the verdict, summary, delay and histogram
  // lines, then the first junit_line_limit lines beyond the tolerance.
  std::string output;
  double seconds = 0;
};

// How many of a directory's lines beyond the tolerance the JUnit report
// keeps, and how many entries the JSON line lists; the counts tell the rest.
inline constexpr std::size_t junit_line_limit = 100;
inline constexpr std::size_t json_entry_limit = 1000;

// The call's verdict in a line that reads without colour:
// "FAIL: 2 of 5 directories failed, 0 in trouble", "TROUBLE: 1 of 5
// directories in trouble, 2 failed", "PASS: all 5 directories passed".
std::string call_verdict_line(std::size_t directories, std::size_t failed, std::size_t in_trouble);

// A figure as the reports' tables show it, and a number to sort it by.
struct shown_figure {
  std::string text;
  std::string key;  // empty for none
};

// A run's figures as the tables show them: compared, beyond the
// tolerance, unknown, largest difference, its index, rms and SNR; the last
// four empty when no entry is known in both.
std::array<shown_figure, 7> table_figures(const accumulator& figures);

// A setting of the call, as the JUnit report lists it.
struct report_property {
  std::string name;
  std::string value;
};

// When, where and how a call ran, as its reports state it.
struct call_origin {
  std::string timestamp;  // ISO 8601, local time, no zone
  std::string hostname;
  std::string options;  // the command line's options, without its directories

  // This moment on this host.
  static call_origin now(std::string options = {});
};

// A JUnit XML report as strict consumers take it: a <testsuites> root
// holding one testsuite "decimal-diff" (with the time and host of the call
// and its settings as properties), one testcase per directory.
class junit_report {
 public:
  // The call starts now, with these settings; its suite and the class of
  // its cases are named `suite`, so that the reports of two calls merge as
  // two suites.
  explicit junit_report(std::vector<report_property> settings,
                        const std::string& suite = "decimal-diff");

  void add(directory_report report);

  // The report as XML 1.0 in UTF-8.
  std::string text() const;

  // Writes the report to `file` (see output_file); throws error("junit: ...")
  // when it cannot.
  void write(const output_file& file) const;

 private:
  std::vector<report_property> settings_;
  std::string suite_;
  call_origin origin_;
  std::vector<directory_report> reports_;
};

// One of decimal-diff's --json lines, written in parts because the entries
// beyond the tolerance may be too many to hold: json_head(), then each entry
// (json_entry(), separated by ","), then json_tail().
struct json_settings {
  const verdict_rules& rules;
  std::uint64_t skipped;
};

// The object up to its "beyond" array, opened: directory, verdict, reasons
// or message, settings, figures and histogram.
std::string json_head(const directory_report& report, const json_settings& settings);
// A real model's value is given in real units of a format of `fraction_bits`.
std::string json_entry(const entry_beyond& entry, int fraction_bits = 0);
// Closes the array and the object, and ends the line.
std::string json_tail();

}  // namespace decimal
