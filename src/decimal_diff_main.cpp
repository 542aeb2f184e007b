// decimal-diff: tells whether an implementation's fixed-point results match
// the reference model's, within a tolerance in least significant bits.

#include <getopt.h>
#include <unistd.h>

#include <charconv>
#include <cmath>
#include <cstdint>
#include <exception>
#include <optional>
#include <string>
#include <string_view>

#include "decimal/comparison.hpp"
#include "decimal/error.hpp"
#include "decimal/plot.hpp"
#include "decimal/report.hpp"

namespace {

// Exit statuses, as cmp and diff have them.
constexpr int status_pass = 0;
constexpr int status_fail = 1;
constexpr int status_trouble = 2;

constexpr std::string_view usage =
    "Usage: decimal-diff [OPTION]... [DIR]\n"
    "Compare the implementation's results (DIR/results_c.txt) with the reference\n"
    "model's (DIR/results_m.txt), entry by entry, in least significant bits of\n"
    "their fixed-point format, and tell whether they agree. Every entry is\n"
    "compared; DIR is the current directory by default.\n"
    "\n"
    "  -f, --format=FMT   the results' format QM.N (or QN for Q1.N); default Q1.11\n"
    "  -n, --count=COUNT  compare only the first COUNT entries of each file\n"
    "  -t, --tolerance=N  let entries differ by up to N LSB (0 to 2^W-1; default 0)\n"
    "      --min-snr=DB   fail also when the signal-to-noise ratio is below DB dB\n"
    "      --plot=FILE    draw the comparison into FILE (.svg or .png) with gnuplot\n"
    "  -q, --quiet        print nothing; the exit status tells\n"
    "  -h, --help         print this help and exit\n"
    "      --version      print the version and exit\n"
    "\n"
    "Prints each entry beyond the tolerance as decimal's report line with its\n"
    "difference, then a histogram of the differences, a summary and the verdict.\n"
    "Exit status: 0 pass, 1 fail, 2 trouble.\n";

struct options {
  enum { run, help, version } action = run;
  decimal::verdict_rules rules;
  std::optional<std::string> plot_file;
  bool quiet = false;
  std::string dir;
};

// A command line that cannot be run; what() says what is wrong with it.
struct usage_error : decimal::error {
  using decimal::error::error;
};

bool whole_match(std::string_view text, std::from_chars_result result) {
  return result.ec == std::errc() && result.ptr == text.data() + text.size();
}

// A whole number of plain digits from `min` to `max`.
std::optional<std::uint64_t> parse_whole(std::string_view text, std::uint64_t min,
                                         std::uint64_t max) {
  std::uint64_t n = 0;
  if (text.empty() || text.find_first_not_of("0123456789") != std::string_view::npos ||
      !whole_match(text, std::from_chars(text.data(), text.data() + text.size(), n)) || n < min ||
      n > max) {
    return std::nullopt;
  }
  return n;
}

std::uint64_t parse_tolerance(std::string_view text, const decimal::q_format& format) {
  const auto largest = static_cast<std::uint64_t>(format.highest_raw());
  const std::optional<std::uint64_t> n = parse_whole(text, 0, largest);
  if (!n) {
    throw usage_error("invalid tolerance " + decimal::quote(text) +
                      ": expected a whole number from 0 to " + std::to_string(largest) +
                      (format == decimal::q_format{} ? "" : " for " + format.name()));
  }
  return *n;
}

std::size_t parse_count(std::string_view text) {
  const std::optional<std::uint64_t> n = parse_whole(text, 1, SIZE_MAX);
  if (!n) {
    throw usage_error("invalid count " + decimal::quote(text) + ": expected a whole number from 1");
  }
  return *n;
}

decimal::q_format parse_format(std::string_view text) {
  const std::optional<decimal::q_format> format = decimal::parse_q_format(text);
  if (!format) {
    throw usage_error("invalid format " + decimal::quote(text) +
                      ": expected QM.N or QN, with M from 1 and M + N from 1 to 32 bits");
  }
  return *format;
}

double parse_decibels(std::string_view text) {
  double db = 0;
  if (!whole_match(text, std::from_chars(text.data(), text.data() + text.size(), db,
                                         std::chars_format::fixed)) ||
      !std::isfinite(db)) {
    throw usage_error("invalid minimum SNR " + decimal::quote(text) +
                      ": expected a decimal number of dB, such as 60 or 72.5");
  }
  return db;
}

// The option as the user wrote it, for a message.
std::string option_name(char** argv) {
  const std::string_view given = argv[optind - 1];
  if (given.starts_with("--")) return std::string(given.substr(0, given.find('=')));
  return std::string("-") + static_cast<char>(optopt);
}

options parse_command_line(int argc, char** argv) {
  enum : int { min_snr = 256, plot, version };
  static const option long_options[] = {{"format", required_argument, nullptr, 'f'},
                                        {"count", required_argument, nullptr, 'n'},
                                        {"tolerance", required_argument, nullptr, 't'},
                                        {"min-snr", required_argument, nullptr, min_snr},
                                        {"plot", required_argument, nullptr, plot},
                                        {"quiet", no_argument, nullptr, 'q'},
                                        {"help", no_argument, nullptr, 'h'},
                                        {"version", no_argument, nullptr, version},
                                        {nullptr, 0, nullptr, 0}};
  options chosen;
  // The tolerance's range depends on the format, which may come after it.
  std::optional<std::string_view> tolerance;
  opterr = 0;
  for (int c; (c = getopt_long(argc, argv, ":f:n:t:qh", long_options, nullptr)) != -1;) {
    switch (c) {
      case 'f':
        chosen.rules.format = parse_format(optarg);
        break;
      case 'n':
        chosen.rules.count = parse_count(optarg);
        break;
      case 't':
        tolerance = optarg;
        break;
      case min_snr:
        chosen.rules.min_snr_db = parse_decibels(optarg);
        break;
      case plot:
        if (!decimal::plot_format_of(optarg)) {
          throw usage_error("invalid plot file " + decimal::quote(optarg) +
                            ": the name must end in .svg or .png");
        }
        chosen.plot_file = optarg;
        break;
      case 'q':
        chosen.quiet = true;
        break;
      case 'h':
        chosen.action = options::help;
        return chosen;
      case version:
        chosen.action = options::version;
        return chosen;
      case ':':
        throw usage_error("option " + decimal::quote(option_name(argv)) + " needs a value");
      default: {
        const std::string_view given = argv[optind - 1];
        if (optopt == 0) {
          throw usage_error("unknown option " + decimal::quote(given.substr(0, given.find('='))));
        }
        if (given.starts_with("--") && (optopt == 'q' || optopt == 'h' || optopt == version)) {
          throw usage_error("option " + decimal::quote(option_name(argv)) + " takes no value");
        }
        throw usage_error("unknown option " + decimal::quote(option_name(argv)));
      }
    }
  }
  if (argc - optind > 1) {
    throw usage_error("more than one directory: " + decimal::quote(argv[optind]) + " and " +
                      decimal::quote(argv[optind + 1]));
  }
  if (optind < argc) {
    chosen.dir = argv[optind];
    // An unset shell variable must not quietly mean the current directory.
    if (chosen.dir.empty()) throw usage_error("invalid directory \"\": the name is empty");
  }
  if (tolerance) chosen.rules.tolerance = parse_tolerance(*tolerance, chosen.rules.format);
  return chosen;
}

void say(std::string_view text) {
  // Nothing better is left to do if standard error fails.
  [[maybe_unused]] const ssize_t ignored = ::write(STDERR_FILENO, text.data(), text.size());
}

}  // namespace

