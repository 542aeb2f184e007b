// Several channels and complex I/Q: interleaved, in columns, in two files;
// per-channel limits and figures, the EVM and its limits.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <pugixml.hpp>
#include <random>
#include <string>
#include <vector>

#include "decimal/evm.hpp"
#include "run_program.hpp"
#include "scratch_dir.hpp"

namespace {

namespace fs = std::filesystem;

// Interleaved I/Q entries of a run: I then Q for each frame.
struct iq_frames {
  std::vector<std::int64_t> i;
  std::vector<std::int64_t> q;
};

std::string one_per_line(const iq_frames& f) {
  std::string text;
  for (std::size_t k = 0; k < f.i.size(); ++k) {
    text += std::to_string(f.i[k]) + '\n' + std::to_string(f.q[k]) + '\n';
  }
  return text;
}

std::string columns(const iq_frames& f) {
  std::string text;
  for (std::size_t k = 0; k < f.i.size(); ++k) {
    text += std::to_string(f.i[k]) + ' ' + std::to_string(f.q[k]) + '\n';
  }
  return text;
}

std::string part(const std::vector<std::int64_t>& values) {
  std::string text;
  for (const std::int64_t v : values) text += std::to_string(v) + '\n';
  return text;
}

std::string s16le(const iq_frames& f) {
  std::string bytes;
  for (std::size_t k = 0; k < f.i.size(); ++k) {
    for (const std::int64_t v : {f.i[k], f.q[k]}) {
      const auto word = static_cast<std::uint16_t>(v);
      bytes += static_cast<char>(word & 0xff);
      bytes += static_cast<char>(word >> 8);
    }
  }
  return bytes;
}

class Channels : public testing::Test {
 protected:
  outcome run(const std::vector<std::string>& args, const fs::path& dir) {
    run_options options;
    options.args = args;
    return run_program(DECIMAL_DIFF_BINARY, dir, scratch_.path(), options);
  }

  // A directory `name` holding the model's and the implementation's frames, one entry a line.
  fs::path write_run(const std::string& name, const iq_frames& model,
                     const iq_frames& implementation) {
    scratch_.write(name + "/results_m.txt", one_per_line(model));
    scratch_.write(name + "/results_c.txt", one_per_line(implementation));
    return scratch_.path() / name;
  }

  scratch_dir scratch_;
};

// The I channel is one LSB off once; Q is broken at frame 4 (-5 LSB), which
// the shared figures would hide among the good I entries.
const iq_frames layout_model{{100, -200, 300, 0, 2047, -2048}, {5, 6, 7, 8, 9, 10}};
const iq_frames layout_implementation{{100, -200, 301, 0, 2047, -2048}, {5, 6, 7, 8, 4, 10}};

const std::string layout_output =
    "index:4.Q, res_m:0.004395, res_c:0.001953, diff:-5\n"
    "histogram I: 0:5 1:1\n"
    "summary I: 0 of 6 entries differ by more than 1 LSB; largest 1 LSB at index 2; mean 0.167 "
    "LSB, rms 0.408 LSB, snr 69.31 dB\n"
    "histogram Q: -5:1 0:5\n"
    "summary Q: 1 of 6 entries differ by more than 1 LSB; largest -5 LSB at index 4; mean -0.833 "
    "LSB, rms 2.041 LSB, snr 11.52 dB\n"
    "total: 1 of 12 entries differ by more than 1 LSB; largest -5 LSB at index 4.Q; mean -0.333 "
    "LSB, rms 1.472 LSB, snr 55.16 dB\n"
    "verdict: fail: channel Q: 1 entry beyond 1 LSB\n";

struct layout_case {
  const char* name;
  // The files of the run, and the options that read them.
  std::vector<std::pair<std::string, std::string>> files;
  std::vector<std::string> args;
};

void PrintTo(const layout_case& c, std::ostream* os) { *os << c.name; }

class ChannelLayouts : public Channels, public testing::WithParamInterface<layout_case> {};

TEST_P(ChannelLayouts, GiveTheSameFiguresPerChannel) {
  const layout_case& c = GetParam();
  for (const auto& [file, text] : c.files) scratch_.write(std::string(c.name) + "/" + file, text);
  std::vector<std::string> args = {"--samples=none", "--channel-names=I,Q", "-t", "1"};
  args.insert(args.end(), c.args.begin(), c.args.end());
  const outcome result = run(args, scratch_.path() / c.name);
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.out, layout_output);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ChannelLayouts,
    testing::Values(
        // I0 Q0 I1 Q1 ..., a word a line.
        layout_case{"interleaved",
                    {{"results_m.txt", one_per_line(layout_model)},
                     {"results_c.txt", one_per_line(layout_implementation)}},
                    {"--channels=2"}},
        // "I Q" on each line.
        layout_case{"columns",
                    {{"results_m.txt", columns(layout_model)},
                     {"results_c.txt", columns(layout_implementation)}},
                    {"--channels=2"}},
        // A file of real parts and one of imaginary parts for each result.
        layout_case{"two_files",
                    {{"results_m.txt", part(layout_model.i)},
                     {"results_m_q.txt", part(layout_model.q)},
                     {"results_c.txt", part(layout_implementation.i)},
                     {"results_c_q.txt", part(layout_implementation.q)}},
                    {"--model-imag=results_m_q.txt", "--impl-imag=results_c_q.txt"}},
        // Raw 16-bit I/Q words, as SDR tools write them.
        layout_case{"raw_s16le",
                    {{"results_m.txt", s16le(layout_model)},
                     {"results_c.txt", s16le(layout_implementation)}},
                    {"--channels=2", "-e", "s16le"}}),
    [](const testing::TestParamInfo<layout_case>& info) { return std::string(info.param.name); });

