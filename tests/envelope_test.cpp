#include "decimal/envelope.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <pugixml.hpp>
#include <string>

#include "decimal/chart_svg.hpp"
#include "decimal/comparison.hpp"
#include "decimal/plot.hpp"

namespace {

using decimal::envelope;

// The columns cover every entry once, in order, in spans of the envelope's span.
void expect_tiling(const envelope& columns, std::uint64_t entries) {
  std::uint64_t next = 0;
  for (const decimal::envelope_column& c : columns.columns()) {
    ASSERT_EQ(c.first, next);
    ASSERT_LE(c.last - c.first + 1, columns.span());
    next = c.last + 1;
  }
  EXPECT_EQ(next, entries);
}

TEST(Envelope, OneColumnAnEntryWhileTheyFit) {
  envelope columns(8);
  for (int i = 0; i < 8; ++i) columns.add(i, -i, i % 3);
  EXPECT_EQ(columns.span(), 1U);
  ASSERT_EQ(columns.columns().size(), 8U);
  const decimal::envelope_column& c = columns.columns()[5];
  EXPECT_EQ(c.first, 5U);
  EXPECT_EQ(c.model_min, 5);
  EXPECT_EQ(c.implementation_max, -5);
  EXPECT_EQ(c.difference_min, 2);
  columns.add(8, -8, 0);  // the ninth: pairs merge
  EXPECT_EQ(columns.span(), 2U);
  EXPECT_EQ(columns.columns().size(), 5U);
  EXPECT_EQ(columns.columns()[0].model_max, 1);
  EXPECT_EQ(columns.columns()[0].implementation_min, -1);
  expect_tiling(columns, 9);
}

// Merged columns hold the least and greatest of each series over their span,
// and stand where the entries do: after the skipped ones.
TEST(Envelope, MergedColumnsKeepEachSeriesExtremes) {
  envelope columns(4, 10);
  for (std::int64_t i = 0; i < 8; ++i) columns.add(i, 100 - i, i % 2 != 0 ? -i : i);
  EXPECT_EQ(columns.span(), 2U);
  ASSERT_EQ(columns.columns().size(), 4U);
  for (std::int64_t k = 0; k < 4; ++k) {
    const decimal::envelope_column& c = columns.columns()[static_cast<std::size_t>(k)];
    EXPECT_EQ(c.first, static_cast<std::uint64_t>(10 + 2 * k));
    EXPECT_EQ(c.last, static_cast<std::uint64_t>(11 + 2 * k));
    EXPECT_EQ(c.model_min, 2 * k);
    EXPECT_EQ(c.model_max, 2 * k + 1);
    EXPECT_EQ(c.implementation_min, 99 - 2 * k);
    EXPECT_EQ(c.implementation_max, 100 - 2 * k);
    EXPECT_EQ(c.difference_min, -(2 * k + 1));
    EXPECT_EQ(c.difference_max, 2 * k);
  }
}

// The entries around the first faults are kept whole, for a zoomed view:
// each fault's reach on both sides, windows that meet joined, at most the
// first few windows.
TEST(Envelope, KeepsTheEntriesAroundTheFirstFaultsWhole) {
  envelope columns;
  const std::vector<std::uint64_t> faults = {3, 5000, 5003, 20000, 30000, 40000, 50000};
  for (std::uint64_t i = 0; i < 60000; ++i) {
    columns.add(1, 1, 0);
    if (std::find(faults.begin(), faults.end(), i) != faults.end()) columns.mark_fault();
  }
  std::vector<std::uint64_t> kept;
  for (const decimal::envelope_column& c : columns.details()) kept.push_back(c.first);
  std::vector<std::uint64_t> expected;
  for (std::uint64_t i = 0; i <= 11; ++i) expected.push_back(i);         // 3: from the start
  for (std::uint64_t i = 4992; i <= 5011; ++i) expected.push_back(i);    // 5000 and 5003 joined
  for (std::uint64_t i = 19992; i <= 20008; ++i) expected.push_back(i);  // 20000
  for (std::uint64_t i = 29992; i <= 30008; ++i) expected.push_back(i);  // 30000; no more
  EXPECT_EQ(kept, expected);
}

// A single spike among a million entries stays in sight, in bounded columns.
TEST(Envelope, KeepsOneSpikeAmongAMillion) {
  envelope columns;
  const std::uint64_t spike = 654'321;
  for (std::uint64_t i = 0; i < 1'000'000; ++i) {
    const std::int64_t d = i == spike ? -9 : static_cast<std::int64_t>(i % 3);
    columns.add(100, 100 + d, d);
  }
  EXPECT_LE(columns.columns().size(), 2048U);
  EXPECT_GE(columns.columns().size(), 1024U);
  expect_tiling(columns, 1'000'000);
  int spikes = 0;
  for (const decimal::envelope_column& c : columns.columns()) {
    if (c.difference_min == -9) {
      ++spikes;
      EXPECT_LE(c.first, spike);
      EXPECT_GE(c.last, spike);
      EXPECT_EQ(c.implementation_min, 91);
    } else {
      EXPECT_EQ(c.difference_min, 0);
      EXPECT_EQ(c.difference_max, 2);
    }
  }
  EXPECT_EQ(spikes, 1);
}

// What gnuplot is sent for a long run stays small, and draws the spike.
TEST(Envelope, PlotDataStaysUnderAMegabyte) {
  envelope columns;
  for (std::int64_t i = 0; i < 3'000'000; ++i) {
    const std::int64_t d = i == 2'777'777 ? 2047 : 0;
    columns.add(-2048, -2048 + d, d);
  }
  decimal::accumulator figures({}, 0);  // only for the title
  figures.add(-2048, -1);
  const decimal::run_verdict verdict{figures, {"1 entry beyond 0 LSB"}};
  const std::string script =
      decimal::gnuplot_script(decimal::plot_format::svg, {columns, verdict, {}, "run"});
  EXPECT_LT(script.size(), 1U << 20);
  EXPECT_NE(script.find(" -2048 -2048 -2048 -1 0 2047\n"), std::string::npos);
}

}  // namespace

