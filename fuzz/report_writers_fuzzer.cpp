// Feeds arbitrary directory names, trouble messages and entries (unknown and
// missing ones among them) to the writers of the JSON line, the JUnit report
// and the page, and checks that each is what its readers take: the JSON line
// parses, on one line, with the directory as the path (escaped only when it
// is not UTF-8) and null for every value the files did not give; the JUnit
// report and the page are well-formed XML with a testcase and a row for each
// directory.
//
// Input: a byte for the width (1 to 32); then directories, each a byte of
// flags (bit 0: in trouble; bits 1-2: a delay of -1, 0 or 1), a byte for
// its name's length, the name, and a byte for the number of entries, each
// three 4-byte words (res_m, res_c, sample; bits 30-31: unknown, missing).

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <pugixml.hpp>
#include <string>
#include <string_view>
#include <vector>

#include "decimal/ci_report.hpp"
#include "decimal/display.hpp"
#include "decimal/envelope.hpp"
#include "decimal/html_report.hpp"
#include "decimal/number_source.hpp"
#include "decimal/step_summary.hpp"

namespace {

void check(bool condition) {
  if (!condition) std::abort();
}

// Reads the input a byte or a word at a time; 0 past its end.
class input {
 public:
  input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  bool done() const noexcept { return at_ >= size_; }
  std::uint8_t byte() { return at_ < size_ ? data_[at_++] : 0; }
  std::uint32_t word() {
    std::uint32_t w = 0;
    for (int b = 0; b < 4; ++b) w |= std::uint32_t{byte()} << (8 * b);
    return w;
  }
  std::string bytes(std::size_t n) {
    n = std::min(n, size_ - std::min(at_, size_));
    std::string s(reinterpret_cast<const char*>(data_ + at_), n);
    at_ += n;
    return s;
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t at_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  input in(data, size);
  const int width = in.byte() % 32 + 1;
  decimal::verdict_rules rules;
  rules.format = {1, width - 1};
  const std::vector<decimal::report_property> settings = {{"format", rules.format.name()}};
  decimal::junit_report junit(settings);
  decimal::html_report page(settings);
  decimal::step_summary summary;
  std::size_t directories = 0;
  std::size_t not_passed = 0;
  while (!in.done() && directories < 8) {
    const std::uint8_t flags = in.byte();
    decimal::directory_report report;
    report.directory = in.bytes(in.byte());
    const std::size_t count = in.byte() % 16;
    std::vector<decimal::entry_beyond> entries;
    decimal::accumulator figures(rules.format, 0);
    for (std::size_t i = 0; i < count; ++i) {
      const auto value = [&](std::uint32_t w) -> std::int64_t {
        if ((w >> 30) == 1) return decimal::unknown_value_of(w % decimal::unknown_letters.size());
        if ((w >> 30) == 2) return decimal::missing_value;
        return static_cast<std::int64_t>(w & ((std::uint64_t{1} << width) - 1));
      };
      const std::int64_t m = value(in.word());
      const std::int64_t c = value(in.word());
      const std::int64_t sample = static_cast<std::int32_t>(in.word());
      std::int64_t d = 0;
      if (decimal::is_unknown(m) || decimal::is_unknown(c)) {
        d = decimal::unknown_value;
        figures.add_unknown();
      } else if (m == decimal::missing_value || c == decimal::missing_value) {
        d = decimal::missing_value;
        figures.add_missing(c == decimal::missing_value);
      } else {
        d = figures.add(m, c);
      }
      entries.push_back({i, m, c, (flags & 8) != 0 ? std::nullopt : std::optional(sample), d});
    }
    if ((flags & 1) != 0) {
      report.outcome = decimal::run_outcome::trouble;
      report.message = decimal::shown_name(in.bytes(in.byte()));
    } else {
      decimal::run_verdict verdict{figures, decimal::fail_reasons(figures, std::nullopt)};
      if (const int delay = (flags >> 1) & 3; delay != 0) {
        verdict.delay = decimal::applied_delay{delay == 1 ? 1 : -1, 256};
      }
      report.outcome = verdict.pass() ? decimal::run_outcome::pass : decimal::run_outcome::fail;
      report.summary = decimal::summary_figures(figures, std::nullopt);
      report.output = decimal::verdict_line(verdict.reasons);
      report.verdict = std::move(verdict);
    }
    // The JSON line: one line, parsed whole.
    std::string line = decimal::json_head(report, {rules, 0});
    for (std::size_t i = 0; i < entries.size(); ++i) {
      line += (i == 0 ? "" : ",") + decimal::json_entry(entries[i]);
    }
    line += decimal::json_tail();
    check(line.find('\n') == line.size() - 1);
    const nlohmann::json parsed = nlohmann::json::parse(line);
    // The path itself where it is UTF-8, escaped where it is not.
    check(parsed["directory"] == (decimal::valid_utf8(report.directory)
                                      ? report.directory
                                      : decimal::shown_name(report.directory)));
    check(parsed["beyond"].size() == entries.size());
    for (std::size_t i = 0; i < entries.size(); ++i) {
      const nlohmann::json& e = parsed["beyond"][i];
      const auto given = [](std::int64_t n) {
        return !decimal::is_unknown(n) && n != decimal::missing_value;
      };
      check(e["res_m"].is_null() != given(entries[i].res_m));
      check(e["res_c"].is_null() != given(entries[i].res_c));
      check(e["diff"].is_null() != given(entries[i].difference));
      check(e["sample"].is_null() == !entries[i].sample.has_value());
    }
    // The chart of what was read: its picture must stay well-formed too.
    decimal::envelope chart;
    for (const decimal::entry_beyond& e : entries) {
      if (decimal::is_unknown(e.difference)) {
        chart.add_unknown();
      } else if (e.difference != decimal::missing_value) {
        chart.add(e.res_m, e.res_c, e.difference);
      }
    }
    page.add(report, {rules.format, 0, &chart, entries});
    summary.add(report);
    not_passed += report.outcome == decimal::run_outcome::pass ? 0 : 1;
    junit.add(std::move(report));
    ++directories;
  }
  pugi::xml_document junit_xml;
  check(static_cast<bool>(junit_xml.load_string(junit.text().c_str())));
  check(junit_xml.select_nodes("//testcase").size() == directories);
  pugi::xml_document page_xml;
  check(static_cast<bool>(page_xml.load_string(page.text().c_str())));
  check(page_xml.select_nodes("//table[@id='directories']/tbody/tr").size() == directories);
  // The summary: bounded, UTF-8, one table row for each that did not pass,
  // whatever a name or message holds.
  const std::string markdown = summary.text();
  check(markdown.size() <= decimal::summary_byte_limit);
  check(decimal::valid_utf8(markdown));
  std::size_t rows = 0;
  for (std::size_t at = 0; (at = markdown.find("\n| ", at)) != std::string::npos; ++at) ++rows;
  check(rows == (not_passed == 0 ? 0 : not_passed + 2));  // and the heading and its rule
  return 0;
}