TEST_F(Channels, ABrokenChannelFailsWhereTheSharedFiguresWouldPass) {
  // Q's SNR is 11.52 dB; read as one stream the SNR is 55.16 dB.
  const fs::path dir = write_run("snr", layout_model, layout_implementation);
  const outcome shared = run({"--samples=none", "-t", "5", "--min-snr=40"}, dir);
  EXPECT_EQ(shared.status, 0) << shared.out;
  const outcome split = run(
      {"--samples=none", "--channels=2", "--channel-names=I,Q", "-t", "5", "--min-snr=40"}, dir);
  EXPECT_EQ(split.status, 1);
  EXPECT_NE(split.out.find("verdict: fail: channel Q: snr 11.52 dB below 40 dB\n"),
            std::string::npos)
      << split.out;
}

TEST_F(Channels, TakeATolerancePerChannel) {
  const fs::path dir = write_run("tolerances", layout_model, layout_implementation);
  // Q may be 5 off, I not even 1.
  const outcome result = run({"--samples=none", "--channels=2", "-t", "0,5"}, dir);
  EXPECT_EQ(result.status, 1);
  EXPECT_NE(result.out.find("index:2.0, res_m:0.146484, res_c:0.146973, diff:1\n"),
            std::string::npos);
  EXPECT_NE(result.out.find("total: 1 of 12 entries differ by more than 0,5 LSB;"),
            std::string::npos)
      << result.out;
  EXPECT_NE(result.out.find("verdict: fail: channel 0: 1 entry beyond 0 LSB\n"), std::string::npos);
  EXPECT_EQ(run({"--samples=none", "--channels=2", "-t", "1,5"}, dir).status, 0);
}

struct trouble_case {
  const char* edge;
  std::string model;
  std::string implementation;
  std::vector<std::string> args;
  std::string message;
  // The imaginary parts' files, when the run has them.
  std::string model_imaginary{};
  std::string implementation_imaginary{};
};

void PrintTo(const trouble_case& c, std::ostream* os) { *os << c.edge; }

class ChannelTrouble : public Channels, public testing::WithParamInterface<trouble_case> {};

TEST_P(ChannelTrouble, IsTold) {
  const trouble_case& c = GetParam();
  scratch_.write(std::string(c.edge) + "/results_m.txt", c.model);
  scratch_.write(std::string(c.edge) + "/results_c.txt", c.implementation);
  std::vector<std::string> args = {"--samples=none"};
  if (!c.model_imaginary.empty()) {
    scratch_.write(std::string(c.edge) + "/results_m_q.txt", c.model_imaginary);
    scratch_.write(std::string(c.edge) + "/results_c_q.txt", c.implementation_imaginary);
    args.insert(args.end(), {"--model-imag=results_m_q.txt", "--impl-imag=results_c_q.txt"});
  }
  args.insert(args.end(), c.args.begin(), c.args.end());
  const outcome result = run(args, scratch_.path() / c.edge);
  EXPECT_EQ(result.status, 2);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err, "decimal-diff: " + c.message + "\n");
}

