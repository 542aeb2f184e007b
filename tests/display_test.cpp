// How text that may hold any byte is shown, and how figures are echoed.

#include "decimal/display.hpp"

#include <gtest/gtest.h>

#include <limits>
#include <string>

#include "decimal/error.hpp"

namespace {

struct shown_case {
  const char* edge;
  std::string bytes;
  std::string printable;  // printable_utf8, for text of several lines
  std::string name;       // shown_name, within a line
};

void PrintTo(const shown_case& c, std::ostream* os) { *os << c.edge; }

class Shown : public testing::TestWithParam<shown_case> {};

TEST_P(Shown, KeepsCharactersAndEscapesTheRest) {
  const shown_case& c = GetParam();
  EXPECT_EQ(decimal::printable_utf8(c.bytes), c.printable);
  EXPECT_EQ(decimal::shown_name(c.bytes), c.name);
}

INSTANTIATE_TEST_SUITE_P(
    Table, Shown,
    testing::Values(
        shown_case{"characters_of_each_length", "plain é ✓ 🎛", "plain é ✓ 🎛",
                   "plain é ✓ 🎛"},
        // Only text of several lines keeps its line breaks and tabs.
        shown_case{"tab_and_line_feed", "a\tb\nc", "a\tb\nc", "a\\x09b\\x0ac"},
        shown_case{"carriage_return", "ok\rverdict: pass", "ok\\x0dverdict: pass",
                   "ok\\x0dverdict: pass"},
        shown_case{"escape_sequence_and_bell", "\x1b[2J\a", "\\x1b[2J\\x07", "\\x1b[2J\\x07"},
        shown_case{"delete_and_c1_csi",
                   "\x7f\xc2\x9b"
                   "1m",
                   "\\x7f\\xc2\\x9b1m", "\\x7f\\xc2\\x9b1m"},
        shown_case{"first_character_after_the_c1_controls", "\xc2\xa0", "\xc2\xa0", "\xc2\xa0"},
        shown_case{"backslash_as_two", "back\\slash", "back\\\\slash", "back\\\\slash"},
        shown_case{"cut_sequence", "\xc3", "\\xc3", "\\xc3"},
        shown_case{"valid_character_at_the_very_end", "x\xe2\x9c\x93", "x\xe2\x9c\x93",
                   "x\xe2\x9c\x93"},
        shown_case{"lead_byte_where_a_continuation_belongs", "\xe2\xe2\x9c\x93",
                   "\\xe2\xe2\x9c\x93", "\\xe2\xe2\x9c\x93"},
        shown_case{"overlong_two_bytes", "\xc0\xaf", "\\xc0\\xaf", "\\xc0\\xaf"},
        shown_case{"overlong_three_bytes", "\xe0\x80\xaf", "\\xe0\\x80\\xaf", "\\xe0\\x80\\xaf"},
        shown_case{"surrogate", "\xed\xa0\x80", "\\xed\\xa0\\x80", "\\xed\\xa0\\x80"},
        shown_case{"beyond_unicode", "\xf4\x90\x80\x80", "\\xf4\\x90\\x80\\x80",
                   "\\xf4\\x90\\x80\\x80"},
        shown_case{"u_fffe", "\xef\xbf\xbe", "\\xef\\xbf\\xbe", "\\xef\\xbf\\xbe"},
        shown_case{"u_ffff", "\xef\xbf\xbf", "\\xef\\xbf\\xbf", "\\xef\\xbf\\xbf"},
        shown_case{"last_character", "\xf4\x8f\xbf\xbf", "\xf4\x8f\xbf\xbf", "\xf4\x8f\xbf\xbf"},
        shown_case{"nul", std::string("a\0b", 3), "a\\x00b", "a\\x00b"}));

// A quoted word keeps its printable bytes, a space among them; a quote and
// a backslash are escaped.
TEST(Quote, EscapesOnlyWhatIsNotPrintable) {
  EXPECT_EQ(decimal::quote("a b"), "\"a b\"");
  EXPECT_EQ(decimal::quote("\"\\\x01\x7f"), "\"\\\"\\\\\\x01\\x7f\"");
  EXPECT_EQ(decimal::quote("cut", true), "\"cut\"...");
}

TEST(ShortestDecimal, AsGivenAndNeverInExponentForm) {
  EXPECT_EQ(decimal::shortest_decimal(60), "60");
  EXPECT_EQ(decimal::shortest_decimal(72.5), "72.5");
  EXPECT_EQ(decimal::shortest_decimal(1000000), "1000000");
  EXPECT_EQ(decimal::shortest_decimal(0.1), "0.1");
  EXPECT_EQ(decimal::shortest_decimal(-3e-7), "-0.0000003");
  EXPECT_EQ(decimal::shortest_decimal(1e21), "1000000000000000000000");
  // The longest: every digit of the largest double.
  EXPECT_EQ(decimal::shortest_decimal(std::numeric_limits<double>::max()).size(), 309U);
}

struct color_case {
  decimal::color_when when;
  bool terminal;
  const char* no_color;  // null: unset
  const char* term;
  bool colored;
};

class Color : public testing::TestWithParam<color_case> {};

TEST_P(Color, FollowsWhenTheTerminalAndTheEnvironment) {
  const color_case& c = GetParam();
  EXPECT_EQ(decimal::use_color(c.when, c.terminal, c.no_color, c.term), c.colored);
}

using decimal::color_when;
INSTANTIATE_TEST_SUITE_P(
    Table, Color,
    testing::Values(color_case{color_when::automatic, true, nullptr, "xterm", true},
                    color_case{color_when::automatic, false, nullptr, "xterm", false},
                    color_case{color_when::automatic, true, nullptr, nullptr, true},
                    // NO_COLOR set and not empty, or a dumb terminal, turn auto off
                    color_case{color_when::automatic, true, "1", "xterm", false},
                    color_case{color_when::automatic, true, "", "xterm", true},
                    color_case{color_when::automatic, true, nullptr, "dumb", false},
                    // but not always, nor never
                    color_case{color_when::always, false, "1", "dumb", true},
                    color_case{color_when::never, true, nullptr, "xterm", false}));

TEST(Colored, DifferenceInRedAndVerdictByItsOutcome) {
  EXPECT_EQ(decimal::with_red_difference("index:3, res_m:0.5, res_c:0.25, samp:7, diff:-512\n"),
            "index:3, res_m:0.5, res_c:0.25, samp:7, \x1b[31mdiff:-512\x1b[m\n");
  EXPECT_EQ(decimal::with_coloured_verdict("histogram: 0:2\nsummary: ...\nverdict: pass\n"),
            "histogram: 0:2\nsummary: ...\nverdict: \x1b[32mpass\x1b[m\n");
  EXPECT_EQ(decimal::with_coloured_verdict("verdict: fail: 1 entry unknown\n"),
            "verdict: \x1b[31mfail: 1 entry unknown\x1b[m\n");
  EXPECT_EQ(decimal::with_coloured_verdict("==> d <==\nverdict: trouble\n"),
            "==> d <==\nverdict: \x1b[31mtrouble\x1b[m\n");
}

}  // namespace
