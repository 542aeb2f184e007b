#include "decimal/plot.hpp"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "decimal/display.hpp"
#include "decimal/ending_signals.hpp"
#include "decimal/error.hpp"
#include "decimal/file_descriptor.hpp"

extern char** environ;

namespace decimal {
namespace {

// While it lives, a signal that would end the process ends gnuplot's
// process group first, so that none is left drawing into a pipe that no one
// reads; a write to a pipe whose reader has gone fails with EPIPE instead of
// ending the process.
class drawing_guard {
 public:
  explicit drawing_guard(pid_t group) {
    kill_on_ending_signal(group);
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    ::sigaction(SIGPIPE, &ignore, &previous_pipe_);
  }
  drawing_guard(const drawing_guard&) = delete;
  drawing_guard& operator=(const drawing_guard&) = delete;
  ~drawing_guard() {
    ::sigaction(SIGPIPE, &previous_pipe_, nullptr);
    kill_on_ending_signal(0);
  }

 private:
  struct sigaction previous_pipe_ {};
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

// Feeds `script` to gnuplot's standard input and gathers its standard output
// until it closes, or until gnuplot has ended and nothing more is waiting
// (a child of it may hold the pipe open); throws when a pipe fails or a
// limit is passed.
std::string exchange(int script_in, int picture_out, int gnuplot_ended, std::string_view script,
                     const gnuplot_limits& limits) {
  std::string picture;
  std::array<char, std::size_t{64} << 10> buffer;
  file_descriptor to_gnuplot(script_in);
  const auto deadline = std::chrono::steady_clock::now() + limits.time;
  bool ended = false;   // gnuplot has exited
  bool closed = false;  // its output has closed
  while (!(closed && (ended || gnuplot_ended < 0))) {
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      throw error("plot: gnuplot took longer than " +
                  shortest_decimal(static_cast<double>(limits.time.count()) / 1000) + " s");
    }
    // poll() passes over the negative descriptors.
    std::array<pollfd, 3> ends{pollfd{closed ? -1 : picture_out, POLLIN, 0},
                               pollfd{ended ? -1 : gnuplot_ended, POLLIN, 0},
                               pollfd{to_gnuplot.get(), POLLOUT, 0}};
    // Once gnuplot has ended, only what is already in the pipe is read.
    const int timeout =
        ended ? 0 : static_cast<int>(std::min<std::int64_t>(left.count(), INT32_MAX));
    const int ready = ::poll(ends.data(), ends.size(), timeout);
    if (ready < 0) {
      if (errno == EINTR) continue;
      throw os_error("plot: poll", errno);
    }
    if (ready == 0 && ended) break;
    if (ends[1].revents != 0) ended = true;
    if (ends[2].revents != 0) {
      const ssize_t n = ::write(to_gnuplot.get(), script.data(), script.size());
      if (n < 0 && errno != EINTR && errno != EAGAIN) {
        to_gnuplot.reset();  // gnuplot stopped reading: its status tells why
      } else if (n > 0) {
        script.remove_prefix(static_cast<std::size_t>(n));
        if (script.empty()) to_gnuplot.reset();
      }
    }
    if (ends[0].revents != 0) {
      const ssize_t n = ::read(picture_out, buffer.data(), buffer.size());
      if (n < 0) {
        if (errno == EINTR || errno == EAGAIN) continue;
        throw os_error("plot: read", errno);
      }
      if (n == 0) {
        closed = true;
        continue;
      }
      if (picture.size() + static_cast<std::size_t>(n) > limits.bytes) {
        throw error("plot: gnuplot wrote more than " +
                    shortest_decimal(static_cast<double>(limits.bytes) / (1 << 20)) + " MiB");
      }
      picture.append(buffer.data(), static_cast<std::size_t>(n));
    }
  }
  return picture;
}

// Runs gnuplot with its default settings on `script`, in a process group of
// its own, and returns the picture it writes; throws when it cannot. Nothing
// it started is left running.
std::string run_gnuplot(const std::string& script, const gnuplot_limits& limits) {
  const file_descriptor messages(::memfd_create("gnuplot-messages", MFD_CLOEXEC));
  if (messages.get() < 0) throw os_error("plot: memfd_create", errno);
  std::array<int, 2> script_pipe{};
  std::array<int, 2> picture_pipe{};
  if (::pipe2(script_pipe.data(), O_CLOEXEC) != 0) throw os_error("plot: pipe", errno);
  file_descriptor script_read(script_pipe[0]);
  file_descriptor script_write(script_pipe[1]);
  if (::pipe2(picture_pipe.data(), O_CLOEXEC) != 0) throw os_error("plot: pipe", errno);
  file_descriptor picture_read(picture_pipe[0]);
  file_descriptor picture_write(picture_pipe[1]);
  ::fcntl(script_write.get(), F_SETFL, O_NONBLOCK);
  ::fcntl(picture_read.get(), F_SETFL, O_NONBLOCK);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, script_read.get(), STDIN_FILENO);
  posix_spawn_file_actions_adddup2(&actions, picture_write.get(), STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, messages.get(), STDERR_FILENO);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
  posix_spawnattr_setpgroup(&attributes, 0);
  // No init file (~/.gnuplot, a system one) can move or break the picture.
  std::array<char*, 3> argv{const_cast<char*>("gnuplot"), const_cast<char*>("--default-settings"),
                            nullptr};
  pid_t pid = 0;
  const int spawned = ::posix_spawnp(&pid, "gnuplot", &actions, &attributes, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  script_read.reset();
  picture_write.reset();
  if (spawned == ENOENT) throw error("plot: gnuplot not found (Debian: install gnuplot-nox)");
  if (spawned != 0) throw os_error("plot: gnuplot", spawned);

  std::string picture;
  int status = 0;
  {
    const drawing_guard guard(pid);
    // Readable once gnuplot has ended; without it (an old kernel) the time limit still holds.
    const file_descriptor ended(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)));
    const auto end_group = [&] {
      ::kill(-pid, SIGKILL);
      while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) throw os_error("plot: waitpid", errno);
      }
    };
    try {
      picture = exchange(script_write.release(), picture_read.get(), ended.get(), script, limits);
    } catch (const error&) {
      end_group();
      throw;
    }
    // gnuplot has ended, or closed its output: wait for it, then end what it left.
    while (::waitid(P_PID, static_cast<id_t>(pid), nullptr, WEXITED | WNOWAIT) < 0) {
      if (errno != EINTR) throw os_error("plot: waitid", errno);
    }
    end_group();
  }
  if (WIFEXITED(status) && WEXITSTATUS(status) == 0) {
    if (picture.empty()) throw error("plot: gnuplot drew nothing");
    return picture;
  }
  const std::string said = last_line(messages.get());
  std::string why = WIFEXITED(status) ? "exited with status " + std::to_string(WEXITSTATUS(status))
                                      : "was killed by signal " + std::to_string(WTERMSIG(status));
  if (!said.empty()) why += ": " + shown_name(said);
  throw error("plot: gnuplot " + why);
}