INSTANTIATE_TEST_SUITE_P(
    Table, ChannelTrouble,
    testing::Values(
        // Equal counts, but half a frame at the end of both.
        trouble_case{"odd_counts",
                     "1\n2\n3\n",
                     "1\n2\n3\n",
                     {"--channels=2"},
                     "results_m.txt holds 3 numbers, not a whole number of 2-channel frames"},
        // Only the implementation's file is one number long: told before the counts differ.
        trouble_case{"odd_implementation",
                     "1\n2\n3\n4\n",
                     "1\n2\n3\n4\n5\n",
                     {"--channels=2"},
                     "results_c.txt holds 5 numbers, not a whole number of 2-channel frames"},
        // Whole frames, one more in the implementation: the delay it suggests is in frames.
        trouble_case{"frame_more",
                     "1 2\n3 4\n",
                     "1 2\n3 4\n5 6\n",
                     {"--channels=2"},
                     "results_c.txt holds 6 numbers, results_m.txt 4 (2 more in results_c.txt); "
                     "if the implementation lags the model by 1 frame, give --delay=1 or "
                     "--delay=auto"},
        // The imaginary parts' file ends a number early.
        trouble_case{"imaginary_file_shorter",
                     "1\n2\n",
                     "1\n2\n",
                     {},
                     "results_c_q.txt holds 1 numbers, results_c.txt 2",
                     "1\n2\n",
                     "1\n"},
        // ... or later, after its real parts' file ended.
        trouble_case{"imaginary_file_longer",
                     "1\n2\n",
                     "1\n2\n",
                     {},
                     "results_c_q.txt holds 3 numbers, results_c.txt 2",
                     "1\n2\n",
                     "1\n2\n3\n"},
        // A bad word in the imaginary parts is told at its place.
        trouble_case{"bad_word_in_imaginary_file",
                     "1\n2\n",
                     "1\n2\n",
                     {},
                     "results_c_q.txt:2:1: expected an integer, found \"2x\"",
                     "1\n2\n",
                     "1\n2x\n"},
        // Two files each: their counts are told as each file holds them.
        trouble_case{"two_files_frame_more",
                     "1\n2\n",
                     "1\n2\n3\n",
                     {},
                     "results_c.txt holds 3 numbers, results_m.txt 2 (1 more in results_c.txt); "
                     "if the implementation lags the model by 1 frame, give --delay=1 or "
                     "--delay=auto",
                     "1\n2\n",
                     "1\n2\n3\n"},
        // --skip counts frames.
        trouble_case{"skip_all",
                     "1 2\n3 4\n",
                     "1 2\n3 4\n",
                     {"--channels=2", "--skip=2"},
                     "results_m.txt: --skip=2 leaves none of its 2 frames"}),
    [](const testing::TestParamInfo<trouble_case>& info) { return std::string(info.param.edge); });

TEST_F(Channels, DelaySkipAndCountAreFrames) {
  // The implementation lags by one frame (two entries) and carries a junk frame at its start.
  scratch_.write("frames/results_m.txt", "10 20\n30 40\n50 60\n70 80\n");
  scratch_.write("frames/results_c.txt", "-9 -9\n10 20\n30 41\n50 60\n70 80\n");
  scratch_.write("frames/samples.txt", "1\n2\n3\n4\n");
  const fs::path dir = scratch_.path() / "frames";
  const outcome delayed = run({"--channels=2", "--delay=1"}, dir);
  EXPECT_EQ(delayed.status, 1) << delayed.err;
  // Frame 1's Q, with its frame's sample.
  EXPECT_NE(delayed.out.find("index:1.1, res_m:0.019531, res_c:0.020020, samp:2, diff:1\n"),
            std::string::npos)
      << delayed.out;
  EXPECT_NE(delayed.out.find("lead-in: the implementation's first 2 entries, not compared"),
            std::string::npos);
  const outcome found = run({"--channels=2", "--delay=auto"}, dir);
  EXPECT_NE(found.out.find("delay: 1 (found between"), std::string::npos) << found.out;
  // Skipping frame 1 leaves frames 2 and 3, which agree.
  const outcome skipped = run({"--channels=2", "--delay=1", "--skip=2"}, dir);
  EXPECT_EQ(skipped.status, 0) << skipped.out << skipped.err;
  EXPECT_NE(skipped.out.find("total: 0 of 4 entries (4 skipped)"), std::string::npos)
      << skipped.out;
  // The first frame alone: one frame, two entries.
  const outcome counted = run({"--channels=2", "--delay=1", "-n", "1"}, dir);
  EXPECT_EQ(counted.status, 0) << counted.err;
  EXPECT_NE(counted.out.find("total: 0 of 2 entries"), std::string::npos) << counted.out;
}

