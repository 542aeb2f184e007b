// Where decimal-diff writes its reports and plots: as a shell redirection
// would, checked before anything is read, and never half-written.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "decimal/error.hpp"
#include "decimal/output_file.hpp"
#include "run_program.hpp"
#include "scratch_dir.hpp"

namespace {

namespace fs = std::filesystem;

const fs::path example_dir = DECIMAL_EXAMPLE_DIR;

// The example passes at tolerance 7; its output ends so.
constexpr const char* pass_output_end = "verdict: pass\n";

std::set<std::string> names_in(const fs::path& dir) {
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir)) names.insert(entry.path().filename());
  return names;
}

char type_of(const fs::path& path) {
  struct stat status {};
  if (::lstat(path.c_str(), &status) != 0) return '-';
  if (S_ISLNK(status.st_mode)) return 'l';
  if (S_ISFIFO(status.st_mode)) return 'p';
  if (S_ISCHR(status.st_mode)) return 'c';
  if (S_ISDIR(status.st_mode)) return 'd';
  return S_ISREG(status.st_mode) ? 'f' : '?';
}

struct destination_case {
  const char* edge;
  // Makes what the name `out/report` stands for in the scratch directory;
  // returns the option, or nothing to skip the row (and says why).
  std::function<std::vector<std::string>(const fs::path& scratch)> make;
  int status;
  char type_after;               // of out/report, by lstat
  bool report_in_file;           // out/report (or what it names) holds the report
  bool report_on_stdout;         // standard output ends with the report
  std::string error;             // standard error, after "decimal-diff: " and before the path
  std::set<std::string> in_out;  // what out/ holds afterwards
};

void PrintTo(const destination_case& c, std::ostream* os) { *os << c.edge; }

class Destination : public testing::TestWithParam<destination_case> {
 protected:
  scratch_dir scratch_;
};

TEST_P(Destination, WritesThroughOrReplacesOrRefusesBeforeReading) {
  const destination_case& c = GetParam();
  const fs::path out = scratch_.path() / "out";
  fs::create_directories(out);
  scratch_.copy_run(example_dir, ".");
  std::vector<std::string> options = c.make(scratch_.path());
  if (options.empty()) GTEST_SKIP() << "a character device needs root to make";
  const fs::path report = out / "report";
  // A FIFO needs its reader.
  std::string from_fifo;
  std::thread reader;
  if (type_of(report) == 'p' && c.status != 2) {
    reader = std::thread([&] { from_fifo = read_file(report); });
  }
  options.insert(options.begin(), "-t7");
  const fs::path stdout_file = scratch_.path() / "stdout.txt";
  const outcome result = run_program(DECIMAL_DIFF_BINARY, scratch_.path(), scratch_.path(),
                                     {.args = options, .stdout_path = stdout_file.string()});
  if (reader.joinable()) reader.join();
  const std::string printed = read_file(stdout_file);
  EXPECT_EQ(result.status, c.status) << result.err;
  EXPECT_EQ(type_of(report), c.type_after);
  if (c.status == 2) {
    EXPECT_EQ(printed, "") << "nothing is read, nothing printed";
    EXPECT_TRUE(result.err.starts_with("decimal-diff: " + c.error)) << result.err;
    EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << result.err;
  } else {
    EXPECT_EQ(result.err, "");
    const std::size_t text_end = printed.find(pass_output_end);
    ASSERT_NE(text_end, std::string::npos) << printed;
    const std::string after_text = printed.substr(text_end + std::strlen(pass_output_end));
    EXPECT_EQ(after_text.starts_with("<?xml"), c.report_on_stdout);
    if (c.report_in_file) {
      const std::string written = type_of(report) == 'p' ? from_fifo : read_file(report);
      EXPECT_TRUE(written.starts_with("<?xml")) << written;
    }
  }
  EXPECT_EQ(names_in(out), c.in_out);
}

