#include "decimal/html_report.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <string_view>
#include <utility>

#include "decimal/alignment.hpp"
#include "decimal/channels.hpp"
#include "decimal/chart_svg.hpp"
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

// A table cell of a figure: shown as the summary shows it, sorted by `key`.
std::string figure_cell(const std::string& shown, const std::string& key) {
  return "<td class=\"number\" data-value=\"" + key + "\">" + xml_text(shown) + "</td>";
}

// A verdict's word in its colour as an attribute, which needs no style
// sheet: a page served under a policy that blocks its styles keeps it.
std::string coloured(std::string_view verdict, std::string_view text = {}) {
  const char* colour = verdict == "pass" ? "#1b5e20" : verdict == "fail" ? "#b71c1c" : "#6a1b9a";
  return std::string("<font color=\"") + colour + "\">" +
         xml_text(text.empty() ? (verdict == "trouble" ? "TROUBLE" : verdict) : text) + "</font>";
}

std::string empty_cells(int count) {
  std::string cells;
  for (int i = 0; i < count; ++i) cells += "<td class=\"number\" data-value=\"\"></td>";
  return cells;
}

// The figures of a run that was read, as table cells.
std::string figure_cells(const accumulator& figures) {
  std::string cells;
  for (const shown_figure& figure : table_figures(figures)) {
    cells += figure_cell(figure.text, figure.key);
  }
  return cells;
}

// The chart's data, numbers only: the format, the tolerance, the first entry
// beyond it, the columns' span and first index, the envelope's columns (the
// indices passed over since the last, the width, then the least and
// greatest of model, implementation and difference in LSB, or null where
// none is known in both, and the unknown entries when there are any), and,
// where columns merge entries, the entries kept whole around the first
// faults (index, model, implementation, difference, 1 when unknown).
std::string chart_data(const q_format& format, double tolerance, const envelope& chart,
                       const std::optional<std::uint64_t>& first_beyond) {
  std::string data = "{\"fraction_bits\":" + std::to_string(format.fraction_bits) +
                     ",\"tolerance\":" + shortest_decimal(tolerance);
  if (first_beyond) data += ",\"first_beyond\":" + std::to_string(*first_beyond);
  data += ",\"span\":" + std::to_string(chart.span()) + ",\"first\":" +
          std::to_string(chart.columns().empty() ? 0 : chart.columns().front().first) +
          ",\"columns\":[";
  // Each column after the last: how many indices it passes over, its width.
  std::uint64_t end = chart.columns().empty() ? 0 : chart.columns().front().first;
  const auto values = [](const envelope_column& c) {
    std::string text;
    for (const double n : {c.model_min, c.model_max, c.implementation_min, c.implementation_max,
                           c.difference_min, c.difference_max}) {
      text += c.known() ? ',' + shortest_decimal(n) : std::string(",null");
    }
    return text + (c.unknown != 0 ? ',' + std::to_string(c.unknown) : std::string());
  };
  bool first = true;
  for (const envelope_column& c : chart.columns()) {
    data += first ? "[" : ",[";
    first = false;
    data +=
        std::to_string(c.first - end) + ',' + std::to_string(c.last - c.first) + values(c) + ']';
    end = c.last + 1;
  }
  data += ']';
  // Where columns merge entries, those around the first faults whole.
  if (chart.span() > 1 && !chart.details().empty()) {
    data += ",\"details\":[";
    first = true;
    for (const envelope_column& e : chart.details()) {
      data += first ? "[" : ",[";
      first = false;
      data += std::to_string(e.first);
      for (const double n : {e.model_min, e.implementation_min, e.difference_min}) {
        data += e.known() ? ',' + shortest_decimal(n) : std::string(",null");
      }
      data += (e.unknown != 0 ? ",1" : "") + std::string("]");
    }
    data += ']';
  }
  return data + "}";
}

