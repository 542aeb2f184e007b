// decimal-diff with a delay between the model's entries and the
// implementation's, given or found, run as a user runs it.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
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

const std::string lead_in_2 = "; lead-in: the implementation's first 2 entries, not compared\n";

INSTANTIATE_TEST_SUITE_P(
    Table, Delay,
    testing::Values(
        // The implementation lags by 2 and stopped on time: the model's last
        // two entries have no counterpart, and fail the run. Lines follow
        // the model's index.
        delay_case{"implementation_lags",
                   {"--delay=2"},
                   "9 9 1 2 4\n",
                   1,
                   beyond_at_2 +
                       "index:3, res_m:0.001953, res_c:none, samp:40, diff:none\n"
                       "index:4, res_m:0.002441, res_c:none, samp:50, diff:none\n"
                       "delay: 2\n"
                       "histogram: 0:2 1:1\n"
                       "summary: 1 of 5 entries differ by more than 0 LSB, 2 missing; largest 1 "
                       "LSB at index 2; mean 0.333 LSB, rms 0.577 LSB, snr 11.46 dB" +
                       lead_in_2 +
                       "verdict: fail: 1 entry beyond 0 LSB; 2 model entries without an "
                       "implementation entry\n",
                   "",
                   R"({"delay": 2, "delay_found": false, "count": 5, "missing": 2,
                       "beyond": [{"index": 2, "res_m": 3, "res_c": 4, "sample": 30, "diff": 1},
                                  {"index": 3, "res_m": 4, "res_c": null, "sample": 40,
                                   "diff": null},
                                  {"index": 4, "res_m": 5, "res_c": null, "sample": 50,
                                   "diff": null}]})"},
        // A delay that leaves one pair fails on the entries it leaves out.
        delay_case{"one_pair_left",
                   {"--delay=4"},
                   "9 9 9 9 1\n",
                   1,
                   "index:1, res_m:0.000977, res_c:none, samp:20, diff:none\n"
                   "index:2, res_m:0.001465, res_c:none, samp:30, diff:none\n"
                   "index:3, res_m:0.001953, res_c:none, samp:40, diff:none\n"
                   "index:4, res_m:0.002441, res_c:none, samp:50, diff:none\n"
                   "delay: 4\n"
                   "histogram: 0:1\n"
                   "summary: 0 of 5 entries differ by more than 0 LSB, 4 missing; largest 0 LSB "
                   "at index 0; mean 0.000 LSB, rms 0.000 LSB, snr inf dB; lead-in: the "
                   "implementation's first 4 entries, not compared\n"
                   "verdict: fail: 4 model entries without an implementation entry\n",
                   ""},
        // It ran 2 cycles more: every model entry has its counterpart.
        delay_case{"implementation_ran_longer",
                   {"--delay=2"},
                   "9 9 1 2 3 4 5\n",
                   0,
                   "delay: 2\nhistogram: 0:5\nsummary: 0 of 5 entries differ by more than 0 LSB; "
                   "largest 0 LSB at index 0; mean 0.000 LSB, rms 0.000 LSB, snr inf dB" +
                       lead_in_2 + "verdict: pass\n",
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
        // The model lags: its first two entries (and samples) are its lead-in.
        delay_case{"model_lags",
                   {"--delay=-2"},
                   "3 4 6\n",
                   1,
                   "index:4, res_m:0.002441, res_c:0.002930, samp:50, diff:1\n"
                   "delay: -2\n"
                   "histogram: 0:2 1:1\n"
                   "summary: 1 of 3 entries differ by more than 0 LSB; largest 1 LSB at index 4; "
                   "mean 0.333 LSB, rms 0.577 LSB, snr 16.99 dB; lead-in: the model's first 2 "
                   "entries, not compared\n"
                   "verdict: fail: 1 entry beyond 0 LSB\n",
                   ""},
        // The model lags and stopped on time: the implementation's last
        // entry has no counterpart; its index is past the model's.
        delay_case{"model_lags_and_stopped",
                   {"--delay=-2"},
                   "3 4 5 6\n",
                   1,
                   "index:5, res_m:none, res_c:0.002930, diff:none\n"
                   "delay: -2\n"
                   "histogram: 0:3\n"
                   "summary: 0 of 4 entries differ by more than 0 LSB, 1 missing; largest 0 LSB "
                   "at index 2; mean 0.000 LSB, rms 0.000 LSB, snr inf dB; lead-in: the model's "
                   "first 2 entries, not compared\n"
                   "verdict: fail: 1 implementation entry without a model entry\n",
                   "",
                   R"({"missing": 1, "count": 4,
                       "beyond": [{"index": 5, "res_m": null, "res_c": 6, "sample": null,
                                   "diff": null}]})"},
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
                   "9 9 1 2 4 4 5\n",
                   1,
                   beyond_at_2 +
                       "delay: 2\n"
                       "histogram: 0:3 1:1\n"
                       "summary: 1 of 4 entries (1 skipped) differ by more than 0 LSB; largest 1 "
                       "LSB at index 2; mean 0.250 LSB, rms 0.500 LSB, snr 17.32 dB" +
                       lead_in_2 + "verdict: fail: 1 entry beyond 0 LSB\n",
                   ""},
        // --count counts the pairs too; nothing after them is read, and the
        // model's entries after them are not missing.
        delay_case{"count_with_delay",
                   {"--delay=2", "--count=2"},
                   "9 9 1 2 oops\n",
                   0,
                   "delay: 2\n"
                   "histogram: 0:2\n"
                   "summary: 0 of 2 entries differ by more than 0 LSB; largest 0 LSB at index 0; "
                   "mean 0.000 LSB, rms 0.000 LSB, snr inf dB" +
                       lead_in_2 + "verdict: pass\n",
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
        // A count that differs by a pipeline's latency suggests the delay.
        delay_case{"latency_without_a_delay",
                   {},
                   "9 9 1 2 3 4 5\n",
                   2,
                   "",
                   "decimal-diff: results_c.txt holds 7 numbers, results_m.txt 5 (2 more in "
                   "results_c.txt); if the implementation lags the model by 2 entries, give "
                   "--delay=2 or --delay=auto\n"},
        delay_case{"found",
                   {"--delay=auto"},
                   "9 9 1 2 3 4 5\n",
                   0,
                   "delay: 2 (found between -256 and 256; the implementation holds 2 more "
                   "entries)\nhistogram: 0:5\nsummary: 0 of 5 entries differ by more than 0 LSB; "
                   "largest 0 LSB at index 0; mean 0.000 LSB, rms 0.000 LSB, snr inf dB" +
                       lead_in_2 + "verdict: pass\n",
                   "",
                   R"({"delay": 2, "delay_found": true})"},
        delay_case{"found_within_a_bound",
                   {"--delay=auto", "--max-delay=1"},
                   "9 1 2 3 4 5\n",
                   0,
                   "delay: 1 (found between -1 and 1; the implementation holds 1 more entry)\n"
                   "histogram: 0:5\nsummary: 0 of 5 entries differ by more than 0 LSB; largest 0 "
                   "LSB at index 0; mean 0.000 LSB, rms 0.000 LSB, snr inf dB; lead-in: the "
                   "implementation's first 1 entry, not compared\nverdict: pass\n",
                   ""},
        // Counts no delay within the bound allows.
        delay_case{"no_delay_fits_the_counts",
                   {"--delay=auto", "--max-delay=1"},
                   "9 9 1 2 3 4 5\n",
                   2,
                   "",
                   "decimal-diff: results_c.txt holds 7 numbers, results_m.txt 5; no delay "
                   "between -1 and 1 fits these counts\n",
                   R"({"delay": null, "delay_found": false})"},
        // Trouble after the search still tells the delay it found.
        delay_case{"trouble_after_the_search",
                   {"--delay=auto", "--skip=5"},
                   "9 9 1 2 3 4 5\n",
                   2,
                   "",
                   "decimal-diff: results_m.txt: --skip=5 leaves none of its 5 entries\n",
                   R"({"delay": 2, "delay_found": true})"},
        // A bad word read ahead for the search is told at its place, as without it.
        delay_case{"bad_word_in_the_window",
                   {"--delay=auto"},
                   "9 9 1 oops 3 4 5\n",
                   2,
                   "",
                   "decimal-diff: results_c.txt:1:7: expected an integer, found \"oops\"\n",
                   R"({"delay": null, "delay_found": false})"},
        // ... even where the pairs compared with a count end before it.
        delay_case{"bad_word_in_the_window_past_the_count",
                   {"--delay=auto", "--count=2"},
                   "1 2 3 oops 5\n",
                   2,
                   "",
                   "decimal-diff: results_c.txt:1:7: expected an integer, found \"oops\"\n"}));

