#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "decimal/ci_report.hpp"
#include "decimal/report_order.hpp"

namespace decimal {

// How many directories that did not pass the step summary has rows for.
inline constexpr std::size_t summary_row_limit = 100;
// The most a summary holds: what GitHub shows of a step's.
inline constexpr std::size_t summary_byte_limit = std::size_t{1} << 20;

// Text for a Markdown table's cell or a line: shown as the terminal shows
// it, with Markdown's and HTML's special characters taken literally.
std::string markdown_text(std::string_view text);

// A Markdown summary of a call, as a CI step shows it (GitHub's
// GITHUB_STEP_SUMMARY): the call's verdict as the page's banner has it; a
// table of the directories that did not pass, worst first, with their
// reasons or trouble and figures, at most summary_row_limit rows, then how
// many more there are; and those that passed, folded in <details>. Never
// more than summary_byte_limit: names past it are counted, not listed.
class step_summary {
 public:
  void add(const directory_report& report);

  std::string text() const;

 private:
  first_in_order<std::string> rows_{summary_row_limit};
  std::string passed_names_;
  std::size_t passed_listed_ = 0;
  std::size_t directories_ = 0;
  std::size_t passed_ = 0;
  std::size_t failed_ = 0;
  std::size_t in_trouble_ = 0;
};

}  // namespace decimal
