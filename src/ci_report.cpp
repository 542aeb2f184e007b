#include "decimal/ci_report.hpp"

#include <unistd.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <nlohmann/json.hpp>
#include <pugixml.hpp>
#include <utility>

#include "decimal/channels.hpp"
#include "decimal/display.hpp"

namespace decimal {
namespace {

// Collects what pugixml writes.
struct string_writer : pugi::xml_writer {
  std::string text;
  void write(const void* data, std::size_t size) override {
    text.append(static_cast<const char*>(data), size);
  }
};

}  // namespace

std::string call_verdict_line(std::size_t directories, std::size_t failed, std::size_t in_trouble) {
  const std::string all = std::to_string(directories);
  if (in_trouble != 0) {
    return "TROUBLE: " + std::to_string(in_trouble) + " of " + all + " directories in trouble, " +
           std::to_string(failed) + " failed";
  }
  if (failed != 0) {
    return "FAIL: " + std::to_string(failed) + " of " + all + " directories failed, 0 in trouble";
  }
  return "PASS: all " + all + " directories passed";
}

std::array<shown_figure, 7> table_figures(const accumulator& figures) {
  const auto count = [](std::uint64_t n) {
    return shown_figure{std::to_string(n), std::to_string(n)};
  };
  std::array<shown_figure, 7> shown = {
      count(figures.entries() + figures.unknown() + figures.missing()),
      count(figures.beyond_tolerance()), count(figures.unknown())};
  if (figures.entries() == 0) return shown;  // none known in both
  if (figures.real_model()) {
    shown[3] = {fixed_decimal(figures.largest_lsb(), 3),
                shortest_decimal(std::fabs(figures.largest_lsb()))};
  } else {
    const std::uint64_t magnitude = figures.largest() < 0
                                        ? 0 - static_cast<std::uint64_t>(figures.largest())
                                        : static_cast<std::uint64_t>(figures.largest());
    shown[3] = {std::to_string(figures.largest()), std::to_string(magnitude)};
  }
  shown[4] = count(figures.largest_index());
  const std::string rms = fixed_decimal(figures.rms(), 3);
  shown[5] = {rms, rms};
  const double snr = figures.snr_db();
  // Sorted as numbers: infinities as the largest and smallest there are.
  shown[6] = {fixed_decimal(snr, 2) + " dB",
              std::isinf(snr) ? (snr > 0 ? "1e999" : "-1e999") : fixed_decimal(snr, 2)};
  return shown;
}

const char* verdict_name(run_outcome outcome) {
  switch (outcome) {
    case run_outcome::pass:
      return "pass";
    case run_outcome::fail:
      return "fail";
    case run_outcome::trouble:
      break;
  }
  return "trouble";
}

call_origin call_origin::now(std::string options) {
  call_origin origin;
  origin.options = std::move(options);
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  std::array<char, 32> text{};
  if (::localtime_r(&now, &local) != nullptr) {
    origin.timestamp.assign(text.data(),
                            std::strftime(text.data(), text.size(), "%Y-%m-%dT%H:%M:%S", &local));
  }
  std::array<char, 256> host{};
  if (::gethostname(host.data(), host.size() - 1) == 0) {
    origin.hostname = printable_utf8(host.data());
  }
  if (origin.hostname.empty()) origin.hostname = "localhost";
  return origin;
}

junit_report::junit_report(std::vector<report_property> settings, const std::string& suite)
    : settings_(std::move(settings)), suite_(printable_utf8(suite)), origin_(call_origin::now()) {}

void junit_report::add(directory_report report) { reports_.push_back(std::move(report)); }

std::string junit_report::text() const {
  pugi::xml_document document;
  pugi::xml_node declaration = document.append_child(pugi::node_declaration);
  declaration.append_attribute("version") = "1.0";
  declaration.append_attribute("encoding") = "UTF-8";
  std::size_t failures = 0;
  std::size_t errors = 0;
  double seconds = 0;
  for (const directory_report& report : reports_) {
    failures += report.outcome == run_outcome::fail ? 1 : 0;
    errors += report.outcome == run_outcome::trouble ? 1 : 0;
    seconds += report.seconds;
  }
  const auto counts = [&](pugi::xml_node node) {
    node.append_attribute("name") = suite_.c_str();
    node.append_attribute("tests") = static_cast<unsigned long long>(reports_.size());
    node.append_attribute("failures") = static_cast<unsigned long long>(failures);
    node.append_attribute("errors") = static_cast<unsigned long long>(errors);
  };
  pugi::xml_node suites = document.append_child("testsuites");
  counts(suites);
  suites.append_attribute("time") = fixed_decimal(seconds, 3).c_str();
  pugi::xml_node suite = suites.append_child("testsuite");
  counts(suite);
  suite.append_attribute("skipped") = 0;
  suite.append_attribute("time") = fixed_decimal(seconds, 3).c_str();
  suite.append_attribute("timestamp") = origin_.timestamp.c_str();
  suite.append_attribute("hostname") = origin_.hostname.c_str();
  pugi::xml_node properties = suite.append_child("properties");
  for (const report_property& setting : settings_) {
    pugi::xml_node property = properties.append_child("property");
    property.append_attribute("name") = setting.name.c_str();
    property.append_attribute("value") = setting.value.c_str();
  }
  for (const directory_report& report : reports_) {
    pugi::xml_node test = suite.append_child("testcase");
    // A glob's trailing "/" (vectors/*/) is no part of the test's name, so
    // that its history holds whichever way the directories were named.
    std::string_view directory = report.directory;
    while (directory.size() > 1 && directory.ends_with('/')) directory.remove_suffix(1);
    test.append_attribute("name") = shown_name(directory).c_str();
    test.append_attribute("classname") = suite_.c_str();
    test.append_attribute("time") = fixed_decimal(report.seconds, 3).c_str();
    std::string summary_line = "verdict: trouble";
    if (report.outcome == run_outcome::trouble) {
      pugi::xml_node error = test.append_child("error");
      error.append_attribute("message") = report.message.c_str();  // printable already
      error.append_attribute("type") = "trouble";
      error.text() = report.message.c_str();
    } else {
      if (report.outcome == run_outcome::fail) {
        pugi::xml_node failure = test.append_child("failure");
        failure.append_attribute("message") = joined_reasons(report.verdict->reasons).c_str();
        failure.append_attribute("type") = "fail";
        failure.text() = report.output.c_str();  // lines of numbers: printable already
      }
      summary_line = "summary: " + report.summary;
      if (!report.verdict->channels.empty()) {
        summary_line = channel_lines(*report.verdict);
        summary_line.pop_back();  // the last line feed
      }
    }
    // Jenkins' and GitLab's JUnit views show a file named so as the case's attachment.
    if (!report.attachment.empty()) {
      summary_line += "\n[[ATTACHMENT|" + printable_utf8(report.attachment) + "]]";
    }
    test.append_child("system-out").text() = summary_line.c_str();
  }
  string_writer out;
  std::size_t size = 1024;
  for (const directory_report& report : reports_) size += report.output.size() + 1024;
  out.text.reserve(size);  // one allocation: the pages of a large one are costly
  document.save(out, "  ", pugi::format_default, pugi::encoding_utf8);
  return std::move(out.text);
}

void junit_report::write(const output_file& file) const { file.write(text()); }

namespace {

// A whole number stays one, as integer runs have always had it.
nlohmann::ordered_json json_tolerance(double tolerance) {
  if (tolerance == std::floor(tolerance)) {
    return static_cast<std::uint64_t>(tolerance);
  }
  return tolerance;
}

// The figures of a run, or of one of its channels, into `line`.
void add_figures(nlohmann::ordered_json& line, const accumulator& figures,
                 const run_verdict& verdict) {
  line["count"] = figures.entries() + figures.unknown() + figures.missing();
  if (figures.unknown() != 0) {
    line["unknown"] = figures.unknown();
    nlohmann::ordered_json letters = nlohmann::ordered_json::object();
    for (const auto& [letter, n] : unknown_letter_tally(figures)) {
      letters[std::string(1, letter)] = n;
    }
    line["unknown_letters"] = letters;
  }
  if (figures.weak() != 0) line["weak"] = figures.weak();
  if (figures.missing() != 0) line["missing"] = figures.missing();
  line["beyond_tolerance"] = figures.beyond_tolerance();
  if (figures.entries() == 0) {
    // Every entry unknown: there are no figures.
    for (const char* field : {"largest", "largest_index", "mean", "rms", "snr_db"}) {
      line[field] = nullptr;
    }
  } else {
    if (figures.real_model()) {
      line["largest"] = figures.largest_lsb();
    } else {
      line["largest"] = figures.largest();
    }
    line["largest_index"] = figures.largest_index();
    line["mean"] = figures.mean();
    line["rms"] = figures.rms();
    // JSON has no infinities: they are the strings the summary shows.
    const double snr = figures.snr_db();
    if (std::isinf(snr)) {
      line["snr_db"] = snr > 0 ? "inf" : "-inf";
    } else {
      line["snr_db"] = snr;
    }
  }
  nlohmann::ordered_json bins = nlohmann::ordered_json::array();
  for (const histogram_bin& bin : figures.histogram().bins()) {
    if (bin.low == bin.high) {
      bins.push_back({bin.low, bin.count});
    } else {
      bins.push_back({{bin.low, bin.high}, bin.count});
    }
  }
  line["histogram"] = bins;
  if (verdict.shows_rounding && figures.entries() != 0) {
    line["rounding"] = {{"mean", figures.mean()}, {"rms", figures.rms()}};
  }
  if (verdict.shows_accuracy && figures.entries() != 0) {
    const std::optional<int> highest = highest_accuracy_level(figures);
    line["accuracy_highest"] = highest ? nlohmann::ordered_json(*highest) : nullptr;
  }
}

}  // namespace

std::string json_head(const directory_report& report, const json_settings& settings) {
  nlohmann::ordered_json line;
  // The path itself, for a consumer to open, where JSON can carry it.
  line["directory"] =
      valid_utf8(report.directory) ? report.directory : shown_name(report.directory);
  line["verdict"] = verdict_name(report.outcome);
  if (report.outcome == run_outcome::trouble) {
    line["message"] = report.message;  // printable already
  } else {
    line["reasons"] = report.verdict->reasons;
  }
  line["format"] = settings.rules.format.name();
  line["tolerance"] = json_tolerance(settings.rules.tolerance);
  line["skipped"] = settings.skipped;
  if (const delay_setting& delay = settings.rules.delay; delay.given) {
    // A delay still to be found when the run fell into trouble is unknown.
    const std::optional<applied_delay>& used =
        report.verdict ? report.verdict->delay : report.delay;
    if (used) {
      line["delay"] = used->entries;
    } else if (delay.automatic) {
      line["delay"] = nullptr;
    } else {
      line["delay"] = delay.entries;
    }
    line["delay_found"] = used && used->searched_within.has_value();
    if (used && used->search && used->search->equally_good.size() > 1) {
      // The delays the search could not tell apart: the stimulus repeats.
      line["delay_equally_good"] = used->search->equally_good;
      if (used->search->more_equally_good != 0) {
        line["delay_equally_good_more"] = used->search->more_equally_good;
      }
    }
    if (used && used->search && used->search->window_cut) {
      line["delay_search_window"] = used->search->window;
    }
  }
  if (settings.rules.min_snr_db) line["min_snr_db"] = *settings.rules.min_snr_db;
  if (settings.rules.max_mean) line["max_mean"] = *settings.rules.max_mean;
  if (settings.rules.accuracy) line["accuracy"] = *settings.rules.accuracy;
  if (report.verdict) {
    const run_verdict& verdict = *report.verdict;
    add_figures(line, verdict.figures, verdict);
    if (!verdict.channels.empty()) {
      if (verdict.figures.entries() != 0) line["largest_channel"] = verdict.largest_channel;
      nlohmann::ordered_json channels = nlohmann::ordered_json::array();
      for (const channel_verdict& c : verdict.channels) {
        const channel_limits limits = settings.rules.limits(c.channel);
        nlohmann::ordered_json one;
        one["channel"] = c.channel;
        one["name"] = c.name;
        one["reasons"] = c.reasons;
        one["tolerance"] = json_tolerance(limits.tolerance);
        if (limits.min_snr_db) one["min_snr_db"] = *limits.min_snr_db;
        if (limits.max_mean) one["max_mean"] = *limits.max_mean;
        if (limits.accuracy) one["accuracy"] = *limits.accuracy;
        add_figures(one, c.figures, verdict);
        channels.push_back(std::move(one));
      }
      line["channels"] = std::move(channels);
    }
    if (const std::optional<evm_figures>& evm = verdict.evm) {
      nlohmann::ordered_json e;
      e["reference"] = evm->reference == evm_reference::average ? "average" : "peak";
      e["frames"] = evm->frames;
      const auto finite = [](double ratio) {
        return std::isinf(ratio) ? nlohmann::ordered_json("inf")
                                 : nlohmann::ordered_json(ratio * 100);
      };
      if (evm->frames != 0) {
        e["rms_percent"] = finite(evm->rms);
        e["rms_db"] = evm->rms == 0 || std::isinf(evm->rms)
                          ? nlohmann::ordered_json(evm->rms == 0 ? "-inf" : "inf")
                          : nlohmann::ordered_json(20 * std::log10(evm->rms));
        e["peak_percent"] = finite(evm->peak);
        e["peak_index"] = evm->peak_index;
        e["percentile_95_percent"] = finite(evm->percentile_95);
      }
      if (settings.rules.channels.shape == tolerance_shape::circle) {
        e["beyond_tolerance"] = evm->beyond_circle;
      }
      if (const std::optional<evm_limit>& limit = settings.rules.channels.max_evm) {
        e[limit->decibels ? "max_evm_db" : "max_evm_percent"] = limit->value;
      }
      line["evm"] = std::move(e);
    }
  }
  std::string text = line.dump();
  text.pop_back();  // the closing brace: the entries follow
  return text + ",\"beyond\":[";
}

std::string json_entry(const entry_beyond& entry, int fraction_bits) {
  nlohmann::ordered_json object;
  object["index"] = entry.index;
  if (!entry.channel.empty()) object["channel"] = entry.channel;
  // null for a value the test bench could not tell, or one that is missing.
  const auto known = [](std::int64_t n) {
    return is_unknown(n) || n == missing_value ? nlohmann::ordered_json(nullptr)
                                               : nlohmann::ordered_json(n);
  };
  // A real model's value and difference are numbers with their double's shortest decimal.
  const auto real = [&](std::int64_t word, int exponent) {
    return is_unknown(word) || word == missing_value
               ? nlohmann::ordered_json(nullptr)
               : nlohmann::ordered_json(std::ldexp(real_of_word(word), exponent));
  };
  object["res_m"] = entry.real_model ? real(entry.res_m, -fraction_bits) : known(entry.res_m);
  object["res_c"] = known(entry.res_c);
  if (entry.sample) {
    object["sample"] = *entry.sample;
  } else {
    object["sample"] = nullptr;
  }
  object["diff"] = entry.real_model ? real(entry.difference, 0) : known(entry.difference);
  return object.dump();
}

std::string json_tail() { return "]}\n"; }

}  // namespace decimal
