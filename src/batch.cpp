#include "decimal/batch.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <exception>
#include <functional>
#include <new>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

#include "decimal/channels.hpp"
#include "decimal/ci_report.hpp"
#include "decimal/display.hpp"
#include "decimal/ending_signals.hpp"
#include "decimal/envelope.hpp"
#include "decimal/error.hpp"
#include "decimal/held_output.hpp"
#include "decimal/html_report.hpp"
#include "decimal/output_file.hpp"
#include "decimal/plot.hpp"
#include "decimal/report.hpp"
#include "decimal/step_summary.hpp"

namespace decimal {
namespace {

void say(const std::string& text) {
  // Nothing better is left to do if standard error fails.
  [[maybe_unused]] const ssize_t ignored = ::write(STDERR_FILENO, text.data(), text.size());
}

// "checked 312 of 1000 directories: 2 failed, 0 in trouble" on standard
// error, a terminal, rewritten in place as the directories are checked;
// cleared before anything else is written to that terminal, so that it
// never mixes with it, and at the end, or by a signal that ends the call.
class progress_line {
 public:
  explicit progress_line(bool shown)
      : shown_(shown), output_on_terminal_(::isatty(STDOUT_FILENO) == 1) {}
  progress_line(const progress_line&) = delete;
  progress_line& operator=(const progress_line&) = delete;
  ~progress_line() { clear(); }

  void show(const std::string& text) {
    if (!shown_) return;
    erase_line_on_ending_signal(true);
    say("\r" + text + "\x1b[K");
    drawn_ = true;
  }

  // Before a line on standard error.
  void clear() {
    if (!drawn_) return;
    erase_line_on_ending_signal(false);
    say("\r\x1b[K");
    drawn_ = false;
  }

  // Before text on standard output, which may be the same terminal.
  void before_output() {
    if (output_on_terminal_) clear();
  }

 private:
  bool shown_;
  bool output_on_terminal_;
  bool drawn_ = false;
};

// Standard output, or, while reports are still to be written, a hold of
// it: a report that cannot be written leaves nothing on standard output.
class standard_output {
 public:
  explicit standard_output(bool held) {
    if (held) held_.emplace();
  }

  void write(std::string_view text) {
    if (held_) {
      held_->append(text);
    } else {
      write_all(STDOUT_FILENO, text);
    }
  }

  // Takes everything `lines` holds.
  void take(held_output& lines) {
    if (held_) {
      lines.release(*held_);
    } else {
      lines.release(STDOUT_FILENO);
    }
  }

  bool held() const noexcept { return held_.has_value(); }

  // Writes what was held, once the reports are written.
  void release() {
    if (held_) held_->release(STDOUT_FILENO);
  }

 private:
  std::optional<held_output> held_;
};

// What went wrong, for the user: the error's own message, or what the
// system ran short of, named after the directory.
std::string trouble_message(const std::exception_ptr& trouble, const std::string& dir) {
  try {
    std::rethrow_exception(trouble);
  } catch (const error& e) {
    return e.what();
  } catch (const std::bad_alloc&) {
    return shown_name(dir) + ": out of memory";
  } catch (const std::system_error& e) {
    return shown_name(dir) + ": " + e.code().message();
  } catch (...) {
    return shown_name(dir) + ": unexpected failure";
  }
}

// How a plot names the directory: as given, or the current one's path.
std::string title_of(const std::string& dir) {
  if (!dir.empty()) return dir;
  std::array<char, 4096> path;
  return ::getcwd(path.data(), path.size()) != nullptr ? path.data() : ".";
}

run_paths paths_of(const batch_settings& settings, const std::string& dir) {
  std::optional<std::string> samples;
  if (settings.samples_name) samples = path_in(dir, *settings.samples_name);
  const auto in_dir = [&](const std::optional<std::string>& name) {
    return name ? std::optional(path_in(dir, *name)) : std::nullopt;
  };
  return {samples,
          path_in(dir, settings.results_m_name),
          path_in(dir, settings.results_c_name),
          settings.encodings,
          in_dir(settings.results_m_imag_name),
          in_dir(settings.results_c_imag_name),
          settings.rules.channels.count,
          settings.sample_per_entry};
}

// The plots of failed directories in one directory, each named for its
// directory and told apart from the others.
class failure_plots {
 public:
  // Checks `dir`, making it when it does not exist; throws error("plot-dir: DIR: why").
  explicit failure_plots(std::string dir) : dir_(std::move(dir)) {
    if (::mkdir(dir_.c_str(), 0777) != 0 && errno != EEXIST) fail(errno);
    struct stat status {};
    if (::stat(dir_.c_str(), &status) != 0) fail(errno);
    if (!S_ISDIR(status.st_mode)) fail(ENOTDIR);
    if (::access(dir_.c_str(), W_OK | X_OK) != 0) fail(errno);
  }