// The lead-in is read and checked like every other word: a raw word out of
// the format's range there is trouble, though it is never compared.
TEST(DelayLeadIn, RawWordsAreCheckedForRange) {
  const scratch_dir scratch;
  scratch.write("results_m.txt", "1 2 3\n");
  // 32767 does not fit Q1.11; then 1 2 3 as s16le.
  scratch.write("results_c.bin", std::string("\xff\x7f\x01\x00\x02\x00\x03\x00", 8));
  const outcome run = run_program(
      DECIMAL_DIFF_BINARY, scratch.path(), scratch.path(),
      {.args = {"--samples=none", "--impl=results_c.bin", "--impl-encoding=s16le", "--delay=1"}});
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err,
            "decimal-diff: results_c.bin: word 1 (byte 0): 32767 does not fit Q1.11 (not between "
            "-2048 and 4095)\n");
}

// A tone of period 16 (an NCO at fs/16): every delay that is a multiple of
// the period fits the pairs it makes. Each bench below has a fault in one
// period of its 160 outputs; --delay=auto must not find a shift that leaves
// the fault out, and the run must fail on it.
enum class fault_at { first_period, middle, last_period };

struct periodic_case {
  const char* edge;
  std::int64_t delay;  // the bench's true latency
  fault_at fault;
};