namespace {

// The plot draws what was read: each column's model and implementation
// values where the script's commands take them.
TEST(PlotScript, DrawsEachSeriesFromItsOwnColumn) {
  envelope columns;
  decimal::accumulator figures({}, 0);
  for (std::int64_t i = 0; i < 3; ++i) {
    columns.add(100 + i, 200 + i, 100);
    figures.add(100 + i, 200 + i);
  }
  const decimal::run_verdict verdict{figures, {"3 entries beyond 0 LSB"}};
  const std::string script =
      decimal::gnuplot_script(decimal::plot_format::png, {columns, verdict, {}, "run"});
  EXPECT_NE(script.find("$results << EOD\n"
                        "0 100 100 200 200 100 100\n"
                        "1 101 101 201 201 100 100\n"
                        "2 102 102 202 202 100 100\n"
                        "EOD\n"),
            std::string::npos);
  EXPECT_NE(script.find("using 1:($2/2048) with lines linewidth 4 linecolor rgb '#9ecae1' "
                        "title 'model'"),
            std::string::npos);
  EXPECT_NE(script.find("using 1:($4/2048) with lines linewidth 1 linecolor rgb '#08306b' "
                        "title 'implementation'"),
            std::string::npos);
  EXPECT_TRUE(script.starts_with("set terminal pngcairo"));
  EXPECT_NE(script.find("set title 'run'.\"\\n\".'verdict: fail: 3 entries beyond 0 LSB'"),
            std::string::npos);
}

// A long run of a wide format: ticks in one plain engineering style, a
// difference axis symmetric about 0, both envelopes in sight, keys off the
// data, and the first entry beyond the tolerance marked.
TEST(PlotScript, ReadsAtAnyLengthAndFormat) {
  envelope columns;
  const decimal::q_format q131{1, 31};
  decimal::accumulator figures(q131, 1);
  for (std::int64_t i = 0; i < 1'000'000; ++i) {
    const std::int64_t d = i == 312'345 ? -3'000'000'000 : 0;
    columns.add(1'500'000'000, 1'500'000'000 + d, d);
  }
  decimal::run_verdict verdict{figures, {"1 entry beyond 1 LSB"}};
  verdict.first_beyond = 312'345;
  decimal::verdict_rules rules;
  rules.format = q131;
  rules.tolerance = 1;
  const std::string script =
      decimal::gnuplot_script(decimal::plot_format::png, {columns, verdict, rules, "run"});
  EXPECT_NE(script.find("set xtics ('0' 0, '200k' 200000, '400k' 400000, "), std::string::npos);
  EXPECT_NE(script.find("'1M' 1000000)\n"), std::string::npos);
  EXPECT_EQ(script.find("e+06"), std::string::npos);
  EXPECT_NE(script.find("set yrange [-3375000000:3375000000]\n"), std::string::npos);
  EXPECT_NE(script.find("'-3G' -3000000000"), std::string::npos);
  EXPECT_NE(script.find("set key below"), std::string::npos);
  EXPECT_NE(script.find("with filledcurves linecolor rgb '#9ecae1' title 'model"),
            std::string::npos);
  EXPECT_NE(script.find("using 1:($5/2147483648) with lines"), std::string::npos);
  EXPECT_NE(script.find("set arrow 1 from 312345, graph 0 to 312345, graph 1"), std::string::npos);
  // Named where it covers no data.
  EXPECT_NE(script.find("set xlabel 'index (first beyond the tolerance: 312345, dashed)'"),
            std::string::npos);
}

// Each column with an unknown entry is marked on the difference's axis; a
// column of nothing known is a gap; the values' axis spans the values.
TEST(PlotScript, MarksEachUnknownAndFitsTheValues) {
  envelope columns;
  decimal::accumulator figures({}, 0);
  columns.add(1024, 1024, 0);
  columns.add_unknown();
  columns.add(-1024, -1014, 10);
  columns.add_unknown();
  figures.add(1024, 1024);
  figures.add_unknown();
  figures.add(-1024, -1014);
  figures.add_unknown();
  const decimal::run_verdict verdict{figures, {"2 entries unknown"}};
  const std::string script =
      decimal::gnuplot_script(decimal::plot_format::svg, {columns, verdict, {}, "run"});
  EXPECT_NE(script.find("$results << EOD\n"
                        "0 1024 1024 1024 1024 0 0\n"
                        "1 NaN NaN NaN NaN NaN NaN\n"
                        "2 -1024 -1024 -1014 -1014 10 10\n"
                        "3 NaN NaN NaN NaN NaN NaN\n"
                        "EOD\n$unknown << EOD\n1 0\n3 0\nEOD\n"),
            std::string::npos)
      << script;
  EXPECT_NE(script.find("$unknown using 1:2 with points pointtype 2"), std::string::npos);
  EXPECT_NE(script.find("title 'unknown (2)'"), std::string::npos);
  // -0.5 to 0.5, and a twentieth of that on each side.
  EXPECT_NE(script.find("set yrange [-0.55:0.55]\n"), std::string::npos) << script;
}

// The page's picture without scripts: well-formed, titled, each unknown
// marked, and an outlier far past the rest drawn at the edge, so that the
// small faults keep a scale they show on.
TEST(ChartSvg, MarksUnknownsAndKeepsSmallFaultsInSight) {
  envelope columns;
  for (std::int64_t i = 0; i < 1000; ++i) {
    if (i == 10) {
      columns.add_unknown();
      continue;
    }
    const std::int64_t d = i == 500 ? 5000 : i % 100 == 0 ? 3 : 0;
    columns.add(i, i + d, d);
  }
  const std::string svg = decimal::chart_svg(columns, {11, 1, 100, "run: fail & <more>"});
  pugi::xml_document document;
  ASSERT_TRUE(document.load_string(svg.c_str())) << svg;
  const pugi::xml_node root = document.child("svg");
  EXPECT_STREQ(root.child("title").text().get(), "run: fail & <more>");
  EXPECT_EQ(root.select_nodes("rect[@fill='#6a1b9a']").size(), 1U);
  // The small faults (3 LSB) and the outlier (5000) each as a red line from
  // zero; the outlier's stops at the edge of a scale of twice the rest.
  std::vector<int> ends;
  for (const pugi::xpath_node& line :
       root.select_nodes("line[@stroke='#d62728'][not(@stroke-dasharray)]")) {
    ends.push_back(line.node().attribute("y2").as_int());
  }
  ASSERT_FALSE(ends.empty());
  const int zero = root.select_node("line[@stroke='#d62728']").node().attribute("y1").as_int();
  const int small = zero - ends.front();
  const int outlier = zero - *std::min_element(ends.begin(), ends.end());
  EXPECT_GT(small, 20) << "a 3 LSB fault is visible";
  EXPECT_LE(outlier, 65) << "the outlier is clipped to the panel";
  EXPECT_TRUE(root.select_node("line[@stroke-dasharray]")) << "the first beyond is marked";
}

TEST(PlotScript, FormatByTheNamesEnd) {
  EXPECT_EQ(decimal::plot_format_of("x.svg.png"), decimal::plot_format::png);
  EXPECT_EQ(decimal::plot_format_of("x.png.svg"), decimal::plot_format::svg);
  EXPECT_EQ(decimal::plot_format_of("x.svgz"), std::nullopt);
}

TEST(PlotScript, NamesAreDataInGnuplot) {
  EXPECT_EQ(decimal::gnuplot_string("it's"), "'it''s'");
  EXPECT_EQ(decimal::gnuplot_string("a\nb\tc@d\\"), "'a\\x0ab\\x09c@d\\\\'");
  EXPECT_EQ(decimal::gnuplot_string("\xff"), "'\\xff'");
  // For an SVG, & and > as the references gnuplot passes through.
  EXPECT_EQ(decimal::gnuplot_string("a]]>&#x1b;<", true), "'a]]&#x3e;&#x26;#x1b;<'");
  EXPECT_EQ(decimal::gnuplot_string("a]]>&", false), "'a]]>&'");
}

}  // namespace