  // Where the plot of the failed directory `directory` goes: none past plot_dir_limit.
  std::optional<std::string> next_path(const std::string& directory) {
    if (made_ == plot_dir_limit) return std::nullopt;
    ++made_;
    const std::string name = plot_name(directory);
    std::string chosen = name;
    for (int n = 2; !taken_.insert(chosen).second; ++n) {
      chosen = name.substr(0, name.size() - 4) + "-" + std::to_string(n) + ".png";
    }
    return dir_ + "/" + chosen;
  }

 private:
  [[noreturn]] void fail(int errnum) const {
    throw os_error("plot-dir: " + shown_name(dir_), errnum);
  }

  std::string dir_;
  std::set<std::string> taken_;
  std::size_t made_ = 0;
};

// The reports and the plot of a call, checked before any directory is read.
struct destinations {
  std::optional<output_file> junit;
  std::optional<output_file> plot;
  std::optional<output_file> html;
  std::optional<output_file> summary;
  std::optional<failure_plots> plots;
};

destinations check_destinations(const batch_settings& settings,
                                const std::vector<std::string>& directories) {
  destinations to;
  if (settings.junit_file) to.junit.emplace(*settings.junit_file, "junit");
  if (settings.plot_file) to.plot.emplace(*settings.plot_file, "plot");
  if (settings.plot_dir) to.plots.emplace(*settings.plot_dir);
  if (settings.html_file) to.html.emplace(*settings.html_file, "html");
  if (settings.summary_file) {
    to.summary.emplace(*settings.summary_file, "summary");
  } else if (settings.step_summary) {
    to.summary.emplace(output_file::appended(*settings.step_summary, "summary"));
  }
  const std::array<const std::optional<output_file>*, 4> reports = {&to.junit, &to.plot, &to.html,
                                                                    &to.summary};
  const std::array<const char*, 4> titles = {"the JUnit report's", "the plot's", "the page's",
                                             "the summary's"};
  for (std::size_t later = 1; later < reports.size(); ++later) {
    for (std::size_t earlier = 0; earlier < later; ++earlier) {
      const std::optional<output_file>& a = *reports[earlier];
      const std::optional<output_file>& b = *reports[later];
      if (a && b && b->same_file(*a)) {
        throw error(b->what() + ": " + shown_name(b->name()) + ": is " + titles[earlier] +
                    " file too");
      }
    }
  }
  for (const std::optional<output_file>* report : reports) {
    if (!*report || !(*report)->replaces()) continue;
    for (const std::string& dir : directories) {
      const run_paths paths = paths_of(settings, dir);
      for (const std::optional<std::string>& input :
           {paths.samples, std::optional(paths.results_m), std::optional(paths.results_c),
            paths.results_m_imag, paths.results_c_imag}) {
        struct stat status {};
        if (input && ::stat(input->c_str(), &status) == 0 &&
            (*report)->is(status.st_dev, status.st_ino)) {
          throw error((*report)->what() + ": " + shown_name((*report)->name()) +
                      ": is an input file (" + shown_name(*input) + ")");
        }
      }
    }
  }
  return to;
}

// "decimal-diff" and the options that change the verdict, as a suite's name:
// "decimal-diff -f Q1.15 -t 2".
std::string default_suite_name(const batch_settings& settings) {
  const verdict_rules& rules = settings.rules;
  std::string name = "decimal-diff";
  if (!(rules.format == q_format{})) name += " -f " + rules.format.name();
  if (settings.encodings.model_format) {
    name += " --model-format=" + settings.encodings.model_format->name();
  }
  const channel_layout& layout = rules.channels;
  if (layout.several()) name += " --channels=" + std::to_string(layout.count);
  if (layout.complex) name += " --complex";
  if (layout.several()) {
    const std::string tolerances = tolerance_list(rules);
    if (tolerances != "0") name += " -t " + tolerances;
  } else if (rules.tolerance != 0) {
    name += " -t " + shortest_decimal(rules.tolerance);
  }
  if (layout.max_evm) {
    name += " --max-evm=" + shortest_decimal(layout.max_evm->value) +
            (layout.max_evm->decibels ? "dB" : "");
  }
  if (rules.min_snr_db) name += " --min-snr=" + shortest_decimal(*rules.min_snr_db);
  if (rules.max_mean) name += " --max-mean=" + shortest_decimal(*rules.max_mean);
  if (rules.accuracy) name += " --accuracy=" + std::to_string(*rules.accuracy);
  if (rules.count) name += " -n " + std::to_string(*rules.count);
  if (rules.skip != 0) name += " --skip=" + std::to_string(rules.skip);
  if (rules.delay.given) {
    name += " --delay=" +
            (rules.delay.automatic ? std::string("auto") : std::to_string(rules.delay.entries));
  }
  return name;
}

// The settings of the call, as the JUnit report lists them.
std::vector<report_property> report_settings(const batch_settings& settings) {
  const verdict_rules& rules = settings.rules;
  std::vector<report_property> list = {
      {"version", DECIMAL_VERSION},
      {"format", rules.format.name()},
      {"tolerance", shortest_decimal(rules.tolerance)},
  };
  if (rules.min_snr_db) list.push_back({"min_snr_db", shortest_decimal(*rules.min_snr_db)});
  if (rules.max_mean) list.push_back({"max_mean", shortest_decimal(*rules.max_mean)});
  if (rules.accuracy) list.push_back({"accuracy", std::to_string(*rules.accuracy)});
  if (rules.count) list.push_back({"count", std::to_string(*rules.count)});
  list.push_back({"skip", std::to_string(rules.skip)});
  if (rules.delay.given) {
    list.push_back({"delay", rules.delay.automatic ? "auto" : std::to_string(rules.delay.entries)});
    if (rules.delay.automatic) {
      list.push_back({"max_delay", std::to_string(rules.delay.max_delay)});
    }
  }
  list.push_back({"model", shown_name(settings.results_m_name)});
  list.push_back({"impl", shown_name(settings.results_c_name)});
  list.push_back({"samples", settings.samples_name ? shown_name(*settings.samples_name) : "none"});
  list.push_back({"model_encoding", std::string(encoding_name(settings.encodings.results_m))});
  list.push_back({"impl_encoding", std::string(encoding_name(settings.encodings.results_c))});
  list.push_back({"samples_encoding", std::string(encoding_name(settings.encodings.samples))});
  if (settings.encodings.model_format) {
    list.push_back({"model_format", settings.encodings.model_format->name()});
  }
  if (settings.encodings.word_bits != 0) {
    list.push_back({"word_bits", std::to_string(settings.encodings.word_bits)});
  }
  const channel_layout& layout = rules.channels;
  if (layout.several()) {
    list.push_back({"channels", std::to_string(layout.count)});
    std::string names;
    std::string compared;
    for (std::size_t c = 0; c < layout.count; ++c) {
      names += (c == 0 ? "" : ",") + layout.name(c);
      if (layout.compared(c)) compared += (compared.empty() ? "" : ",") + layout.name(c);
    }
    list.push_back({"channel_names", names});
    list.push_back({"compared_channels", compared});
    list.push_back({"channel_tolerances", tolerance_list(rules)});
    list.push_back({"samples_channels",
                    settings.sample_per_entry ? std::to_string(layout.count) : std::string("1")});
  }
  if (settings.results_m_imag_name) {
    list.push_back({"model_imag", shown_name(*settings.results_m_imag_name)});
  }
  if (settings.results_c_imag_name) {
    list.push_back({"impl_imag", shown_name(*settings.results_c_imag_name)});
  }
  if (layout.complex) {
    list.push_back({"complex", "true"});
    list.push_back(
        {"complex_tolerance", layout.shape == tolerance_shape::circle ? "circle" : "box"});
    list.push_back(
        {"evm_reference", layout.reference == evm_reference::average ? "average" : "peak"});
    if (layout.max_evm) {
      list.push_back({"max_evm", shortest_decimal(layout.max_evm->value) +
                                     (layout.max_evm->decibels ? "dB" : "%")});
    }
  }
  return list;
}

// What a directory's lines beyond the tolerance give the JUnit report: the
// first junit_line_limit of them; the rest are only counted.
class junit_lines {
 public:
  // Takes a line; returns whether it wants more.
  bool append(std::string_view line) {
    if (lines_ == junit_line_limit) return false;
    kept_.append(line);
    return ++lines_ < junit_line_limit;
  }