INSTANTIATE_TEST_SUITE_P(
    Table, Destination,
    testing::Values(
        destination_case{
            "new_name",
            [](const fs::path&) { return std::vector<std::string>{"--junit=out/report"}; },
            0,
            'f',
            true,
            false,
            "",
            {"report"}},
        destination_case{"regular_file",
                         [](const fs::path& s) {
                           std::ofstream(s / "out/report") << "an older report";
                           return std::vector<std::string>{"--junit=out/report"};
                         },
                         0,
                         'f',
                         true,
                         false,
                         "",
                         {"report"}},
        destination_case{"symlink_to_a_regular_file",
                         [](const fs::path& s) {
                           std::ofstream(s / "out/target") << "an older report";
                           fs::create_symlink("target", s / "out/report");
                           return std::vector<std::string>{"--junit=out/report"};
                         },
                         0,
                         'l',
                         true,
                         false,
                         "",
                         {"report", "target"}},
        destination_case{"dangling_symlink",
                         [](const fs::path& s) {
                           fs::create_symlink("target", s / "out/report");
                           return std::vector<std::string>{"--junit=out/report"};
                         },
                         0,
                         'l',
                         true,
                         false,
                         "",
                         {"report", "target"}},
        destination_case{"fifo_with_a_reader",
                         [](const fs::path& s) {
                           ::mkfifo((s / "out/report").c_str(), 0600);
                           return std::vector<std::string>{"--junit=out/report"};
                         },
                         0,
                         'p',
                         true,
                         false,
                         "",
                         {"report"}},
        destination_case{"character_device",
                         [](const fs::path& s) {
                           if (::mknod((s / "out/report").c_str(), S_IFCHR | 0666, makedev(1, 3)) !=
                               0) {
                             return std::vector<std::string>{};  // not root: skipped
                           }
                           return std::vector<std::string>{"--junit=out/report"};
                         },
                         0,
                         'c',
                         false,
                         false,
                         "",
                         {"report"}},
        // What /dev/stdout is: the report follows the text on standard output.
        destination_case{"symlink_to_proc_self_fd_1",
                         [](const fs::path& s) {
                           fs::create_symlink("/proc/self/fd/1", s / "out/report");
                           return std::vector<std::string>{"--junit=out/report"};
                         },
                         0,
                         'l',
                         false,
                         true,
                         "",
                         {"report"}},
        destination_case{"directory",
                         [](const fs::path& s) {
                           fs::create_directories(s / "out/report");
                           return std::vector<std::string>{"--junit=out/report"};
                         },
                         2,
                         'd',
                         false,
                         false,
                         "junit: out/report: Is a directory",
                         {"report"}},
        destination_case{
            "missing_directory",
            [](const fs::path&) { return std::vector<std::string>{"--junit=out/none/report"}; },
            2,
            '-',
            false,
            false,
            "junit: out/none/report: No such file or directory",
            {}},
        destination_case{"an_input_file",
                         [](const fs::path& s) {
                           fs::create_symlink("../results_c.txt", s / "out/report");
                           return std::vector<std::string>{"--junit=out/report"};
                         },
                         2,
                         'l',
                         false,
                         false,
                         "junit: out/report: is an input file (results_c.txt)",
                         {"report"}},
        destination_case{
            "the_same_name_for_junit_and_plot",
            [](const fs::path&) {
              return std::vector<std::string>{"--junit=out/report.svg", "--plot=out/report.svg"};
            },
            2,
            '-',
            false,
            false,
            "plot: out/report.svg: is the JUnit report's file too",
            {}},
        // Two reports through one FIFO would mix: refused before anything is read.
        destination_case{
            "two_reports_through_one_fifo",
            [](const fs::path& s) {
              ::mkfifo((s / "out/report").c_str(), 0600);
              return std::vector<std::string>{"--junit=out/report", "--html=out/report"};
            },
            2,
            'p',
            false,
            false,
            "html: out/report: is the JUnit report's file too",
            {"report"}},
        // A report that fails to be written leaves nothing on standard output.
        destination_case{
            "full_device",
            [](const fs::path&) { return std::vector<std::string>{"--junit=/dev/full"}; },
            2,
            '-',
            false,
            false,
            "junit: /dev/full: No space left on device",
            {}}));

