// decimal-diff, run as a user runs it: on the example and in scratch directories.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <pugixml.hpp>
#include <string>
#include <vector>

#include "decimal/batch.hpp"
#include "decimal/command_line.hpp"
#include "run_program.hpp"
#include "scratch_dir.hpp"

namespace {

namespace fs = std::filesystem;

const fs::path example_dir = DECIMAL_EXAMPLE_DIR;

const std::string summary_line =
    "summary: 200 of 201 entries differ by more than 0 LSB; largest -7 LSB at index 113; mean "
    "-4.463 LSB, rms 4.586 LSB, snr 44.45 dB\n";

class DecimalDiff : public testing::Test {
 protected:
  outcome run(const std::vector<std::string>& args, const fs::path& dir = example_dir,
              run_options options = {}) {
    options.args = args;
    return run_program(DECIMAL_DIFF_BINARY, dir, scratch_.path(), options);
  }

  // A copy of the example in scratch/NAME.
  fs::path copy_example(const std::string& name) { return scratch_.copy_run(example_dir, name); }

  scratch_dir scratch_;
};

TEST_F(DecimalDiff, ShowsTheTruncationBiasOfTheExample) {
  const outcome result = run({});
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.out, read_file(example_dir / "expected_diff.txt"));
  EXPECT_NE(result.out.find(summary_line), std::string::npos);
}

struct verdict_case {
  std::vector<std::string> args;
  int status;
  std::string out;  // "" for the whole of expected_diff.txt
};

void PrintTo(const verdict_case& c, std::ostream* os) { *os << testing::PrintToString(c.args); }

class DecimalDiffVerdict : public DecimalDiff, public testing::WithParamInterface<verdict_case> {};

TEST_P(DecimalDiffVerdict, ExitStatusAndOutput) {
  const verdict_case& c = GetParam();
  const outcome result = run(c.args);
  EXPECT_EQ(result.status, c.status);
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.out, c.out);
}

const std::string histogram_line = "histogram: -7:2 -6:24 -5:82 -4:60 -3:26 -2:5 -1:1 0:1\n";

std::string summary_with(int tolerance, int beyond) {
  return "summary: " + std::to_string(beyond) + " of 201 entries differ by more than " +
         std::to_string(tolerance) + summary_line.substr(summary_line.find(" LSB; largest"));
}

std::string with_minimum(std::string summary, const std::string& db) {
  return summary.insert(summary.size() - 1, " (minimum " + db + " dB)");
}

INSTANTIATE_TEST_SUITE_P(
    Table, DecimalDiffVerdict,
    testing::Values(
        verdict_case{{"-t", "6"},
                     1,
                     "index:113, res_m:0.533691, res_c:0.530273, samp:742, diff:-7\n"
                     "index:163, res_m:0.449219, res_c:0.445801, samp:551, diff:-7\n" +
                         histogram_line + summary_with(6, 2) +
                         "verdict: fail: 2 entries beyond 6 LSB\n"},
        verdict_case{{"--tolerance=7"}, 0, histogram_line + summary_with(7, 0) + "verdict: pass\n"},
        verdict_case{{"-t7", "--min-snr=44.4"},
                     0,
                     histogram_line + with_minimum(summary_with(7, 0), "44.4") + "verdict: pass\n"},
        verdict_case{{"-t7", "--min-snr", "44.5"},
                     1,
                     histogram_line + with_minimum(summary_with(7, 0), "44.5") +
                         "verdict: fail: snr 44.45 dB below 44.5 dB\n"},
        verdict_case{{"-t6", "--min-snr=60.0"},
                     1,
                     "index:113, res_m:0.533691, res_c:0.530273, samp:742, diff:-7\n"
                     "index:163, res_m:0.449219, res_c:0.445801, samp:551, diff:-7\n" +
                         histogram_line + with_minimum(summary_with(6, 2), "60") +
                         "verdict: fail: 2 entries beyond 6 LSB; snr 44.45 dB below 60 dB\n"},
        // A minimum of -0 is shown as 0.
        verdict_case{{"-t7", "--min-snr=-0"},
                     0,
                     histogram_line + with_minimum(summary_with(7, 0), "0") + "verdict: pass\n"},
        verdict_case{{"--quiet", "-t", "7"}, 0, ""}, verdict_case{{"-q"}, 1, ""},
        verdict_case{{"-q", "--tolerance=4095"}, 0, ""},
        verdict_case{{"-q", "-t7", "--min-snr=60"}, 1, ""}));

TEST_F(DecimalDiff, DirectoryGivenOrNot) {
  const fs::path dir = copy_example("run7");
  const outcome given = run({"run7"}, scratch_.path());
  const outcome given_with_slash = run({"-t", "7", "run7/"}, scratch_.path());
  const outcome here = run({}, dir);
  EXPECT_EQ(given.status, 1);
  EXPECT_EQ(given.out, read_file(example_dir / "expected_diff.txt"));
  EXPECT_EQ(here.out, given.out);
  EXPECT_EQ(given_with_slash.status, 0);
}

// A file error: status 2, decimal's message with this program's name, and
// nothing on standard output.
TEST_F(DecimalDiff, FileErrorsAreTrouble) {
  const fs::path dir = copy_example("run7");
  scratch_.write("run7/results_c.txt", "1\n2\n12.5\n");
  const outcome bad = run({"run7"}, scratch_.path());
  EXPECT_EQ(bad.status, 2);
  EXPECT_EQ(bad.out, "");
  EXPECT_EQ(bad.err,
            "decimal-diff: run7/results_c.txt:3:1: expected an integer, found \"12.5\": a real "
            "number, where integers are read\n");

  fs::remove(dir / "samples.txt");
  const outcome missing = run({"-t", "7"}, dir);
  EXPECT_EQ(missing.status, 2);
  EXPECT_EQ(missing.out, "");
  EXPECT_EQ(missing.err, "decimal-diff: samples.txt: No such file or directory\n");
}