TEST_F(Channels, FramesOfThreeCrossTheBlocksWhole) {
  // 20000 frames of 3 channels: blocks of entries are not multiples of 3
  // unless the reader rounds them to frames. Channel 2 is off at frame
  // 19999, the last; each frame's sample is its index.
  std::string model;
  std::string implementation;
  std::string samples;
  for (int frame = 0; frame < 20000; ++frame) {
    const int base = frame % 1000;
    model +=
        std::to_string(base) + ' ' + std::to_string(-base) + ' ' + std::to_string(base / 2) + '\n';
    implementation += std::to_string(base) + ' ' + std::to_string(-base) + ' ' +
                      std::to_string(base / 2 + (frame == 19999 ? 3 : 0)) + '\n';
    samples += std::to_string(frame) + '\n';
  }
  scratch_.write("three/results_m.txt", model);
  scratch_.write("three/results_c.txt", implementation);
  scratch_.write("three/samples.txt", samples);
  const outcome result = run({"--channels=3", "-t", "2"}, scratch_.path() / "three");
  EXPECT_EQ(result.status, 1) << result.err;
  EXPECT_EQ(result.out.substr(0, result.out.find('\n') + 1),
            "index:19999.2, res_m:0.243652, res_c:0.245117, samp:19999, diff:3\n");
  EXPECT_NE(result.out.find("verdict: fail: channel 2: 1 entry beyond 2 LSB\n"), std::string::npos);
}

TEST_F(Channels, SelectLeavesAnIndexColumnOut) {
  // fprintf("%d %d\n", i, y): the index is channel 0, the result channel 1.
  scratch_.write("select/results_m.txt", "0 100\n1 200\n2 300\n");
  scratch_.write("select/results_c.txt", "0 100\n1 202\n2 300\n");
  const outcome result =
      run({"--samples=none", "--channels=2", "--select=1", "-t", "1"}, scratch_.path() / "select");
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.out.find("histogram 0"), std::string::npos);
  EXPECT_NE(result.out.find("summary 1: 1 of 3 entries"), std::string::npos) << result.out;
  EXPECT_NE(result.out.find("total: 1 of 3 entries"), std::string::npos);
}

TEST_F(Channels, SamplesMayBeOnePerChannel) {
  scratch_.write("samples/results_m.txt", "1 2\n3 4\n");
  scratch_.write("samples/results_c.txt", "1 2\n3 5\n");
  scratch_.write("samples/samples.txt", "7 8\n9 10\n");
  const fs::path dir = scratch_.path() / "samples";
  const outcome each = run({"--channels=2", "--samples-channels=2"}, dir);
  EXPECT_NE(each.out.find("index:1.1, res_m:0.001953, res_c:0.002441, samp:10, diff:1\n"),
            std::string::npos)
      << each.out;
  // One a frame, the samples file holds twice as many as it needs: too many is fine, too few not.
  const outcome frame = run({"--channels=2"}, dir);
  EXPECT_NE(frame.out.find("samp:8, diff:1\n"), std::string::npos) << frame.out;
  scratch_.write("samples/samples.txt", "7\n");
  const outcome short_samples = run({"--channels=2"}, dir);
  EXPECT_EQ(short_samples.status, 2);
  EXPECT_EQ(short_samples.err, "decimal-diff: samples.txt: expected 2 numbers, found 1\n");
}

// Hand-worked EVM. QPSK at (+-1000, +-1000), power 2,000,000 each; frame 2
// is off by (30, 40), |e| = 50: rms = sqrt(2500 / 4 / 2e6) = 1.7678%
// (-35.05 dB), peak = 50 / sqrt(2e6) = 3.5355%, and the 95th percentile's
// rank is the 4th of 4, the peak.
const iq_frames qpsk{{1000, -1000, -1000, 1000}, {1000, 1000, -1000, -1000}};
const iq_frames qpsk_off{{1000, -1000, -970, 1000}, {1000, 1000, -960, -1000}};