void PrintTo(const periodic_case& c, std::ostream* os) { *os << c.edge; }

class PeriodicStimulus : public testing::TestWithParam<periodic_case> {};

TEST_P(PeriodicStimulus, AFaultIsNeverLeftOutByTheSearch) {
  const periodic_case& c = GetParam();
  constexpr std::array<int, 16> period = {0, 392,  724,  946,  1024,  946,  724,  392,
                                          0, -392, -724, -946, -1024, -946, -724, -392};
  std::vector<int> tone(160);
  for (std::size_t i = 0; i < tone.size(); ++i) tone[i] = period[i % 16];
  std::vector<int> outputs = tone;
  switch (c.fault) {
    case fault_at::first_period:           // the first 4 outputs stuck at 0
      std::fill_n(outputs.begin(), 4, 0);  // the first of them is 0 already
      break;
    case fault_at::middle:
      outputs[85] += 5;
      break;
    case fault_at::last_period:  // the last 3 with the sign flipped
      for (std::size_t i = outputs.size() - 3; i < outputs.size(); ++i) outputs[i] = -outputs[i];
      break;
  }
  // A lagging implementation starts with its pipeline's lead-in; a lagging
  // model with its own.
  std::string model;
  std::string implementation;
  for (std::int64_t i = c.delay; i < 0; ++i) model += "7\n";
  for (std::int64_t i = 0; i < c.delay; ++i) implementation += "7\n";
  for (const int v : tone) model += std::to_string(v) + "\n";
  for (const int v : outputs) implementation += std::to_string(v) + "\n";
  const scratch_dir scratch;
  scratch.write("results_m.txt", model);
  scratch.write("results_c.txt", implementation);
  const outcome run =
      run_program(DECIMAL_DIFF_BINARY, scratch.path(), scratch.path(),
                  {.args = {"--delay=auto", "--samples=none", "-t", "1", "--json"}});
  ASSERT_EQ(run.status, 1) << run.out << run.err;
  const nlohmann::json line = nlohmann::json::parse(run.out);
  EXPECT_EQ(line["delay"], c.delay);
  const std::vector<std::string> reasons = line["reasons"];
  ASSERT_EQ(reasons.size(), 1U);
  EXPECT_EQ(reasons[0],
            c.fault == fault_at::middle ? "1 entry beyond 1 LSB" : "3 entries beyond 1 LSB");
}

INSTANTIATE_TEST_SUITE_P(
    Table, PeriodicStimulus,
    testing::Values(periodic_case{"model_lags_fault_first", -3, fault_at::first_period},
                    periodic_case{"model_lags_fault_middle", -3, fault_at::middle},
                    periodic_case{"model_lags_fault_last", -3, fault_at::last_period},
                    periodic_case{"no_delay_fault_first", 0, fault_at::first_period},
                    periodic_case{"no_delay_fault_middle", 0, fault_at::middle},
                    periodic_case{"no_delay_fault_last", 0, fault_at::last_period},
                    periodic_case{"implementation_lags_fault_first", 3, fault_at::first_period},
                    periodic_case{"implementation_lags_fault_middle", 3, fault_at::middle},
                    periodic_case{"implementation_lags_fault_last", 3, fault_at::last_period}));

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
            "delay: 3 (found between -256 and 256; the implementation holds 3 more entries)\n"
            "histogram: 0:200000\n"
            "summary: 0 of 200000 entries differ by more than 0 LSB; largest 0 LSB at index 0; "
            "mean 0.000 LSB, rms 0.000 LSB, snr inf dB; lead-in: the implementation's first 3 "
            "entries, not compared\n"
            "verdict: pass\n");
}

}  // namespace