// A file compared with itself passes whatever it holds: named twice, or
// reached through a second link, it is trouble.
TEST_F(DecimalDiff, TheSameFileAsModelAndImplementationIsTrouble) {
  const fs::path dir = copy_example("same");
  const outcome named_twice = run({"--impl=results_m.txt"}, dir);
  EXPECT_EQ(named_twice.status, 2);
  EXPECT_EQ(named_twice.out, "");
  EXPECT_EQ(named_twice.err,
            "decimal-diff: the model and the implementation are the same file: results_m.txt\n");
  fs::create_hard_link(dir / "results_m.txt", dir / "linked.txt");
  const outcome linked = run({"--impl=linked.txt", "--json"}, dir);
  EXPECT_EQ(linked.status, 2);
  EXPECT_EQ(linked.err,
            "decimal-diff: the model and the implementation are the same file: results_m.txt and "
            "linked.txt\n");
}

// With standard output closed, the plot's temporary must not take its
// descriptor: the text goes nowhere, the plot is whole.
TEST_F(DecimalDiff, ClosedStandardDescriptorsAreNotTakenByAReport) {
  const fs::path dir = copy_example("closed");
  const std::string plot = (scratch_.path() / "x.svg").string();
  const outcome result =
      run({"--plot=" + plot}, dir, {.stdout_path = std::nullopt, .close_stdin = true});
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.err, "");
  const std::string svg = read_file(plot);
  EXPECT_TRUE(svg.starts_with("<?xml")) << svg.substr(0, 80);
  const std::size_t end = svg.rfind("</svg>");
  ASSERT_NE(end, std::string::npos);
  EXPECT_EQ(svg.find_first_not_of('\n', end + 6), std::string::npos) << "text after the plot";
  EXPECT_EQ(svg.find("index:7, res_m:"), std::string::npos) << "the text went into the plot";
}

// Under a file size limit, a JSON line is written whole or not at all, and
// the run says why it failed.
TEST_F(DecimalDiff, FileSizeLimitCutsNoLine) {
  const fs::path dir = copy_example("limited");
  const std::string out = (scratch_.path() / "out.json").string();
  const std::string report = (scratch_.path() / "report.xml").string();
  const outcome json = run({"--json"}, dir, {.stdout_path = out, .file_size_limit = 1000});
  EXPECT_EQ(json.status, 2);
  EXPECT_EQ(json.err, "decimal-diff: write error: file size limit exceeded\n");
  EXPECT_EQ(read_file(out), "");
  const outcome junit =
      run({"--junit=" + report}, dir, {.stdout_path = "/dev/null", .file_size_limit = 1000});
  EXPECT_EQ(junit.status, 2);
  EXPECT_EQ(junit.err, "decimal-diff: junit: " + report + ": file size limit exceeded\n");
  EXPECT_FALSE(fs::exists(report));
}

TEST_F(DecimalDiff, FullDiskIsTrouble) {
  const outcome result = run({}, example_dir, {.stdout_path = "/dev/full"});
  EXPECT_EQ(result.status, 2);
  EXPECT_EQ(result.err, "decimal-diff: write error: No space left on device\n");
}

// Output that cannot be written leaves the plot as it was, like the JUnit report.
TEST_F(DecimalDiff, FullDiskLeavesThePlotAndTheReport) {
  const std::string plot = scratch_.write("plot.svg", "an older plot");
  const std::string report = scratch_.write("report.xml", "an older report");
  const outcome result =
      run({"--plot=" + plot, "--junit=" + report}, example_dir, {.stdout_path = "/dev/full"});
  EXPECT_EQ(result.status, 2);
  EXPECT_EQ(result.err, "decimal-diff: write error: No space left on device\n");
  EXPECT_EQ(read_file(plot), "an older plot");
  EXPECT_EQ(read_file(report), "an older report");
}

struct usage_case {
  std::vector<std::string> args;
  const char* message;
};

void PrintTo(const usage_case& c, std::ostream* os) { *os << testing::PrintToString(c.args); }

class DecimalDiffUsage : public DecimalDiff, public testing::WithParamInterface<usage_case> {};

TEST_P(DecimalDiffUsage, TwoLinesOnStandardErrorAndStatus2) {
  const usage_case& c = GetParam();
  const outcome result = run(c.args);
  EXPECT_EQ(result.status, 2);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err,
            "decimal-diff: " + std::string(c.message) + "\nTry 'decimal-diff --help'.\n");
}