// 16QAM at {-900, -300, 300, 900}^2, average power 900,000, every frame off
// by (3, 4): rms = peak = 5 / sqrt(900000) = 0.52705% (-45.56 dB); to the
// peak power, 1,620,000: 5 / 1272.79 = 0.39284%.
iq_frames qam16(std::int64_t off_i, std::int64_t off_q) {
  iq_frames f;
  for (const std::int64_t i : {-900, -300, 300, 900}) {
    for (const std::int64_t q : {-900, -300, 300, 900}) {
      f.i.push_back(i + off_i);
      f.q.push_back(q + off_q);
    }
  }
  return f;
}

struct evm_case {
  const char* edge;
  iq_frames model;
  iq_frames implementation;
  std::vector<std::string> args;
  std::string line;
};

void PrintTo(const evm_case& c, std::ostream* os) { *os << c.edge; }

class ComplexEvm : public Channels, public testing::WithParamInterface<evm_case> {};

TEST_P(ComplexEvm, MatchesTheFigureWorkedByHand) {
  const evm_case& c = GetParam();
  const fs::path dir = write_run(c.edge, c.model, c.implementation);
  std::vector<std::string> args = {"--samples=none", "--complex", "-t", "100"};
  args.insert(args.end(), c.args.begin(), c.args.end());
  const outcome result = run(args, dir);
  EXPECT_EQ(result.err, "");
  EXPECT_NE(result.out.find("\n" + c.line + "\n"), std::string::npos) << result.out;
}

INSTANTIATE_TEST_SUITE_P(
    Table, ComplexEvm,
    testing::Values(
        evm_case{"qpsk",
                 qpsk,
                 qpsk_off,
                 {},
                 "evm: rms 1.77% (-35.1 dB), peak 3.54% at index 2, 95th percentile 3.54% (to "
                 "the model's average power)"},
        evm_case{"qam16",
                 qam16(0, 0),
                 qam16(3, 4),
                 {},
                 "evm: rms 0.53% (-45.6 dB), peak 0.53% at index 0, 95th percentile 0.53% (to "
                 "the model's average power)"},
        evm_case{"qam16_peak",
                 qam16(0, 0),
                 qam16(3, 4),
                 {"--evm-reference=peak"},
                 "evm: rms 0.39% (-48.1 dB), peak 0.39% at index 0, 95th percentile 0.39% (to "
                 "the model's peak power)"},
        // Two files of parts give the same.
        evm_case{"identical",
                 qpsk,
                 qpsk,
                 {},
                 "evm: rms 0% (-inf dB), peak 0% at index 0, 95th percentile 0% (to the "
                 "model's average power)"}),
    [](const testing::TestParamInfo<evm_case>& info) { return std::string(info.param.edge); });

struct limit_case {
  const char* edge;
  std::vector<std::string> args;
  int status;
  std::string reason;  // the verdict line's
};

void PrintTo(const limit_case& c, std::ostream* os) { *os << c.edge; }

class EvmLimit : public Channels, public testing::WithParamInterface<limit_case> {};

// Every frame of (1000, 0) is off by (10, 0): the rms EVM is 1% exactly, -40 dB.
TEST_P(EvmLimit, PassesAtTheLimitAndFailsBeyond) {
  const limit_case& c = GetParam();
  const iq_frames model{{1000, 1000, -1000}, {0, 0, 0}};
  const iq_frames implementation{{1010, 1010, -990}, {0, 0, 0}};
  const fs::path dir = write_run(c.edge, model, implementation);
  std::vector<std::string> args = {"--samples=none", "--complex", "-t", "10"};
  args.insert(args.end(), c.args.begin(), c.args.end());
  const outcome result = run(args, dir);
  EXPECT_EQ(result.status, c.status) << result.out << result.err;
  EXPECT_NE(result.out.find(c.reason), std::string::npos) << result.out;
}

