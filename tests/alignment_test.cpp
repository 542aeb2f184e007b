// The delay between the model's entries and the implementation's: the count
// rule and the search.

#include "decimal/alignment.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <vector>

#include "decimal/number_source.hpp"

namespace {

using decimal::q_format;
constexpr std::int64_t x = decimal::unknown_value;

struct counts_case {
  std::uint64_t model;
  std::uint64_t implementation;
  std::int64_t delay;
  bool agree;
};

class CountRule : public testing::TestWithParam<counts_case> {};

TEST_P(CountRule, LetsTheLaggingFileHoldUpToTheDelayMore) {
  const counts_case& c = GetParam();
  EXPECT_EQ(decimal::counts_agree(c.model, c.implementation, c.delay), c.agree);
}

INSTANTIATE_TEST_SUITE_P(
    Table, CountRule,
    testing::Values(counts_case{5, 5, 0, true},  // no delay: equal counts
                    counts_case{5, 6, 0, false}, counts_case{6, 5, 0, false},
                    // the implementation lags by 3: 20 to 23 entries
                    counts_case{20, 20, 3, true}, counts_case{20, 23, 3, true},
                    counts_case{20, 24, 3, false}, counts_case{20, 19, 3, false},
                    // the model lags by 3: the implementation 17 to 20
                    counts_case{20, 20, -3, true}, counts_case{20, 17, -3, true},
                    counts_case{20, 16, -3, false}, counts_case{20, 21, -3, false},
                    // a delay longer than either file
                    counts_case{0, 2, 3, true}, counts_case{2, 0, -3, true}));

// A signal with no period: every delay but the right one leaves differences.
std::vector<std::int64_t> signal(std::size_t n, std::int64_t scale = 1) {
  std::vector<std::int64_t> values;
  std::uint32_t state = 12345;
  for (std::size_t i = 0; i < n; ++i) {
    state = state * 1103515245U + 12345U;
    values.push_back(static_cast<std::int64_t>(state >> 21U) * scale - 1024 * scale);
  }
  return values;
}

// `values` after `n` entries that match nothing in them.
std::vector<std::int64_t> after(std::size_t n, std::vector<std::int64_t> values) {
  values.insert(values.begin(), n, 1000);
  return values;
}

std::vector<std::int64_t> first_of(std::size_t n, std::vector<std::int64_t> values) {
  values.resize(n);
  return values;
}

std::vector<std::int64_t> without_first(std::size_t n, std::vector<std::int64_t> values) {
  values.erase(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(n));
  return values;
}

std::vector<std::int64_t> unknown_at(const std::vector<std::size_t>& places,
                                     std::vector<std::int64_t> values) {
  for (const std::size_t i : places) values[i] = x;
  return values;
}

// Wide patterns: raw results of Q1.31 spelled unsigned, as a hex file gives them.
std::vector<std::int64_t> unsigned_patterns(std::vector<std::int64_t> values) {
  for (std::int64_t& v : values) v &= 0xffffffff;
  return values;
}

struct search_case {
  const char* edge;
  std::vector<std::int64_t> model;
  std::vector<std::int64_t> implementation;
  q_format format;
  std::uint32_t max_delay;
  std::int64_t found;
};

void PrintTo(const search_case& c, std::ostream* os) { *os << c.edge; }

class DelaySearch : public testing::TestWithParam<search_case> {};

TEST_P(DelaySearch, FindsTheDelayOfSmallestMeanSquaredDifference) {
  const search_case& c = GetParam();
  EXPECT_EQ(decimal::find_delay(c.model, c.implementation, c.format, c.max_delay).found, c.found);
}

const std::vector<std::int64_t> period_4 = {0, 100, 0, -100, 0, 100, 0, -100, 0, 100, 0, -100};

INSTANTIATE_TEST_SUITE_P(
    Table, DelaySearch,
    testing::Values(
        search_case{"implementation_lags", signal(500), after(7, signal(500)), {}, 256, 7},
        search_case{"model_lags", signal(500), without_first(5, signal(500)), {}, 256, -5},
        search_case{"none", signal(500), signal(500), {}, 256, 0},
        // Beyond the bound the search does not look: 6 meets one stray entry, 7 none.
        search_case{"beyond_the_bound",
                    std::vector<std::int64_t>(50),
                    after(7, std::vector<std::int64_t>(50)),
                    {},
                    6,
                    6},
        // Delays 2 and -2 (and 6, -6) match exactly: the smallest, then the positive one.
        search_case{"tie_goes_to_the_positive", period_4, without_first(2, period_4), {}, 8, 2},
        // -7 matches its 3 pairs exactly, too few for a window of 10; 3, 4 and
        // 5 all have a mean of 25 over 7, 6 and 5 pairs.
        search_case{"half_the_shorter_window_and_equal_means",
                    {5, 5, 5, 5, 5, 5, 5, 9, 9, 9},
                    {9, 9, 9, 0, 0, 0, 0, 0, 0, 0},
                    {},
                    7,
                    3},
        // Unknown entries take no part: as values they would spoil delay 3.
        search_case{"unknowns_present",
                    signal(200),
                    unknown_at({1, 4, 9, 50, 202}, after(3, signal(200))),
                    {},
                    256,
                    3},
        search_case{"wide_format_unsigned_spelling",
                    unsigned_patterns(signal(300, 1 << 20)),
                    unsigned_patterns(after(4, signal(300, 1 << 20))),
                    {1, 31},
                    256,
                    4},
        // 5 pairs of 10: exactly half the window, still a candidate.
        search_case{
            "exactly_half_the_window", signal(10), after(5, first_of(5, signal(10))), {}, 8, 5},
        search_case{"empty_window", {}, signal(10), {}, 256, 0},
        search_case{"all_unknown", {x, x, x}, {1, 2, 3}, {}, 256, 0}));

// A tone of period 8 whose implementation lags by 3, with its first
// outputs stuck at 0: a shift by a period pairs none of them, but leaves as
// many model entries without a partner, each scored as the largest
// difference.
TEST(DelaySearch, NeverWinsByLeavingTheLeadingFileUnpaired) {
  constexpr std::array<std::int64_t, 8> period = {0, 700, 1000, 700, 0, -700, -1000, -700};
  std::vector<std::int64_t> tone(64);
  for (std::size_t i = 0; i < tone.size(); ++i) tone[i] = period[i % period.size()];
  std::vector<std::int64_t> implementation = after(3, tone);
  std::fill_n(implementation.begin() + 3, 4, 0);
  const decimal::file_totals totals{tone.size(), implementation.size()};
  const decimal::delay_search search = decimal::find_delay(tone, implementation, {}, 256, totals);
  EXPECT_EQ(search.found, 3);
  EXPECT_EQ(search.equally_good, std::vector<std::int64_t>{3});
  // Without the totals nothing is known to be unpaired: 11 fits best.
  EXPECT_EQ(decimal::find_delay(tone, implementation, {}, 256).found, 11);
}

TEST(DelaySearch, ListsTheDelaysThatFitEquallyWell) {
  // Files longer than the window: no entry is known to be unpaired.
  const decimal::delay_search search =
      decimal::find_delay(period_4, without_first(1, period_4), {}, 8);
  EXPECT_EQ(search.found, -1);
  EXPECT_EQ(search.equally_good, (std::vector<std::int64_t>{-1, 3, -5}));
  EXPECT_FALSE(search.all_equally_good);
  // All zeros: every delay alike.
  const std::vector<std::int64_t> idle(40);
  EXPECT_TRUE(decimal::find_delay(idle, idle, {}, 3).all_equally_good);
}

// The windows are cut so that the search compares no more than 2^26 pairs.
TEST(DelaySearch, BoundsItsCost) {
  const std::vector<std::int64_t> model = signal(65536);
  const decimal::delay_search search =
      decimal::find_delay(model, after(5, model), {}, decimal::max_max_delay);
  EXPECT_EQ(search.found, 5);
  EXPECT_TRUE(search.window_cut);
  EXPECT_LT(search.window, 65536U);
  EXPECT_EQ(search.reach, search.window / 2);
  const decimal::delay_search uncut = decimal::find_delay(model, after(5, model), {}, 256);
  EXPECT_FALSE(uncut.window_cut);
  EXPECT_EQ(uncut.window, 65541U);
}

TEST(DelayLine, SaysWhetherTheDelayWasFoundAndWhatTheSearchSaw) {
  EXPECT_EQ(decimal::delay_line({3, std::nullopt}), "delay: 3");
  EXPECT_EQ(decimal::delay_line({-2, 256}), "delay: -2 (found between -256 and 256)");
  EXPECT_EQ(decimal::delay_line({0, 0}), "delay: 0 (found between 0 and 0)");
  decimal::delay_search ties{.found = 3, .equally_good = {3, 19, 35}, .any_candidate = true};
  EXPECT_EQ(decimal::delay_line({3, 256, ties, 3}),
            "delay: 3 (found between -256 and 256; the implementation holds 3 more entries); "
            "delays 3, 19, 35 fit equally well; 3 was taken");
  ties.more_equally_good = 4;
  EXPECT_EQ(decimal::delay_line({3, 256, ties, -1}),
            "delay: 3 (found between -256 and 256; the model holds 1 more entry); delays 3, 19, "
            "35 and 4 more fit equally well; 3 was taken");
  const decimal::delay_search cut{
      .found = 2, .equally_good = {2}, .window = 8191, .reach = 4095, .window_cut = true};
  EXPECT_EQ(decimal::delay_line({2, 65535, cut}),
            "delay: 2 (found between -4095 and 4095 in the first 8191 entries of each file, to "
            "bound the search)");
}

}  // namespace