INSTANTIATE_TEST_SUITE_P(
    Table, DecimalDiffUsage,
    testing::Values(
        usage_case{{"--frobnicate"}, "unknown option \"--frobnicate\""},
        usage_case{{"--delay=4.5"},
                   "invalid delay \"4.5\": expected a whole number of entries (may be negative) or "
                   "auto"},
        usage_case{{"--delay=--4"},
                   "invalid delay \"--4\": expected a whole number of entries (may be negative) or "
                   "auto"},
        usage_case{{"--delay=auto", "--max-delay=65536"},
                   "invalid maximum delay \"65536\": expected a whole number from 0 to 65535"},
        // Without a search it would bound nothing, silently.
        usage_case{{"--max-delay=3", "--delay=3"}, "--max-delay bounds --delay=auto: give both"},
        usage_case{{"--color=sometimes"},
                   "invalid colour setting \"sometimes\": expected auto, always or never"},
        usage_case{{"--frobnicate=3"}, "unknown option \"--frobnicate\""},
        usage_case{{"-q", "-x"}, "unknown option \"-x\""},
        usage_case{{"-qx"}, "unknown option \"-x\""},
        usage_case{{"--quiet=yes"}, "option \"--quiet\" takes no value"},
        usage_case{{"--qui=yes"}, "option \"--qui\" takes no value"},
        // A cluster's first option is named, not the word before the cluster.
        usage_case{{"--json", "-dash"}, "unknown option \"-d\""},
        usage_case{{"--format=Q15", "-dash"}, "unknown option \"-d\""},
        usage_case{{"-t"}, "option \"-t\" needs a value"},
        usage_case{{"-q", "--tolerance"}, "option \"--tolerance\" needs a value"},
        usage_case{{"--min-snr"}, "option \"--min-snr\" needs a value"},
        usage_case{{"-t", "x"}, "invalid tolerance \"x\": expected a whole number from 0 to 4095"},
        usage_case{{"--tolerance=1.5"},
                   "invalid tolerance \"1.5\": expected a whole number from 0 to 4095"},
        usage_case{{"--tolerance=-1"},
                   "invalid tolerance \"-1\": expected a whole number from 0 to 4095"},
        usage_case{{"-t", "4096"},
                   "invalid tolerance \"4096\": expected a whole number from 0 to 4095"},
        usage_case{{"--tolerance="},
                   "invalid tolerance \"\": expected a whole number from 0 to 4095"},
        usage_case{{"--min-snr=sixty"},
                   "invalid minimum SNR \"sixty\": expected a decimal number of dB, such as 60 "
                   "or 72.5"},
        usage_case{{"--min-snr=inf"},
                   "invalid minimum SNR \"inf\": expected a decimal number of dB, such as 60 or "
                   "72.5"},
        usage_case{{"--min-snr=60dB"},
                   "invalid minimum SNR \"60dB\": expected a decimal number of dB, such as 60 or "
                   "72.5"},
        usage_case{{"--plot=comparison.pdf"},
                   "invalid plot file \"comparison.pdf\": the name must end in .svg or .png"},
        usage_case{{"--plot=p.svg", "a", "b"},
                   "--plot draws one directory's comparison: give one DIR, or one call each"},
        usage_case{{"--plot=p.svg", "--plot-dir=plots"},
                   "--plot and --plot-dir both draw: give one of them"},
        usage_case{{"a", "", "b"}, "invalid directory \"\": the name is empty"},
        usage_case{{"-n", "5", "--skip=5"}, "invalid skip \"5\": it must be below the count 5"},
        usage_case{{"--skip=-1"}, "invalid skip \"-1\": expected a whole number"},
        usage_case{{"--model="}, "invalid model file name \"\": the name is empty"},
        usage_case{{"--json=yes"}, "option \"--json\" takes no value"},
        usage_case{{"--junit"}, "option \"--junit\" needs a value"},
        // An unset shell variable must not mean the current directory.
        usage_case{{""}, "invalid directory \"\": the name is empty"},
        // Formats as other tools write them: what they are here.
        usage_case{{"-f", "Q0.11"},
                   "invalid format \"Q0.11\": that format is Q1.11 here, where M counts the sign "
                   "bit"},
        usage_case{{"-f", "sfix16_En15"},
                   "invalid format \"sfix16_En15\": that format is Q1.15 here"},
        usage_case{{"--format=Q1.32"},
                   "invalid format \"Q1.32\": expected QM.N or QN (signed, M from 1), or UQM.N or "
                   "UQN (unsigned), M + N from 1 to 32 bits"},
        usage_case{{"--format="},
                   "invalid format \"\": expected QM.N or QN (signed, M from 1), or UQM.N or UQN "
                   "(unsigned), M + N from 1 to 32 bits"},
        usage_case{{"--word-bits=16"},
                   "--word-bits sizes hex and binary words: neither result file is written so"},
        usage_case{{"-e", "hex", "--word-bits=65"},
                   "invalid word size \"65\": expected a whole number of bits from 8 to 64"},
        usage_case{{"-e", "hex", "--word-bits=8"},
                   "invalid word size \"8\": narrower than Q1.11's 12 bits"},
        usage_case{{"-n", "0"}, "invalid count \"0\": expected a whole number from 1"},
        usage_case{{"--count=-3"}, "invalid count \"-3\": expected a whole number from 1"},
        usage_case{{"--count=1e3"}, "invalid count \"1e3\": expected a whole number from 1"},
        usage_case{{"-n"}, "option \"-n\" needs a value"},
        // The tolerance's range is the format's, whichever option comes first.
        usage_case{{"-t", "65536", "-f", "Q1.15"},
                   "invalid tolerance \"65536\": expected a whole number from 0 to 65535 for "
                   "Q1.15"},
        usage_case{{"-f", "Q4.12", "-t", "+7"},
                   "invalid tolerance \"+7\": expected a whole number from 0 to 65535 for "
                   "Q4.12"}));

// Runs shaped like real test vectors, that an earlier decimal-diff passed.
class DecimalDiffVectors : public DecimalDiff {
 protected:
  // Writes a run of model and implementation entries into scratch/NAME,
  // with the samples counting up from 0.
  std::string write_run(const std::string& name, const std::vector<std::int64_t>& model,
                        const std::vector<std::int64_t>& implementation) {
    std::string samples;
    std::string m;
    std::string c;
    for (std::size_t i = 0; i < std::max(model.size(), implementation.size()); ++i) {
      samples += std::to_string(i) + "\n";
    }
    for (const std::int64_t n : model) m += std::to_string(n) + "\n";
    for (const std::int64_t n : implementation) c += std::to_string(n) + "\n";
    scratch_.write(name + "/samples.txt", samples);
    scratch_.write(name + "/results_m.txt", m);
    scratch_.write(name + "/results_c.txt", c);
    return name;
  }
};

TEST_F(DecimalDiffVectors, AnErrorLateInALongRunFails) {
  std::vector<std::int64_t> model(1000, 100);
  std::vector<std::int64_t> implementation = model;
  implementation[500] = 400;
  const outcome result = run({"-t", "2", write_run("run", model, implementation)}, scratch_.path());
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.out,
            "index:500, res_m:0.048828, res_c:0.195312, samp:500, diff:300\n"
            "histogram: 0:999 300:1\n"
            "summary: 1 of 1000 entries differ by more than 2 LSB; largest 300 LSB at index 500; "
            "mean 0.300 LSB, rms 9.487 LSB, snr 20.46 dB\n"
            "verdict: fail: 1 entry beyond 2 LSB\n");
}

