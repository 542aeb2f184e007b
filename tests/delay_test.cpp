// decimal-diff with a delay between the model's entries and the
// implementation's, given or found, run as a user runs it.

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "run_program.hpp"
#include "scratch_dir.hpp"

namespace {

struct delay_case {
  const char* edge;
  std::vector<std::string> options;
  std::string implementation;  // beside the model "1 2 3 4 5" and the samples "10 20 30 40 50"
  int status;
  std::string out;
  std::string err;
  std::string json = "{}";  // fields of the JSON line
};

void PrintTo(const delay_case& c, std::ostream* os) { *os << c.edge; }

class Delay : public testing::TestWithParam<delay_case> {
 protected:
  outcome run(const std::vector<std::string>& args) {
    return run_program(DECIMAL_DIFF_BINARY, scratch_.path(), scratch_.path(), {.args = args});
  }

  scratch_dir scratch_;
};

const std::string pass_of_5 =
    "histogram: 0:5\n"
    "summary: 0 of 5 entries differ by more than 0 LSB; largest 0 LSB at index 0; mean 0.000 "
    "LSB, rms 0.000 LSB, snr inf dB\n"
    "verdict: pass\n";

TEST_P(Delay, PairsTheEntriesAndCountsWhatItLeavesOut) {
  const delay_case& c = GetParam();
  scratch_.write("results_m.txt", "1 2 3 4 5\n");
  scratch_.write("samples.txt", "10 20 30 40 50\n");
  scratch_.write("results_c.txt", c.implementation);
  const outcome text = run(c.options);
  EXPECT_EQ(text.status, c.status);
  EXPECT_EQ(text.out, c.out);
  EXPECT_EQ(text.err, c.err);
  std::vector<std::string> args = c.options;
  args.emplace_back("--json");
  const outcome json = run(args);
  ASSERT_EQ(json.status, c.status);
  const nlohmann::json line = nlohmann::json::parse(json.out);
  const nlohmann::json expected = nlohmann::json::parse(c.json);
  for (const auto& [field, value] : expected.items()) {
    EXPECT_EQ(line[field], value) << field;
  }
}

const std::string beyond_at_2 = "index:2, res_m:0.001465, res_c:0.001953, samp:30, diff:1\n";

INSTANTIATE_TEST_SUITE_P(
    Table, Delay,
    testing::Values(
        // The implementation lags by 2 and stopped on time: the model's last
        // two entries have no counterpart. Lines follow the model's index.
        delay_case{"implementation_lags",
                   {"--delay=2"},
                   "9 9 1 2 4\n",
                   1,
                   beyond_at_2 +
                       "delay: 2\n"
                       "histogram: 0:2 1:1\n"
                       "summary: 1 of 3 entries differ by more than 0 LSB; largest 1 LSB at index "
                       "2; mean 0.333 LSB, rms 0.577 LSB, snr 11.46 dB\n"
                       "verdict: fail: 1 entry beyond 0 LSB\n",
                   "",
                   R"({"delay": 2, "delay_found": false, "count": 3})"},
        // It ran 2 cycles more: every model entry has its counterpart.
        delay_case{"implementation_ran_longer",
                   {"--delay=2"},
                   "9 9 1 2 3 4 5\n",
                   0,
                   "delay: 2\n" + pass_of_5,
                   ""},
        delay_case{"implementation_one_more",
                   {"--delay=2"},
                   "9 9 1 2 3 4 5 6\n",
                   2,
                   "",
                   "decimal-diff: results_c.txt holds 8 numbers, results_m.txt 5; with --delay=2, "
                   "it must hold 5 to 7\n"},
        delay_case{"implementation_one_fewer",
                   {"--delay=2"},
                   "9 1 2 3\n",
                   2,
                   "",
                   "decimal-diff: results_c.txt holds 4 numbers, results_m.txt 5; with --delay=2, "
                   "it must hold 5 to 7\n"},
        // The model lags: its first two entries (and samples) have no counterpart.
        delay_case{"model_lags",
                   {"--delay=-2"},
                   "3 4 6\n",
                   1,
                   "index:4, res_m:0.002441, res_c:0.002930, samp:50, diff:1\n"
                   "delay: -2\n"
                   "histogram: 0:2 1:1\n"
                   "summary: 1 of 3 entries differ by more than 0 LSB; largest 1 LSB at index 4; "
                   "mean 0.333 LSB, rms 0.577 LSB, snr 16.99 dB\n"
                   "verdict: fail: 1 entry beyond 0 LSB\n",
                   ""},
        delay_case{"model_lags_one_too_many",
                   {"--delay=-2"},
                   "2 3 4 5 6 7\n",
                   2,
                   "",
                   "decimal-diff: results_c.txt holds 6 numbers, results_m.txt 5; with --delay=-2, "
                   "it must hold 3 to 5\n"},
        // --skip counts the pairs.
        delay_case{"skip_with_delay",
                   {"--delay=2", "--skip=1"},
                   "9 9 1 2 4\n",
                   1,
                   beyond_at_2 +
                       "delay: 2\n"
                       "histogram: 0:1 1:1\n"
                       "summary: 1 of 2 entries (1 skipped) differ by more than 0 LSB; largest 1 "
                       "LSB at index 2; mean 0.500 LSB, rms 0.707 LSB, snr 11.14 dB\n"
                       "verdict: fail: 1 entry beyond 0 LSB\n",
                   ""},
        // --count counts the pairs too; nothing after them is read.
        delay_case{"count_with_delay",
                   {"--delay=2", "--count=2"},
                   "9 9 1 2 oops\n",
                   0,
                   "delay: 2\n"
                   "histogram: 0:2\n"
                   "summary: 0 of 2 entries differ by more than 0 LSB; largest 0 LSB at index 0; "
                   "mean 0.000 LSB, rms 0.000 LSB, snr inf dB\n"
                   "verdict: pass\n",
                   ""},
        delay_case{"count_beyond_the_lagging_file",
                   {"--delay=2", "--count=4"},
                   "9 9 1 2 3\n",
                   2,
                   "",
                   "decimal-diff: results_c.txt: expected 6 numbers, found 5\n"},
        delay_case{"nothing_left_to_compare",
                   {"--delay=5"},
                   "1 2 3 4 5\n",
                   2,
                   "",
                   "decimal-diff: results_c.txt: --delay=5 leaves none of its 5 entries\n"},
        delay_case{"found",
                   {"--delay=auto"},
                   "9 9 1 2 3 4 5\n",
                   0,
                   "delay: 2 (found between -256 and 256)\n" + pass_of_5,
                   "",
                   R"({"delay": 2, "delay_found": true})"},
        delay_case{"found_within_a_bound",
                   {"--delay=auto", "--max-delay=1"},
                   "9 1 2 3 4 5\n",
                   0,
                   "delay: 1 (found between -1 and 1)\n" + pass_of_5,
                   ""},
        // A bad word read ahead for the search is told at its place, as without it.
        delay_case{"bad_word_in_the_window",
                   {"--delay=auto"},
                   "9 9 1 oops 3 4 5\n",
                   2,
                   "",
                   "decimal-diff: results_c.txt:1:7: expected an integer, found \"oops\"\n",
                   R"({"delay": null, "delay_found": false})"}));

// The first entries of a long run are read ahead for the search, then read
// again, and the rest of the file follows them.
TEST(DelayFound, OverALongRunReadsEveryEntryOnce) {
  const scratch_dir scratch;
  std::string model;
  std::string implementation = "0 0 0\n";
  std::uint32_t state = 1;
  for (int i = 0; i < 200000; ++i) {
    state = state * 1103515245U + 12345U;
    const std::string word = std::to_string(static_cast<int>(state >> 21U) - 1024) + "\n";
    model += word;
    implementation += word;
  }
  scratch.write("results_m.txt", model);
  scratch.write("results_c.txt", implementation);
  const outcome run = run_program(DECIMAL_DIFF_BINARY, scratch.path(), scratch.path(),
                                  {.args = {"--delay=auto", "--samples=none"}});
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.out,
            "delay: 3 (found between -256 and 256)\n"
            "histogram: 0:200000\n"
            "summary: 0 of 200000 entries differ by more than 0 LSB; largest 0 LSB at index 0; "
            "mean 0.000 LSB, rms 0.000 LSB, snr inf dB\n"
            "verdict: pass\n");
}

}  // namespace
