// The built program, run as a user runs it: in a directory with the three files.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

std::string read_file(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

struct outcome {
  int status;
  std::string out;
  std::string err;
};

// Runs decimal in `dir`. Standard output goes to `stdout_path`, or to a
// capture file when empty; an unset optional closes standard output.
outcome run_decimal(const fs::path& dir, const std::vector<std::string>& args = {},
                    std::optional<std::string> stdout_path = std::string()) {
  const fs::path capture = fs::path(testing::TempDir()) / "decimal_cli_capture";
  fs::create_directories(capture);
  const fs::path out_path = capture / "out";
  const fs::path err_path = capture / "err";
  const pid_t pid = fork();
  if (pid == 0) {
    if (chdir(dir.c_str()) != 0) _exit(127);
    const int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (err < 0 || dup2(err, STDERR_FILENO) < 0) _exit(127);
    if (!stdout_path) {
      close(STDOUT_FILENO);
    } else {
      const std::string target = stdout_path->empty() ? out_path.string() : *stdout_path;
      const int out = open(target.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      if (out < 0 || dup2(out, STDOUT_FILENO) < 0) _exit(127);
    }
    std::vector<char*> argv{const_cast<char*>(DECIMAL_BINARY)};
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    execv(DECIMAL_BINARY, argv.data());
    _exit(127);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  outcome result{WIFEXITED(status) ? WEXITSTATUS(status) : -1, "", read_file(err_path)};
  if (stdout_path && stdout_path->empty()) result.out = read_file(out_path);
  return result;
}

// "first first+1 ... " for `count` numbers, one per line.
std::string numbers(int count, int first = 0) {
  std::string text;
  for (int i = 0; i < count; ++i) text += std::to_string(first + i) + "\n";
  return text;
}

class Cli : public testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::path(testing::TempDir()) /
           testing::UnitTest::GetInstance()->current_test_info()->name();
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  void write(const std::string& name, const std::string& text) {
    std::ofstream(dir_ / name, std::ios::binary) << text;
  }

  void write_good_files() {
    write("samples.txt", numbers(201));
    write("results_m.txt", numbers(201));
    write("results_c.txt", numbers(201));
  }

  fs::path dir_;
};

TEST(CliExample, PrintsTheGoldenReport) {
  const std::string golden = read_file(fs::path(DECIMAL_EXAMPLE_DIR) / "expected_report.txt");
  ASSERT_FALSE(golden.empty());
  for (const std::vector<std::string>& args :
       std::vector<std::vector<std::string>>{{}, {"--help"}, {"-x", "results_m.txt", ""}}) {
    const outcome result = run_decimal(DECIMAL_EXAMPLE_DIR, args);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.out, golden) << "arguments change nothing";
  }
}

TEST_F(Cli, EchoesSamplesAndConvertsResults) {
  write("samples.txt", "4096 -7 2147483647\n" + numbers(198) + "junk after the last number");
  write("results_m.txt", "2048 2047 4096 16 48 -1\r\n" + numbers(195) + numbers(1000));
  write("results_c.txt", numbers(201, 3072));
  const outcome result = run_decimal(dir_);
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
  const outcome result = run_decimal(dir_);
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
        failing_run{"decimal_point", "GOOD", "1\n2\n12.5\n", "GOOD",
                    "decimal: results_m.txt:3:1: expected an integer, found \"12.5\""},
        failing_run{"out_of_range", "GOOD", "1\n2\n3\n4\n5\n6\n7\n8\n1 2 99999999999\n", "GOOD",
                    "decimal: results_m.txt:9:5: number out of range: \"99999999999\""},
        failing_run{"short_results_c", "GOOD", "GOOD", "1 2 3 4 5 6 7 8 9 10",
                    "decimal: results_c.txt: expected 201 numbers, found 10"},
        failing_run{"first_error_wins", "x", "y", "",
                    "decimal: samples.txt:1:1: expected an integer, found \"x\""}));

TEST_F(Cli, DirectoryInPlaceOfAFile) {
  write_good_files();
  fs::remove(dir_ / "results_m.txt");
  fs::create_directory(dir_ / "results_m.txt");
  const outcome result = run_decimal(dir_);
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err, "decimal: results_m.txt: Is a directory\n");
}

TEST_F(Cli, FullDiskIsAnError) {
  write_good_files();
  const outcome result = run_decimal(dir_, {}, "/dev/full");
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.err, "decimal: write error: No space left on device\n");
}

TEST_F(Cli, ClosedStandardOutputIsAnError) {
  write_good_files();
  const outcome result = run_decimal(dir_, {}, std::nullopt);
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.err, "decimal: write error: Bad file descriptor\n");
}

}  // namespace