// An ADC's 12-bit codes: a wrap where the model saturates (4095 + 11 read
// as 6) is a whole scale off, not the 7 LSB that signed bits would make it.
TEST_F(DecimalDiffVectors, AnUnsignedWrapFails) {
  const std::string dir = write_run("run", {4090, 4095, 0}, {4090, 6, 0});
  const outcome wrapped = run({"-f", "UQ12.0", "-t", "7", "--samples=none", dir}, scratch_.path());
  EXPECT_EQ(wrapped.status, 1);
  EXPECT_EQ(wrapped.out.substr(0, wrapped.out.find('\n')),
            "index:1, res_m:4095.000000, res_c:6.000000, diff:-4089");
  const outcome signed_bits = run({"-f", "Q12.0", "-t", "7", "-q", dir}, scratch_.path());
  EXPECT_EQ(signed_bits.status, 0);
  write_run("negative", {0}, {-1});
  const outcome negative = run({"-f", "UQ12.0", "negative"}, scratch_.path());
  EXPECT_EQ(negative.status, 2);
  EXPECT_EQ(negative.err,
            "decimal-diff: negative/results_c.txt:1:1: -1 does not fit UQ12.0 (not between 0 "
            "and 4095)\n");
}

// A 14-bit result written sign-extended in 16-bit hex words.
TEST_F(DecimalDiffVectors, ContainerWordsAreSignExtended) {
  scratch_.write("run/results_m.txt", "-4\n8191\n-8192\n");
  scratch_.write("run/results_c.txt", "fffc\n1fff\ne000\n");
  const outcome result =
      run({"-f", "Q1.13", "--impl-encoding=hex", "--word-bits=16", "--samples=none", "run"},
          scratch_.path());
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.err, "");
}

TEST_F(DecimalDiffVectors, ResultsOfDifferentLengthsAreTrouble) {
  const outcome result =
      run({write_run("run", std::vector<std::int64_t>(201, 5), std::vector<std::int64_t>(300, 5))},
          scratch_.path());
  EXPECT_EQ(result.status, 2);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err,
            "decimal-diff: run/results_c.txt holds 300 numbers, run/results_m.txt 201 (99 more in "
            "run/results_c.txt); if the implementation lags the model by 99 entries, give "
            "--delay=99 or --delay=auto\n");
}

// Q1.15 results wrong by 4096 LSB every other entry: bits above the low 12 count.
TEST_F(DecimalDiffVectors, WiderFormatsAreComparedWhole) {
  std::vector<std::int64_t> model;
  std::vector<std::int64_t> implementation;
  for (int i = 0; i < 200; ++i) {
    model.push_back(i * 100 - 10000);
    implementation.push_back(i * 100 - 10000 + (i % 2) * 4096);
  }
  write_run("run", model, implementation);
  const outcome as_default = run({"run"}, scratch_.path());
  EXPECT_EQ(as_default.status, 2);
  EXPECT_EQ(as_default.out, "");
  EXPECT_EQ(as_default.err,
            "decimal-diff: run/results_m.txt:1:1: -10000 does not fit Q1.11 (not between -2048 "
            "and 4095)\n");
  const outcome q15 = run({"-q", "--format=Q1.15", "run"}, scratch_.path());
  EXPECT_EQ(q15.status, 1);
  const outcome q15_text = run({"-f", "Q15", "-t", "4095", "run"}, scratch_.path());
  EXPECT_EQ(q15_text.status, 1);
  EXPECT_NE(q15_text.out.find("\nsummary: 100 of 200 entries differ by more than 4095 LSB; "),
            std::string::npos);
  EXPECT_NE(q15_text.out.find("index:199, res_m:0.302124, res_c:0.427124, samp:199, diff:4096\n"),
            std::string::npos);
}

// Trouble at the very end of a long run, after a million lines beyond the
// tolerance were found: nothing reaches standard output, and nothing is left
// in the temporary directory.
TEST_F(DecimalDiffVectors, LateTroubleAfterManyLinesWritesNothing) {
  std::string model;
  std::string implementation;
  std::string samples;
  for (int i = 0; i < 1'000'000; ++i) {
    model += "1\n";
    implementation += "2\n";
    samples += "0\n";
  }
  scratch_.write("run/samples.txt", samples);
  scratch_.write("run/results_m.txt", model);
  scratch_.write("run/results_c.txt", implementation + "3x\n");
  const fs::path tmp = scratch_.path() / "tmp";
  fs::create_directories(tmp);
  const outcome result = run({"run"}, scratch_.path(), {.environment = {{"TMPDIR", tmp.string()}}});
  EXPECT_EQ(result.status, 2);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err,
            "decimal-diff: run/results_c.txt:1000001:1: expected an integer, found \"3x\"\n");
  EXPECT_TRUE(fs::is_empty(tmp));

  // The same run whole: every line, in order, through the spilled part.
  scratch_.write("run/results_c.txt", implementation);
  const outcome whole = run({"run"}, scratch_.path(), {.environment = {{"TMPDIR", tmp.string()}}});
  EXPECT_EQ(whole.status, 1);
  EXPECT_EQ(std::count(whole.out.begin(), whole.out.end(), '\n'), 1'000'003);
  EXPECT_EQ(whole.out.rfind("index:0, res_m:0.000488, res_c:0.000977, samp:0, diff:1\n", 0), 0U);
  EXPECT_NE(whole.out.find("\nindex:524287, res_m:0.000488, res_c:0.000977, samp:0, diff:1\n"
                           "index:524288, "),
            std::string::npos);
  EXPECT_NE(whole.out.find("\nindex:999999, res_m:0.000488, res_c:0.000977, samp:0, diff:1\n"
                           "histogram: 1:1000000\n"),
            std::string::npos);
}

