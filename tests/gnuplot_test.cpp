// gnuplot as decimal-diff runs it: bounded in time and in what it writes,
// and nothing it started is left running, whatever it does.

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "decimal/error.hpp"
#include "decimal/plot.hpp"
#include "run_program.hpp"
#include "scratch_dir.hpp"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

struct gnuplot_case {
  const char* edge;
  std::string script;  // the gnuplot on PATH; LEFT is a file for the PID of what it leaves behind
  decimal::gnuplot_limits limits;
  std::string outcome;  // the picture, or the message
};

void PrintTo(const gnuplot_case& c, std::ostream* os) { *os << c.edge; }

class Gnuplot : public testing::TestWithParam<gnuplot_case> {
 protected:
  void SetUp() override {
    if (const char* path = std::getenv("PATH")) saved_path_ = path;
  }
  void TearDown() override { ::setenv("PATH", saved_path_.c_str(), 1); }

  scratch_dir scratch_;
  std::string saved_path_;
};

// Whether process `pid` is gone (or a zombie about to be).
bool gone(pid_t pid) {
  const fs::path stat = "/proc/" + std::to_string(pid) + "/stat";
  for (int waited = 0; waited < 300; ++waited) {
    if (!fs::exists(stat) || read_file(stat).find(") Z ") != std::string::npos) return true;
    ::usleep(10'000);
  }
  return false;
}

TEST_P(Gnuplot, EndsInTimeWithAPictureOrAMessage) {
  const gnuplot_case& c = GetParam();
  const fs::path left = scratch_.path() / "left";
  std::string script = "#!/bin/sh\n" + c.script;
  for (std::size_t at; (at = script.find("LEFT")) != std::string::npos;) {
    script.replace(at, 4, "'" + left.string() + "'");
  }
  scratch_.write("bin/gnuplot", script);
  fs::permissions(scratch_.path() / "bin/gnuplot", fs::perms::owner_all);
  ::setenv("PATH", ((scratch_.path() / "bin").string() + ":/usr/bin:/bin").c_str(), 1);
  // 5000 entries: more script than a pipe holds, so that one that is not read blocks.
  decimal::envelope columns;
  decimal::accumulator figures({}, 0);
  for (std::int64_t i = 0; i < 5000; ++i) {
    columns.add(i % 2048, i % 2048, 0);
    figures.add(i % 2048, i % 2048);
  }
  const decimal::run_verdict verdict{figures, {}};
  const auto start = std::chrono::steady_clock::now();
  std::string outcome;
  try {
    outcome =
        decimal::draw_plot(decimal::plot_format::svg, {columns, verdict, {}, "run"}, c.limits);
  } catch (const decimal::error& e) {
    outcome = e.what();
  }
  EXPECT_EQ(outcome, c.outcome);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 20s);
  if (fs::exists(left)) {
    const pid_t pid = std::stoi(read_file(left));
    EXPECT_TRUE(gone(pid)) << "what gnuplot started is still running";
    if (!gone(pid)) ::kill(pid, SIGKILL);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Table, Gnuplot,
    testing::Values(gnuplot_case{"draws", "cat >/dev/null\necho '<svg/>'\n", {}, "<svg/>\n"},
                    gnuplot_case{"never_ends",
                                 "cat >/dev/null\necho $$ >LEFT\nexec sleep 60\n",
                                 {.time = 500ms},
                                 "plot: gnuplot took longer than 0.5 s"},
                    // A child that keeps the picture's pipe open does not hold the run up.
                    gnuplot_case{
                        "leaves_a_child_holding_the_pipe",
                        "cat >/dev/null\necho '<svg/>'\nsleep 60 &\necho $! >LEFT\nexit 0\n",
                        {},
                        "<svg/>\n"},
                    gnuplot_case{"writes_too_much",
                                 "cat >/dev/null\nhead -c 3000000 /dev/zero\n",
                                 {.bytes = std::size_t{1} << 20},
                                 "plot: gnuplot wrote more than 1 MiB"},
                    gnuplot_case{"stops_reading_its_input",
                                 "exec 0<&-\necho 'no terminal' >&2\nexit 1\n",
                                 {},
                                 "plot: gnuplot exited with status 1: no terminal"},
                    gnuplot_case{"exits_0_having_drawn_nothing",
                                 "cat >/dev/null\nexit 0\n",
                                 {},
                                 "plot: gnuplot drew nothing"}));

}  // namespace
