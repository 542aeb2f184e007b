#include "decimal/plot.hpp"

#include <fcntl.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <csignal>
#include <string>
#include <vector>

#include "decimal/error.hpp"
#include "decimal/file_descriptor.hpp"
#include "decimal/report.hpp"

extern char** environ;

namespace decimal {
namespace {

// Removes a file when it goes out of scope, unless kept.
class temporary_file {
 public:
  explicit temporary_file(std::string path) : path_(std::move(path)) {}
  temporary_file(const temporary_file&) = delete;
  temporary_file& operator=(const temporary_file&) = delete;
  ~temporary_file() {
    if (!path_.empty()) ::unlink(path_.c_str());
  }
  void keep() { path_.clear(); }

 private:
  std::string path_;
};

// Lets a write to a pipe whose reader has gone fail with EPIPE instead of
// ending the process, for as long as it lives.
class sigpipe_ignored {
 public:
  sigpipe_ignored() : previous_(std::signal(SIGPIPE, SIG_IGN)) {}
  sigpipe_ignored(const sigpipe_ignored&) = delete;
  sigpipe_ignored& operator=(const sigpipe_ignored&) = delete;
  ~sigpipe_ignored() { std::signal(SIGPIPE, previous_); }

 private:
  void (*previous_)(int);
};

// The last line that is not empty of what the descriptor's file holds.
std::string last_line(int fd) {
  std::string text;
  std::array<char, 4096> buffer;
  for (off_t at = 0;;) {
    const ssize_t n = ::pread(fd, buffer.data(), buffer.size(), at);
    if (n <= 0) break;
    text.append(buffer.data(), static_cast<std::size_t>(n));
    at += n;
  }
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  return text.substr(text.find_last_of('\n') + 1);
}

// Runs gnuplot on `script`, its picture going to `output`; throws when it cannot.
void run_gnuplot(const std::string& script, int output) {
  const file_descriptor messages(::memfd_create("gnuplot-messages", MFD_CLOEXEC));
  if (messages.get() < 0) throw os_error("plot: memfd_create", errno);
  std::array<int, 2> ends{};
  if (::pipe2(ends.data(), O_CLOEXEC) != 0) throw os_error("plot: pipe", errno);
  file_descriptor script_in(ends[0]);
  file_descriptor script_out(ends[1]);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, script_in.get(), STDIN_FILENO);
  posix_spawn_file_actions_adddup2(&actions, output, STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, messages.get(), STDERR_FILENO);
  std::array<char*, 2> argv{const_cast<char*>("gnuplot"), nullptr};
  pid_t pid = 0;
  const int spawned = ::posix_spawnp(&pid, "gnuplot", &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  script_in.reset();
  if (spawned == ENOENT) throw error("plot: gnuplot not found (Debian: install gnuplot-nox)");
  if (spawned != 0) throw os_error("plot: gnuplot", spawned);

  {
    // When gnuplot stops early, its status and messages tell why.
    const sigpipe_ignored guard;
    try {
      write_all(script_out.get(), script);
    } catch (const error&) {
    }
    script_out.reset();
  }
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) throw os_error("plot: waitpid", errno);
  }
  if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return;
  const std::string said = last_line(messages.get());
  std::string why = WIFEXITED(status) ? "exited with status " + std::to_string(WEXITSTATUS(status))
                                      : "was killed by signal " + std::to_string(WTERMSIG(status));
  if (!said.empty()) why += ": " + said;
  throw error("plot: gnuplot " + why);
}

// Shortest decimal that reads back as `value`.
std::string shortest(double value) {
  std::array<char, 32> text;
  return std::string(text.data(), std::to_chars(text.data(), text.data() + text.size(), value).ptr);
}

}  // namespace

std::optional<plot_format> plot_format_of(std::string_view file) {
  if (file.ends_with(".svg")) return plot_format::svg;
  if (file.ends_with(".png")) return plot_format::png;
  return std::nullopt;
}

