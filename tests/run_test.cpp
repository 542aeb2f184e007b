// decimal-diff's reading of a run: every entry, counts, and which trouble is told.

#include "decimal/run.hpp"

#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>
#include <vector>

#include "decimal/comparison.hpp"
#include "decimal/error.hpp"
#include "decimal/held_output.hpp"
#include "scratch_dir.hpp"

namespace {

// n numbers, one a line, and then `tail`.
std::string numbers(std::size_t n, const std::string& tail = "") {
  std::string text;
  for (std::size_t i = 0; i < n; ++i) text += std::to_string(i % 1000) + "\n";
  return text + tail;
}

// The message with the directory taken out of the file names.
std::string without(std::string message, const std::string& dir) {
  for (std::size_t at; (at = message.find(dir + "/")) != std::string::npos;) {
    message.erase(at, dir.size() + 1);
  }
  return message;
}

struct run_case {
  const char* edge;
  std::string samples;
  std::string model;
  std::string implementation;
  std::optional<std::size_t> count;
  std::uint64_t entries;  // compared, when the run is good
  std::string trouble;    // the message, after "DIR/"
};

void PrintTo(const run_case& c, std::ostream* os) { *os << c.edge; }

class RunCounts : public testing::TestWithParam<run_case> {
 protected:
  scratch_dir scratch_;
};

TEST_P(RunCounts, ComparesEveryEntryOrTellsTheFirstTrouble) {
  const run_case& c = GetParam();
  scratch_.write("run/samples.txt", c.samples);
  scratch_.write("run/results_m.txt", c.model);
  scratch_.write("run/results_c.txt", c.implementation);
  const std::string dir = (scratch_.path() / "run").string();
  try {
    const decimal::run_verdict verdict = decimal::check_run(
        decimal::default_paths(dir), {.tolerance = 4095, .count = c.count}, nullptr, nullptr);
    EXPECT_EQ(c.trouble, "");
    EXPECT_EQ(verdict.figures.entries(), c.entries);
  } catch (const decimal::error& e) {
    EXPECT_EQ(without(e.what(), dir), c.trouble);
  }
}

// Past one block of entries, so that files end or break in a later read.
constexpr std::size_t many = decimal::entry_stream::block_size * 2 + 7;
// The ends of the first two blocks.
constexpr std::size_t first = decimal::entry_stream::first_block_size;
constexpr std::size_t second = first + decimal::entry_stream::block_size;

INSTANTIATE_TEST_SUITE_P(
    Table, RunCounts,
    testing::Values(
        run_case{"equal", numbers(3), numbers(3), numbers(3), {}, 3, ""},
        run_case{"equal_past_a_block", numbers(many), numbers(many), numbers(many), {}, many, ""},
        run_case{"model_longer",
                 numbers(3),
                 numbers(4),
                 numbers(3),
                 {},
                 0,
                 "results_c.txt holds 3 numbers, results_m.txt 4 (1 more in results_m.txt); if the "
                 "model lags "
                 "the implementation by 1 entry, give --delay=-1 or --delay=auto"},
        run_case{
            "implementation_longer",
            numbers(300),
            numbers(201),
            numbers(300),
            {},
            0,
            "results_c.txt holds 300 numbers, results_m.txt 201 (99 more in results_c.txt); if the "
            "implementation lags the model by 99 entries, give --delay=99 or --delay=auto"},
        run_case{"implementation_longer_past_a_block",
                 numbers(many + 1),
                 numbers(many),
                 numbers(many + 1),
                 {},
                 0,
                 "results_c.txt holds " + std::to_string(many + 1) + " numbers, results_m.txt " +
                     std::to_string(many) +
                     " (1 more in results_c.txt); if the implementation lags the model by 1 "
                     "entry, give --delay=1 or --delay=auto"},
        run_case{"samples_shorter",
                 numbers(2),
                 numbers(3),
                 numbers(3),
                 {},
                 0,
                 "samples.txt: expected 3 numbers, found 2"},
        run_case{"samples_shorter_past_a_block",
                 numbers(many - 1),
                 numbers(many),
                 numbers(many),
                 {},
                 0,
                 "samples.txt: expected " + std::to_string(many) + " numbers, found " +
                     std::to_string(many - 1)},
        // A decimator's input: the rest of it is not read, whatever it holds.
        run_case{"samples_longer", numbers(5, "q"), numbers(3), numbers(3), {}, 3, ""},
        run_case{
            "no_entries", "", "", "", {}, 0, "results_m.txt: expected at least 1 number, found 0"},
        run_case{"count_below", numbers(3, "q"), numbers(3, "q"), numbers(5, "12.5"), 2, 2, ""},
        run_case{"count_equal", numbers(3), numbers(3), numbers(3), 3, 3, ""},
        run_case{"count_above", numbers(5), numbers(3), numbers(4), 4, 0,
                 "results_m.txt: expected 4 numbers, found 3"},
        run_case{"count_above_implementation", numbers(5), numbers(4), numbers(3), 4, 0,
                 "results_c.txt: expected 4 numbers, found 3"},
        run_case{"count_above_samples", numbers(3), numbers(5), numbers(5), 4, 0,
                 "samples.txt: expected 4 numbers, found 3"},
        run_case{"trailing_text_after_the_last_result",
                 numbers(3),
                 numbers(3, "end"),
                 numbers(3),
                 {},
                 0,
                 "results_m.txt:4:1: expected an integer, found \"end\""},
        run_case{"does_not_fit",
                 numbers(3),
                 numbers(3),
                 "1\n4096\n",
                 {},
                 0,
                 "results_c.txt:2:1: 4096 does not fit Q1.11 (not between -2048 and 4095)"},
        run_case{"does_not_fit_below",
                 numbers(3),
                 "-2049",
                 numbers(1),
                 {},
                 0,
                 "results_m.txt:1:1: -2049 does not fit Q1.11 (not between -2048 and 4095)"},
        // Of several bad files the first in order, however far into it.
        run_case{
            "implementation_bad_first_model_bad_later",
            numbers(many),
            numbers(many, "q"),
            "q",
            {},
            0,
            "results_m.txt:" + std::to_string(many + 1) + ":1: expected an integer, found \"q\""},
        run_case{"samples_bad_where_the_model_breaks",
                 numbers(1, "y"),
                 "0\n1\nq",
                 numbers(3),
                 {},
                 0,
                 "samples.txt:2:1: expected an integer, found \"y\""},
        run_case{"samples_bad_beyond_the_entries",
                 numbers(3, "y"),
                 numbers(3, "q"),
                 numbers(3),
                 {},
                 0,
                 "results_m.txt:4:1: expected an integer, found \"q\""},
        run_case{"short_samples_behind_a_mismatch",
                 numbers(1),
                 numbers(3),
                 numbers(4),
                 {},
                 0,
                 "results_c.txt holds 4 numbers, results_m.txt 3 (1 more in results_c.txt); if the "
                 "implementation lags the model by 1 entry, give --delay=1 or --delay=auto"},
        // The first bad file wins on either side of a block's edge.
        run_case{
            "samples_bad_past_the_first_block_model_bad_early",
            numbers(first, "y"),
            numbers(10, "q"),
            numbers(many),
            {},
            0,
            "samples.txt:" + std::to_string(first + 1) + ":1: expected an integer, found \"y\""},
        run_case{"samples_bad_at_the_first_blocks_end_model_bad_early",
                 numbers(first - 1, "y"),
                 numbers(10, "q"),
                 numbers(many),
                 {},
                 0,
                 "samples.txt:" + std::to_string(first) + ":1: expected an integer, found \"y\""},
        run_case{
            "samples_bad_past_the_second_block_implementation_bad_early",
            numbers(second, "y"),
            numbers(many),
            numbers(10, "q"),
            {},
            0,
            "samples.txt:" + std::to_string(second + 1) + ":1: expected an integer, found \"y\""},
        run_case{
            "model_bad_past_a_block_implementation_bad_early",
            numbers(many),
            numbers(second, "q"),
            numbers(3, "q"),
            {},
            0,
            "results_m.txt:" + std::to_string(second + 1) + ":1: expected an integer, found \"q\""},
        // With a count, a result file that ends before it is bad in its turn.
        run_case{"count_model_short_implementation_bad", numbers(10), numbers(5), numbers(7, "q"),
                 10, 0, "results_m.txt: expected 10 numbers, found 5"},
        run_case{"count_model_short_past_a_block_implementation_bad", numbers(many),
                 numbers(first + 1), numbers(3, "q"), second, 0,
                 "results_m.txt: expected " + std::to_string(second) + " numbers, found " +
                     std::to_string(first + 1)},
        run_case{"count_both_short_at_the_same_entry", numbers(many), numbers(first),
                 numbers(first), first + 1, 0,
                 "results_m.txt: expected " + std::to_string(first + 1) + " numbers, found " +
                     std::to_string(first)},
        run_case{"count_past_the_first_block", numbers(first + 5, "y"), numbers(first + 5, "q"),
                 numbers(first + 5, "q"), first + 5, first + 5, ""},
        run_case{"exactly_the_first_block",
                 numbers(first),
                 numbers(first),
                 numbers(first),
                 {},
                 first,
                 ""},
        run_case{"exactly_two_blocks",
                 numbers(second),
                 numbers(second),
                 numbers(second),
                 {},
                 second,
                 ""},
        // Samples of a block with no entry beyond the tolerance are checked
        // all the same, though their values are not worked out.
        run_case{"samples_bad_where_no_entry_is_beyond",
                 "0\n5x\n2\n",
                 numbers(3),
                 numbers(3),
                 {},
                 0,
                 "samples.txt:2:1: expected an integer, found \"5x\""},
        run_case{
            "samples_bad_past_the_first_block_where_no_entry_is_beyond",
            numbers(first + 3, "5x"),
            numbers(many),
            numbers(many),
            {},
            0,
            "samples.txt:" + std::to_string(first + 4) + ":1: expected an integer, found \"5x\""},
        run_case{"short_samples_behind_a_bad_result",
                 numbers(1),
                 numbers(2),
                 numbers(2, "q"),
                 {},
                 0,
                 "results_c.txt:3:1: expected an integer, found \"q\""}));

std::thread refuse_every_thread(const std::function<void()>& /*task*/) {
  throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
}

// Starts the first helper and refuses the second.
struct refuse_the_second_thread {
  std::shared_ptr<int> started = std::make_shared<int>(0);
  std::thread operator()(std::function<void()> task) const {
    if ((*started)++ > 0) return refuse_every_thread(task);
    return std::thread(std::move(task));
  }
};

// An entry_sink that appends each entry's line to `lines`.
decimal::entry_sink text_lines(const decimal::q_format& format, decimal::held_output& lines) {
  return [&format, &lines](const decimal::entry_beyond& entry) {
    std::array<char, decimal::max_entry_line> line;
    const char* end = decimal::render_entry_line(line.data(), format, entry);
    lines.append(std::string_view(line.data(), static_cast<std::size_t>(end - line.data())));
    return true;
  };
}

// What check_run gives at tolerance 1: the lines and the closing, or the trouble.
std::string checked(const std::string& dir, const decimal::thread_starter& start) {
  decimal::held_output lines;
  const decimal::verdict_rules rules{.tolerance = 1};
  try {
    const decimal::run_verdict verdict = decimal::check_run(
        decimal::default_paths(dir), rules, text_lines(rules.format, lines), nullptr, start);
    return lines.head(SIZE_MAX) + decimal::render_closing(verdict, {});
  } catch (const decimal::error& e) {
    return e.what();
  }
}

TEST(RunWithoutHelperThreads, ReadsOnTheCallersThreadWithTheSameOutcome) {
  const scratch_dir scratch;
  std::string differing;  // every 1000th entry 3 LSB off
  for (std::size_t i = 0; i < many; ++i)
    differing += std::to_string(i % 1000 == 0 ? 3 : i % 1000) + "\n";
  const std::vector<std::array<std::string, 3>> runs = {
      {numbers(many), numbers(many), differing},
      {numbers(many), numbers(second + 2, "q"), differing},
      {numbers(second - 1), numbers(many), numbers(many)},
  };
  for (std::size_t i = 0; i < runs.size(); ++i) {
    const std::string dir = "run" + std::to_string(i);
    scratch.write(dir + "/samples.txt", runs[i][0]);
    scratch.write(dir + "/results_m.txt", runs[i][1]);
    scratch.write(dir + "/results_c.txt", runs[i][2]);
    const std::string path = (scratch.path() / dir).string();
    const std::string threaded = checked(path, decimal::start_thread);
    EXPECT_EQ(checked(path, refuse_every_thread), threaded) << dir;
    EXPECT_EQ(checked(path, refuse_the_second_thread{}), threaded) << dir;
  }
}

// Raw words are read on the caller's thread; a text file among the results
// brings the helpers in. The outcome is the same either way.
TEST(RunHelperThreads, StartOnlyWhereAResultFileIsText) {
  const scratch_dir scratch;
  std::string raw;  // `many` s16le words 0, 1, ..., 999, 0, ...
  for (std::size_t i = 0; i < many; ++i) {
    raw += static_cast<char>(i % 1000 & 0xff);
    raw += static_cast<char>(i % 1000 >> 8);
  }
  scratch.write("run/samples.txt", numbers(many));
  scratch.write("run/results_m.txt", numbers(many));
  scratch.write("run/results_m.s16", raw);
  scratch.write("run/results_c.s16", raw);
  struct mix {
    decimal::encoding model;
    decimal::encoding implementation;
    bool helpers;
  };
  for (const mix m : {mix{decimal::encoding::s16le, decimal::encoding::s16le, false},
                      mix{decimal::encoding::dec, decimal::encoding::s16le, true}}) {
    decimal::run_paths paths = decimal::default_paths((scratch.path() / "run").string());
    const bool raw_model = m.model == decimal::encoding::s16le;
    if (raw_model) paths.results_m = (scratch.path() / "run/results_m.s16").string();
    paths.results_c = (scratch.path() / "run/results_c.s16").string();
    paths.encodings = {.results_m = m.model, .results_c = m.implementation};
    const auto started = std::make_shared<int>(0);
    const decimal::run_verdict verdict = decimal::check_run(
        paths, {.tolerance = 0}, nullptr, nullptr, [started](std::function<void()> task) {
          ++*started;
          return std::thread(std::move(task));
        });
    EXPECT_EQ(verdict.figures.entries(), many) << raw_model;
    EXPECT_TRUE(verdict.pass()) << raw_model;
    EXPECT_EQ(*started, m.helpers ? 2 : 0) << raw_model;
  }
}

// The largest difference, its index and the skipped entries hold across blocks.
TEST(RunFigures, CarryAcrossBlocks) {
  const scratch_dir scratch;
  std::string implementation;
  for (std::size_t i = 0; i < many; ++i) {
    auto value = static_cast<std::int64_t>(i % 1000);
    if (i == 100 || i == first + 5000) value += 9;  // the largest, first in block 1
    if (i == second + 10) value -= 5;
    implementation += std::to_string(value) + "\n";
  }
  scratch.write("run/samples.txt", numbers(many));
  scratch.write("run/results_m.txt", numbers(many));
  scratch.write("run/results_c.txt", implementation);
  scratch.write("same/samples.txt", numbers(many));
  scratch.write("same/results_m.txt", numbers(many));
  scratch.write("same/results_c.txt", numbers(many));
  const auto check = [&](const char* dir, std::uint64_t skip) {
    return decimal::check_run(decimal::default_paths((scratch.path() / dir).string()),
                              {.skip = skip}, nullptr, nullptr)
        .figures;
  };
  const decimal::accumulator whole = check("run", 0);
  EXPECT_EQ(whole.largest(), 9);
  EXPECT_EQ(whole.largest_index(), 100U);
  EXPECT_EQ(whole.beyond_tolerance(), 3U);
  const decimal::accumulator skipped = check("run", first + 10);
  EXPECT_EQ(skipped.largest(), 9);
  EXPECT_EQ(skipped.largest_index(), first + 5000);
  EXPECT_EQ(skipped.beyond_tolerance(), 2U);
  EXPECT_EQ(skipped.entries(), many - first - 10);
  // When all agree, the largest is 0 at the first entry compared.
  const decimal::accumulator agreeing = check("same", first + 10);
  EXPECT_EQ(agreeing.largest(), 0);
  EXPECT_EQ(agreeing.largest_index(), first + 10);
}

TEST(RunFilesMissing, FirstInOrder) {
  const scratch_dir scratch;
  scratch.write("run/results_c.txt", "1");
  const std::string dir = (scratch.path() / "run").string();
  try {
    decimal::check_run(decimal::default_paths(dir), {}, nullptr, nullptr);
    ADD_FAILURE() << "no error";
  } catch (const decimal::error& e) {
    EXPECT_EQ(e.what(), dir + "/samples.txt: No such file or directory");
  }
  scratch.write("run/samples.txt", "1 2 3");
  try {
    decimal::check_run(decimal::default_paths(dir), {}, nullptr, nullptr);
    ADD_FAILURE() << "no error";
  } catch (const decimal::error& e) {
    EXPECT_EQ(e.what(), dir + "/results_m.txt: No such file or directory");
  }
}

}  // namespace