// A chart of `chart`: its picture, which needs no script and which the
// interactive chart replaces, its data, and the note on its first fault.
std::string chart_html(const std::string& id, const q_format& format, double tolerance,
                       const envelope& chart, const std::optional<std::uint64_t>& first_beyond,
                       const std::string& title) {
  if (chart.columns().empty()) return {};
  const std::string source = id + "-data";
  const chart_marks marks{format.fraction_bits, tolerance, first_beyond, title};
  std::string html = "<div class=\"chart\" data-source=\"" + source + "\">" +
                     chart_svg(chart, marks) + "</div>\n<script type=\"application/json\" id=\"" +
                     source + "\">" + chart_data(format, tolerance, chart, first_beyond) +
                     "</script>\n";
  if (first_beyond) {
    html += "<p class=\"chart-note\">Dashed: the first entry beyond the tolerance, index " +
            std::to_string(*first_beyond) +
            ". Hover a column for its entries; drag to zoom, double-click to reset.</p>\n";
  }
  return html;
}

// The channels the page charts, as indices of verdict.channels: the most
// entries beyond, unknown or missing first, up to html_channel_chart_limit,
// then in channel order.
std::vector<std::size_t> channels_to_chart(const run_verdict& verdict) {
  std::vector<std::size_t> order(verdict.channels.size());
  for (std::size_t k = 0; k < order.size(); ++k) order[k] = k;
  const auto faults = [&](std::size_t k) {
    const accumulator& f = verdict.channels[k].figures;
    return f.beyond_tolerance() + f.unknown() + f.missing();
  };
  std::stable_sort(order.begin(), order.end(),
                   [&](std::size_t a, std::size_t b) { return faults(a) > faults(b); });
  order.resize(std::min(order.size(), html_channel_chart_limit));
  std::sort(order.begin(), order.end());
  return order;
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
    return fixed_decimal(details.format.real(raw), decimals);
  };
  for (const entry_beyond& entry : details.first_beyond) {
    const bool real = entry.real_model && !is_unknown(entry.res_m) && entry.res_m != missing_value;
    const std::string model =
        real ? fixed_decimal(std::ldexp(real_of_word(entry.res_m), -details.format.fraction_bits),
                             decimals)
             : result(entry.res_m);
    const std::string difference = is_unknown(entry.difference)        ? "x"
                                   : entry.difference == missing_value ? "none"
                                   : entry.real_model
                                       ? fixed_decimal(real_of_word(entry.difference), 3)
                                       : std::to_string(entry.difference);
    // A frame's index with its channel's name, as the lines give it: 5.Q.
    std::string index = std::to_string(entry.index);
    if (!entry.channel.empty()) index += "." + xml_text(entry.channel);
    table += "<tr><td>";
    table += index;
    table += "</td><td>" + model + "</td><td>" + result(entry.res_c) + "</td><td>" +
             (entry.sample ? std::to_string(*entry.sample) : "") + "</td><td class=\"beyond\">";
    table += difference;
    table += "</td></tr>\n";
  }
  return table + "</tbody></table>\n";
}

}  // namespace

html_report::html_report(std::vector<report_property> settings, call_origin origin)
    : settings_(std::move(settings)), origin_(std::move(origin)) {}

