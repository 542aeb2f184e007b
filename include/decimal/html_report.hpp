#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "decimal/ci_report.hpp"
#include "decimal/comparison.hpp"
#include "decimal/envelope.hpp"
#include "decimal/output_file.hpp"

namespace decimal {

// How many entries beyond the tolerance the page lists for a directory.
inline constexpr std::size_t html_entry_limit = 100;

// What the page shows of a directory beside its report: for a failed one,
// its chart's columns and the first entries beyond the tolerance.
struct page_details {
  const q_format& format;
  double tolerance;
  const envelope* chart = nullptr;
  std::vector<entry_beyond> first_beyond{};
};

// One self-contained HTML page for every directory of a call: the version,
// the settings and the totals; a table of the directories that can be
// filtered and sorted; for each failed one a chart of both results and the
// difference with the tolerance band (the chart library and every script and
// style inline, nothing fetched) and its first entries beyond the tolerance.
// Without JavaScript the table and the figures still show. Each directory
// is rendered when it is added, so that only the page is held.
class html_report {
 public:
  explicit html_report(std::vector<report_property> settings);

  void add(const directory_report& report, const page_details& details);

  // The page, UTF-8.
  std::string text() const;

  // Writes the page to `file` (see output_file); throws error("html: ...")
  // when it cannot.
  void write(const output_file& file) const;

 private:
  std::vector<report_property> settings_;
  std::string rows_;
  std::string sections_;
  std::size_t directories_ = 0;
  std::size_t passed_ = 0;
  std::size_t failed_ = 0;
  std::size_t in_trouble_ = 0;
};

}  // namespace decimal
