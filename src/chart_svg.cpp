#include "decimal/chart_svg.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <limits>
#include <vector>

#include "decimal/display.hpp"

namespace decimal {
namespace {

constexpr int width = 800;
constexpr int left = 70;  // room for the axes' labels
constexpr int right = 790;
constexpr int values_top = 10;
constexpr int values_bottom = 190;
constexpr int differences_top = 210;
constexpr int differences_bottom = 330;
constexpr int height = 350;

// Neighbouring columns merged until no more than chart_svg_columns are left.
std::vector<envelope_column> merged(const std::vector<envelope_column>& columns) {
  const std::size_t per = (columns.size() + chart_svg_columns - 1) / chart_svg_columns;
  std::vector<envelope_column> out;
  for (std::size_t i = 0; i < columns.size(); i += per) {
    envelope_column m = columns[i];
    for (std::size_t j = i + 1; j < std::min(columns.size(), i + per); ++j) widen(m, columns[j]);
    out.push_back(m);
  }
  return out;
}

// A linear map from [from_low, from_high] onto [to_low, to_high].
struct axis {
  double from_low, from_high, to_low, to_high;
  double operator()(double v) const {
    const double span = from_high - from_low;
    return span == 0 ? (to_low + to_high) / 2 : to_low + (v - from_low) / span * (to_high - to_low);
  }
};

// An axis's end, as its ticks would show it: 4 significant digits.
std::string tick(double v) {
  std::array<char, 32> text;
  const int n = std::snprintf(text.data(), text.size(), "%.4g", v == 0 ? 0.0 : v);
  return std::string(text.data(), static_cast<std::size_t>(n));
}

// A whole pixel.
std::string at(double v) { return std::to_string(std::lround(v)); }

// A band between the least and greatest of a series, through each
// column's middle, as a path of whole pixels in relative steps (the page
// holds a hundred of them), broken into pieces where no entry is known.
std::string band(const std::vector<envelope_column>& columns, const axis& x, const axis& y,
                 double envelope_column::*low, double envelope_column::*high, const char* fill,
                 const char* stroke) {
  const auto middle = [&](const envelope_column& c) {
    return std::lround(x((static_cast<double>(c.first) + static_cast<double>(c.last) + 1) / 2));
  };
  std::string path;
  for (std::size_t i = 0; i < columns.size();) {
    if (!columns[i].known()) {
      ++i;
      continue;
    }
    std::size_t end = i;
    while (end < columns.size() && columns[end].known()) ++end;
    long px = middle(columns[i]);
    long py = std::lround(y(columns[i].*high));
    path += "M" + std::to_string(px) + " " + std::to_string(py) + "l";
    const auto step = [&](const envelope_column& c, double envelope_column::*edge) {
      const long nx = middle(c);
      const long ny = std::lround(y(c.*edge));
      path += std::to_string(nx - px) + " " + std::to_string(ny - py) + " ";
      px = nx;
      py = ny;
    };
    for (std::size_t k = i + 1; k < end; ++k) step(columns[k], high);
    for (std::size_t k = end; k-- > i;) step(columns[k], low);
    path.back() = 'z';
    i = end;
  }
  if (path.empty()) return {};
  return "<path d=\"" + path + "\" fill=\"" + fill + "\" stroke=\"" + stroke +
         "\" stroke-width=\"1\"/>";
}

std::string label(double x, double y, const std::string& text, const char* anchor = "end") {
  return "<text x=\"" + at(x) + "\" y=\"" + at(y) + "\" text-anchor=\"" + anchor +
         "\" font-size=\"11\" font-family=\"sans-serif\" fill=\"#333\">" + xml_text(text) +
         "</text>";
}

}  // namespace

std::string chart_svg(const envelope& entries, const chart_marks& marks) {
  const std::vector<envelope_column> columns = merged(entries.columns());
  if (columns.empty()) return {};
  const double unit = std::ldexp(1.0, -marks.fraction_bits);
  double least = std::numeric_limits<double>::infinity();
  double greatest = -least;
  double reach = marks.tolerance + 1;
  for (const envelope_column& c : columns) {
    if (!c.known()) continue;
    least = std::min({least, c.model_min, c.implementation_min});
    greatest = std::max({greatest, c.model_max, c.implementation_max});
    reach = std::max({reach, std::fabs(c.difference_min), std::fabs(c.difference_max)});
  }
  if (least > greatest) least = greatest = 0;
  // As the interactive chart does: an outlier far past the rest (four times
  // their 99th percentile) is drawn at the edge, so smaller faults stay in sight.
  std::vector<double> outers;
  for (const envelope_column& c : columns) {
    if (c.known())
      outers.push_back(std::max(std::fabs(c.difference_min), std::fabs(c.difference_max)));
  }
  std::sort(outers.begin(), outers.end());
  if (!outers.empty()) {
    const double rest = std::max(outers[outers.size() * 99 / 100], marks.tolerance + 1);
    if (outers.back() > 4 * rest) reach = 2 * rest;
  }
  const auto clipped = [&](double d) { return std::clamp(d, -reach * 1.05, reach * 1.05); };
  const double pad = std::max((greatest - least) / 20, 1.0);
  const axis x{static_cast<double>(columns.front().first),
               static_cast<double>(columns.back().last) + 1, left, right};
  const axis value{least - pad, greatest + pad, values_bottom, values_top};
  const axis difference{-reach * 1.1, reach * 1.1, differences_bottom, differences_top};

  std::string svg = "<svg xmlns=\"http://www.w3.org/2000/svg\" class=\"static-chart\" width=\"" +
                    std::to_string(width) + "\" height=\"" + std::to_string(height) +
                    "\" viewBox=\"0 0 " + std::to_string(width) + " " + std::to_string(height) +
                    "\" role=\"img\"><title>" + xml_text(marks.title) + "</title>";
  svg += "<rect x=\"0\" y=\"0\" width=\"" + std::to_string(width) + "\" height=\"" +
         std::to_string(height) + "\" fill=\"#fff\"/>";
  for (const int top : {values_top, differences_top}) {
    const int bottom = top == values_top ? values_bottom : differences_bottom;
    svg += "<rect x=\"" + std::to_string(left) + "\" y=\"" + std::to_string(top) + "\" width=\"" +
           std::to_string(right - left) + "\" height=\"" + std::to_string(bottom - top) +
           "\" fill=\"none\" stroke=\"#999\"/>";
  }
  // Above: the values in real units.
  svg += band(columns, x, value, &envelope_column::model_min, &envelope_column::model_max,
              "#9ecae1", "#9ecae1");
  svg += band(columns, x, value, &envelope_column::implementation_min,
              &envelope_column::implementation_max, "none", "#08306b");
  svg += label(left - 4, values_top + 10, tick((greatest + pad) * unit));
  svg += label(left - 4, values_bottom, tick((least - pad) * unit));
  // Below: the tolerance band, the differences, those beyond it and the unknown.
  if (marks.tolerance > 0) {
    svg += "<rect x=\"" + std::to_string(left) + "\" y=\"" + at(difference(marks.tolerance)) +
           "\" width=\"" + std::to_string(right - left) + "\" height=\"" +
           at(difference(-marks.tolerance) - difference(marks.tolerance)) + "\" fill=\"#e8f5e9\"/>";
  }
  std::vector<envelope_column> in_reach = columns;
  for (envelope_column& c : in_reach) {
    if (!c.known()) continue;
    c.difference_min = clipped(c.difference_min);
    c.difference_max = clipped(c.difference_max);
  }
  svg += band(in_reach, x, difference, &envelope_column::difference_min,
              &envelope_column::difference_max, "#7f7f7f", "#7f7f7f");
  for (const envelope_column& c : columns) {
    const double middle = x((static_cast<double>(c.first) + static_cast<double>(c.last) + 1) / 2);
    if (c.known()) {
      for (const double d : {c.difference_min, c.difference_max}) {
        if (std::fabs(d) <= marks.tolerance) continue;
        svg += "<line x1=\"" + at(middle) + "\" y1=\"" + at(difference(0)) + "\" x2=\"" +
               at(middle) + "\" y2=\"" + at(difference(clipped(d))) +
               "\" stroke=\"#d62728\" stroke-width=\"2\"/>";
      }
    }
    if (c.unknown != 0) {
      svg += "<rect x=\"" + at(middle - 3) + "\" y=\"" + at(difference(0) - 3) +
             "\" width=\"6\" height=\"6\" fill=\"#6a1b9a\"/>";
    }
  }
  if (marks.first_beyond) {
    const std::string fx = at(x(static_cast<double>(*marks.first_beyond) + 0.5));
    svg += "<line x1=\"" + fx + "\" y1=\"" + std::to_string(values_top) + "\" x2=\"" + fx +
           "\" y2=\"" + std::to_string(differences_bottom) +
           "\" stroke=\"#d62728\" stroke-dasharray=\"3,3\"/>";
  }
  svg += label(left - 4, differences_top + 10, tick(reach * 1.1));
  svg += label(left - 4, differences_bottom, tick(-reach * 1.1));
  svg += label(left, height - 4, std::to_string(columns.front().first), "start");
  svg += label(right, height - 4, std::to_string(columns.back().last), "end");
  svg += label((left + right) / 2.0, height - 4, "index; above: values, below: difference (LSB)",
               "middle");
  return svg + "</svg>";
}

}  // namespace decimal