// A pseudo-terminal for a program's standard output: what it wrote is read
// back once it has ended, without the carriage returns the terminal adds.
class pseudo_terminal {
 public:
  pseudo_terminal() : master_(::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK)) {
    if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0) return;
    name_ = ::ptsname(master_);
  }
  pseudo_terminal(const pseudo_terminal&) = delete;
  pseudo_terminal& operator=(const pseudo_terminal&) = delete;
  ~pseudo_terminal() {
    if (master_ >= 0) ::close(master_);
  }

  const std::string& name() const { return name_; }

  // What arrived; without `raw`, without the carriage returns the terminal adds.
  std::string written(bool raw = false) const {
    std::string text;
    std::array<char, 4096> chunk;
    for (ssize_t n; (n = ::read(master_, chunk.data(), chunk.size())) > 0;) {
      text.append(chunk.data(), static_cast<std::size_t>(n));
    }
    if (!raw) std::erase(text, '\r');
    return text;
  }

 private:
  int master_;
  std::string name_;
};

struct color_run {
  const char* edge;
  std::vector<std::string> options;
  bool terminal;
  std::vector<std::pair<std::string, std::string>> environment;
  bool colored;
};

void PrintTo(const color_run& c, std::ostream* os) { *os << c.edge; }

class DecimalDiffColor : public DecimalDiff, public testing::WithParamInterface<color_run> {};

TEST_P(DecimalDiffColor, OnlyWhereItIsWanted) {
  const color_run& c = GetParam();
  const pseudo_terminal terminal;
  ASSERT_FALSE(terminal.name().empty()) << "no pseudo-terminal";
  std::vector<std::string> args = c.options;
  args.emplace_back("--tolerance=6");
  run_options options{.environment = {{"TERM", "xterm"}}};
  options.environment.insert(options.environment.end(), c.environment.begin(), c.environment.end());
  if (c.terminal) options.stdout_path = terminal.name();
  const outcome result = run(args, example_dir, options);
  EXPECT_EQ(result.status, 1);
  const std::string out = c.terminal ? terminal.written() : result.out;
  const std::string plain =
      "index:113, res_m:0.533691, res_c:0.530273, samp:742, diff:-7\n"
      "index:163, res_m:0.449219, res_c:0.445801, samp:551, diff:-7\n"
      "histogram: -7:2 -6:24 -5:82 -4:60 -3:26 -2:5 -1:1 0:1\n"
      "summary: 2 of 201 entries differ by more than 6 LSB; largest -7 LSB at index 113; mean "
      "-4.463 LSB, rms 4.586 LSB, snr 44.45 dB\n"
      "verdict: fail: 2 entries beyond 6 LSB\n";
  if (!c.colored) {
    EXPECT_EQ(out, plain);
    return;
  }
  // Both lines beyond the tolerance end in diff:-7.
  std::string expected = plain;
  for (std::size_t at; (at = expected.find(", diff:-7\n")) != std::string::npos;) {
    expected.replace(at, 10, ", \x1b[31mdiff:-7\x1b[m\n");
  }
  expected.replace(expected.rfind("fail: "), std::string::npos,
                   "\x1b[31mfail: 2 entries beyond 6 LSB\x1b[m\n");
  EXPECT_EQ(out, expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, DecimalDiffColor,
    testing::Values(color_run{"auto_on_a_terminal", {}, true, {}, true},
                    color_run{"auto_into_a_file", {}, false, {}, false},
                    color_run{"auto_with_no_color", {"--color"}, true, {{"NO_COLOR", "1"}}, false},
                    color_run{"auto_on_a_dumb_terminal", {}, true, {{"TERM", "dumb"}}, false},
                    color_run{"always_into_a_file", {"--color=always"}, false, {}, true},
                    color_run{"never_on_a_terminal", {"--color=never"}, true, {}, false}));

struct progress_case {
  const char* edge;
  std::vector<std::string> options;
  bool terminal;  // standard error
  bool shown;
  std::vector<std::pair<std::string, std::string>> environment{};
};

void PrintTo(const progress_case& c, std::ostream* os) { *os << c.edge; }

class DecimalDiffProgress : public DecimalDiff,
                            public testing::WithParamInterface<progress_case> {};

// Standard output goes to a file: the line stays while the text goes there.
TEST_P(DecimalDiffProgress, OnlyOnATerminalForSeveralDirectories) {
  const progress_case& c = GetParam();
  const pseudo_terminal terminal;
  ASSERT_FALSE(terminal.name().empty()) << "no pseudo-terminal";
  copy_example("a");
  copy_example("b");
  copy_example("c");
  scratch_.write("c/results_c.txt", "oops\n");
  std::vector<std::string> args = c.options;
  args.insert(args.end(), {"-t7", "a", "b", "c"});
  run_options options{.environment = c.environment};
  if (c.terminal) options.stderr_path = terminal.name();
  const outcome result = run(args, scratch_.path(), options);
  EXPECT_EQ(result.status, 2);
  const std::string err = c.terminal ? terminal.written(true) : result.err;
  const std::string trouble =
      "decimal-diff: c/results_c.txt:1:1: expected an integer, found \"oops\"";
  if (!c.shown) {
    EXPECT_EQ(err, trouble + (c.terminal ? "\r\n" : "\n"));
    return;
  }
  // Each line replaces the last; the message starts on a cleared line; at
  // the end the line is gone.
  EXPECT_EQ(err,
            "\rchecked 1 of 3 directories: 0 failed, 0 in trouble\x1b[K"
            "\rchecked 2 of 3 directories: 0 failed, 0 in trouble\x1b[K\r\x1b[K" +
                trouble + "\r\n\rchecked 3 of 3 directories: 0 failed, 1 in trouble\x1b[K\r\x1b[K");
}

INSTANTIATE_TEST_SUITE_P(
    Table, DecimalDiffProgress,
    testing::Values(progress_case{"on_a_terminal", {}, true, true},
                    progress_case{"with_json_too", {"--json"}, true, true},
                    progress_case{"into_a_file", {}, false, false},
                    progress_case{"quiet", {"-q"}, true, false},
                    progress_case{"on_a_dumb_terminal", {}, true, false, {{"TERM", "dumb"}}}));

// Standard output and error on one terminal: the line is cleared before
// each piece of text, and at the end.
TEST_F(DecimalDiff, ProgressNeverMixesWithTheTextOnOneTerminal) {
  const pseudo_terminal terminal;
  ASSERT_FALSE(terminal.name().empty()) << "no pseudo-terminal";
  for (const char* name : {"a", "b", "c"}) copy_example(name);
  const outcome result = run({"-t7", "a", "b", "c"}, scratch_.path(),
                             {.stdout_path = terminal.name(), .stderr_path = terminal.name()});
  EXPECT_EQ(result.status, 0);
  const std::string written = terminal.written(true);
  ASSERT_NE(written.find("checked 2 of 3"), std::string::npos) << written;
  // Each line of progress is followed by the next or erased, the last one too.
  for (std::size_t at = 0; (at = written.find("\x1b[K", at)) != std::string::npos;) {
    at += 3;
    ASSERT_LT(at, written.size()) << written;
    EXPECT_EQ(written[at], '\r') << written.substr(0, at);
  }
  EXPECT_NE(written.find("3 of 3 directories: 0 failed, 0 in trouble\x1b[K\r\x1b[K\r\ntotal: "),
            std::string::npos)
      << written;
}

// Ended by Ctrl-C while it waits for a file, the call leaves no line behind.
TEST_F(DecimalDiff, ProgressIsErasedWhenInterrupted) {
  const pseudo_terminal terminal;
  ASSERT_FALSE(terminal.name().empty()) << "no pseudo-terminal";
  copy_example("a");
  copy_example("b");
  const std::string fifo = (scratch_.path() / "b" / "results_m.txt").string();
  std::filesystem::remove(fifo);
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);  // no one writes it: the call waits there
  const pid_t pid = ::fork();
  if (pid == 0) {
    const int err = ::open(terminal.name().c_str(), O_WRONLY);
    const int out = ::open("/dev/null", O_WRONLY);
    if (err < 0 || out < 0 || ::dup2(err, STDERR_FILENO) < 0 || ::dup2(out, STDOUT_FILENO) < 0 ||
        ::chdir(scratch_.path().c_str()) != 0) {
      _exit(127);
    }
    ::execl(DECIMAL_DIFF_BINARY, DECIMAL_DIFF_BINARY, "-t7", "a", "b", static_cast<char*>(nullptr));
    _exit(127);
  }
  ASSERT_GT(pid, 0);
  std::string written;
  for (int tries = 0; tries < 1000 && written.find("checked 1 of 2") == std::string::npos;
       ++tries) {
    written += terminal.written(true);
    ::usleep(10'000);
  }
  ASSERT_NE(written.find("checked 1 of 2"), std::string::npos) << written;
  ::kill(pid, SIGINT);
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGINT) << status;
  written += terminal.written(true);
  EXPECT_EQ(written, "\rchecked 1 of 2 directories: 0 failed, 0 in trouble\x1b[K\r\x1b[K");
}