INSTANTIATE_TEST_SUITE_P(
    Table, EvmLimit,
    testing::Values(
        limit_case{"percent_at", {"--max-evm=1"}, 0, "verdict: pass\n"},
        limit_case{"percent_below", {"--max-evm=0.999"}, 1, "verdict: fail: evm 1% above 0.999%\n"},
        limit_case{"decibels_at", {"--max-evm=-40dB"}, 0, "verdict: pass\n"},
        limit_case{"decibels_below",
                   {"--max-evm=-40.1dB"},
                   1,
                   "verdict: fail: evm -40.0 dB above -40.1 dB\n"},
        // Box: each part within 10 LSB passes; circle: |(8, 8)| = 11.3 does not.
        limit_case{"box", {"-t", "8"}, 1, "channel I: 3 entries beyond 8 LSB"},
        limit_case{"circle", {"--complex-tolerance=circle"}, 0, "verdict: pass\n"}),
    [](const testing::TestParamInfo<limit_case>& info) { return std::string(info.param.edge); });

TEST_F(Channels, CircleFailsWhatTheBoxPasses) {
  // Frame 1 is off by (2, 2): each part within 2 LSB, its magnitude 2.83 beyond.
  const iq_frames model{{100, 200}, {100, 200}};
  const iq_frames implementation{{100, 202}, {100, 202}};
  const fs::path dir = write_run("circle", model, implementation);
  const std::vector<std::string> args = {"--samples=none", "--complex", "-t", "2"};
  EXPECT_EQ(run(args, dir).status, 0);
  std::vector<std::string> circle = args;
  circle.push_back("--complex-tolerance=circle");
  const outcome result = run(circle, dir);
  EXPECT_EQ(result.status, 1);
  // Both parts of the frame are shown.
  EXPECT_NE(result.out.find("index:1.I, res_m:0.097656, res_c:0.098633, diff:2\n"
                            "index:1.Q, res_m:0.097656, res_c:0.098633, diff:2\n"),
            std::string::npos)
      << result.out;
  EXPECT_NE(result.out.find("verdict: fail: 1 entry with |error| beyond 2 LSB\n"),
            std::string::npos);
}

struct usage_case {
  std::vector<std::string> args;
  std::string message;
};

void PrintTo(const usage_case& c, std::ostream* os) { *os << testing::PrintToString(c.args); }

class ChannelOptions : public Channels, public testing::WithParamInterface<usage_case> {};

TEST_P(ChannelOptions, RefuseWhatCannotBeRun) {
  const usage_case& c = GetParam();
  const outcome result = run(c.args, scratch_.path());
  EXPECT_EQ(result.status, 2);
  EXPECT_EQ(result.err, "decimal-diff: " + c.message + "\nTry 'decimal-diff --help'.\n");
}

INSTANTIATE_TEST_SUITE_P(
    Table, ChannelOptions,
    testing::Values(
        usage_case{{"--channels=65"},
                   "invalid --channels \"65\": expected a whole number from 1 to 64"},
        usage_case{{"--channels=3", "-t", "1,2"},
                   "--tolerance gives 2 values for 3 channels: give one, or one for each channel"},
        usage_case{{"--complex", "--channels=3"},
                   "--complex takes 2 channels, I and Q, not --channels=3"},
        usage_case{{"--channels=3", "--samples-channels=2"},
                   "invalid --samples-channels \"2\": expected 1 (a sample a frame) or 3 (one for "
                   "each channel)"},
        usage_case{{"--channels=2", "--channel-names=I"},
                   "--channel-names names 1 channels of 2: give one name for each"},
        usage_case{{"--channels=2", "--channel-names=I,I"}, "channel name \"I\" given twice"},
        // Frames counted as entries must stay counts.
        usage_case{{"--channels=64", "-n", "1000000000000000000"},
                   "invalid count \"1000000000000000000\": too many frames of 64 entries"},
        usage_case{{"--channels=2", "--delay=-9223372036854775807"},
                   "invalid delay \"-9223372036854775807\": too many frames of 2 entries"},
        usage_case{{"--channels=2", "--select=2"},
                   "invalid --select \"2\": expected a channel from 0 to 1"},
        usage_case{{"--max-evm=3"}, "--max-evm is of a complex run: give --complex too"},
        usage_case{{"--complex", "--max-evm=-3"},
                   "invalid maximum EVM \"-3\": expected a percentage such as 3.5, or dB such as "
                   "-30dB"},
        usage_case{{"--complex", "-t", "1,2", "--complex-tolerance=circle"},
                   "--complex-tolerance=circle holds |error| to one tolerance: give one -t"}));