// A step of 1, 2 or 5 times a power of ten, whole, at least `rough`.
std::int64_t whole_step(double rough) {
  std::int64_t step = 1;
  while (true) {
    for (const std::int64_t factor : {1, 2, 5}) {
      if (static_cast<double>(step * factor) >= rough) return step * factor;
    }
    step *= 10;
  }
}

// A tick's label in engineering form: 250, 1.5k, 800k, 1M, -3G.
std::string engineering(double value) {
  const double magnitude = std::fabs(value);
  for (const auto& [size, suffix] :
       {std::pair{1e9, "G"}, std::pair{1e6, "M"}, std::pair{1e3, "k"}}) {
    if (magnitude >= size) {
      std::array<char, 32> text;
      const int n = std::snprintf(text.data(), text.size(), "%.4g", value / size);
      return std::string(text.data(), static_cast<std::size_t>(n)) + suffix;
    }
  }
  return shortest_decimal(value);
}

// "set AXIStics (...)": whole-numbered ticks from low to high, about eight,
// labelled in engineering form, so that one axis never mixes 800000 and 1e+06.
std::string engineering_tics(const char* axis, double low, double high) {
  const std::int64_t step = whole_step((high - low) / 8);
  std::string tics = std::string("set ") + axis + "tics (";
  bool first = true;
  for (auto tick = static_cast<std::int64_t>(std::ceil(low / static_cast<double>(step))) * step;
       static_cast<double>(tick) <= high; tick += step) {
    if (!first) tics += ", ";
    first = false;
    tics.append("'").append(engineering(static_cast<double>(tick))).append("' ");
    tics += std::to_string(tick);
  }
  return tics + ")\n";
}

}  // namespace