void html_report::add(const directory_report& report, const page_details& details) {
  const std::size_t id = ++directories_;
  const char* verdict = verdict_name(report.outcome);
  passed_ += report.outcome == run_outcome::pass ? 1 : 0;
  failed_ += report.outcome == run_outcome::fail ? 1 : 0;
  in_trouble_ += report.outcome == run_outcome::trouble ? 1 : 0;
  const report_place at = place_of(report, id);
  std::string cells = "<td class=\"verdict\" data-value=\"" + std::to_string(at.rank) + "\">" +
                      coloured(verdict) + "</td>";
  if (report.outcome == run_outcome::trouble) {
    cells += "<td class=\"message\">" + xml_text(report.message) + "</td>" + empty_cells(7);
  } else {
    const accumulator& figures = report.verdict->figures;
    // Reasons sort by how many entries they hold against the run.
    const std::uint64_t against =
        figures.beyond_tolerance() + figures.unknown() + figures.missing();
    cells += "<td data-value=\"" + std::to_string(against) + "\">" +
             xml_text(joined_reasons(report.verdict->reasons)) + "</td>" + figure_cells(figures);
  }
  const std::string delay = report.delay ? std::to_string(report.delay->entries) : "";
  cells += figure_cell(delay, delay);
  rows_.push_back({at, verdict, std::move(cells)});
  if (report.outcome == run_outcome::pass) return;
  if (!sections_.wants(at)) return;

  std::string html = "<section id=\"d" + std::to_string(id) + "\" class=\"directory " + verdict +
                     "\">\n<h2>" + xml_text(at.name) + "</h2>\n<p>";
  if (report.outcome == run_outcome::trouble) {
    html += "verdict: trouble<br />" + xml_text(report.message);
    if (report.delay) html += "<br />" + xml_text(delay_line(*report.delay));
    html += "</p>\n";
  } else {
    const run_verdict& verdict_of = *report.verdict;
    html += xml_text(verdict_line(verdict_of.reasons));
    if (!report.hint.empty()) html += "<br /><strong>" + xml_text(report.hint) + "</strong>";
    // With several channels, each one's lines and the total take the summary's place.
    const bool several = !verdict_of.channels.empty();
    if (!several) html += "<br />summary: " + xml_text(report.summary);
    std::string lines = several ? "" : verdict_of.rounding;
    if (report.delay) lines += delay_line(*report.delay) + '\n';
    lines += several ? channel_lines(verdict_of) : histogram_line(verdict_of.figures);
    for (std::string_view rest = lines; !rest.empty();) {
      const std::size_t end = rest.find('\n');
      html += "<br />" + xml_text(std::string(rest.substr(0, end)));
      rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
    }
    html += "</p>\n";
    const std::string title = at.name + ": " + joined_reasons(verdict_of.reasons);
    if (details.chart != nullptr) {
      html += chart_html("d" + std::to_string(id), details.format, details.tolerance,
                         *details.chart, verdict_of.first_beyond, title);
    }
    if (details.channel_charts != nullptr) {
      const std::vector<std::size_t> charted = channels_to_chart(verdict_of);
      html += "<p class=\"chart-note\">" +
              std::string(charted.size() < verdict_of.channels.size()
                              ? "Charts of the " + std::to_string(charted.size()) + " of the " +
                                    std::to_string(verdict_of.channels.size()) +
                                    " channels compared with the most entries beyond their "
                                    "tolerance."
                              : "A chart for each channel compared.") +
              "</p>\n";
      for (const std::size_t k : charted) {
        const channel_verdict& c = verdict_of.channels[k];
        html += "<h3>channel " + xml_text(c.name) + "</h3>\n" +
                chart_html("d" + std::to_string(id) + "c" + std::to_string(k), details.format,
                           c.figures.tolerance(), (*details.channel_charts)[k], c.first_beyond,
                           title + " (channel " + c.name + ")");
      }
    }
    html += entries_table(details, verdict_of.figures.beyond_tolerance() +
                                       verdict_of.figures.unknown() + verdict_of.figures.missing());
  }
  sections_.offer(at, html + "</section>\n");
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
  const char* overall = in_trouble_ != 0 ? "trouble" : failed_ != 0 ? "fail" : "pass";
  const std::string banner = call_verdict_line(directories_, failed_, in_trouble_);
  page += "<p class=\"banner " + std::string(overall) + "\" role=\"status\">" +
          coloured(overall, banner) + "</p>\n";
  page += "<p class=\"totals\">total: " + totals + "</p>\n";
  page += "<p class=\"origin\">made " + xml_text(origin_.timestamp) + " on " +
          xml_text(origin_.hostname) +
          (origin_.options.empty() ? std::string()
                                   : " by <code>" + xml_text(origin_.options) + "</code>") +
          "</p>\n<dl class=\"settings\">\n";
  for (const report_property& setting : settings_) {
    if (setting.name == "version") continue;
    page += "<dt>" + xml_text(setting.name) + "</dt><dd>" + xml_text(setting.value) + "</dd>\n";
  }
  // Without scripts every row shows; with them the table opens on the
  // directories that did not pass, when there are any.
  const bool all_passed = passed_ == directories_;
  page +=
      "</dl>\n</header>\n<main>\n<p id=\"controls\" hidden=\"hidden\"><label>Show <select "
      "id=\"filter\">";
  for (const auto& [value, label] :
       std::array<std::pair<const char*, const char*>, 5>{{{"not-pass", "not passed"},
                                                           {"fail", "failed"},
                                                           {"trouble", "in trouble"},
                                                           {"pass", "passed"},
                                                           {"all", "all directories"}}}) {
    const bool chosen = std::string_view(value) == (all_passed ? "all" : "not-pass");
    page += "<option value=\"" + std::string(value) + "\"" +
            (chosen ? " selected=\"selected\"" : "") + ">" + label + "</option>";
  }
  page += "</select></label> (click a column's heading to sort by it)</p>\n";
  // The page's script comes before the table, so that a long page can be
  // used while it is still read; the chart library at the end.
  page += page_element("script", page_script);
  page += "<div class=\"scroll\"><table id=\"directories\" data-filter=\"" +
          std::string(all_passed ? "all" : "not-pass") + "\">\n<thead><tr>";
  for (const auto& [heading, numeric] :
       std::array<std::pair<const char*, bool>, 11>{{{"directory", false},
                                                     {"verdict", false},
                                                     {"reasons or trouble", false},
                                                     {"compared", true},
                                                     {"beyond", true},
                                                     {"unknown", true},
                                                     {"largest (LSB)", true},
                                                     {"at index", true},
                                                     {"rms (LSB)", true},
                                                     {"snr", true},
                                                     {"delay", true}}}) {
    page += std::string("<th tabindex=\"0\" title=\"sort by ") + heading + "\"" +
            (numeric ? " class=\"number\"" : "") +
            (std::string_view(heading) == "verdict" ? " aria-sort=\"ascending\"" : "") + ">" +
            heading + "</th>";
  }
  page += "</tr></thead>\n<tbody>\n";
  std::vector<const row*> in_order;
  in_order.reserve(rows_.size());
  for (const row& r : rows_) in_order.push_back(&r);
  std::sort(in_order.begin(), in_order.end(),
            [](const row* a, const row* b) { return a->at < b->at; });
  const auto shown = sections_.in_order();
  std::vector<std::size_t> with_section;
  with_section.reserve(shown.size());
  for (const auto* s : shown) with_section.push_back(s->place.given);
  std::sort(with_section.begin(), with_section.end());
  for (const row* r : in_order) {
    const std::string name = xml_text(r->at.name);
    const bool linked = std::binary_search(with_section.begin(), with_section.end(), r->at.given);
    page += "<tr class=\"" + r->verdict + "\" data-verdict=\"" + r->verdict + "\"><td>" +
            (linked ? "<a href=\"#d" + std::to_string(r->at.given) + "\">" + name + "</a>" : name) +
            "</td>" + r->cells + "</tr>\n";
  }
  page += "</tbody>\n</table></div>\n";
  const std::size_t left_out = failed_ + in_trouble_ - shown.size();
  if (left_out != 0) {
    page += "<p class=\"left-out\">The sections of the first " + std::to_string(shown.size()) +
            " directories that did not pass follow; " + std::to_string(left_out) +
            " more were left out, and the table above has their figures.</p>\n";
  }
  for (const auto* s : shown) page += s->item;
  page += "</main>\n";
  page += page_element("script", dygraphs_script);
  page += "</body>\n</html>\n";
  return page;
}

void html_report::write(const output_file& file) const { file.write(text()); }

}  // namespace decimal
