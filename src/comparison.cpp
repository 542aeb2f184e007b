#include "decimal/comparison.hpp"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string_view>

#include "decimal/channels.hpp"
#include "decimal/display.hpp"
#include "decimal/error.hpp"
#include "decimal/run.hpp"

namespace decimal {
namespace {

char* put(char* out, std::string_view text) {
  std::memcpy(out, text.data(), text.size());
  return out + text.size();
}

}  // namespace

bool add_with_unknowns(accumulator& figures, std::span<const std::int64_t> model,
                       std::span<const std::int64_t> implementation,
                       std::span<std::int64_t> differences) {
  bool shown = false;
  std::size_t start = 0;
  for (std::size_t i = 0; i <= model.size(); ++i) {
    const bool unknown =
        i < model.size() && (is_unknown(model[i]) || is_unknown(implementation[i]));
    if (i < model.size() && !unknown) continue;
    if (i > start) {
      shown |=
          figures.add(model.subspan(start, i - start), implementation.subspan(start, i - start),
                      differences.subspan(start, i - start));
    }
    if (unknown) {
      // The implementation's letter, where it has one, is the entry's.
      differences[i] = is_unknown(implementation[i]) ? implementation[i] : model[i];
      figures.add_unknown(unknown_letter(differences[i]));
      shown = true;
    }
    start = i + 1;
  }
  return shown;
}

std::vector<std::pair<char, std::uint64_t>> unknown_letter_tally(const accumulator& figures) {
  std::vector<std::pair<char, std::uint64_t>> tally;
  for (const char letter : std::string_view("UXZW-LH")) {
    const std::uint64_t n = figures.unknown_letters()[*unknown_letter_index(letter, true)];
    if (n != 0) tally.emplace_back(letter, n);
  }
  return tally;
}

namespace {

// `value` with three decimals, unless they round it to or past `limit`, which
// it exceeds: then as many as tell it from the limit.
std::string beyond_limit(double value, double limit) {
  const std::string shown = fixed_decimal(value, 3);
  return std::fabs(std::stod(shown)) > limit ? shown : shortest_decimal(value);
}

}  // namespace

double accuracy_rms_limit(int fraction_bits, int level) {
  return std::ldexp(1.0, fraction_bits - level + 1) / std::sqrt(12.0);
}

double accuracy_largest_limit(int fraction_bits, int level) {
  return std::ldexp(1.0, fraction_bits - level + 2);
}

namespace {

bool meets_level(const accumulator& figures, int level) {
  const int n = figures.format().fraction_bits;
  return figures.rms() <= accuracy_rms_limit(n, level) &&
         std::fabs(figures.largest_lsb()) <= accuracy_largest_limit(n, level);
}

}  // namespace

std::optional<int> highest_accuracy_level(const accumulator& figures) {
  std::optional<int> highest;
  // Each level's limits are half the last's: the levels met run from 1 up.
  for (int level = 1; level <= max_accuracy_level && meets_level(figures, level); ++level) {
    highest = level;
  }
  return highest;
}

std::string rounding_lines(const accumulator& figures, bool rounding, bool accuracy_line,
                           const std::optional<int>& accuracy) {
  std::string out;
  if (rounding) {
    std::array<char, 160> text;
    const int n = std::snprintf(text.data(), text.size(),
                                "rounding: mean %.3f LSB, rms %.3f LSB (ideal rounding: mean 0, "
                                "rms %.3f LSB)\n",
                                figures.mean(), figures.rms(), 1 / std::sqrt(12.0));
    out.append(text.data(), static_cast<std::size_t>(n));
  }
  if (accuracy_line) {
    out += "accuracy: ";
    if (accuracy) {
      out += "level " + std::to_string(*accuracy) +
             (meets_level(figures, *accuracy) ? " met; " : " not met; ");
    }
    const std::optional<int> highest = highest_accuracy_level(figures);
    out += "highest level met: " + (highest ? std::to_string(*highest) : "none") + '\n';
  }
  return out;
}

std::vector<std::string> fail_reasons(const accumulator& figures,
                                      const std::optional<double>& min_snr_db,
                                      const std::optional<double>& max_mean,
                                      const std::optional<int>& accuracy) {
  std::vector<std::string> reasons;
  if (const std::uint64_t beyond = figures.beyond_tolerance(); beyond != 0) {
    reasons.push_back(std::to_string(beyond) + (beyond == 1 ? " entry" : " entries") + " beyond " +
                      shortest_decimal(figures.tolerance()) + " LSB");
  }
  if (const std::uint64_t unknown = figures.unknown(); unknown != 0) {
    reasons.push_back(std::to_string(unknown) + (unknown == 1 ? " entry" : " entries") +
                      " unknown");
  }
  if (const std::uint64_t missing = figures.missing(); missing != 0) {
    const bool model = figures.missing_model_entries();
    reasons.push_back(std::to_string(missing) + (model ? " model" : " implementation") +
                      (missing == 1 ? " entry" : " entries") + " without " +
                      (model ? "an implementation entry" : "a model entry"));
  }
  const double snr = figures.snr_db();
  // The SNR is over the entries known in both; with none, there is none.
  if (min_snr_db && figures.entries() != 0 && snr < *min_snr_db) {
    // As the summary shows it, unless that rounds up to the minimum: then
    // rounded down, so that the figure shown is below the minimum too.
    double shown = snr;
    if (std::isfinite(snr) && std::stod(fixed_decimal(snr, 2)) >= *min_snr_db) {
      shown = std::floor(snr * 100) / 100;
    }
    reasons.push_back("snr " + fixed_decimal(shown, 2) + " dB below " +
                      shortest_decimal(*min_snr_db) + " dB");
  }
  // The mean and the levels are over the entries known in both, as the SNR is.
  if (max_mean && figures.entries() != 0 && std::fabs(figures.mean()) > *max_mean) {
    reasons.push_back("mean " + beyond_limit(figures.mean(), *max_mean) + " LSB beyond \u00b1" +
                      shortest_decimal(*max_mean) + " LSB");
  }
  if (accuracy && figures.entries() != 0 && !meets_level(figures, *accuracy)) {
    const int n = figures.format().fraction_bits;
    const double rms_limit = accuracy_rms_limit(n, *accuracy);
    const double largest_limit = accuracy_largest_limit(n, *accuracy);
    const std::string why =
        figures.rms() > rms_limit
            ? "rms " + beyond_limit(figures.rms(), rms_limit) + " > " + fixed_decimal(rms_limit, 3)
            : "largest " + shortest_decimal(std::fabs(figures.largest_lsb())) + " > " +
                  shortest_decimal(largest_limit);
    reasons.push_back("accuracy level " + std::to_string(*accuracy) + " not met (" + why + " LSB)");
  }
  return reasons;
}

char* render_entry_line(char* out, const q_format& format, std::uint64_t index, std::int64_t res_m,
                        std::int64_t res_c, std::optional<std::int64_t> sample,
                        std::int64_t difference, bool real_model, std::string_view channel) {
  char* const limit = out + max_entry_line;
  const int decimals = format.decimals();
  out = put(out, "index:");
  out = std::to_chars(out, limit, index).ptr;
  if (!channel.empty()) {
    *out++ = '.';
    out = put(out, channel);
  }
  const auto result = [&](std::int64_t raw) {
    if (is_unknown(raw)) return put(out, "x");
    if (raw == missing_value) return put(out, "none");
    return std::to_chars(out, limit, format.real(raw), std::chars_format::fixed, decimals).ptr;
  };
  out = put(out, ", res_m:");
  if (real_model && !is_unknown(res_m) && res_m != missing_value) {
    out = std::to_chars(out, limit, std::ldexp(real_of_word(res_m), -format.fraction_bits),
                        std::chars_format::fixed, decimals)
              .ptr;
  } else {
    out = result(res_m);
  }
  out = put(out, ", res_c:");
  out = result(res_c);
  if (sample) {
    out = put(out, ", samp:");
    out = std::to_chars(out, limit, *sample).ptr;
  }
  out = put(out, ", diff:");
  out = is_unknown(difference)        ? put(out, "x")
        : difference == missing_value ? put(out, "none")
        : real_model
            ? std::to_chars(out, limit, real_of_word(difference), std::chars_format::fixed, 3).ptr
            : std::to_chars(out, limit, difference).ptr;
  *out++ = '\n';
  return out;
}

char* render_entry_line(char* out, const q_format& format, const entry_beyond& entry) {
  return render_entry_line(out, format, entry.index, entry.res_m, entry.res_c, entry.sample,
                           entry.difference, entry.real_model, entry.channel);
}

std::string summary_figures(const accumulator& figures, const std::optional<double>& min_snr_db,
                            std::uint64_t skipped, std::int64_t lead_in,
                            const summary_naming& naming) {
  const std::uint64_t all = figures.entries() + figures.unknown() + figures.missing();
  std::string entries = all == 1 ? "entry" : "entries";
  if (skipped != 0) entries += " (" + std::to_string(skipped) + " skipped)";
  std::string summary =
      std::to_string(figures.beyond_tolerance()) + " of " + std::to_string(all) + " " + entries +
      (all == 1 ? " differs" : " differ") + " by more than " +
      (naming.tolerance.empty() ? shortest_decimal(figures.tolerance()) : naming.tolerance) +
      " LSB";
  if (figures.unknown() != 0) {
    summary += ", " + std::to_string(figures.unknown()) + " unknown (";
    for (const auto& [letter, n] : unknown_letter_tally(figures)) {
      if (summary.back() != '(') summary += ' ';
      summary += letter;
      summary += ':' + std::to_string(n);
    }
    summary += ')';
  }
  if (figures.weak() != 0) summary += ", " + std::to_string(figures.weak()) + " weak";
  if (figures.missing() != 0) summary += ", " + std::to_string(figures.missing()) + " missing";
  std::string lead_in_text;
  if (lead_in != 0) {
    const std::uint64_t n =
        lead_in < 0 ? -static_cast<std::uint64_t>(lead_in) : static_cast<std::uint64_t>(lead_in);
    lead_in_text = std::string("; lead-in: the ") + (lead_in > 0 ? "implementation" : "model") +
                   "'s first " + std::to_string(n) + (n == 1 ? " entry" : " entries") +
                   ", not compared";
  }
  if (figures.entries() == 0) return summary + lead_in_text;  // no figure to give
  std::array<char, 240> text;
  const std::string largest = figures.real_model() ? fixed_decimal(figures.largest_lsb(), 3)
                                                   : std::to_string(figures.largest());
  const std::string channel = naming.largest_channel.empty() ? "" : "." + naming.largest_channel;
  const int n =
      std::snprintf(text.data(), text.size(),
                    "; largest %s LSB at index %llu%s; mean %.3f LSB, rms %.3f LSB, snr "
                    "%.2f dB",
                    largest.c_str(), static_cast<unsigned long long>(figures.largest_index()),
                    channel.c_str(), figures.mean(), figures.rms(), figures.snr_db());
  summary.append(text.data(), static_cast<std::size_t>(n));
  if (min_snr_db) summary += " (minimum " + shortest_decimal(*min_snr_db) + " dB)";
  return summary + lead_in_text;
}

std::string render_closing(const run_verdict& verdict, const std::optional<double>& min_snr_db) {
  if (!verdict.channels.empty()) return render_channels_closing(verdict);
  const std::string delay = verdict.delay ? delay_line(*verdict.delay) + '\n' : "";
  return delay + render_closing(verdict.figures, min_snr_db, verdict.reasons, verdict.skipped,
                                verdict.delay ? verdict.delay->entries : 0, verdict.rounding);
}

std::string histogram_line(const accumulator& figures) {
  std::string out = "histogram:";
  if (figures.entries() == 0) out += " none";  // every entry unknown
  for (const histogram_bin& bin : figures.histogram().bins()) {
    out += ' ' + std::to_string(bin.low);
    if (bin.high != bin.low) out += ".." + std::to_string(bin.high);
    out += ':' + std::to_string(bin.count);
  }
  return out + '\n';
}

std::string joined_reasons(const std::vector<std::string>& reasons) {
  std::string text;
  for (const std::string& reason : reasons) text += (text.empty() ? "" : "; ") + reason;
  return text;
}

std::string verdict_line(const std::vector<std::string>& reasons) {
  if (reasons.empty()) return "verdict: pass\n";
  return "verdict: fail: " + joined_reasons(reasons) + '\n';
}

std::string render_closing(const accumulator& figures, const std::optional<double>& min_snr_db,
                           const std::vector<std::string>& reasons, std::uint64_t skipped,
                           std::int64_t lead_in, const std::string& rounding) {
  return histogram_line(figures) +
         "summary: " + summary_figures(figures, min_snr_db, skipped, lead_in) + '\n' + rounding +
         verdict_line(reasons);
}

std::optional<applied_delay> delay_of(const entry_stream& stream, const delay_setting& delay) {
  if (!delay.given || (delay.automatic && !(stream.search() && stream.search()->any_candidate))) {
    return std::nullopt;
  }
  return applied_delay{stream.delay_frames(),
                       delay.automatic ? std::optional(delay.max_delay) : std::nullopt,
                       stream.search()};
}

run_verdict check_run(const run_paths& paths, const verdict_rules& rules, const entry_sink& beyond,
                      envelope* plot_data, const thread_starter& start,
                      std::optional<applied_delay>* delay_used,
                      std::vector<envelope>* channel_plot_data) {
  if (rules.channels.several()) {
    return check_channels(paths, rules, beyond, plot_data, start, delay_used, channel_plot_data);
  }
  // Three read buffers and their blocks: too much for the stack of a thread.
  const auto stream =
      std::make_unique<entry_stream>(paths, rules.format, rules.count, rules.delay, start);
  const std::optional<applied_delay> used = delay_of(*stream, rules.delay);
  if (used && delay_used != nullptr) *delay_used = used;
  // Indices are the model's: a lagging model's first entries have no counterpart.
  const std::uint64_t first_index = stream->first_index();
  const bool real_model = stream->real_model();
  run_verdict verdict{
      accumulator(rules.format, rules.tolerance, first_index + rules.skip, real_model),
      {},
      rules.skip,
      {}};

  if (plot_data != nullptr) plot_data->skip(first_index);
  accumulator& figures = verdict.figures;
  // Filled before it is read: no need to clear half a megabyte for a short run.
  const auto difference_block =
      std::make_unique_for_overwrite<std::int64_t[]>(entry_stream::block_size);
  const std::span<std::int64_t> differences(difference_block.get(), entry_stream::block_size);
  bool wanted = static_cast<bool>(beyond);  // the entries beyond the tolerance
  while (const std::size_t n = stream->next()) {
    const std::uint64_t first = stream->entries() - n;
    // The skipped entries have been read and checked, and count no further.
    const std::size_t from =
        first >= rules.skip
            ? 0
            : static_cast<std::size_t>(std::min<std::uint64_t>(n, rules.skip - first));
    const auto model = stream->results_m().subspan(from);
    const auto implementation = stream->results_c().subspan(from);
    const bool any_beyond = stream->unknowns_in_block()
                                ? add_with_unknowns(figures, model, implementation, differences)
                                : figures.add(model, implementation, differences);
    if (plot_data != nullptr) {
      for (std::size_t i = 0; i < model.size(); ++i) {
        if (is_unknown(differences[i])) {
          plot_data->add_unknown();
          plot_data->mark_fault();
          continue;
        }
        if (real_model) {
          plot_data->add(real_of_word(model[i]),
                         static_cast<double>(rules.format.lsb(implementation[i])),
                         real_of_word(differences[i]));
        } else {
          plot_data->add(rules.format.lsb(model[i]), rules.format.lsb(implementation[i]),
                         differences[i]);
        }
        if (any_beyond && figures.beyond(differences[i])) plot_data->mark_fault();
      }
    }
    if (any_beyond && !verdict.first_beyond) {
      for (std::size_t i = 0; i < model.size(); ++i) {
        if (is_unknown(differences[i]) || figures.beyond(differences[i])) {
          verdict.first_beyond = first_index + first + from + i;
          break;
        }
      }
    }
    // The samples are worked out only for a block that shows some.
    const auto block_samples = stream->read_samples(wanted && any_beyond);
    if (!wanted || !any_beyond) continue;
    const auto samples = block_samples.empty() ? block_samples : block_samples.subspan(from);
    for (std::size_t i = 0; i < model.size() && wanted; ++i) {
      if (!is_unknown(differences[i]) && !figures.beyond(differences[i])) continue;
      wanted = beyond({first_index + first + from + i, model[i], implementation[i],
                       samples.empty() ? std::nullopt : std::optional(samples[i]), differences[i],
                       real_model});
    }
  }
  // The leading file's entries that the lagging one ended before: each
  // fails the run, listed like an unknown entry.
  if (const auto unpaired = stream->unpaired(); !unpaired.empty()) {
    const std::uint64_t first = first_index + stream->entries();
    const bool model = stream->model_leads();
    const auto samples = stream->read_unpaired_samples(wanted);
    if (!verdict.first_beyond) verdict.first_beyond = first;
    for (std::size_t i = 0; i < unpaired.size(); ++i) {
      figures.add_missing(model);
      if (!wanted) continue;
      wanted = beyond(
          {first + i, model ? unpaired[i] : missing_value, model ? missing_value : unpaired[i],
           samples.empty() ? std::nullopt : std::optional(samples[i]), missing_value, real_model});
    }
  }
  figures.add_weak(stream->weak());
  verdict.delay = used;
  if (used && rules.delay.automatic && !rules.count) {
    verdict.delay->count_difference = static_cast<std::int64_t>(stream->implementation_count()) -
                                      static_cast<std::int64_t>(stream->model_count());
  }
  if (stream->entries() <= rules.skip) {
    throw error(shown_name(paths.results_m) + ": --skip=" + std::to_string(rules.skip) +
                " leaves none of its " + std::to_string(stream->entries()) + " entries");
  }
  verdict.reasons = fail_reasons(figures, rules.min_snr_db, rules.max_mean, rules.accuracy);
  verdict.shows_rounding = real_model || rules.max_mean || rules.accuracy;
  verdict.shows_accuracy = real_model || rules.accuracy;
  verdict.rounding =
      rounding_lines(figures, verdict.shows_rounding, verdict.shows_accuracy, rules.accuracy);
  return verdict;
}

}  // namespace decimal