int main(int argc, char** argv) {
  try {
    const options chosen = parse_command_line(argc, argv);
    if (chosen.action == options::help) {
      decimal::write_all(STDOUT_FILENO, usage);
      return status_pass;
    }
    if (chosen.action == options::version) {
      decimal::write_all(STDOUT_FILENO, "decimal-diff " DECIMAL_VERSION "\n");
      return status_pass;
    }
    decimal::held_output lines;
    std::optional<decimal::envelope> plot_data;
    if (chosen.plot_file) plot_data.emplace();
    const decimal::run_verdict verdict =
        decimal::check_run(decimal::default_paths(chosen.dir), chosen.rules,
                           chosen.quiet ? nullptr : &lines, plot_data ? &*plot_data : nullptr);
    // The plot comes first, so that a run that fails to draw it writes nothing.
    if (chosen.plot_file) {
      decimal::draw_plot(*chosen.plot_file, {*plot_data, verdict, chosen.rules});
    }
    if (!chosen.quiet) {
      lines.append(
          decimal::render_closing(verdict.figures, chosen.rules.min_snr_db, verdict.reasons));
      lines.release(STDOUT_FILENO);
    }
    return verdict.pass() ? status_pass : status_fail;
  } catch (const usage_error& e) {
    say(std::string("decimal-diff: ") + e.what() + "\nTry 'decimal-diff --help'.\n");
    return status_trouble;
  } catch (const std::exception& e) {
    say(std::string("decimal-diff: ") + e.what() + "\n");
    return status_trouble;
  }
}