  // The lines kept, and how many of `all` were left out; the lines go with it.
  std::string take_text(std::uint64_t all) {
    const std::uint64_t left_out = all - lines_;
    if (left_out != 0) {
      kept_ += "(" + std::to_string(left_out) + " more " + (left_out == 1 ? "line" : "lines") +
               " left out)\n";
    }
    return std::move(kept_);
  }

 private:
  std::string kept_;
  std::uint64_t lines_ = 0;
};

// For a run that failed with no --delay: whether with the delay that
// --delay=auto finds every pair agrees, told as "a delay of 3 would explain
// it (--delay=3)", with the model entries it would leave without a partner;
// empty when none would, or the search cannot tell.
std::string delay_hint(const batch_settings& settings, const std::string& dir) {
  // Read a second time: only files that can be, never a FIFO or a device.
  const run_paths paths = paths_of(settings, dir);
  for (const std::optional<std::string>& file :
       {paths.samples, std::optional(paths.results_m), std::optional(paths.results_c),
        paths.results_m_imag, paths.results_c_imag}) {
    struct stat status {};
    if (file && (::stat(file->c_str(), &status) != 0 || !S_ISREG(status.st_mode))) return {};
  }
  verdict_rules with_search = settings.rules;
  with_search.delay = {
      .given = true, .automatic = true, .max_delay = settings.rules.delay.max_delay};
  try {
    std::optional<applied_delay> found;
    const run_verdict delayed = check_run(paths, with_search, {}, nullptr, start_thread, &found);
    const accumulator& figures = delayed.figures;
    if (!found || found->entries == 0 || figures.beyond_tolerance() != 0 ||
        figures.unknown() != 0 ||
        delayed.reasons.size() != (figures.missing() != 0 ? 1U : 0U)) {  // missing alone
      return {};
    }
    const std::string n = std::to_string(found->entries);
    std::string hint = "a delay of " + n + " would explain it (--delay=" + n;
    if (figures.missing() != 0) {
      hint += "; " + std::to_string(figures.missing()) + " model " +
              (figures.missing() == 1 ? "entry" : "entries") + " would have no partner";
    }
    return hint + ")";
  } catch (...) {
    return {};  // the run's own verdict stands
  }
}

// Checks one directory, writes its output and adds it to the page, if any;
// returns what it gave.
directory_report check_directory(const batch_settings& settings, destinations& to,
                                 html_report* page, progress_line& progress, standard_output& out,
                                 std::optional<output_file::prepared>& held_plot,
                                 const std::string& dir, bool several) {
  const auto start = std::chrono::steady_clock::now();
  const verdict_rules& rules = settings.rules;
  directory_report report;
  report.directory = dir.empty() ? "." : dir;
  const bool text = !settings.quiet && !settings.json;
  const bool json = settings.json && !settings.quiet;
  // Only what is printed or reported is kept: the text lines to print, the
  // head of them for JUnit, the first JSON entries.
  held_output lines;
  junit_lines junit_text;
  std::string json_entries;
  std::size_t json_entries_kept = 0;
  std::vector<entry_beyond> page_entries;
  entry_sink beyond;
  if (text || json || to.junit || page != nullptr) {
    bool junit_wants = to.junit.has_value();
    beyond = [&, junit_wants](const entry_beyond& entry) mutable {
      if (text || junit_wants) {
        std::array<char, max_entry_line> line;
        const char* end = render_entry_line(line.data(), rules.format, entry);
        const std::string_view rendered(line.data(), static_cast<std::size_t>(end - line.data()));
        if (text) lines.append(settings.color ? with_red_difference(rendered) : rendered);
        if (junit_wants) junit_wants = junit_text.append(rendered);
      }
      if (json && json_entries_kept < json_entry_limit) {
        if (json_entries_kept++ != 0) json_entries += ',';
        json_entries += json_entry(entry, rules.format.fraction_bits);
      }
      const bool page_wants = page != nullptr && page_entries.size() < html_entry_limit;
      if (page_wants) page_entries.push_back(entry);
      return text || junit_wants || (json && json_entries_kept < json_entry_limit) ||
             (page_wants && page_entries.size() < html_entry_limit);
    };
  }
  const std::string header = several ? "==> " + shown_name(dir) + " <==\n" : "";
  std::optional<envelope> plot_data;
  std::vector<envelope> channel_plots;  // the page's, with several channels
  if (to.plot || to.plots || page != nullptr) plot_data.emplace(2048, rules.skip);
  std::optional<output_file::prepared> plot;
  try {
    run_verdict verdict =
        check_run(paths_of(settings, dir), rules, beyond, plot_data ? &*plot_data : nullptr,
                  start_thread, &report.delay, page != nullptr ? &channel_plots : nullptr);
    // Where it is drawn, a failure says whether a latency would explain it.
    const bool drawn = to.plot || to.plots || page != nullptr;
    // With several channels, the plot data are the worst channel's.
    const channel_verdict* charted = verdict.charted();
    verdict_rules drawn_rules = rules;
    if (charted != nullptr) drawn_rules.tolerance = rules.limits(charted->channel).tolerance;
    const std::string drawn_title =
        title_of(dir) + (charted != nullptr ? " (channel " + charted->name + ")" : "");
    if (drawn && !verdict.pass() && !rules.delay.given) report.hint = delay_hint(settings, dir);
    // The plot is drawn first, so that a run that fails to draw it writes nothing.
    if (to.plot) {
      plot.emplace(to.plot->prepare(
          draw_plot(*plot_format_of(to.plot->name()),
                    {*plot_data, verdict, drawn_rules, drawn_title, report.hint})));
    }
    if (const std::optional<std::string> path =
            to.plots && !verdict.pass() ? to.plots->next_path(dir) : std::nullopt) {
      output_file(*path, "plot-dir")
          .write(draw_plot(plot_format::png,
                           {*plot_data, verdict, drawn_rules, drawn_title, report.hint}));
      report.attachment = *path;
    }
    report.outcome = verdict.pass() ? run_outcome::pass : run_outcome::fail;
    const std::string closing = render_closing(verdict, rules.min_snr_db);
    report.summary = verdict.channels.empty()
                         ? summary_figures(verdict.figures, rules.min_snr_db, verdict.skipped,
                                           verdict.delay ? verdict.delay->entries : 0)
                         : total_figures(verdict);
    if (to.junit && !verdict.channels.empty()) {
      report.output = verdict_line(verdict.reasons) + channel_lines(verdict);
      if (verdict.delay) report.output += delay_line(*verdict.delay) + '\n';
      report.output += junit_text.take_text(verdict.entries_shown);
    } else if (to.junit) {
      const accumulator& figures = verdict.figures;
      // What a CI viewer should open on comes first; the lines, however many, last.
      report.output =
          verdict_line(verdict.reasons) + "summary: " + report.summary + '\n' + verdict.rounding;
      if (verdict.delay) report.output += delay_line(*verdict.delay) + '\n';
      report.output +=
          histogram_line(figures) +
          junit_text.take_text(figures.beyond_tolerance() + figures.unknown() + figures.missing());
    }
    report.verdict = std::move(verdict);
    report.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    progress.before_output();
    if (json) {
      out.write(json_head(report, {rules, rules.skip}) + json_entries + json_tail());
    } else if (text) {
      out.write(header);
      out.take(lines);
      out.write(settings.color ? with_coloured_verdict(closing) : closing);
    }
  } catch (const write_failure&) {
    throw;  // standard output: the whole call fails
  } catch (...) {
    lines.discard();
    report.outcome = run_outcome::trouble;
    report.message = trouble_message(std::current_exception(), report.directory);
    report.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    progress.clear();
    if (text && several && !json) {
      // On a terminal, the message reads as the directory's: after its header.
      out.write(header);
      say("decimal-diff: " + report.message + "\n");
      const std::string verdict = "verdict: trouble\n";
      out.write(settings.color ? with_coloured_verdict(verdict) : verdict);
    } else {
      say("decimal-diff: " + report.message + "\n");
      if (json) out.write(json_head(report, {rules, rules.skip}) + json_tail());
    }
  }
  // Only once its output is out does the plot take its place.
  if (plot && out.held()) {
    held_plot.emplace(std::move(*plot));
  } else if (plot) {
    try {
      plot->commit();
    } catch (const error& e) {
      report.outcome = run_outcome::trouble;
      report.message = e.what();
      progress.clear();
      say("decimal-diff: " + report.message + "\n");
    }
  }
  if (page != nullptr) {
    // With several channels, a chart for each (of the worst few).
    const bool several = !channel_plots.empty();
    page->add(report, {rules.format, rules.tolerance, plot_data && !several ? &*plot_data : nullptr,
                       std::move(page_entries), several ? &channel_plots : nullptr});
  }
  return report;
}

}  // namespace

std::string plot_name(const std::string& dir) {
  std::string name;
  for (const char c : dir) {
    const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                       c == '.' || c == '-' || c == '_';
    name += plain ? c : '_';
  }
  // Neither hidden nor "..", and no trailing separators of a glob.
  while (!name.empty() && (name.back() == '_' || name.back() == '.')) name.pop_back();
  while (!name.empty() && (name.front() == '.' || name.front() == '_')) name.erase(0, 1);
  return (name.empty() ? "current" : name) + ".png";
}

int run_batch(const batch_settings& settings) {
  const std::vector<std::string> directories =
      settings.directories.empty() ? std::vector<std::string>{""} : settings.directories;
  destinations to = check_destinations(settings, directories);
  const bool several = directories.size() > 1;
  junit_report junit(report_settings(settings),
                     settings.junit_suite.value_or(default_suite_name(settings)));
  std::optional<step_summary> summary;
  if (to.summary) summary.emplace();
  std::optional<html_report> page;
  if (to.html) page.emplace(report_settings(settings), call_origin::now(settings.options));
  std::size_t passed = 0;
  std::size_t failed = 0;
  std::size_t in_trouble = 0;
  progress_line progress(several && settings.progress && !settings.quiet);
  // Held until the reports are written, when there are any and none of
  // them follows the text on standard output itself.
  const auto on_standard_output = [](const std::optional<output_file>& report) {
    return report && report->writes_through(STDOUT_FILENO);
  };
  standard_output out((to.junit || to.html || to.summary) && !on_standard_output(to.junit) &&
                      !on_standard_output(to.html) && !on_standard_output(to.summary));
  std::optional<output_file::prepared> held_plot;
  for (std::size_t i = 0; i < directories.size(); ++i) {
    if (several && i > 0 && !settings.quiet && !settings.json) {
      progress.before_output();
      out.write("\n");
    }
    directory_report report = check_directory(settings, to, page ? &*page : nullptr, progress, out,
                                              held_plot, directories[i], several);
    switch (report.outcome) {
      case run_outcome::pass:
        ++passed;
        break;
      case run_outcome::fail:
        ++failed;
        break;
      case run_outcome::trouble:
        ++in_trouble;
        break;
    }
    if (summary) summary->add(report);
    if (to.junit) junit.add(std::move(report));
    progress.show("checked " + std::to_string(i + 1) + " of " + std::to_string(directories.size()) +
                  " directories: " + std::to_string(failed) + " failed, " +
                  std::to_string(in_trouble) + " in trouble");
  }
  progress.clear();
  if (several && !settings.quiet && !settings.json) {
    out.write("\ntotal: " + std::to_string(passed) + " passed, " + std::to_string(failed) +
              " failed, " + std::to_string(in_trouble) + " in trouble, of " +
              std::to_string(directories.size()) + " directories\n");
  }
  // The reports are made first. Those written through a FIFO or a device
  // go before the text, so that one that fails leaves none; the files that
  // are replaced, and the plot, take their places once the text is out.
  std::array<std::optional<output_file::prepared>, 3> reports;
  if (to.junit) reports[0].emplace(to.junit->prepare(junit.text()));
  if (page) reports[1].emplace(to.html->prepare(page->text()));
  if (summary) reports[2].emplace(to.summary->prepare(summary->text()));
  for (std::optional<output_file::prepared>& report : reports) {
    if (report && !report->replaces()) report->commit();
  }
  out.release();
  if (held_plot) {
    try {
      held_plot->commit();
    } catch (const error& e) {
      ++in_trouble;
      say(std::string("decimal-diff: ") + e.what() + "\n");
    }
  }
  for (std::optional<output_file::prepared>& report : reports) {
    if (report && report->replaces()) report->commit();
  }
  if (in_trouble != 0) return status_trouble;
  return failed != 0 ? status_fail : status_pass;
}

}  // namespace decimal