std::string gnuplot_script(plot_format format, const plot_input& input) {
  const std::vector<envelope_column>& columns = input.entries.columns();
  const bool single = input.entries.span() == 1;
  std::string s = format == plot_format::svg
                      ? "set terminal svg size 1000,700 dynamic font 'sans,12' background "
                        "rgb 'white'\n"
                      : "set terminal pngcairo size 1000,700 font 'sans,11' background "
                        "rgb 'white'\n";
  // Per column: its middle index; the least and greatest model result,
  // implementation result and difference, all in LSB.
  s += "$results << EOD\n";
  for (const envelope_column& c : columns) {
    const auto middle = static_cast<double>(c.first + c.last) / 2;
    s += shortest(middle);
    for (const std::int64_t n : {c.model_min, c.model_max, c.implementation_min,
                                 c.implementation_max, c.difference_min, c.difference_max}) {
      s += ' ' + std::to_string(n);
    }
    s += '\n';
  }
  s += "EOD\n";
  const std::uint64_t last = columns.empty() ? 0 : columns.back().last;
  const std::string scale = "/" + shortest(std::ldexp(1.0, input.rules.format.fraction_bits));
  s += "set termoption noenhanced\nset multiplot layout 2,1\nset lmargin 12\nset rmargin 4\n";
  s += "set xrange [0:" + std::to_string(std::max<std::uint64_t>(last, 1)) + "]\n";
  s += R"(set grid
set xzeroaxis
set key top right
set offsets 0, 0, graph 0.3, graph 0.05
set title 'Results as real values'
set ylabel 'value'
set format y '%.2f'
)";
  if (single) {
    s += "plot $results using 1:($2" + scale +
         ") with lines linewidth 4 linecolor rgb '#9ecae1' title 'model', \\\n"
         "     $results using 1:($4" +
         scale + ") with lines linewidth 1 linecolor rgb '#08306b' title 'implementation'\n";
  } else {
    s += "set style fill transparent solid 0.5 noborder\n"
         "plot $results using 1:($2" +
         scale + "):($3" + scale +
         ") with filledcurves linecolor rgb '#9ecae1' title 'model (min to max)', \\\n"
         "     $results using 1:($4" +
         scale + "):($5" + scale +
         ") with filledcurves linecolor rgb '#08306b' title 'implementation (min to max)'\n";
  }
  s += "set xlabel 'index'\nset ylabel 'difference (LSB)'\nset format y '%g'\n";
  std::string title = summary_figures(input.verdict.figures, input.rules.min_snr_db);
  title.replace(title.find("; mean "), 7, "\\nmean ");
  s += "set title \"" + title + "\"\n";
  const std::uint64_t tolerance = input.rules.tolerance;
  if (tolerance > 0) {
    s += "set object 1 rectangle from graph 0, first -" + std::to_string(tolerance) +
         " to graph 1, first " + std::to_string(tolerance) +
         " behind fillcolor rgb '#e8f5e9' fillstyle solid noborder\n";
  }
  s += "plot $results using 1:7 with impulses linewidth 2 linecolor rgb '#d62728' title "
       "'implementation - model'";
  if (!single)
    s += ", \\\n     $results using 1:6 with impulses linewidth 2 linecolor rgb '#d62728' notitle";
  if (tolerance > 0) {
    const std::string n = std::to_string(tolerance);
    s += ", \\\n     " + n + " with lines dashtype 2 linecolor rgb '#2e7d32' title 'tolerance +/-" +
         n + " LSB', \\\n     -" + n + " with lines dashtype 2 linecolor rgb '#2e7d32' notitle";
  }
  s += "\nunset multiplot\n";
  return s;
}

void draw_plot(const std::string& file, const plot_input& input) {
  const std::optional<plot_format> format = plot_format_of(file);
  if (!format) throw error("plot: " + file + ": the name must end in .svg or .png");
  // gnuplot draws into a file beside `file`, which replaces it once whole.
  std::string drawing = file + ".XXXXXX";
  const file_descriptor output(::mkostemp(drawing.data(), O_CLOEXEC));
  if (output.get() < 0) throw os_error("plot: " + file, errno);
  temporary_file unfinished(drawing);
  run_gnuplot(gnuplot_script(*format, input), output.get());
  const mode_t mask = ::umask(0);
  ::umask(mask);
  if (::fchmod(output.get(), 0666 & ~mask) != 0 || ::rename(drawing.c_str(), file.c_str()) != 0) {
    throw os_error("plot: " + file, errno);
  }
  unfinished.keep();
}

}  // namespace decimal
