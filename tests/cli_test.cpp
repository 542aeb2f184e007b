// The built program, run as a user runs it: in a directory with the three files.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "run_program.hpp"
#include "scratch_dir.hpp"

namespace {

namespace fs = std::filesystem;

// "first first+1 ... " for `count` numbers, one per line.
std::string numbers(int count, int first = 0) {
  std::string text;
  for (int i = 0; i < count; ++i) text += std::to_string(first + i) + "\n";
  return text;
}

class Cli : public testing::Test {
 protected:
  void write(const std::string& name, const std::string& text) { dir_.write(name, text); }

  void write_good_files() {
    write("samples.txt", numbers(201));
    write("results_m.txt", numbers(201));
    write("results_c.txt", numbers(201));
  }

  outcome run_decimal(const run_options& options = {}) { return run_in(dir_.path(), options); }

  outcome run_in(const fs::path& dir, const run_options& options = {}) {
    return run_program(DECIMAL_BINARY, dir, dir_.path(), options);
  }

  scratch_dir dir_;
};

TEST_F(Cli, PrintsTheGoldenReport) {
  const std::string golden = read_file(fs::path(DECIMAL_EXAMPLE_DIR) / "expected_report.txt");
  ASSERT_FALSE(golden.empty());
  for (const std::vector<std::string>& args :
       std::vector<std::vector<std::string>>{{}, {"--help"}, {"-x", "results_m.txt", ""}}) {
    const outcome result = run_in(DECIMAL_EXAMPLE_DIR, {.args = args});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err, args.empty() ? ""
                                       : "decimal: arguments ignored: it reads samples.txt, "
                                         "results_m.txt and results_c.txt from the current "
                                         "directory\n");
    EXPECT_EQ(result.out, golden) << "arguments change nothing";
  }
}

TEST_F(Cli, EchoesSamplesAndConvertsResults) {
  write("samples.txt", "4096 -7 2147483647\n" + numbers(198) + "junk after the last number");
  write("results_m.txt", "2048 2047 4096 16 48 -1\r\n" + numbers(195) + numbers(1000));
  write("results_c.txt", numbers(201, 3072));
  const outcome result = run_decimal();
  ASSERT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.err, "");
  std::istringstream lines(result.out);
  std::vector<std::string> report;
  for (std::string line; std::getline(lines, line);) report.push_back(line);
  ASSERT_EQ(report.size(), 201U);
  EXPECT_EQ(report[0], "index:0, res_m:-1.000000, res_c:-0.500000, samp:4096");
  EXPECT_EQ(report[1], "index:1, res_m:0.999512, res_c:-0.499512, samp:-7");
  EXPECT_EQ(report[2], "index:2, res_m:0.000000, res_c:-0.499023, samp:2147483647");
  EXPECT_EQ(report[3], "index:3, res_m:0.007812, res_c:-0.498535, samp:0");
  EXPECT_EQ(report[4], "index:4, res_m:0.023438, res_c:-0.498047, samp:1");
  EXPECT_EQ(report[5], "index:5, res_m:-0.000488, res_c:-0.497559, samp:2");
  EXPECT_EQ(report[200], "index:200, res_m:0.094727, res_c:-0.402344, samp:197");
}

struct failing_run {
  const char* name;
  const char* samples;  // nullptr: the file is missing
  const char* results_m;
  const char* results_c;
  const char* message;
};

void PrintTo(const failing_run& c, std::ostream* os) { *os << c.name; }

class CliError : public Cli, public testing::WithParamInterface<failing_run> {};

// Any file text "GOOD" stands for 201 good numbers.
TEST_P(CliError, OneLineOnStandardErrorAndNothingElse) {
  const failing_run& c = GetParam();
  const auto put = [&](const char* name, const char* text) {
    if (text == nullptr) return;
    write(name, std::string(text) == "GOOD" ? numbers(201) : text);
  };
  put("samples.txt", c.samples);
  put("results_m.txt", c.results_m);
  put("results_c.txt", c.results_c);
  const outcome result = run_decimal();
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err, std::string(c.message) + "\n");
}

INSTANTIATE_TEST_SUITE_P(
    Table, CliError,
    testing::Values(
        failing_run{"missing_samples", nullptr, "GOOD", "GOOD",
                    "decimal: samples.txt: No such file or directory"},
        failing_run{"missing_results_c", "GOOD", "GOOD", nullptr,
                    "decimal: results_c.txt: No such file or directory"},
        failing_run{"all_empty", "", "", "", "decimal: samples.txt: expected 201 numbers, found 0"},
        failing_run{
            "decimal_point", "GOOD", "1\n2\n12.5\n", "GOOD",
            "decimal: results_m.txt:3:1: expected an integer, found \"12.5\": a real number, "
            "where integers are read"},
        failing_run{"out_of_range", "GOOD", "1\n2\n3\n4\n5\n6\n7\n8\n1 2 99999999999\n", "GOOD",
                    "decimal: results_m.txt:9:5: number out of range: \"99999999999\" (not "
                    "between -2147483648 and 2147483647)"},
        failing_run{"short_results_c", "GOOD", "GOOD", "1 2 3 4 5 6 7 8 9 10",
                    "decimal: results_c.txt: expected 201 numbers, found 10"},
        failing_run{"first_error_wins", "x", "y", "",
                    "decimal: samples.txt:1:1: expected an integer, found \"x\""},
        failing_run{"results_m_before_results_c", "GOOD", "y", "z",
                    "decimal: results_m.txt:1:1: expected an integer, found \"y\""},
        failing_run{"byte_order_mark",
                    "\xef\xbb\xbf"
                    "1 2 3",
                    "GOOD", "GOOD",
                    "decimal: samples.txt:1:1: expected an integer, found \"\\xef\\xbb\\xbf1\" "
                    "(the file starts with a UTF-8 byte order mark)"}));

TEST_F(Cli, DirectoryInPlaceOfAFile) {
  write_good_files();
  fs::remove(dir_.path() / "results_m.txt");
  fs::create_directory(dir_.path() / "results_m.txt");
  const outcome result = run_decimal();
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err, "decimal: results_m.txt: Is a directory\n");
}

TEST_F(Cli, FullDiskIsAnError) {
  write_good_files();
  const outcome result = run_decimal({.stdout_path = "/dev/full"});
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.err, "decimal: write error: No space left on device\n");
}

TEST_F(Cli, ClosedStandardOutputIsAnError) {
  write_good_files();
  const outcome result = run_decimal({.stdout_path = std::nullopt});
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.err, "decimal: write error: Bad file descriptor\n");
}

TEST_F(Cli, ClosedStandardInputIsNoConcern) {
  write_good_files();
  const outcome result = run_decimal({.close_stdin = true});
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(std::count(result.out.begin(), result.out.end(), '\n'), 201);
}

// A link to an endless device: the first byte already makes the word bad.
TEST_F(Cli, EndlessSamplesEndAtOnce) {
  write_good_files();
  fs::remove(dir_.path() / "samples.txt");
  fs::create_symlink("/dev/zero", dir_.path() / "samples.txt");
  const auto start = std::chrono::steady_clock::now();
  const outcome result = run_decimal();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err.substr(0, 58),
            "decimal: samples.txt:1:1: expected an integer, found \"\\x00");
  EXPECT_EQ(result.err.back(), '\n');
}

}  // namespace