std::string gnuplot_string(std::string_view text, bool for_svg) {
  // Single quotes take everything as it is but a quote, written twice.
  std::string quoted = "'";
  for (const char c : shown_name(text)) {
    if (c == '\'') {
      quoted += "''";
    } else if (for_svg && c == '&') {
      quoted += "&#x26;";  // gnuplot escapes the & of any other reference again
    } else if (for_svg && c == '>') {
      quoted += "&#x3e;";
    } else {
      quoted += c;
    }
  }
  return quoted + "'";
}

std::optional<plot_format> plot_format_of(std::string_view file) {
  if (file.ends_with(".svg")) return plot_format::svg;
  if (file.ends_with(".png")) return plot_format::png;
  return std::nullopt;
}

std::string gnuplot_script(plot_format format, const plot_input& input) {
  const std::vector<envelope_column>& columns = input.entries.columns();
  const bool single = input.entries.span() == 1;
  const q_format& q = input.rules.format;
  const accumulator& figures = input.verdict.figures;
  const auto text = [&](std::string_view t) {
    return gnuplot_string(t, format == plot_format::svg);
  };
  std::string s = format == plot_format::svg
                      ? "set terminal svg size 1000,720 dynamic font 'sans,12' background "
                        "rgb 'white'\n"
                      : "set terminal pngcairo size 1000,720 font 'sans,11' background "
                        "rgb 'white'\n";
  // Per column: its middle index; the least and greatest model result,
  // implementation result and difference, all in LSB.
  // A column with no entry known in both is a gap in the lines.
  s += "$results << EOD\n";
  double lowest = 0;
  double highest = 0;
  double least_value = std::numeric_limits<double>::infinity();
  double greatest_value = -least_value;
  std::string unknown_marks;
  for (const envelope_column& c : columns) {
    const std::string middle = shortest_decimal(static_cast<double>(c.first + c.last) / 2);
    if (c.unknown != 0) unknown_marks += middle + " 0\n";
    s += middle;
    if (!c.known()) {
      s += " NaN NaN NaN NaN NaN NaN\n";
      continue;
    }
    for (const double n : {c.model_min, c.model_max, c.implementation_min, c.implementation_max,
                           c.difference_min, c.difference_max}) {
      s += ' ' + shortest_decimal(n);
    }
    s += '\n';
    lowest = std::min(lowest, c.difference_min);
    highest = std::max(highest, c.difference_max);
    least_value = std::min({least_value, c.model_min, c.implementation_min});
    greatest_value = std::max({greatest_value, c.model_max, c.implementation_max});
  }
  s += "EOD\n";
  // Each column holding unknown entries, marked on the difference's axis.
  if (!unknown_marks.empty()) s += "$unknown << EOD\n" + unknown_marks + "EOD\n";
  const std::string unknown_points =
      "$unknown using 1:2 with points pointtype 2 pointsize 1.5 linewidth 2 linecolor rgb "
      "'#6a1b9a' title 'unknown (" +
      std::to_string(figures.unknown()) + ")'";
  // With no entry known in both, the axes span the unknown entries, and a
  // line of nothing stands for the data, which gnuplot cannot plot.
  const bool nothing_known = least_value > greatest_value;
  const std::uint64_t unknown_from = input.verdict.first_beyond.value_or(0);
  const double first = static_cast<double>(columns.empty() ? unknown_from : columns.front().first);
  const std::uint64_t end = input.entries.end();
  const double last = static_cast<double>(
      columns.empty() ? (end > unknown_from ? end - 1 : unknown_from) : columns.back().last);
  const std::string nothing_to_plot = "0 with lines linecolor rgb 'white' notitle\n";
  // A margin keeps the first and last entries off the frame.
  const double margin = std::max(1.0, (last - first) / 100);
  std::string scale = "/";  // appended: GCC 12 warns falsely of "/" + ...
  scale += shortest_decimal(std::ldexp(1.0, q.fraction_bits));

  std::string verdict = verdict_line(input.verdict.reasons);
  verdict.pop_back();  // the line feed
  if (!input.hint.empty()) verdict += "; " + input.hint;
  std::string heading = input.directory;
  if (!(q == q_format{})) heading += " (" + q.name() + ")";
  if (input.verdict.delay) heading += ", " + delay_line(*input.verdict.delay);
  s += "set termoption noenhanced\nset multiplot layout 2,1\nset lmargin 12\nset rmargin 4\n";
  s += "set xrange [" + shortest_decimal(first - margin) + ":" + shortest_decimal(last + margin) +
       "]\n";
  s += engineering_tics("x", first - margin, last + margin);
  // The keys go below the data, never over it.
  s += "set grid\nset xzeroaxis\nset key below horizontal\n";
  // The values' axis fitted to them, with a margin of a twentieth (or an LSB).
  if (!nothing_known) {
    const double unit = std::ldexp(1.0, -q.fraction_bits);
    const double low = least_value * unit;
    const double high = greatest_value * unit;
    const double pad = std::max((high - low) / 20, unit);
    s += "set yrange [" + shortest_decimal(low - pad) + ":" + shortest_decimal(high + pad) + "]\n";
  }
  // Debugging starts at the first entry beyond the tolerance: marked in both panels.
  if (input.verdict.first_beyond) {
    const std::string at = std::to_string(*input.verdict.first_beyond);
    s += "set arrow 1 from " + at + ", graph 0 to " + at +
         ", graph 1 nohead dashtype 3 linewidth 1.5 linecolor rgb '#d62728' front\n";
  }
  s += "set title " + text(heading) + ".\"\\n\"." + text(verdict) + " textcolor rgb '" +
       (input.verdict.pass() ? "#1b5e20" : "#b71c1c") + "'\n";
  // As many digits as tell the ticks apart.
  s += "set ylabel 'value'\nset format y '%g'\n";
  if (nothing_known) {
    s += "set label 2 " + text("no entry known in both files") +
         " at graph 0.5, graph 0.5 center front\nplot " + nothing_to_plot + "unset label 2\n";
  } else if (single) {
    s += "plot $results using 1:($2" + scale +
         ") with lines linewidth 4 linecolor rgb '#9ecae1' title 'model', \\\n"
         "     $results using 1:($4" +
         scale + ") with lines linewidth 1 linecolor rgb '#08306b' title 'implementation'\n";
  } else {
    // The model as a band, the implementation's least and greatest as lines
    // over it: both stay in sight however the columns crowd.
    s += "set style fill transparent solid 0.6 noborder\n"
         "plot $results using 1:($2" +
         scale + "):($3" + scale +
         ") with filledcurves linecolor rgb '#9ecae1' title 'model (least to greatest of each "
         "column)', \\\n"
         "     $results using 1:($4" +
         scale +
         ") with lines linewidth 1 linecolor rgb '#08306b' title 'implementation (least and "
         "greatest)', \\\n"
         "     $results using 1:($5" +
         scale + ") with lines linewidth 1 linecolor rgb '#08306b' notitle\n";
  }

  // The lower panel: whole LSB, symmetric about 0 so that the band sits in
  // the middle, fitted to the data and the band, never past what the format
  // can hold.
  // A fraction of an LSB only with a real model.
  const double tolerance = std::min(input.rules.tolerance, static_cast<double>(q.highest_raw()));
  const std::int64_t reach = std::max(
      {static_cast<std::int64_t>(std::ceil(-lowest)), static_cast<std::int64_t>(std::ceil(highest)),
       static_cast<std::int64_t>(std::ceil(tolerance)), std::int64_t{1}});
  const std::int64_t limit = q.highest_raw();
  const std::int64_t edge = std::min(reach + std::max<std::int64_t>(1, reach / 8), limit);
  s += "set xlabel 'index'\nset ylabel 'difference (LSB)'\n";
  s += "set yrange [" + std::to_string(-edge) + ":" + std::to_string(edge) + "]\n";
  s += engineering_tics("y", static_cast<double>(-edge), static_cast<double>(edge));
  s += "set mytics 1\n";
  // Named in the axis's label, where it covers no data.
  if (input.verdict.first_beyond) {
    s += "set xlabel " +
         text("index (first beyond the tolerance: " + std::to_string(*input.verdict.first_beyond) +
              ", dashed)") +
         "\n";
  }
  std::string summary = summary_figures(figures, input.rules.min_snr_db, input.verdict.skipped,
                                        input.verdict.delay ? input.verdict.delay->entries : 0);
  const std::size_t split = summary.find("; mean ");
  // With no figures, the summary is a single line; the rounding and accuracy lines follow it.
  std::string rounding = input.verdict.rounding;
  if (!rounding.empty()) rounding.pop_back();  // the last line feed
  std::string heading_lines = text(summary.substr(0, split));
  if (split != std::string::npos) heading_lines += ".\"\\n\"." + text(summary.substr(split + 2));
  for (std::size_t from = 0; from < rounding.size();) {
    const std::size_t line_end = std::min(rounding.find('\n', from), rounding.size());
    heading_lines += ".\"\\n\"." + text(rounding.substr(from, line_end - from));
    from = line_end + 1;
  }
  s += "set title " + heading_lines + " textcolor rgb 'black'\n";
  if (tolerance > 0) {
    s += "set object 1 rectangle from graph 0, first -" + shortest_decimal(tolerance) +
         " to graph 1, first " + shortest_decimal(tolerance) +
         " behind fillcolor rgb '#e8f5e9' fillstyle solid noborder\n";
  }
  // Within the tolerance and beyond it in colours of their own; the band's
  // edges over both.
  const std::string t = shortest_decimal(tolerance);
  const auto impulses = [&](const char* column, bool beyond, const std::string& title) {
    return std::string("$results using 1:(abs($") + column + ") " + (beyond ? ">" : "<=") + " " +
           t + " ? $" + column + " : NaN) with impulses linewidth 2 linecolor rgb '" +
           (beyond ? "#d62728" : "#7f7f7f") + "' " + title;
  };
  if (nothing_known) {
    s += "plot " + (unknown_marks.empty() ? nothing_to_plot : unknown_points + "\n") +
         "unset multiplot\n";
    return s;
  }
  s += "plot " + impulses("7", false, "title 'within the tolerance'") + ", \\\n     " +
       impulses("6", false, "notitle");
  const std::string beyond_title =
      figures.beyond_tolerance() == 0
          ? "notitle"
          : "title 'beyond it (" + std::to_string(figures.beyond_tolerance()) + ")'";
  s += ", \\\n     " + impulses("7", true, beyond_title) + ", \\\n     " +
       impulses("6", true, "notitle");
  if (tolerance > 0) {
    s += ", \\\n     " + t + " with lines dashtype 2 linewidth 1.5 linecolor rgb '#2e7d32' " +
         "title 'tolerance +/-" + t + " LSB', \\\n     -" + t +
         " with lines dashtype 2 linewidth 1.5 linecolor rgb '#2e7d32' notitle";
  }
  if (!unknown_marks.empty()) s += ", \\\n     " + unknown_points;
  s += "\nunset multiplot\n";
  return s;
}

std::string draw_plot(plot_format format, const plot_input& input, const gnuplot_limits& limits) {
  std::string picture = run_gnuplot(gnuplot_script(format, input), limits);
  // gnuplot titles every SVG "Gnuplot": the plot's own title instead.
  constexpr std::string_view generic = "<title>Gnuplot</title>";
  if (const std::size_t at = picture.find(generic);
      format == plot_format::svg && at != std::string::npos) {
    std::string verdict = verdict_line(input.verdict.reasons);
    verdict.pop_back();  // the line feed
    picture.replace(
        at, generic.size(),
        "<title>" + xml_text(shown_name(input.directory) + ": " + verdict) + "</title>");
  }
  return picture;
}

}  // namespace decimal
