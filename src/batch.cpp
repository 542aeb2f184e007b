#include "decimal/batch.hpp"

#include <unistd.h>

#include <array>
#include <chrono>
#include <exception>
#include <new>
#include <string>
#include <system_error>

#include "decimal/ci_report.hpp"
#include "decimal/display.hpp"
#include "decimal/envelope.hpp"
#include "decimal/error.hpp"
#include "decimal/held_output.hpp"
#include "decimal/plot.hpp"
#include "decimal/report.hpp"

namespace decimal {
namespace {

void say(const std::string& text) {
  // Nothing better is left to do if standard error fails.
  [[maybe_unused]] const ssize_t ignored = ::write(STDERR_FILENO, text.data(), text.size());
}

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
  return {samples, path_in(dir, settings.results_m_name), path_in(dir, settings.results_c_name)};
}

// Checks one directory and writes its output; returns what it gave.
directory_report check_directory(const batch_settings& settings, const std::string& dir,
                                 bool several) {
  const auto start = std::chrono::steady_clock::now();
  const verdict_rules& rules = settings.rules;
  directory_report report;
  report.directory = dir.empty() ? "." : dir;
  const bool text = !settings.quiet && !settings.json;
  const bool keep_text = text || settings.junit_file;
  held_output lines;      // text lines, or the JSON entries
  held_output json_text;  // the text lines as well, for a JUnit report beside --json
  entry_sink beyond;
  if (settings.json && !settings.quiet) {
    beyond = [&, first = true](const entry_beyond& entry) mutable {
      lines.append(first ? json_entry(entry) : "," + json_entry(entry));
      first = false;
      if (settings.junit_file) text_lines(rules.format, json_text)(entry);
    };
  } else if (keep_text) {
    beyond = text_lines(rules.format, settings.json ? json_text : lines);
  }
  const std::string header = several ? "==> " + shown_name(dir) + " <==\n" : "";
  std::optional<envelope> plot_data;
  if (settings.plot_file) plot_data.emplace(2048, rules.skip);
  try {
    run_verdict verdict =
        check_run(paths_of(settings, dir), rules, beyond, plot_data ? &*plot_data : nullptr);
    // The plot comes first, so that a run that fails to draw it writes nothing.
    if (settings.plot_file) {
      draw_plot(*settings.plot_file, {*plot_data, verdict, rules, title_of(dir)});
    }
    report.outcome = verdict.pass() ? run_outcome::pass : run_outcome::fail;
    const std::string closing = render_closing(verdict, rules.min_snr_db);
    report.verdict = std::move(verdict);
    held_output& text_output = settings.json ? json_text : lines;
    if (keep_text) text_output.append(closing);
    if (settings.junit_file) report.output = text_output.head(output_limit);
    report.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (settings.json && !settings.quiet) {
      write_all(STDOUT_FILENO, json_head(report, {rules, rules.skip}));
      lines.release(STDOUT_FILENO);
      write_all(STDOUT_FILENO, json_tail());
    } else if (text) {
      write_all(STDOUT_FILENO, header);
      lines.release(STDOUT_FILENO);
    }
  } catch (const write_failure&) {
    throw;  // standard output: the whole call fails
  } catch (...) {
    lines.discard();
    report.outcome = run_outcome::trouble;
    report.message = trouble_message(std::current_exception(), report.directory);
    report.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    say("decimal-diff: " + report.message + "\n");
    if (settings.json && !settings.quiet) {
      write_all(STDOUT_FILENO, json_head(report, {rules, rules.skip}) + json_tail());
    } else if (text && several) {
      write_all(STDOUT_FILENO, header + "verdict: trouble\n");
    }
  }
  return report;
}

}  // namespace

int run_batch(const batch_settings& settings) {
  const std::vector<std::string> directories =
      settings.directories.empty() ? std::vector<std::string>{""} : settings.directories;
  const bool several = directories.size() > 1;
  junit_report junit;
  std::size_t passed = 0;
  std::size_t failed = 0;
  std::size_t in_trouble = 0;
  for (std::size_t i = 0; i < directories.size(); ++i) {
    if (several && i > 0 && !settings.quiet && !settings.json) write_all(STDOUT_FILENO, "\n");
    directory_report report = check_directory(settings, directories[i], several);
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
    if (settings.junit_file) junit.add(std::move(report));
  }
  if (several && !settings.quiet && !settings.json) {
    write_all(STDOUT_FILENO, "\ntotal: " + std::to_string(passed) + " passed, " +
                                 std::to_string(failed) + " failed, " + std::to_string(in_trouble) +
                                 " in trouble, of " + std::to_string(directories.size()) +
                                 " directories\n");
  }
  if (settings.junit_file) junit.write(*settings.junit_file);
  if (in_trouble != 0) return status_trouble;
  return failed != 0 ? status_fail : status_pass;
}

}  // namespace decimal
