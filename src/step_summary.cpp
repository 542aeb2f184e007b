#include "decimal/step_summary.hpp"

#include "decimal/display.hpp"

namespace decimal {
namespace {

// What the rows of those that did not pass may take, at most; the rest of
// the limit is the verdict, the table's head and the names that passed.
constexpr std::size_t row_bytes = std::size_t{6} * 1024;
constexpr std::size_t passed_names_bytes = summary_byte_limit / 4;

}  // namespace

std::string markdown_text(std::string_view text) {
  std::string marked;
  for (const char c : shown_name(text)) {
    if (std::string_view("\\`*_[]|#~!").find(c) != std::string_view::npos) marked += '\\';
    marked += c;
  }
  return xml_text(marked);  // GitHub renders HTML: none may start
}

void step_summary::add(const directory_report& report) {
  const std::size_t given = ++directories_;
  if (report.outcome == run_outcome::pass) {
    ++passed_;
    const std::string name = markdown_text(report.directory);
    if (passed_names_.size() + name.size() + 2 <= passed_names_bytes) {
      passed_names_ += (passed_listed_++ == 0 ? "" : ", ") + name;
    }
    return;
  }
  ++(report.outcome == run_outcome::fail ? failed_ : in_trouble_);
  const report_place at = place_of(report, given);
  if (!rows_.wants(at)) return;
  std::string row = "| " + markdown_text(report.directory) + " | " +
                    (report.outcome == run_outcome::fail ? "fail" : "**TROUBLE**") + " | ";
  if (report.outcome == run_outcome::trouble) {
    row += markdown_text(report.message) + " | | | | | | | |";  // no figures
  } else {
    row += markdown_text(joined_reasons(report.verdict->reasons)) + " |";
    for (const shown_figure& figure : table_figures(report.verdict->figures)) {
      row += " " + figure.text + " |";
    }
  }
  // A row is bounded, whatever the name or message.
  if (row.size() > row_bytes) {
    std::size_t cut = row_bytes - 6;
    while ((static_cast<unsigned char>(row[cut]) & 0xC0) == 0x80) --cut;  // a character's start
    row = row.substr(0, cut) + " ... |";
  }
  rows_.offer(at, row + '\n');
}

std::string step_summary::text() const {
  std::string text =
      "### decimal-diff: " + markdown_text(call_verdict_line(directories_, failed_, in_trouble_)) +
      "\n\n";
  const auto rows = rows_.in_order();
  if (!rows.empty()) {
    text +=
        "| directory | verdict | reasons or trouble | compared | beyond | unknown | largest (LSB) "
        "| at index | rms (LSB) | snr |\n"
        "| --- | --- | --- | ---: | ---: | ---: | ---: | ---: | ---: | ---: |\n";
    for (const auto* row : rows) text += row->item;
    const std::size_t more = failed_ + in_trouble_ - rows.size();
    if (more != 0) {
      text += "\n" + std::to_string(more) + " more did not pass; the JUnit report and the page " +
              "list every directory.\n";
    }
    text += '\n';
  }
  if (passed_ != 0) {
    text +=
        "<details><summary>" + std::to_string(passed_) + " passed</summary>\n\n" + passed_names_;
    if (passed_listed_ < passed_) {
      text += (passed_listed_ == 0 ? "" : ", and ") + std::to_string(passed_ - passed_listed_) +
              " more";
    }
    text += "\n\n</details>\n";
  }
  return text;
}

}  // namespace decimal
