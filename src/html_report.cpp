#include "decimal/html_report.hpp"

#include <array>
#include <cmath>
#include <cstdio>
#include <string_view>
#include <utility>

#include "decimal/display.hpp"

// The chart library and the page's own script and style, embedded at build
// time (cmake/embed_text.cmake).
extern const char dygraphs_script[];
extern const char dygraphs_style[];
extern const char page_script[];
extern const char page_style[];
// Their Content-Security-Policy sources, made with them at build time.
extern const char dygraphs_script_hash[];
extern const char dygraphs_style_hash[];
extern const char page_script_hash[];
extern const char page_style_hash[];

namespace decimal {
namespace {

// An embedded script or style sheet as the page holds it, inside a CDATA
// section so that any XML parser can check the page (the build makes sure
// none holds "]]>"). Its text is what the build hashed for the policy.
std::string page_element(std::string_view kind, std::string_view text) {
  const bool script = kind == "script";
  return "<" + std::string(kind) + ">" + (script ? "//<![CDATA[\n" : "/*<![CDATA[*/\n") +
         std::string(text) + (script ? "//]]>" : "/*]]>*/") + "</" + std::string(kind) + ">\n";
}

// Text for HTML content and quoted attributes.
std::string escaped(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&#39;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::string printed(const char* format, double value) {
  std::array<char, 64> text;
  const int n = std::snprintf(text.data(), text.size(), format, value);
  return std::string(text.data(), static_cast<std::size_t>(n));
}

// A table cell of a figure: shown as the summary shows it, sorted by `key`.
std::string figure_cell(const std::string& shown, const std::string& key) {
  return "<td class=\"number\" data-value=\"" + key + "\">" + escaped(shown) + "</td>";
}

std::string empty_cells(int count) {
  std::string cells;
  for (int i = 0; i < count; ++i) cells += "<td class=\"number\" data-value=\"\"></td>";
  return cells;
}

// The figures of a run that was read, as table cells: compared, beyond,
// largest, at index, rms, snr.
std::string figure_cells(const accumulator& figures) {
  const std::uint64_t compared = figures.entries() + figures.unknown() + figures.missing();
  std::string cells = figure_cell(std::to_string(compared), std::to_string(compared)) +
                      figure_cell(std::to_string(figures.beyond_tolerance()),
                                  std::to_string(figures.beyond_tolerance()));
  if (figures.entries() == 0) return cells + empty_cells(4);  // none known in both
  const std::uint64_t magnitude = figures.largest() < 0
                                      ? 0 - static_cast<std::uint64_t>(figures.largest())
                                      : static_cast<std::uint64_t>(figures.largest());
  if (figures.real_model()) {
    cells += figure_cell(printed("%.3f", figures.largest_lsb()),
                         shortest_decimal(std::fabs(figures.largest_lsb())));
  } else {
    cells += figure_cell(std::to_string(figures.largest()), std::to_string(magnitude));
  }
  cells +=
      figure_cell(std::to_string(figures.largest_index()), std::to_string(figures.largest_index()));
  const std::string rms = printed("%.3f", figures.rms());
  cells += figure_cell(rms, rms);
  const double snr = figures.snr_db();
  const std::string shown = printed("%.2f", snr) + " dB";
  // Sorted as numbers: infinities as the largest and smallest there are.
  const std::string key = std::isinf(snr) ? (snr > 0 ? "1e999" : "-1e999") : printed("%.2f", snr);
  return cells + figure_cell(shown, key);
}

// The chart's data: the format, the tolerance, the first entry beyond it
// and the envelope's columns (first, last, then the least and greatest of
// model, implementation and difference, in LSB), numbers only.
std::string chart_data(const page_details& details, const run_verdict& verdict) {
  std::string data = "{\"fraction_bits\":" + std::to_string(details.format.fraction_bits) +
                     ",\"tolerance\":" + shortest_decimal(details.tolerance);
  if (verdict.first_beyond) data += ",\"first_beyond\":" + std::to_string(*verdict.first_beyond);
  data += ",\"columns\":[";
  bool first = true;
  for (const envelope_column& c : details.chart->columns()) {
    data += first ? "[" : ",[";
    first = false;
    data += std::to_string(c.first) + ',' + std::to_string(c.last);
    for (const double n : {c.model_min, c.model_max, c.implementation_min, c.implementation_max,
                           c.difference_min, c.difference_max}) {
      data += ',' + shortest_decimal(n);
    }
    data += ']';
  }
  return data + "]}";
}

std::string entries_table(const page_details& details, std::uint64_t beyond) {
  std::string table =
      "<table class=\"entries\"><caption>The first " + std::to_string(details.first_beyond.size()) +
      " of " + std::to_string(beyond) +
      " entries beyond the tolerance</caption>\n<thead><tr><th>index</th><th>res_m</th>"
      "<th>res_c</th><th>samp</th><th>diff</th></tr></thead><tbody>\n";
  const int decimals = details.format.decimals();
  const auto result = [&](std::int64_t raw) {
    if (is_unknown(raw)) return std::string("x");
    if (raw == missing_value) return std::string("none");
    return printed(("%." + std::to_string(decimals) + "f").c_str(), details.format.real(raw));
  };
  for (const entry_beyond& entry : details.first_beyond) {
    const bool real = entry.real_model && !is_unknown(entry.res_m) && entry.res_m != missing_value;
    const std::string model =
        real ? printed(("%." + std::to_string(decimals) + "f").c_str(),
                       std::ldexp(real_of_word(entry.res_m), -details.format.fraction_bits))
             : result(entry.res_m);
    const std::string difference = is_unknown(entry.difference)        ? "x"
                                   : entry.difference == missing_value ? "none"
                                   : entry.real_model
                                       ? printed("%.3f", real_of_word(entry.difference))
                                       : std::to_string(entry.difference);
    table += "<tr><td>" + std::to_string(entry.index) + "</td><td>" + model + "</td><td>" +
             result(entry.res_c) + "</td><td>" +
             (entry.sample ? std::to_string(*entry.sample) : "") + "</td><td class=\"beyond\">";
    table += difference;
    table += "</td></tr>\n";
  }
  return table + "</tbody></table>\n";
}

}  // namespace

html_report::html_report(std::vector<report_property> settings) : settings_(std::move(settings)) {}

void html_report::add(const directory_report& report, const page_details& details) {
  std::string id = "d";  // appended, not "d" + ...: GCC 12 warns falsely of the latter
  id += std::to_string(++directories_);
  const std::string name = escaped(shown_name(report.directory));
  const char* verdict = verdict_name(report.outcome);
  passed_ += report.outcome == run_outcome::pass ? 1 : 0;
  failed_ += report.outcome == run_outcome::fail ? 1 : 0;
  in_trouble_ += report.outcome == run_outcome::trouble ? 1 : 0;
  const bool with_section = report.outcome == run_outcome::fail;
  rows_ += "<tr class=\"" + std::string(verdict) + "\" data-verdict=\"" + verdict + "\"><td>" +
           (with_section ? "<a href=\"#" + id + "\">" + name + "</a>" : name) +
           "</td><td class=\"verdict\">" + verdict + "</td>";
  if (report.outcome == run_outcome::trouble) {
    rows_ += "<td class=\"message\">" + escaped(report.message) + "</td>" + empty_cells(6);
  } else {
    rows_ += "<td>" + escaped(joined_reasons(report.verdict->reasons)) + "</td>" +
             figure_cells(report.verdict->figures);
  }
  rows_ += "</tr>\n";
  if (!with_section) return;
  const run_verdict& verdict_of = *report.verdict;
  sections_ += "<section id=\"" + id + "\" class=\"directory\">\n<h2>" + name + "</h2>\n<p>" +
               escaped(verdict_line(verdict_of.reasons)) +
               "<br />summary: " + escaped(report.summary);
  // The rounding and accuracy lines, where the run has them.
  for (std::string_view rest = verdict_of.rounding; !rest.empty();) {
    const std::size_t end = rest.find('\n');
    sections_ += "<br />" + escaped(std::string(rest.substr(0, end)));
    rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
  }
  sections_ += "</p>\n";
  if (details.chart != nullptr && !details.chart->columns().empty()) {
    sections_ += "<div class=\"chart\" data-source=\"" + id +
                 "-data\"><noscript>The chart needs JavaScript; the figures are above.</noscript>"
                 "</div>\n<script type=\"application/json\" id=\"" +
                 id + "-data\">" + chart_data(details, verdict_of) + "</script>\n";
  }
  sections_ +=
      entries_table(details, verdict_of.figures.beyond_tolerance() + verdict_of.figures.unknown() +
                                 verdict_of.figures.missing()) +
      "</section>\n";
}

std::string html_report::text() const {
  const std::string totals = std::to_string(passed_) + " passed, " + std::to_string(failed_) +
                             " failed, " + std::to_string(in_trouble_) + " in trouble, of " +
                             std::to_string(directories_) + " directories";
  std::string page =
      "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\" />\n"
      // Nothing but the page itself: no request can leave it, and no script
      // or style sheet runs but the page's own, by their hashes. The chart
      // library colours its legend with style attributes.
      "<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'none'; script-src " +
      std::string(dygraphs_script_hash) + " " + page_script_hash + "; style-src-elem " +
      dygraphs_style_hash + " " + page_style_hash +
      "; style-src-attr 'unsafe-inline'; img-src data:\" />\n"
      "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\" />\n"
      "<title>decimal-diff: " +
      totals + "</title>\n";
  page += page_element("style", dygraphs_style);
  page += page_element("style", page_style);
  page += "</head>\n<body>\n<header>\n<h1>decimal-diff " DECIMAL_VERSION "</h1>\n";
  // The call's verdict at a glance, worded so that it reads without colour too.
  const std::string all = std::to_string(directories_);
  const char* overall = in_trouble_ != 0 ? "trouble" : failed_ != 0 ? "fail" : "pass";
  const std::string banner =
      in_trouble_ != 0 ? "TROUBLE: " + std::to_string(in_trouble_) + " of " + all +
                             " directories in trouble, " + std::to_string(failed_) + " failed"
      : failed_ != 0
          ? "FAIL: " + std::to_string(failed_) + " of " + all + " directories failed, 0 in trouble"
          : "PASS: all " + all + " directories passed";
  page += "<p class=\"banner " + std::string(overall) + "\" role=\"status\">" + banner + "</p>\n";
  page += "<p class=\"totals\">total: " + totals + "</p>\n<dl class=\"settings\">\n";
  for (const report_property& setting : settings_) {
    if (setting.name == "version") continue;
    page += "<dt>" + escaped(setting.name) + "</dt><dd>" + escaped(setting.value) + "</dd>\n";
  }
  page +=
      "</dl>\n</header>\n<main>\n"
      "<p id=\"controls\" hidden=\"hidden\"><label>Show <select id=\"filter\">"
      "<option value=\"all\">all directories</option><option value=\"fail\">failed</option>"
      "<option value=\"trouble\">in trouble</option></select></label> "
      "(click a column's heading to sort by it)</p>\n"
      "<table id=\"directories\">\n<thead><tr><th>directory</th><th>verdict</th>"
      "<th>reasons or trouble</th><th class=\"number\">compared</th>"
      "<th class=\"number\">beyond</th><th class=\"number\">largest (LSB)</th>"
      "<th class=\"number\">at index</th><th class=\"number\">rms (LSB)</th>"
      "<th class=\"number\">snr</th></tr></thead>\n<tbody>\n";
  page += rows_;
  page += "</tbody>\n</table>\n";
  page += sections_;
  page += "</main>\n";
  page += page_element("script", dygraphs_script);
  page += page_element("script", page_script);
  page += "</body>\n</html>\n";
  return page;
}

void html_report::write(const output_file& file) const { file.write(text()); }

}  // namespace decimal
