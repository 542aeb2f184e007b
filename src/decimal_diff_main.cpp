// decimal-diff: tells whether an implementation's fixed-point results match
// the reference model's, within a tolerance in least significant bits.

#include <getopt.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "decimal/batch.hpp"
#include "decimal/channel_layout.hpp"
#include "decimal/command_line.hpp"
#include "decimal/display.hpp"
#include "decimal/ending_signals.hpp"
#include "decimal/error.hpp"
#include "decimal/output_file.hpp"
#include "decimal/plot.hpp"
#include "decimal/report.hpp"

namespace {

using decimal::status_pass;
using decimal::status_trouble;

constexpr std::string_view usage =
    "Usage: decimal-diff [OPTION]... [DIR]...\n"
    "Compare the implementation's results (DIR/results_c.txt) with the reference\n"
    "model's (DIR/results_m.txt), entry by entry, in least significant bits of\n"
    "their fixed-point format, and tell whether they agree. Every entry is\n"
    "compared. Each DIR is checked in turn; the current directory by default.\n"
    "\n"
    "  -f, --format=FMT   the results' format QM.N (or QN for Q1.N), UQM.N unsigned;\n"
    "                     default Q1.11\n"
    "  -n, --count=COUNT  compare only the first COUNT entries of each file\n"
    "  -t, --tolerance=N  let entries differ by up to N LSB (0 to 2^W-1; default 0);\n"
    "                     a fraction of one with a real model (0.5: correctly rounded)\n"
    "                     with several channels, one for each: -t 7,7,3 (so too\n"
    "                     --min-snr, --max-mean and --accuracy)\n"
    "      --min-snr=DB   fail also when the signal-to-noise ratio is below DB dB\n"
    "      --max-mean=LSB fail also when the mean difference (a bias) is beyond LSB\n"
    "      --accuracy=K   fail also when accuracy level K (1 to 40) is not met: rms at\n"
    "                     most 2^(N-K+1)/sqrt(12) LSB, largest at most 2^(N-K+2) LSB\n"
    "      --plot=FILE    draw the comparison into FILE (.svg or .png) with gnuplot\n"
    "      --skip=K       leave the first K entries (a warm-up) out of the verdict\n"
    "      --delay=N      compare model entry k with implementation entry k+N\n"
    "      --delay=auto   find N, from -D to D (--max-delay=D; default 256)\n"
    "      --model=NAME   the model's results file (default results_m.txt)\n"
    "      --impl=NAME    the implementation's results file (default results_c.txt)\n"
    "      --samples=NAME the samples file (default samples.txt; none for no samples)\n"
    "  -e, --encoding=FORM  how the files are written: dec (default), hex, bin\n"
    "                     (HDL words), chex (0x1f, -0x27), s8, s16le, s16be,\n"
    "                     s32le, s32be (raw words), npy (a NumPy .npy file)\n"
    "      --model-encoding=FORM, --impl-encoding=FORM, --samples-encoding=FORM\n"
    "                     the same for one file; the model's may also be real\n"
    "                     (0.447, -1.2e-05, 0x1.8p-3), f32le, f32be, f64le or f64be\n"
    "                     (IEEE words), in the format's real units\n"
    "      --model-format=FMT the model's integers are of FMT (a wider format)\n"
    "      --weak=unknown take VHDL's weak L and H as unknown, not as 0 and 1\n"
    "      --word-bits=B  the results' hex and binary words are B-bit patterns,\n"
    "                     sign-extended (fffc in 16 bits is -4)\n"
    "      --channels=N   the results are N channels (1 to 64) interleaved entry by\n"
    "                     entry (or N words a line); counts, --delay, --skip and\n"
    "                     --count are in frames of N entries\n"
    "      --samples-channels=N  samples a frame: 1 (default) or one per channel\n"
    "      --channel-names=LIST  the channels' names (I,Q); numbers from 0 otherwise\n"
    "      --select=LIST  compare only these channels (numbers or names)\n"
    "      --model-imag=NAME, --impl-imag=NAME  a complex result in two files:\n"
    "                     NAME holds the imaginary parts, the result file the real\n"
    "      --complex      channels 0 and 1 are I and Q: adds the error vector\n"
    "                     magnitude (EVM) to the model's average power\n"
    "      --evm-reference=REF  average (default) or peak: the model's power the\n"
    "                     EVM is relative to\n"
    "      --max-evm=LIMIT  fail also when the rms EVM is above LIMIT: a\n"
    "                     percentage (3.5) or a level in dB (-30dB)\n"
    "      --complex-tolerance=SHAPE  box (default: each part within -t) or\n"
    "                     circle (the error vector's magnitude within -t)\n"
    "      --json         one JSON object per directory per line instead of the text\n"
    "      --junit=FILE   also write a JUnit XML report into FILE\n"
    "      --junit-suite=NAME  its suite's name (default: decimal-diff and the\n"
    "                     options that change the verdict, such as -t 2)\n"
    "      --html=FILE    also write a page of every directory into FILE\n"
    "      --plot-dir=DIR draw each failed directory (the first 100) into\n"
    "                     DIR/NAME.png, named in the JUnit report\n"
    "      --summary=FILE also write a Markdown summary into FILE (appended to\n"
    "                     $GITHUB_STEP_SUMMARY by default when that is set)\n"
    "      --color[=WHEN] colour the verdicts: always, never or auto (default)\n"
    "  -q, --quiet        print nothing; the exit status tells\n"
    "  -h, --help         print this help and exit\n"
    "      --version      print the version and exit\n"
    "\n"
    "Prints each entry beyond the tolerance as decimal's report line with its\n"
    "difference, then a histogram of the differences, a summary and the verdict.\n"
    "Exit status: 0 every directory passes, 1 one fails, 2 one is in trouble.\n";

struct options {
  enum { run, help, version } action = run;
  decimal::batch_settings batch;
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

// A plain decimal number, such as 0.5 or 72.5: no sign, exponent or "inf".
std::optional<double> parse_plain_decimal(std::string_view text) {
  double value = 0;
  if (text.empty() || text.find_first_not_of("0123456789.") != std::string_view::npos ||
      !whole_match(text, std::from_chars(text.data(), text.data() + text.size(), value,
                                         std::chars_format::fixed))) {
    return std::nullopt;
  }
  return value;
}

// With a model that may be real, a tolerance may be a fraction of an LSB.
double parse_tolerance(std::string_view text, const decimal::q_format& format, bool real_model) {
  const auto largest = static_cast<std::uint64_t>(format.highest_raw());
  const std::string for_format = format == decimal::q_format{} ? "" : " for " + format.name();
  if (real_model) {
    const std::optional<double> lsb = parse_plain_decimal(text);
    if (!lsb || *lsb > static_cast<double>(largest)) {
      throw usage_error("invalid tolerance " + decimal::quote(text) +
                        ": expected a number of LSB from 0 to " + std::to_string(largest) +
                        for_format + ", such as 1 or 0.5");
    }
    return *lsb;
  }
  const std::optional<std::uint64_t> n = parse_whole(text, 0, largest);
  if (!n) {
    throw usage_error("invalid tolerance " + decimal::quote(text) +
                      ": expected a whole number from 0 to " + std::to_string(largest) +
                      for_format);
  }
  return static_cast<double>(*n);
}

double parse_max_mean(std::string_view text) {
  const std::optional<double> lsb = parse_plain_decimal(text);
  if (!lsb) {
    throw usage_error("invalid maximum mean " + decimal::quote(text) +
                      ": expected a number of LSB from 0, such as 0.25");
  }
  return *lsb;
}

int parse_accuracy(std::string_view text) {
  const std::optional<std::uint64_t> k = parse_whole(text, 1, decimal::max_accuracy_level);
  if (!k) {
    throw usage_error("invalid accuracy level " + decimal::quote(text) +
                      ": expected a whole number from 1 to " +
                      std::to_string(decimal::max_accuracy_level));
  }
  return static_cast<int>(*k);
}

std::uint64_t parse_skip(std::string_view text) {
  const std::optional<std::uint64_t> n = parse_whole(text, 0, UINT64_MAX);
  if (!n) throw usage_error("invalid skip " + decimal::quote(text) + ": expected a whole number");
  return *n;
}

// A file name inside each directory; "none" for the samples means no samples.
std::string parse_file_name(std::string_view option, std::string_view text) {
  if (text.empty())
    throw usage_error("invalid " + std::string(option) + " \"\": the name is empty");
  return std::string(text);
}

std::size_t parse_count(std::string_view text) {
  const std::optional<std::uint64_t> n = parse_whole(text, 1, SIZE_MAX);
  if (!n) {
    throw usage_error("invalid count " + decimal::quote(text) + ": expected a whole number from 1");
  }
  return *n;
}

// A whole number of entries, with a sign for a lagging model, or "auto".
decimal::delay_setting parse_delay(std::string_view text) {
  decimal::delay_setting delay;
  delay.given = true;
  if (text == "auto") {
    delay.automatic = true;
    return delay;
  }
  const bool negative = text.starts_with('-');
  const std::optional<std::uint64_t> n =
      parse_whole(negative ? text.substr(1) : text, 0, INT64_MAX);
  if (!n) {
    throw usage_error("invalid delay " + decimal::quote(text) +
                      ": expected a whole number of entries (may be negative) or auto");
  }
  delay.entries = negative ? -static_cast<std::int64_t>(*n) : static_cast<std::int64_t>(*n);
  return delay;
}

std::uint32_t parse_max_delay(std::string_view text) {
  const std::optional<std::uint64_t> n = parse_whole(text, 0, decimal::max_max_delay);
  if (!n) {
    throw usage_error("invalid maximum delay " + decimal::quote(text) +
                      ": expected a whole number from 0 to " +
                      std::to_string(decimal::max_max_delay));
  }
  return static_cast<std::uint32_t>(*n);
}

// --color's WHEN; none given means auto, as in GNU grep.
decimal::color_when parse_color(const char* text) {
  if (text == nullptr) return decimal::color_when::automatic;
  const std::string_view when = text;
  if (when == "auto" || when == "tty" || when == "if-tty") return decimal::color_when::automatic;
  if (when == "always" || when == "yes" || when == "force") return decimal::color_when::always;
  if (when == "never" || when == "no" || when == "none") return decimal::color_when::never;
  throw usage_error("invalid colour setting " + decimal::quote(when) +
                    ": expected auto, always or never");
}

decimal::encoding parse_encoding(std::string_view option, std::string_view text) {
  const std::optional<decimal::encoding> form = decimal::parse_encoding(text);
  if (!form) {
    throw usage_error("invalid " + std::string(option) + " " + decimal::quote(text) +
                      ": expected dec, hex, bin, chex, s8, s16le, s16be, s32le, s32be, real, "
                      "f32le, f32be, f64le, f64be or npy");
  }
  return *form;
}

decimal::q_format parse_format(std::string_view option, std::string_view text) {
  const std::optional<decimal::q_format> format = decimal::parse_q_format(text);
  if (!format) {
    const std::string invalid = "invalid " + std::string(option) + " " + decimal::quote(text);
    if (const std::optional<decimal::q_format> here = decimal::foreign_q_format(text)) {
      throw usage_error(invalid + ": that format is " + here->name() + " here" +
                        (text.starts_with('Q') ? ", where M counts the sign bit" : ""));
    }
    throw usage_error(invalid +
                      ": expected QM.N or QN (signed, M from 1), or UQM.N or UQN (unsigned), "
                      "M + N from 1 to 32 bits");
  }
  return *format;
}

unsigned parse_word_bits(std::string_view text) {
  const std::optional<std::uint64_t> n = parse_whole(text, 8, 64);
  if (!n) {
    throw usage_error("invalid word size " + decimal::quote(text) +
                      ": expected a whole number of bits from 8 to 64");
  }
  return static_cast<unsigned>(*n);
}

double parse_decibels(std::string_view text) {
  double db = 0;
  if (!whole_match(text, std::from_chars(text.data(), text.data() + text.size(), db,
                                         std::chars_format::fixed)) ||
      !std::isfinite(db)) {
    throw usage_error("invalid minimum SNR " + decimal::quote(text) +
                      ": expected a decimal number of dB, such as 60 or 72.5");
  }
  return db == 0 ? 0.0 : db;  // -0 is shown as 0
}

// The words of a comma-separated list, "7,7,3"; one word for a plain value.
std::vector<std::string_view> list_words(std::string_view text) {
  std::vector<std::string_view> words;
  for (std::size_t start = 0;;) {
    const std::size_t comma = text.find(',', start);
    words.push_back(text.substr(start, comma - start));
    if (comma == std::string_view::npos) return words;
    start = comma + 1;
  }
}

std::size_t parse_channels(std::string_view option, std::string_view text) {
  const std::optional<std::uint64_t> n = parse_whole(text, 1, decimal::max_channels);
  if (!n) {
    throw usage_error("invalid " + std::string(option) + " " + decimal::quote(text) +
                      ": expected a whole number from 1 to " +
                      std::to_string(decimal::max_channels));
  }
  return *n;
}

// --channel-names: one short name of letters, digits, '_' or '-' for each channel.
std::vector<std::string> parse_channel_names(std::string_view text, std::size_t channels) {
  std::vector<std::string> names;
  for (const std::string_view word : list_words(text)) {
    const bool plain = !word.empty() && word.size() <= decimal::max_channel_name &&
                       word.find_first_not_of(
                           "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_-") ==
                           std::string_view::npos;
    if (!plain) {
      throw usage_error("invalid channel name " + decimal::quote(word) + ": expected 1 to " +
                        std::to_string(decimal::max_channel_name) + " letters, digits, '_' or '-'");
    }
    for (const std::string& earlier : names) {
      if (earlier == word)
        throw usage_error("channel name " + decimal::quote(word) + " given twice");
    }
    names.emplace_back(word);
  }
  if (names.size() != channels) {
    throw usage_error("--channel-names names " + std::to_string(names.size()) + " channels of " +
                      std::to_string(channels) + ": give one name for each");
  }
  return names;
}

// --select: channels by number or name, in ascending order of channel.
std::vector<std::size_t> parse_selection(std::string_view text,
                                         const decimal::channel_layout& layout) {
  std::vector<std::size_t> chosen;
  for (const std::string_view word : list_words(text)) {
    std::optional<std::size_t> channel;
    for (std::size_t c = 0; c < layout.count && !channel; ++c) {
      if (layout.name(c) == word) channel = c;
    }
    if (!channel) {
      if (const std::optional<std::uint64_t> n = parse_whole(word, 0, layout.count - 1))
        channel = *n;
    }
    if (!channel) {
      throw usage_error("invalid --select " + decimal::quote(word) +
                        ": expected a channel from 0 to " + std::to_string(layout.count - 1) +
                        (layout.names.empty() ? "" : " or its name"));
    }
    if (std::find(chosen.begin(), chosen.end(), *channel) != chosen.end()) {
      throw usage_error("channel " + decimal::quote(word) + " selected twice");
    }
    chosen.push_back(*channel);
  }
  std::sort(chosen.begin(), chosen.end());
  return chosen;
}

// --max-evm: a percentage, or a level with a dB suffix (-30dB).
decimal::evm_limit parse_max_evm(std::string_view text) {
  decimal::evm_limit limit;
  std::string_view number = text;
  if (number.ends_with("dB") || number.ends_with("db")) {
    limit.decibels = true;
    number.remove_suffix(2);
  } else if (number.ends_with('%')) {
    number.remove_suffix(1);
  }
  double value = 0;
  const bool read =
      whole_match(number, std::from_chars(number.data(), number.data() + number.size(), value,
                                          std::chars_format::fixed)) &&
      std::isfinite(value);
  if (!read || (!limit.decibels && (value <= 0 || number.starts_with('-')))) {
    throw usage_error("invalid maximum EVM " + decimal::quote(text) +
                      ": expected a percentage such as 3.5, or dB such as -30dB");
  }
  limit.value = value == 0 ? 0.0 : value;
  return limit;
}

// A value for each channel from a list of one, or of one per channel.
template <typename Parse>
void per_channel(std::string_view option, std::string_view text, std::size_t channels,
                 std::vector<decimal::channel_limits>& limits, Parse parse) {
  const std::vector<std::string_view> words = list_words(text);
  if (words.size() != 1 && words.size() != channels) {
    throw usage_error(std::string(option) + " gives " + std::to_string(words.size()) +
                      " values for " + std::to_string(channels) +
                      (channels == 1 ? " channel" : " channels") +
                      ": give one, or one for each channel");
  }
  for (std::size_t c = 0; c < channels; ++c) parse(limits[c], words[words.size() == 1 ? 0 : c]);
}

// The option as the user wrote it, for a message.
std::string option_name(char** argv) {
  const std::string_view given = argv[optind - 1];
  if (given.starts_with("--")) return std::string(given.substr(0, given.find('=')));
  return std::string("-") + static_cast<char>(optopt);
}

// getopt_long's table, made from the one list of long options.
const std::array<option, decimal::decimal_diff_options.size() + 1> long_options = [] {
  std::array<option, decimal::decimal_diff_options.size() + 1> table{};
  for (std::size_t i = 0; i < decimal::decimal_diff_options.size(); ++i) {
    const decimal::long_option& o = decimal::decimal_diff_options[i];
    const int argument = o.argument == decimal::option_argument::none       ? no_argument
                         : o.argument == decimal::option_argument::required ? required_argument
                                                                            : optional_argument;
    table[i] = {o.name, argument, nullptr, o.id};
  }
  return table;  // ends with a zero entry
}();

// What the command line gave for the channels and their limits, as written.
struct channel_options {
  std::optional<std::string_view> tolerance;
  std::optional<std::string_view> min_snr;
  std::optional<std::string_view> max_mean;
  std::optional<std::string_view> accuracy;
  std::optional<std::string_view> names;
  std::optional<std::string_view> selection;
  std::optional<std::size_t> channels;
  std::optional<std::size_t> samples_channels;
  std::optional<std::string_view> evm_reference;
  std::optional<std::string_view> max_evm;
  std::optional<std::string_view> shape;
};

// Sets the rules' limits (one, or one per channel) and the channel layout.
void apply_channels(decimal::verdict_rules& rules, decimal::batch_settings& batch, bool real_model,
                    const channel_options& given) {
  decimal::channel_layout& layout = rules.channels;
  const bool two_files = batch.results_m_imag_name || batch.results_c_imag_name;
  layout.count = given.channels.value_or(two_files || layout.complex ? 2 : 1);
  if (two_files && layout.count != 2) {
    throw usage_error(
        "--model-imag and --impl-imag give a result in two files: its 2 channels, "
        "not --channels=" +
        std::to_string(layout.count));
  }
  if (layout.complex && layout.count != 2) {
    throw usage_error("--complex takes 2 channels, I and Q, not --channels=" +
                      std::to_string(layout.count));
  }
  if (given.samples_channels) {
    if (*given.samples_channels != 1 && *given.samples_channels != layout.count) {
      throw usage_error("invalid --samples-channels \"" + std::to_string(*given.samples_channels) +
                        "\": expected 1 (a sample a frame) or " + std::to_string(layout.count) +
                        " (one for each channel)");
    }
    batch.sample_per_entry = *given.samples_channels == layout.count && layout.count > 1;
  }
  // Counts and delays are frames, read as entries: they must stay counts of entries.
  if (rules.count && *rules.count > SIZE_MAX / layout.count) {
    throw usage_error("invalid count \"" + std::to_string(*rules.count) +
                      "\": too many frames of " + std::to_string(layout.count) + " entries");
  }
  const std::uint64_t delay_frames = rules.delay.entries < 0
                                         ? -static_cast<std::uint64_t>(rules.delay.entries)
                                         : static_cast<std::uint64_t>(rules.delay.entries);
  if (delay_frames > INT64_MAX / layout.count) {
    throw usage_error("invalid delay \"" + std::to_string(rules.delay.entries) +
                      "\": too many frames of " + std::to_string(layout.count) + " entries");
  }
  if (given.names) layout.names = parse_channel_names(*given.names, layout.count);
  if (layout.complex && layout.names.empty()) layout.names = {"I", "Q"};
  if (given.selection) layout.selected = parse_selection(*given.selection, layout);
  if (layout.complex && !layout.selected.empty() && layout.selected.size() != 2) {
    throw usage_error("--complex compares I and Q together: --select cannot leave one out");
  }
  // One value for every channel, or one each; a single channel keeps the rules' own fields.
  std::vector<decimal::channel_limits> limits(layout.count);
  if (given.tolerance) {
    per_channel("--tolerance", *given.tolerance, layout.count, limits,
                [&](decimal::channel_limits& l, std::string_view word) {
                  l.tolerance = parse_tolerance(word, rules.format, real_model);
                });
  }
  if (given.min_snr) {
    per_channel("--min-snr", *given.min_snr, layout.count, limits,
                [](decimal::channel_limits& l, std::string_view word) {
                  l.min_snr_db = parse_decibels(word);
                });
  }
  if (given.max_mean) {
    per_channel("--max-mean", *given.max_mean, layout.count, limits,
                [](decimal::channel_limits& l, std::string_view word) {
                  l.max_mean = parse_max_mean(word);
                });
  }
  if (given.accuracy) {
    per_channel("--accuracy", *given.accuracy, layout.count, limits,
                [](decimal::channel_limits& l, std::string_view word) {
                  l.accuracy = parse_accuracy(word);
                });
  }
  rules.tolerance = limits[0].tolerance;
  rules.min_snr_db = limits[0].min_snr_db;
  rules.max_mean = limits[0].max_mean;
  rules.accuracy = limits[0].accuracy;
  if (layout.several()) layout.limits = std::move(limits);
  const bool complex_only = given.shape || given.evm_reference || given.max_evm;
  if (complex_only && !layout.complex) {
    throw usage_error(std::string(given.shape           ? "--complex-tolerance"
                                  : given.evm_reference ? "--evm-reference"
                                                        : "--max-evm") +
                      " is of a complex run: give --complex too");
  }
  if (given.shape) {
    if (*given.shape != "box" && *given.shape != "circle") {
      throw usage_error("invalid --complex-tolerance " + decimal::quote(*given.shape) +
                        ": expected box or circle");
    }
    layout.shape =
        *given.shape == "circle" ? decimal::tolerance_shape::circle : decimal::tolerance_shape::box;
    if (layout.shape == decimal::tolerance_shape::circle &&
        layout.limits[0].tolerance != layout.limits[1].tolerance) {
      throw usage_error("--complex-tolerance=circle holds |error| to one tolerance: give one -t");
    }
  }
  if (given.evm_reference) {
    if (*given.evm_reference != "average" && *given.evm_reference != "peak") {
      throw usage_error("invalid --evm-reference " + decimal::quote(*given.evm_reference) +
                        ": expected average or peak");
    }
    layout.reference = *given.evm_reference == "peak" ? decimal::evm_reference::peak
                                                      : decimal::evm_reference::average;
  }
  if (given.max_evm) layout.max_evm = parse_max_evm(*given.max_evm);
}

options parse_command_line(int argc, char** argv) {
  using namespace decimal;  // the option ids
  options chosen;
  decimal::batch_settings& batch = chosen.batch;
  decimal::verdict_rules& rules = batch.rules;
  // The tolerance's range depends on the format, which may come after it.
  std::optional<std::string_view> tolerance;
  // Each may be a list, one per channel, and --channels may come after it.
  std::optional<std::string_view> min_snr;
  std::optional<std::string_view> max_mean;
  std::optional<std::string_view> accuracy;
  std::optional<std::string_view> channel_names;
  std::optional<std::string_view> selection;
  std::optional<std::size_t> channels_given;
  std::optional<std::size_t> samples_channels;
  std::optional<std::string_view> evm_reference;
  std::optional<std::string_view> max_evm;
  std::optional<std::string_view> shape;
  std::optional<std::uint32_t> max_delay_given;
  decimal::color_when color_given =
      decimal::color_when::automatic;  // for --delay=auto, given before or after it
  // The encodings given for one file, which --encoding does not change.
  std::optional<decimal::encoding> model_form;
  std::optional<decimal::encoding> impl_form;
  std::optional<decimal::encoding> samples_form;
  opterr = 0;
  for (int c; (c = getopt_long(argc, argv, ":f:n:t:e:qh", long_options.data(), nullptr)) != -1;) {
    switch (c) {
      case 'f':
        rules.format = parse_format("format", optarg);
        break;
      case 'n':
        rules.count = parse_count(optarg);
        break;
      case 't':
        tolerance = optarg;
        break;
      case option_min_snr:
        min_snr = optarg;
        break;
      case option_skip:
        rules.skip = parse_skip(optarg);
        break;
      case option_delay:
        rules.delay = parse_delay(optarg);
        break;
      case option_max_delay:
        max_delay_given = parse_max_delay(optarg);
        break;
      case option_model:
        batch.results_m_name = parse_file_name("model file name", optarg);
        break;
      case option_impl:
        batch.results_c_name = parse_file_name("implementation file name", optarg);
        break;
      case option_samples:
        batch.samples_name = parse_file_name("samples file name", optarg);
        if (*batch.samples_name == "none") batch.samples_name.reset();
        break;
      case 'e': {
        const decimal::encoding form = parse_encoding("encoding", optarg);
        // One file's own encoding holds whichever comes first.
        if (!model_form) batch.encodings.results_m = form;
        if (!impl_form) batch.encodings.results_c = form;
        if (!samples_form) batch.encodings.samples = form;
        break;
      }
      case option_model_encoding:
        model_form = batch.encodings.results_m = parse_encoding("model encoding", optarg);
        break;
      case option_impl_encoding:
        impl_form = batch.encodings.results_c = parse_encoding("implementation encoding", optarg);
        break;
      case option_weak:
        if (std::string_view(optarg) != "unknown" && std::string_view(optarg) != "known") {
          throw usage_error("invalid --weak " + decimal::quote(optarg) +
                            ": expected unknown or known");
        }
        batch.encodings.weak_unknown = std::string_view(optarg) == "unknown";
        break;
      case option_model_format:
        batch.encodings.model_format = parse_format("model format", optarg);
        break;
      case option_max_mean:
        max_mean = optarg;
        break;
      case option_accuracy:
        accuracy = optarg;
        break;
      case option_channels:
        channels_given = parse_channels("--channels", optarg);
        break;
      case option_samples_channels:
        samples_channels = parse_channels("--samples-channels", optarg);
        break;
      case option_channel_names:
        channel_names = optarg;
        break;
      case option_select:
        selection = optarg;
        break;
      case option_model_imag:
        batch.results_m_imag_name = parse_file_name("model imaginary parts' file name", optarg);
        break;
      case option_impl_imag:
        batch.results_c_imag_name =
            parse_file_name("implementation imaginary parts' file name", optarg);
        break;
      case option_complex:
        rules.channels.complex = true;
        break;
      case option_complex_tolerance:
        shape = optarg;
        break;
      case option_evm_reference:
        evm_reference = optarg;
        break;
      case option_max_evm:
        max_evm = optarg;
        break;
      case option_word_bits:
        batch.encodings.word_bits = parse_word_bits(optarg);
        break;
      case option_samples_encoding:
        samples_form = batch.encodings.samples = parse_encoding("samples encoding", optarg);
        break;
      case option_plot:
        if (!decimal::plot_format_of(optarg)) {
          throw usage_error("invalid plot file " + decimal::quote(optarg) +
                            ": the name must end in .svg or .png");
        }
        batch.plot_file = optarg;
        break;
      case option_plot_dir:
        batch.plot_dir = parse_file_name("plot directory", optarg);
        break;
      case option_json:
        batch.json = true;
        break;
      case option_junit:
        batch.junit_file = parse_file_name("JUnit report name", optarg);
        break;
      case option_junit_suite:
        batch.junit_suite = parse_file_name("JUnit suite name", optarg);
        break;
      case option_color:
        color_given = parse_color(optarg);
        break;
      case option_html:
        batch.html_file = parse_file_name("HTML page name", optarg);
        break;
      case option_summary:
        batch.summary_file = parse_file_name("summary name", optarg);
        break;
      case 'q':
        batch.quiet = true;
        break;
      case 'h':
        chosen.action = options::help;
        return chosen;
      case option_version:
        chosen.action = options::version;
        return chosen;
      case ':':
        throw usage_error("option " + decimal::quote(option_name(argv)) + " needs a value");
      default: {
        const std::string_view given = argv[optind - 1];
        if (optopt == 0) {
          throw usage_error("unknown option " + decimal::quote(given.substr(0, given.find('='))));
        }
        // "--quiet=1" (or "--qui=1"): a long option given a value it does not take. A
        // short option in a cluster ("-dash") may come with the previous
        // word in `given`, so the option must be the one it names.
        if (given.starts_with("--") && given.find('=') != std::string_view::npos) {
          const std::string_view name = given.substr(2, given.find('=') - 2);
          for (const option* o = long_options.data(); o->name != nullptr; ++o) {
            if (std::string_view(o->name).starts_with(name) && o->val == optopt) {
              throw usage_error("option " + decimal::quote(given.substr(0, given.find('='))) +
                                " takes no value");
            }
          }
        }
        throw usage_error("unknown option " +
                          decimal::quote(std::string("-") + static_cast<char>(optopt)));
      }
    }
  }
  batch.options = "decimal-diff";
  for (int i = 1; i < optind; ++i) {
    const std::string word = decimal::shown_name(argv[i]);
    const bool plain = word.find_first_of(" '\"\\$`;&|<>()*?[]#~") == std::string::npos;
    batch.options += plain ? " " + word : " '" + word + "'";
  }
  for (int i = optind; i < argc; ++i) {
    // An unset shell variable must not quietly mean the current directory.
    if (*argv[i] == '\0') throw usage_error("invalid directory \"\": the name is empty");
    batch.directories.emplace_back(argv[i]);
  }
  if (batch.plot_file && batch.plot_dir) {
    throw usage_error("--plot and --plot-dir both draw: give one of them");
  }
  if (batch.plot_file && batch.directories.size() > 1) {
    throw usage_error("--plot draws one directory's comparison: give one DIR, or one call each");
  }
  if (rules.count && rules.skip >= *rules.count) {
    throw usage_error("invalid skip \"" + std::to_string(rules.skip) +
                      "\": it must be below the count " + std::to_string(*rules.count));
  }
  const decimal::run_encodings& forms = batch.encodings;
  for (const auto& [form, whose] : {std::pair(forms.results_c, "implementation's results"),
                                    std::pair(forms.samples, "samples")}) {
    if (decimal::is_real(form)) {
      throw usage_error("the " + std::string(whose) + " must be integers of the format, not " +
                        std::string(decimal::encoding_name(form)) +
                        ": only the model's may be real values");
    }
  }
  if (forms.model_format && decimal::is_real(forms.results_m)) {
    throw usage_error("--model-format reads the model's integers: a " +
                      std::string(decimal::encoding_name(forms.results_m)) +
                      " model holds real values of its own");
  }
  const bool real_model = decimal::is_real(forms.results_m) ||
                          forms.results_m == decimal::encoding::npy ||
                          (forms.model_format && !(*forms.model_format == rules.format));
  apply_channels(rules, batch, real_model,
                 {tolerance, min_snr, max_mean, accuracy, channel_names, selection, channels_given,
                  samples_channels, evm_reference, max_evm, shape});
  if (const unsigned bits = batch.encodings.word_bits; bits != 0) {
    if (!decimal::is_radix(batch.encodings.results_m) &&
        !decimal::is_radix(batch.encodings.results_c)) {
      throw usage_error(
          "--word-bits sizes hex and binary words: neither result file is written so");
    }
    if (static_cast<int>(bits) < rules.format.width()) {
      throw usage_error("invalid word size \"" + std::to_string(bits) + "\": narrower than " +
                        rules.format.name() + "'s " + std::to_string(rules.format.width()) +
                        " bits");
    }
  }
  // A CI step's summary, as GitHub Actions asks for one.
  if (const char* step = std::getenv("GITHUB_STEP_SUMMARY");
      step != nullptr && *step != '\0' && !batch.summary_file) {
    batch.step_summary = step;
  }
  // A dumb terminal (an editor's compile buffer) cannot rewrite a line.
  const char* terminal = std::getenv("TERM");
  batch.progress =
      ::isatty(STDERR_FILENO) == 1 && (terminal == nullptr || std::string_view(terminal) != "dumb");
  batch.color = decimal::use_color(color_given, ::isatty(STDOUT_FILENO) == 1,
                                   std::getenv("NO_COLOR"), std::getenv("TERM"));
  if (max_delay_given) {
    if (!rules.delay.automatic) throw usage_error("--max-delay bounds --delay=auto: give both");
    rules.delay.max_delay = *max_delay_given;
  }
  return chosen;
}

void say(std::string_view text) {
  // Nothing better is left to do if standard error fails.
  [[maybe_unused]] const ssize_t ignored = ::write(STDERR_FILENO, text.data(), text.size());
}

}  // namespace

int main(int argc, char** argv) {
  decimal::open_standard_descriptors();
  decimal::report_file_size_limit_as_an_error();
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
    return decimal::run_batch(chosen.batch);
  } catch (const usage_error& e) {
    say(std::string("decimal-diff: ") + e.what() + "\nTry 'decimal-diff --help'.\n");
    return status_trouble;
  } catch (const decimal::error& e) {
    say(std::string("decimal-diff: ") + e.what() + "\n");
    return status_trouble;
  } catch (const std::bad_alloc&) {
    say("decimal-diff: out of memory\n");
    return status_trouble;
  } catch (const std::system_error& e) {
    say("decimal-diff: " + e.code().message() + "\n");
    return status_trouble;
  } catch (...) {
    say("decimal-diff: unexpected failure\n");  // never a library's own words
    return status_trouble;
  }
}
