#include "decimal/channels.hpp"

#include <algorithm>
#include <memory>
#include <vector>

#include "decimal/display.hpp"
#include "decimal/error.hpp"

namespace decimal {
namespace {

// A channel's part of the run, and the block of it being compared.
struct channel_state {
  std::size_t channel;
  channel_limits limits;
  accumulator figures;
  std::vector<std::int64_t> model;
  std::vector<std::int64_t> implementation;
  std::vector<std::int64_t> differences;
  std::optional<std::uint64_t> first_beyond{};
  bool any_beyond = false;  // in the block, or unknown
};

// `line` ("summary: ...") with the channel's name before its colon: "summary Q: ...".
std::string named(const std::string& line, const std::string& name) {
  std::string out;
  std::size_t start = 0;
  // Each line of several.
  while (start < line.size()) {
    const std::size_t end = std::min(line.find('\n', start), line.size());
    const std::string_view one(line.data() + start, end - start);
    const std::size_t colon = one.find(':');
    out.append(one.substr(0, colon)).append(" " + name).append(one.substr(colon));
    if (end < line.size()) out += '\n';
    start = end + 1;
  }
  return out;
}

}  // namespace

std::string channel_reason(const std::string& name, const std::string& reason) {
  return "channel " + name + ": " + reason;
}

std::string tolerance_list(const verdict_rules& rules) {
  const channel_layout& layout = rules.channels;
  std::vector<std::string> shown;
  for (std::size_t c = 0; c < layout.count; ++c) {
    if (layout.compared(c)) shown.push_back(shortest_decimal(rules.limits(c).tolerance));
  }
  if (std::all_of(shown.begin(), shown.end(),
                  [&](const std::string& t) { return t == shown[0]; })) {
    return shown.empty() ? "0" : shown[0];
  }
  std::string list;
  for (const std::string& t : shown) list += (list.empty() ? "" : ",") + t;
  return list;
}

run_verdict check_channels(const run_paths& paths, const verdict_rules& rules,
                           const entry_sink& beyond, envelope* plot_data,
                           const thread_starter& start, std::optional<applied_delay>* delay_used,
                           std::vector<envelope>* channel_plot_data) {
  const channel_layout& layout = rules.channels;
  const std::size_t n = layout.count;
  run_paths framed = paths;
  framed.channels = n;
  const auto stream =
      std::make_unique<entry_stream>(framed, rules.format, rules.count, rules.delay, start);
  const std::optional<applied_delay> used = delay_of(*stream, rules.delay);
  if (used && delay_used != nullptr) *delay_used = used;
  const std::uint64_t first_frame = stream->first_index() / n;
  const bool real_model = stream->real_model();
  const q_format& format = rules.format;

  std::vector<channel_state> channels;
  const std::size_t block_frames = entry_stream::block_size / n;
  for (std::size_t c = 0; c < n; ++c) {
    if (!layout.compared(c)) continue;
    const channel_limits limits = rules.limits(c);
    channels.push_back(
        {c, limits, accumulator(format, limits.tolerance, first_frame + rules.skip, real_model),
         std::vector<std::int64_t>(block_frames), std::vector<std::int64_t>(block_frames),
         std::vector<std::int64_t>(block_frames)});
  }
  // With --complex, channels[0] is I and channels[1] Q.
  std::optional<evm_accumulator> evm;
  if (layout.complex) evm.emplace(layout.reference, rules.limits(0).tolerance);
  const bool circle = layout.complex && layout.shape == tolerance_shape::circle;
  // A complex block's frames: beyond the circle or unknown, and the model's parts in LSB.
  std::vector<char> frame_beyond(evm ? block_frames : 0);
  std::vector<std::int64_t> model_i(evm ? block_frames : 0);
  std::vector<std::int64_t> model_q(evm ? block_frames : 0);
  std::vector<envelope> drawn;
  if (plot_data != nullptr) {
    drawn.assign(channels.size(), *plot_data);
    for (envelope& e : drawn) e.skip(first_frame);
  }
  std::vector<std::string> names(channels.size());
  for (std::size_t k = 0; k < channels.size(); ++k) names[k] = layout.name(channels[k].channel);

  run_verdict verdict{
      accumulator(format, channels.front().limits.tolerance, first_frame + rules.skip, real_model),
      {},
      rules.skip,
      {}};
  bool wanted = static_cast<bool>(beyond);
  while (const std::size_t got = stream->next()) {
    const std::uint64_t first = (stream->entries() - got) / n;  // frames before the block
    const std::size_t frames = got / n;
    const std::size_t from =
        first >= rules.skip
            ? 0
            : static_cast<std::size_t>(std::min<std::uint64_t>(frames, rules.skip - first));
    const std::size_t here = frames - from;
    const auto model = stream->results_m().subspan(from * n);
    const auto implementation = stream->results_c().subspan(from * n);
    const std::uint64_t index = first_frame + first + from;  // the first frame compared
    bool any_shown = false;
    for (channel_state& s : channels) {
      for (std::size_t f = 0; f < here; ++f) {
        s.model[f] = model[f * n + s.channel];
        s.implementation[f] = implementation[f * n + s.channel];
      }
      const auto model_part = std::span<const std::int64_t>(s.model).first(here);
      const auto implementation_part = std::span<const std::int64_t>(s.implementation).first(here);
      const auto differences = std::span(s.differences).first(here);
      s.any_beyond =
          stream->unknowns_in_block()
              ? add_with_unknowns(s.figures, model_part, implementation_part, differences)
              : s.figures.add(model_part, implementation_part, differences);
      if (s.any_beyond && !s.first_beyond) {
        for (std::size_t f = 0; f < here; ++f) {
          if (is_unknown(s.differences[f]) || s.figures.beyond(s.differences[f])) {
            s.first_beyond = index + f;
            break;
          }
        }
      }
      any_shown |= s.any_beyond && !circle;
    }
    if (evm) {
      const channel_state& i = channels[0];
      const channel_state& q = channels[1];
      bool out_of_circle = false;
      if (!real_model && !stream->unknowns_in_block() && format.width() <= 30) {
        for (std::size_t f = 0; f < here; ++f) {
          model_i[f] = format.lsb(i.model[f]);
          model_q[f] = format.lsb(q.model[f]);
        }
        out_of_circle = evm->add_frames(
            index, std::span(model_i).first(here), std::span(model_q).first(here),
            std::span(i.differences).first(here), std::span(q.differences).first(here),
            std::span(frame_beyond).first(here));
      } else {
        for (std::size_t f = 0; f < here; ++f) {
          bool out = false;
          if (is_unknown(i.differences[f]) || is_unknown(q.differences[f])) {
            out = true;  // shown, but no part of the EVM
          } else if (real_model) {
            out = evm->add_real(index + f, real_of_word(i.model[f]), real_of_word(q.model[f]),
                                real_of_word(i.differences[f]), real_of_word(q.differences[f]));
          } else {
            out = evm->add(index + f, format.lsb(i.model[f]), format.lsb(q.model[f]),
                           i.differences[f], q.differences[f]);
          }
          frame_beyond[f] = out ? 1 : 0;
          out_of_circle |= out;
        }
      }
      any_shown |= circle && out_of_circle;
    }
    for (std::size_t k = 0; k < drawn.size(); ++k) {
      const channel_state& s = channels[k];
      for (std::size_t f = 0; f < here; ++f) {
        const std::int64_t d = s.differences[f];
        if (is_unknown(d)) {
          drawn[k].add_unknown();
          drawn[k].mark_fault();
          continue;
        }
        if (real_model) {
          drawn[k].add(real_of_word(s.model[f]),
                       static_cast<double>(format.lsb(s.implementation[f])), real_of_word(d));
        } else {
          drawn[k].add(format.lsb(s.model[f]), format.lsb(s.implementation[f]), d);
        }
        if (circle ? frame_beyond[f] != 0 : s.figures.beyond(d)) drawn[k].mark_fault();
      }
    }
    // What is shown of an entry: beyond its channel's tolerance, or of a
    // frame beyond the circle, or unknown.
    const auto shown = [&](const channel_state& s, std::size_t f) {
      const std::int64_t d = s.differences[f];
      return is_unknown(d) || (circle ? frame_beyond[f] != 0 : s.figures.beyond(d));
    };
    if (any_shown && !verdict.first_beyond) {
      for (std::size_t f = 0; f < here && !verdict.first_beyond; ++f) {
        for (const channel_state& s : channels) {
          if (shown(s, f)) {
            verdict.first_beyond = index + f;
            break;
          }
        }
      }
    }
    const auto block_samples = stream->read_samples(wanted && any_shown);
    if (!any_shown) continue;
    const auto samples = block_samples.empty() ? block_samples : block_samples.subspan(from * n);
    for (std::size_t f = 0; f < here; ++f) {
      for (std::size_t k = 0; k < channels.size(); ++k) {
        const channel_state& s = channels[k];
        if (!shown(s, f)) continue;
        ++verdict.entries_shown;
        if (!wanted) continue;
        wanted = beyond({index + f, s.model[f], s.implementation[f],
                         samples.empty() ? std::nullopt : std::optional(samples[f * n + s.channel]),
                         s.differences[f], real_model, names[k]});
      }
    }
  }
  // The leading file's frames that the lagging one ended before.
  if (const auto unpaired = stream->unpaired(); !unpaired.empty()) {
    const std::uint64_t first = first_frame + stream->entries() / n;
    const bool model = stream->model_leads();
    const auto samples = stream->read_unpaired_samples(wanted);
    if (!verdict.first_beyond) verdict.first_beyond = first;
    for (std::size_t e = 0; e < unpaired.size(); ++e) {
      const std::size_t channel = e % n;
      for (std::size_t k = 0; k < channels.size(); ++k) {
        channel_state& s = channels[k];
        if (s.channel != channel) continue;
        s.figures.add_missing(model);
        ++verdict.entries_shown;
        if (!s.first_beyond) s.first_beyond = first + e / n;
        if (!wanted) continue;
        wanted = beyond({first + e / n, model ? unpaired[e] : missing_value,
                         model ? missing_value : unpaired[e],
                         samples.empty() ? std::nullopt : std::optional(samples[e]), missing_value,
                         real_model, names[k]});
      }
    }
  }
  verdict.delay = used;
  if (used && rules.delay.automatic && !rules.count) {
    verdict.delay->count_difference = (static_cast<std::int64_t>(stream->implementation_count()) -
                                       static_cast<std::int64_t>(stream->model_count())) /
                                      static_cast<std::int64_t>(n);
  }
  if (stream->entries() / n <= rules.skip) {
    throw error(shown_name(paths.results_m) + ": --skip=" + std::to_string(rules.skip) +
                " leaves none of its " + std::to_string(stream->entries() / n) + " frames");
  }
  verdict.shows_rounding = real_model || rules.max_mean || rules.accuracy;
  verdict.shows_accuracy = real_model || rules.accuracy;
  for (const channel_state& s : channels) {
    verdict.shows_rounding |= s.limits.max_mean.has_value() || s.limits.accuracy.has_value();
    verdict.shows_accuracy |= s.limits.accuracy.has_value();
  }
  // Weak words are the files', not a channel's: the total counts them.
  for (std::size_t k = 0; k < channels.size(); ++k) {
    channel_state& s = channels[k];
    channel_verdict one{s.channel, names[k], std::move(s.figures), s.limits.min_snr_db,
                        {},        {},       s.first_beyond};
    one.reasons =
        fail_reasons(one.figures, s.limits.min_snr_db, s.limits.max_mean, s.limits.accuracy);
    // Against a circle, the parts' own differences are figures, not reasons.
    if (circle && one.figures.beyond_tolerance() != 0) one.reasons.erase(one.reasons.begin());
    one.rounding = rounding_lines(one.figures, verdict.shows_rounding, verdict.shows_accuracy,
                                  s.limits.accuracy);
    if (!one.rounding.empty()) one.rounding = named(one.rounding, one.name);
    for (const std::string& reason : one.reasons) {
      verdict.reasons.push_back(channel_reason(one.name, reason));
    }
    const double before = std::fabs(verdict.figures.largest_lsb());
    const bool had = verdict.figures.entries() != 0;
    verdict.figures.merge(one.figures);
    if (!had || std::fabs(verdict.figures.largest_lsb()) > before) {
      verdict.largest_channel = one.name;
    }
    verdict.channels.push_back(std::move(one));
  }
  verdict.figures.add_weak(stream->weak());
  verdict.frame = n;
  verdict.tolerances = tolerance_list(rules);
  if (evm) {
    verdict.evm = evm->figures();
    if (circle && verdict.evm->beyond_circle != 0) {
      const std::uint64_t b = verdict.evm->beyond_circle;
      verdict.reasons.push_back(std::to_string(b) + (b == 1 ? " entry" : " entries") +
                                " with |error| beyond " +
                                shortest_decimal(channels[0].limits.tolerance) + " LSB");
    }
    if (layout.max_evm) {
      if (auto reason = evm_reason(*verdict.evm, *layout.max_evm)) {
        verdict.reasons.push_back(std::move(*reason));
      }
    }
  }
  if (!drawn.empty()) {
    // The chart is the worst channel's: the first with the most entries shown.
    std::size_t worst = 0;
    const auto faults = [](const channel_verdict& c) {
      return c.figures.beyond_tolerance() + c.figures.unknown() + c.figures.missing();
    };
    for (std::size_t k = 1; k < verdict.channels.size(); ++k) {
      if (faults(verdict.channels[k]) > faults(verdict.channels[worst])) worst = k;
    }
    *plot_data = drawn[worst];
    if (channel_plot_data != nullptr) *channel_plot_data = std::move(drawn);
    verdict.charted_channel = verdict.channels[worst].name;
  }
  return verdict;
}

std::string total_figures(const run_verdict& verdict) {
  const std::int64_t lead_in =
      verdict.delay ? verdict.delay->entries * static_cast<std::int64_t>(verdict.frame) : 0;
  return summary_figures(verdict.figures, std::nullopt, verdict.skipped * verdict.channels.size(),
                         lead_in, {verdict.tolerances, verdict.largest_channel});
}

std::string channel_lines(const run_verdict& verdict) {
  std::string out;
  for (const channel_verdict& c : verdict.channels) {
    out += named(histogram_line(c.figures), c.name);
    out += named("summary: " + summary_figures(c.figures, c.min_snr_db, verdict.skipped), c.name) +
           '\n';
    out += c.rounding;
  }
  if (verdict.evm) out += evm_line(*verdict.evm) + '\n';
  return out + "total: " + total_figures(verdict) + '\n';
}

std::string render_channels_closing(const run_verdict& verdict) {
  return (verdict.delay ? delay_line(*verdict.delay) + '\n' : "") + channel_lines(verdict) +
         verdict_line(verdict.reasons);
}

}  // namespace decimal