TEST_F(Channels, ReportsCarryEachChannel) {
  const fs::path dir = write_run("reports", layout_model, layout_implementation);
  const std::string junit = (scratch_.path() / "report.xml").string();
  const std::string page = (scratch_.path() / "page.html").string();
  const outcome result = run({"--samples=none", "--complex", "-t", "1", "--max-evm=-20dB", "--json",
                              "--junit=" + junit, "--html=" + page},
                             dir);
  EXPECT_EQ(result.status, 1) << result.err;
  const nlohmann::json line = nlohmann::json::parse(result.out);
  ASSERT_EQ(line["channels"].size(), 2U);
  EXPECT_EQ(line["channels"][1]["name"], "Q");
  EXPECT_EQ(line["channels"][1]["reasons"][0], "1 entry beyond 1 LSB");
  EXPECT_EQ(line["channels"][1]["beyond_tolerance"], 1);
  EXPECT_EQ(line["largest_channel"], "Q");
  EXPECT_EQ(line["evm"]["reference"], "average");
  EXPECT_EQ(line["evm"]["peak_index"], 4);
  EXPECT_EQ(line["evm"]["max_evm_db"], -20.0);
  EXPECT_EQ(line["beyond"][0]["channel"], "Q");
  EXPECT_EQ(line["beyond"][0]["index"], 4);

  pugi::xml_document report;
  ASSERT_TRUE(report.load_file(junit.c_str()));
  const pugi::xml_node test = report.select_node("//testcase").node();
  const std::string out = test.child("system-out").text().get();
  EXPECT_NE(out.find("summary I: 0 of 6 entries"), std::string::npos) << out;
  EXPECT_NE(out.find("summary Q: 1 of 6 entries"), std::string::npos) << out;
  const std::string failure = test.child("failure").text().get();
  EXPECT_NE(failure.find("index:4.Q, res_m:0.004395"), std::string::npos) << failure;
  EXPECT_TRUE(report.select_node("//property[@name='channel_names'][@value='I,Q']"));

  const std::string html = read_file(page);
  // A chart for each channel, each with its own data.
  EXPECT_NE(html.find("<h3>channel I</h3>\n<div class=\"chart\" data-source=\"d1c0-data\">"),
            std::string::npos);
  EXPECT_NE(html.find("<h3>channel Q</h3>\n<div class=\"chart\" data-source=\"d1c1-data\">"),
            std::string::npos);
  EXPECT_NE(html.find("summary Q: 1 of 6 entries"), std::string::npos);
  // The entries kept for the page outlive the check that named their channel.
  EXPECT_NE(html.find("<tr><td>4.Q</td><td>0.004395</td>"), std::string::npos) << html;
}

// The percentile comes from a histogram, never more than its stated
// resolution above the true nearest-rank value, and exact below 16 LSB.
TEST(EvmPercentile, StaysWithinItsResolution) {
  std::mt19937_64 random(2026);
  for (const std::int64_t spread : {15, 300, 100000}) {
    decimal::evm_accumulator evm(decimal::evm_reference::average, 0);
    std::vector<double> magnitudes;
    std::uniform_int_distribution<std::int64_t> error(-spread, spread);
    for (std::uint64_t k = 0; k < 1000; ++k) {
      const std::int64_t i = spread <= 15 ? error(random) / 2 * 2 / 2 : error(random);
      const std::int64_t q = spread <= 15 ? 0 : error(random);
      evm.add(k, 1000, 0, i, q);
      magnitudes.push_back(std::sqrt(static_cast<double>(i * i + q * q)));
    }
    std::sort(magnitudes.begin(), magnitudes.end());
    const double truth = magnitudes[949] / 1000;  // rank 950 of 1000; the power is 1000^2
    const double given = evm.figures().percentile_95;
    if (spread <= 15) {
      EXPECT_EQ(given, truth) << spread;
    } else {
      EXPECT_GE(given, truth) << spread;
      EXPECT_LE(given, truth * (1 + decimal::evm_percentile_resolution)) << spread;
    }
  }
}

TEST(EvmPercentile, PeakIsTheFirstLargest) {
  decimal::evm_accumulator evm(decimal::evm_reference::average, 0);
  evm.add(10, 100, 0, 0, 3);
  evm.add(11, 100, 0, 4, 0);   // |e| 4
  evm.add(12, 100, 0, 0, -4);  // as large, later
  const decimal::evm_figures figures = evm.figures();
  EXPECT_EQ(figures.peak_index, 11U);
  EXPECT_EQ(figures.peak, 0x1.47ae147ae147bp-5);  // 4 / 100
}

}  // namespace
