#include "decimal/display.hpp"

#include <array>
#include <charconv>
#include <cstdint>
#include <utility>

namespace decimal {
namespace {

// Unicode's invisible format characters (category Cf): the bidi controls
// that reorder what follows them on screen (U+202E shows "tc01<U+202E>liaf_ssap"
// as "tc01pass_fail"), zero-width ones that hide a difference between two
// names, and the rest of the category.
constexpr std::array<std::pair<std::uint32_t, std::uint32_t>, 19> format_characters{{
    {0x00ad, 0x00ad},   {0x0600, 0x0605},   {0x061c, 0x061c},   {0x06dd, 0x06dd},
    {0x070f, 0x070f},   {0x0890, 0x0891},   {0x08e2, 0x08e2},   {0x180e, 0x180e},
    {0x200b, 0x200f},   {0x202a, 0x202e},   {0x2060, 0x2064},   {0x2066, 0x206f},
    {0xfeff, 0xfeff},   {0xfff9, 0xfffb},   {0x110bd, 0x110bd}, {0x110cd, 0x110cd},
    {0x1bca0, 0x1bca3}, {0x1d173, 0x1d17a}, {0xe0001, 0xe007f},
}};

bool is_format_character(std::uint32_t code) {
  for (const auto& [low, high] : format_characters) {
    if (code >= low && code <= high) return true;
  }
  return false;
}

// A character's UTF-8 sequence: its length (0 when the bytes at the start
// are none) and its code.
struct utf8_sequence {
  std::size_t length;
  std::uint32_t code;
};

// The sequence at `at` of `bytes` (not past its end), whatever character it
// encodes; overlong forms, surrogates and codes past U+10FFFF are left to the caller.
utf8_sequence decode_utf8(std::string_view bytes, std::size_t at) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(bytes[at + i]); };
  const unsigned char lead = byte(0);
  if (lead < 0x80) return {1, lead};
  std::size_t length = 0;
  std::uint32_t code = 0;
  if (lead >= 0xc2 && lead <= 0xdf) {
    length = 2;
    code = lead & 0x1fU;
  } else if (lead >= 0xe0 && lead <= 0xef) {
    length = 3;
    code = lead & 0x0fU;
  } else if (lead >= 0xf0 && lead <= 0xf4) {
    length = 4;
    code = lead & 0x07U;
  } else {
    return {0, 0};
  }
  if (at + length > bytes.size()) return {0, 0};
  for (std::size_t i = 1; i < length; ++i) {
    if ((byte(i) & 0xc0U) != 0x80) return {0, 0};
    code = (code << 6) | (byte(i) & 0x3fU);
  }
  return {length, code};
}

// Whether a sequence's code is in its shortest form and no surrogate.
bool well_formed(const utf8_sequence& s) {
  return s.length == 1 || s.length == 2 ||
         (s.length == 3 && s.code >= 0x800 && !(s.code >= 0xd800 && s.code <= 0xdfff)) ||
         (s.length == 4 && s.code >= 0x10000 && s.code <= 0x10ffff);
}

// The length of the UTF-8 sequence at `at` that encodes a printable
// character XML 1.0 allows (tab and line feed when `lines`), or 0. C1
// controls (U+0080 to U+009F) count as control characters: a terminal may
// take U+009B for the start of an escape sequence; invisible format
// characters count as them too.
std::size_t allowed_sequence(std::string_view bytes, std::size_t at, bool lines) {
  const unsigned char lead = static_cast<unsigned char>(bytes[at]);
  if (lead < 0x80) {
    if (lead == '\t' || lead == '\n') return lines ? 1 : 0;
    return lead >= 0x20 && lead != 0x7f ? 1 : 0;
  }
  const utf8_sequence s = decode_utf8(bytes, at);
  const bool character =
      s.code >= 0xa0 && s.code != 0xfffe && s.code != 0xffff && !is_format_character(s.code);
  return s.length != 0 && well_formed(s) && character ? s.length : 0;
}

std::string escaped(std::string_view bytes, bool lines) {
  static constexpr char hex[] = "0123456789abcdef";
  std::string out;
  out.reserve(bytes.size());
  for (std::size_t at = 0; at < bytes.size();) {
    // Plain ASCII, the usual case, in runs.
    const std::size_t start = at;
    while (at < bytes.size() && ((bytes[at] >= 0x20 && bytes[at] < 0x7f && bytes[at] != '\\') ||
                                 (lines && bytes[at] == '\n'))) {
      ++at;
    }
    out.append(bytes.substr(start, at - start));
    if (at == bytes.size()) break;
    if (bytes[at] == '\\') {
      out += "\\\\";
      ++at;
    } else if (const std::size_t length = allowed_sequence(bytes, at, lines)) {
      out.append(bytes.substr(at, length));
      at += length;
    } else {
      const auto byte = static_cast<unsigned char>(bytes[at++]);
      out += "\\x";
      out += hex[byte >> 4];
      out += hex[byte & 0xf];
    }
  }
  return out;
}

}  // namespace

std::string printable_utf8(std::string_view bytes) { return escaped(bytes, true); }

std::string shown_name(std::string_view bytes) { return escaped(bytes, false); }

bool valid_utf8(std::string_view bytes) {
  for (std::size_t at = 0; at < bytes.size();) {
    const utf8_sequence s = decode_utf8(bytes, at);
    if (s.length == 0 || !well_formed(s)) return false;
    at += s.length;
  }
  return true;
}

std::string xml_text(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&#39;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::string fixed_decimal(double value, int decimals) {
  std::array<char, 400> text;  // a double's integer part has at most 309 digits
  const int n = std::snprintf(text.data(), text.size(), "%.*f", decimals, value);
  return std::string(text.data(), std::min(static_cast<std::size_t>(n), text.size() - 1));
}

std::string shortest_decimal(double value) {
  std::array<char, 400> text;  // the longest fixed form of a double, and more
  const auto result =
      std::to_chars(text.data(), text.data() + text.size(), value, std::chars_format::fixed);
  return std::string(text.data(), result.ptr);
}

namespace {

// Select Graphic Rendition sequences, as GNU grep and ls write them.
constexpr std::string_view red = "\x1b[31m";
constexpr std::string_view green = "\x1b[32m";
constexpr std::string_view plain = "\x1b[m";

}  // namespace

bool use_color(color_when when, bool terminal, const char* no_color, const char* term) {
  switch (when) {
    case color_when::always:
      return true;
    case color_when::never:
      return false;
    case color_when::automatic:
      break;
  }
  const bool refused = no_color != nullptr && *no_color != '\0';
  const bool dumb = term != nullptr && std::string_view(term) == "dumb";
  return terminal && !refused && !dumb;
}

std::string with_red_difference(std::string_view line) {
  const std::size_t diff = line.rfind("diff:");
  if (diff == std::string_view::npos || !line.ends_with('\n')) return std::string(line);
  std::string out(line.substr(0, diff));
  out.append(red).append(line.substr(diff, line.size() - 1 - diff)).append(plain) += '\n';
  return out;
}

std::string with_coloured_verdict(std::string_view text) {
  constexpr std::string_view verdict = "verdict: ";
  const std::size_t line = text.size() < 2 ? 0 : text.rfind('\n', text.size() - 2) + 1;
  if (!text.ends_with('\n') || text.substr(line, verdict.size()) != verdict) {
    return std::string(text);
  }
  const std::size_t from = line + verdict.size();
  const std::string_view what = text.substr(from, text.size() - 1 - from);
  std::string out(text.substr(0, from));
  out.append(what.starts_with("pass") ? green : red).append(what).append(plain) += '\n';
  return out;
}

}  // namespace decimal