TEST_F(DecimalDiff, HelpAndVersion) {
  const outcome help = run({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.out.rfind("Usage: decimal-diff [OPTION]... [DIR]...\n", 0), 0U);
  EXPECT_EQ(run({"-q", "-h"}).out, help.out);
  const outcome version = run({"--version"});
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out, "decimal-diff " DECIMAL_VERSION "\n");
}

// The parser's options, each told of in --help, the manual page and the
// completion script: none can be added to one and forgotten in another.
TEST_F(DecimalDiff, EveryOptionIsDocumentedAndCompleted) {
  const std::string help = run({"--help"}).out;
  const std::string man = read_file(DECIMAL_DIFF_MAN_PAGE);
  const std::string completion = read_file(DECIMAL_COMPLETION);
  for (const decimal::long_option& o : decimal::decimal_diff_options) {
    const std::string name = std::string("--") + o.name;
    if (name == "--colour") continue;  // the other spelling of --color
    EXPECT_NE(help.find(name), std::string::npos) << name << " in --help";
    // groff writes a hyphen in a name as \-.
    std::string in_man = "\\-\\-";
    for (const char c : std::string_view(o.name))
      in_man += c == '-' ? std::string("\\-") : std::string(1, c);
    EXPECT_NE(man.find(in_man), std::string::npos) << name << " in the manual page";
    EXPECT_NE(completion.find(name), std::string::npos) << name << " in the completion";
  }
}

struct plot_case {
  const char* file;
  const char* marker;  // what the file must hold
};

void PrintTo(const plot_case& c, std::ostream* os) { *os << c.file; }

class DecimalDiffPlot : public DecimalDiff, public testing::WithParamInterface<plot_case> {};

// Both panels: the legend of the upper and the axis label of the lower.
TEST_P(DecimalDiffPlot, DrawsBothPanels) {
  const plot_case& c = GetParam();
  const fs::path plot = scratch_.path() / c.file;
  const outcome result = run({"-t", "7", "--plot=" + plot.string()});
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.out, histogram_line + summary_with(7, 0) + "verdict: pass\n");
  const std::string drawn = read_file(plot);
  EXPECT_EQ(drawn.find(c.marker), 0U);
  if (c.file == std::string("plot.svg")) {
    for (const char* panel : {">model<", ">implementation<", ">difference (LSB)<",
                              "0 of 201 entries differ by more than 7 LSB"}) {
      EXPECT_NE(drawn.find(panel), std::string::npos) << panel;
    }
  }
  EXPECT_EQ(std::distance(fs::directory_iterator(scratch_.path()), fs::directory_iterator()), 3)
      << "the plot and the captured output, nothing left over";
}

INSTANTIATE_TEST_SUITE_P(Table, DecimalDiffPlot,
                         testing::Values(plot_case{"plot.svg", "<?xml"},
                                         plot_case{"plot.png", "\x89PNG\r\n\x1a\n"},
                                         // The format is the name's end, not anything in it.
                                         plot_case{"plot.svg.png", "\x89PNG\r\n\x1a\n"},
                                         plot_case{"plot.png.svg", "<?xml"}));

// --quiet prints nothing, and draws the plot all the same; the plot has the
// mode the umask gives a new file.
TEST_F(DecimalDiff, QuietStillDrawsWithTheUmasksMode) {
  const fs::path plot = scratch_.path() / "plot.png";
  const outcome result = run({"-q", "-t7", "--plot=" + plot.string()}, example_dir, {.umask = 027});
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.out, "");
  ASSERT_TRUE(fs::exists(plot));
  EXPECT_EQ(fs::status(plot).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
}

