#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "decimal/ci_report.hpp"
#include "decimal/comparison.hpp"
#include "decimal/envelope.hpp"
#include "decimal/output_file.hpp"
#include "decimal/report_order.hpp"

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
  // With several channels: each charted one's entries (the verdict's
  // channels, in order), instead of `chart`.
  const std::vector<envelope>* channel_charts = nullptr;
};

// How many channels of a directory the page charts: those with the most
// entries beyond their tolerance first, then in channel order.
inline constexpr std::size_t html_channel_chart_limit = 4;

// How many directories that did not pass get a section of their own (a
// chart and their entries) on the page; the rest are rows of the table.
inline constexpr std::size_t html_section_limit = 100;

// One self-contained HTML page for every directory of a call: a banner of
// the call's verdict, when, where and how it ran, and the totals; a table of
// the directories, worst first (trouble, fail, pass, then by name), that can
// be filtered and sorted; for the first html_section_limit that did not
// pass, in that order, a section with the delay and histogram lines and, for
// a failed one, a chart of both results and the difference with the
// tolerance band and its first entries beyond the tolerance (the chart
// library and every script and style inline, nothing fetched; each chart
// drawn when it comes into view). Without JavaScript the table and the
// figures still show. Only the rows and the sections kept are held.
class html_report {
 public:
  explicit html_report(std::vector<report_property> settings,
                       call_origin origin = call_origin::now());

  void add(const directory_report& report, const page_details& details);

  // The page, UTF-8.
  std::string text() const;

  // Writes the page to `file` (see output_file); throws error("html: ...")
  // when it cannot.
  void write(const output_file& file) const;

 private:
  struct row {
    report_place at;
    std::string verdict;
    std::string cells;  // after the directory's
  };

  std::vector<report_property> settings_;
  call_origin origin_;
  std::vector<row> rows_;
  first_in_order<std::string> sections_{html_section_limit};
  std::size_t directories_ = 0;
  std::size_t passed_ = 0;
  std::size_t failed_ = 0;
  std::size_t in_trouble_ = 0;
};

}  // namespace decimal