// A descriptor that is closed, or open for reading only, is refused up front.
TEST(DescriptorDestination, MustBeOpenForWriting) {
  const scratch_dir scratch;
  const std::string file = scratch.write("r.xml", "");
  const int read_only = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(read_only, 0);
  const std::string name = "/dev/fd/" + std::to_string(read_only);
  try {
    const decimal::output_file out(name, "junit");
    ADD_FAILURE() << "accepted";
  } catch (const decimal::error& e) {
    EXPECT_EQ(std::string(e.what()), "junit: " + name + ": Bad file descriptor");
  }
  ::close(read_only);
  EXPECT_THROW(decimal::output_file(name, "junit"), decimal::error) << "closed";
  const int writable = ::open(file.c_str(), O_WRONLY | O_CLOEXEC);
  ASSERT_GE(writable, 0);
  EXPECT_NO_THROW(decimal::output_file("/dev/fd/" + std::to_string(writable), "junit"));
  ::close(writable);
}

// The named temporary, where the file system has no unnamed ones.
class NamedTemporary : public testing::Test {
 protected:
  // Runs `body` in a child process and returns its wait status.
  static int in_child(const std::function<void()>& body) {
    const pid_t pid = fork();
    if (pid == 0) {
      body();
      _exit(0);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return status;
  }

  scratch_dir scratch_;
};

TEST_F(NamedTemporary, IsRemovedByASignalThatEndsTheProcess) {
  const std::string file = (scratch_.path() / "r.xml").string();
  const int status = in_child([&] {
    const decimal::output_file out(file, "junit");
    const decimal::output_file::prepared ready = out.prepare("<report/>", true);
    ::raise(SIGTERM);
  });
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << status;
  EXPECT_EQ(names_in(scratch_.path()), std::set<std::string>{});
}

TEST_F(NamedTemporary, TakesTheUmasksMode) {
  const std::string file = (scratch_.path() / "r.xml").string();
  EXPECT_EQ(in_child([&] {
              ::umask(027);
              decimal::output_file(file, "junit").prepare("<report/>", true).commit();
            }),
            0);
  EXPECT_EQ(fs::status(file).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  EXPECT_EQ(names_in(scratch_.path()), std::set<std::string>{"r.xml"});
}

// Whichever temporary it takes, a write that fails (here past a file size
// limit, which holds for root too) leaves the old file and no temporary.
TEST_F(NamedTemporary, AFailedWriteLeavesTheOldFile) {
  for (const bool named : {false, true}) {
    const std::string file = scratch_.write("r.xml", "an older report");
    const int status = in_child([&] {
      ::signal(SIGXFSZ, SIG_IGN);
      const rlimit small{4096, 4096};
      ::setrlimit(RLIMIT_FSIZE, &small);
      try {
        decimal::output_file(file, "junit").prepare(std::string(8192, 'x'), named).commit();
      } catch (const decimal::error& e) {
        _exit(std::string(e.what()) == "junit: " + file + ": file size limit exceeded" ? 3 : 4);
      }
    });
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 3) << named;
    EXPECT_EQ(read_file(file), "an older report") << named;
    EXPECT_EQ(names_in(scratch_.path()), std::set<std::string>{"r.xml"}) << named;
  }
}

// A reader never finds the name missing, whichever temporary is used.
TEST_F(NamedTemporary, ThereIsNeverAMomentWithoutTheFile) {
  const std::string file = scratch_.write("r.xml", "first");
  std::atomic<bool> done{false};
  std::atomic<int> missing{0};
  std::thread watcher([&] {
    while (!done) {
      struct stat status {};
      if (::stat(file.c_str(), &status) != 0) ++missing;
    }
  });
  const decimal::output_file out(file, "junit");
  for (int i = 0; i < 500; ++i) out.prepare("report " + std::to_string(i), i % 2 == 0).commit();
  done = true;
  watcher.join();
  EXPECT_EQ(missing, 0);
  EXPECT_EQ(read_file(file), "report 499");
}

}  // namespace