// A plot over a directory cannot take its name: trouble, and the directory stays.
TEST_F(DecimalDiff, PlotThatCannotTakeItsNameIsTrouble) {
  const fs::path plot = scratch_.path() / "plot.svg";
  fs::create_directories(plot / "inside");
  const outcome result = run({"-t7", "--plot=" + plot.string()});
  EXPECT_EQ(result.status, 2);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err, "decimal-diff: plot: " + plot.string() + ": Is a directory\n");
  EXPECT_TRUE(fs::is_directory(plot / "inside"));
  EXPECT_EQ(std::distance(fs::directory_iterator(scratch_.path()), fs::directory_iterator()), 3)
      << "the directory and the captured output, no temporary left";
}

// A directory's name is text in the picture, never gnuplot commands.
TEST_F(DecimalDiff, DirectoryNameIsOnlyText) {
  const std::string name = "x'; system(\"touch pwned\"); '\"\\@\n\xff";
  copy_example(name);
  const fs::path plot = scratch_.path() / "plot.svg";
  const outcome result = run({"-t7", "--plot=" + plot.string(), name}, scratch_.path());
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_FALSE(fs::exists(scratch_.path() / "pwned"));
  EXPECT_NE(read_file(plot).find("x'; system(\"touch pwned\"); '\"\\\\@\\x0a\\xff"),
            std::string::npos);
}

// gnuplot's SVG passes "&#x..;" and ">" through: a name holding them must
// still give well-formed XML that shows the name as it is.
TEST_F(DecimalDiff, DirectoryNameInAnSvgIsWellFormed) {
  const std::string name = "tc]]>&#x1b;<&amp;1";
  copy_example(name);
  const fs::path plot = scratch_.path() / "plot.svg";
  const outcome result = run({"-t7", "--plot=" + plot.string(), name}, scratch_.path());
  EXPECT_EQ(result.status, 0) << result.err;
  pugi::xml_document svg;
  ASSERT_TRUE(svg.load_file(plot.c_str())) << read_file(plot).substr(0, 200);
  bool shown = false;
  for (const pugi::xpath_node& node : svg.select_nodes("//*[text()]")) {
    shown |= std::string_view(node.node().child_value()) == name;
  }
  EXPECT_TRUE(shown);
}

// A bench that printed only x: nothing is known in both, and the plot is
// drawn all the same, the run failing on its unknown entries.
TEST_F(DecimalDiff, AllUnknownRunIsPlotted) {
  scratch_.write("run/results_m.txt", "1 2 3\n");
  scratch_.write("run/results_c.txt", "x x x\n");
  const fs::path plot = scratch_.path() / "plot.svg";
  const outcome result = run({"--samples=none", "--plot=" + plot.string(), "run"}, scratch_.path());
  EXPECT_EQ(result.status, 1) << result.err;
  EXPECT_EQ(result.err, "");
  EXPECT_TRUE(result.out.ends_with("verdict: fail: 3 entries unknown\n")) << result.out;
  pugi::xml_document svg;
  EXPECT_TRUE(svg.load_file(plot.c_str()));
  EXPECT_NE(read_file(plot).find("no entry known in both files"), std::string::npos);
  // Each unknown entry marked; the picture titled for what it shows.
  EXPECT_NE(read_file(plot).find("unknown (3)"), std::string::npos);
  EXPECT_STREQ(svg.child("svg").child("title").text().get(),
               "run: verdict: fail: 3 entries unknown");
}

// --plot-dir: a picture of each failed directory, named for it and told
// apart, named in its JUnit case as CI views take an attachment.
TEST_F(DecimalDiff, PlotDirDrawsEachFailedDirectory) {
  for (const char* name : {"pass", "x y", "x_y", "sub"}) {
    scratch_.write(std::string(name) + "/results_m.txt", "1 2\n");
    scratch_.write(std::string(name) + "/results_c.txt",
                   name == std::string("pass") ? "1 2\n" : "1 3\n");
  }
  const outcome result = run(
      {"-q", "--samples=none", "--plot-dir=plots", "--junit=r.xml", "pass", "x y", "x_y", "sub/"},
      scratch_.path());
  EXPECT_EQ(result.status, 1) << result.err;
  EXPECT_EQ(result.err, "");
  for (const char* picture : {"x_y.png", "x_y-2.png", "sub.png"}) {
    const fs::path file = scratch_.path() / "plots" / picture;
    ASSERT_TRUE(fs::exists(file)) << picture;
    EXPECT_TRUE(read_file(file).starts_with("\x89PNG")) << picture;
  }
  EXPECT_FALSE(fs::exists(scratch_.path() / "plots" / "pass.png"));
  pugi::xml_document report;
  ASSERT_TRUE(report.load_file((scratch_.path() / "r.xml").c_str()));
  EXPECT_STREQ(report.select_node("//testcase[@name='x_y']/system-out").node().text().get(),
               "summary: 1 of 2 entries differ by more than 0 LSB; largest 1 LSB at index 1; "
               "mean 0.500 LSB, rms 0.707 LSB, snr 6.99 dB\n[[ATTACHMENT|plots/x_y-2.png]]");
  EXPECT_EQ(
      std::string(report.select_node("//testcase[@name='pass']/system-out").node().text().get())
          .find("ATTACHMENT"),
      std::string::npos);
  // A name that cannot be a directory is refused before anything is read.
  scratch_.write("taken", "");
  const outcome refused = run({"--plot-dir=taken", "pass"}, scratch_.path());
  EXPECT_EQ(refused.status, 2);
  EXPECT_EQ(refused.out, "");
  EXPECT_EQ(refused.err, "decimal-diff: plot-dir: taken: Not a directory\n");
}

TEST(PlotName, KeepsWhatIsSafeInAFileName) {
  EXPECT_EQ(decimal::plot_name("vectors/run1/"), "vectors_run1.png");
  EXPECT_EQ(decimal::plot_name("../a b"), "a_b.png");
  EXPECT_EQ(decimal::plot_name("."), "current.png");
  EXPECT_EQ(decimal::plot_name("\xff\xfe"), "current.png");
}

// --encoding=bin reaches every file as binary words: results as patterns
// of the format, samples up to 32 bits.
TEST_F(DecimalDiff, BinaryEncodingThroughTheOption) {
  scratch_.write("run/samples.txt", "0 11111111111111111111111111111111\n");
  scratch_.write("run/results_m.txt", "0 1\n");
  scratch_.write("run/results_c.txt", "0 10\n");
  const outcome result = run({"--encoding=bin", "run"}, scratch_.path());
  EXPECT_EQ(result.status, 1) << result.err;
  EXPECT_TRUE(
      result.out.starts_with("index:1, res_m:0.000488, res_c:0.000977, samp:4294967295, diff:1\n"))
      << result.out;
}

// A report written through standard output fails with it.
TEST_F(DecimalDiff, AFailedWriteThroughStandardOutputIsTrouble) {
  const outcome result =
      run({"-t7", "--junit=/dev/stdout"}, example_dir, {.stdout_path = "/dev/full"});
  EXPECT_EQ(result.status, 2);
  EXPECT_NE(result.err.find("No space left on device"), std::string::npos) << result.err;
}

// An init file that sends gnuplot's output elsewhere changes nothing.
TEST_F(DecimalDiff, GnuplotInitFileIsIgnored) {
  scratch_.write("home/.gnuplot", "set output '/dev/null'\nset terminal dumb\n");
  const fs::path plot = scratch_.path() / "plot.png";
  const outcome result = run({"-t7", "--plot=" + plot.string()}, example_dir,
                             {.environment = {{"HOME", (scratch_.path() / "home").string()}}});
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_TRUE(read_file(plot).starts_with("\x89PNG"));
}

// A SIGTERM while gnuplot draws (a cancelled CI job) ends both and leaves no file.
TEST_F(DecimalDiff, SignalWhileDrawingLeavesNothing) {
  const fs::path bin = scratch_.path() / "bin";
  const fs::path started = scratch_.path() / "gnuplot-started";
  scratch_.write("bin/gnuplot", "#!/bin/sh\n/bin/cat >/dev/null\necho $$ >'" + started.string() +
                                    "'\nexec /bin/sleep 60\n");
  fs::permissions(bin / "gnuplot", fs::perms::owner_all);
  const fs::path plot = scratch_.path() / "plot.svg";
  const pid_t pid = fork();
  if (pid == 0) {
    if (chdir(example_dir.c_str()) != 0) _exit(127);
    setenv("PATH", bin.c_str(), 1);
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, STDOUT_FILENO);
    dup2(null, STDERR_FILENO);
    const std::string option = "--plot=" + plot.string();
    execl(DECIMAL_DIFF_BINARY, DECIMAL_DIFF_BINARY, option.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  std::string gnuplot_pid;
  for (int waited = 0; waited < 1000 && gnuplot_pid.empty(); ++waited) {
    gnuplot_pid = read_file(started);
    if (gnuplot_pid.empty()) usleep(10'000);
  }
  ASSERT_FALSE(gnuplot_pid.empty()) << "gnuplot never started";
  usleep(50'000);  // into its sleep
  kill(pid, SIGTERM);
  int status = 0;
  waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << status;
  // The drawing gnuplot is gone, or a zombie awaiting its new parent.
  const fs::path proc = "/proc/" + std::to_string(std::stoi(gnuplot_pid)) + "/stat";
  for (int waited = 0; waited < 200 && fs::exists(proc); ++waited) {
    const std::string stat = read_file(proc);
    if (stat.find(") Z ") != std::string::npos) break;
    usleep(10'000);
  }
  EXPECT_TRUE(!fs::exists(proc) || read_file(proc).find(") Z ") != std::string::npos);
  EXPECT_EQ(std::distance(fs::directory_iterator(scratch_.path()), fs::directory_iterator()), 2)
      << "bin and the marker, no plot and no temporary";
}

TEST_F(DecimalDiff, PlotWithoutGnuplotIsTrouble) {
  const fs::path plot = scratch_.path() / "plot.svg";
  const outcome result =
      run({"--plot=" + plot.string()}, example_dir, {.path_variable = scratch_.path().string()});
  EXPECT_EQ(result.status, 2);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err, "decimal-diff: plot: gnuplot not found (Debian: install gnuplot-nox)\n");
  EXPECT_FALSE(fs::exists(plot));
}

// A gnuplot that fails after writing half a picture leaves the file as it was.
TEST_F(DecimalDiff, FailingGnuplotLeavesNoPlot) {
  const fs::path bin = scratch_.path() / "bin";
  scratch_.write("bin/gnuplot",
                 "#!/bin/sh\ncat >/dev/null\necho '<svg'\necho 'line 7: no such terminal' >&2\n"
                 "exit 3\n");
  fs::permissions(bin / "gnuplot", fs::perms::owner_all);
  const fs::path plot = scratch_.write("plot.svg", "an older plot");
  const outcome result =
      run({"--plot=" + plot.string()}, example_dir, {.path_variable = bin.string()});
  EXPECT_EQ(result.status, 2);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err,
            "decimal-diff: plot: gnuplot exited with status 3: line 7: no such terminal\n");
  EXPECT_EQ(read_file(plot), "an older plot");
  EXPECT_EQ(std::distance(fs::directory_iterator(scratch_.path()), fs::directory_iterator()), 4)
      << "bin, the plot and the captured output, nothing left over";
}

TEST_F(DecimalDiff, PlotIntoAMissingDirectoryIsTrouble) {
  const std::string plot = (scratch_.path() / "none" / "plot.png").string();
  const outcome result = run({"--plot=" + plot});
  EXPECT_EQ(result.status, 2);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err, "decimal-diff: plot: " + plot + ": No such file or directory\n");
}

}  // namespace
