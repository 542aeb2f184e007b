#include "decimal/real_file.hpp"

#include <array>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <system_error>
#include <utility>

#include "decimal/display.hpp"
#include "decimal/error.hpp"

namespace decimal {
namespace {

bool is_space(char c) { return is_white_space(c); }

// Long enough to recognise a word in a message, short enough for one line.
constexpr std::size_t shown_word_size = 40;

// Whether `word` opens a comment to the end of its line.
bool opens_comment(std::string_view word) {
  return word.starts_with('#') || word.starts_with("//");
}

}  // namespace

real_parser::real_parser(const std::string& name, number_range range)
    : name_(shown_name(name)),
      range_(std::move(range)),
      scale_(std::ldexp(1.0, range_.real_scale)) {}

void real_parser::fail(std::size_t line, std::size_t column, const std::string& what) const {
  throw parse_error(name_ + ':' + std::to_string(line) + ':' + std::to_string(column) + ": " + what,
                    line, column);
}

std::int64_t real_parser::value_of(std::string_view word, std::size_t line,
                                   std::size_t column) const {
  // Made only for a message: most words are good.
  const auto shown = [word] {
    return quote(word.substr(0, shown_word_size), word.size() > shown_word_size);
  };
  if (word.size() > max_word_size) {
    fail(line, column,
         "a word of more than " + std::to_string(max_word_size) + " bytes, which no model writes");
  }
  std::string_view digits = word;
  const bool negative = digits.starts_with('-');
  if (negative || digits.starts_with('+')) digits.remove_prefix(1);
  const bool hex = digits.starts_with("0x") || digits.starts_with("0X");
  if (hex) digits.remove_prefix(2);
  double value = 0;
  std::from_chars_result result{digits.data(), std::errc::invalid_argument};
  // from_chars takes no sign of its own, nor "0x": a second one is bad.
  if (!digits.empty() && digits[0] != '-' && digits[0] != '+') {
    result = std::from_chars(digits.data(), digits.data() + digits.size(), value,
                             hex ? std::chars_format::hex : std::chars_format::general);
  }
  if (result.ptr != digits.data() + digits.size() ||
      (result.ec != std::errc() && result.ec != std::errc::result_out_of_range)) {
    fail(line, column, "expected a real number, found " + shown());
  }
  if (result.ec == std::errc::result_out_of_range) {
    // Too small for a double is as near to 0 as strtod gets; too large is infinite.
    value = std::fabs(std::strtod(std::string(word).c_str(), nullptr));
  }
  if (!std::isfinite(value)) {
    fail(line, column, "not a finite number: " + shown());
  }
  // Times a power of two: exact, as ldexp is, and cheaper.
  const double lsb = (negative ? -value : value) * scale_;
  if (!(std::fabs(lsb) < max_real_lsb)) {
    fail(line, column,
         shown() + " is 2^52 LSB or more of " + range_.format + ", past what is compared exactly");
  }
  return real_word(lsb);
}

std::size_t real_parser::quick_word(std::string_view rest, std::int64_t& out) const {
  const char* const start = rest.data();
  const char* const end = start + rest.size();
  const bool negative = *start == '-';
  const char* digits = start + (negative || *start == '+' ? 1 : 0);
  if (digits == end || *digits == '-' || *digits == '+' ||
      (*digits == '0' && end - digits > 1 && (digits[1] | 0x20) == 'x')) {
    return 0;
  }
  double value = 0;
  const auto result = std::from_chars(digits, end, value);
  if (result.ec != std::errc() || result.ptr == end || !is_space(*result.ptr) ||
      static_cast<std::size_t>(result.ptr - start) > max_word_size || !std::isfinite(value)) {
    return 0;
  }
  const double lsb = (negative ? -value : value) * scale_;
  if (!(std::fabs(lsb) < max_real_lsb)) return 0;
  out = real_word(lsb);
  return static_cast<std::size_t>(result.ptr - start);
}

real_parser::progress real_parser::feed(std::string_view chunk, std::span<std::int64_t> out,
                                        bool /*values*/) {
  std::size_t written = 0;
  std::size_t i = 0;
  const auto column_at = [&](std::size_t at) { return offset_ + at + 1 - line_start_; };
  while (i < chunk.size() && written < out.size()) {
    if (!in_comment_ && !in_word_) {
      // The common run: good words, each ended by one line feed or blank.
      std::size_t lines = 0;
      std::size_t after_feed = 0;
      const std::size_t before = written;
      while (written < out.size() && i < chunk.size() && !is_space(chunk[i])) {
        const std::size_t length = quick_word(chunk.substr(i), out[written]);
        if (length == 0) break;
        ++written;
        i += length;
        if (chunk[i++] == '\n') {
          ++lines;
          after_feed = i;
        }
      }
      count_ += written - before;
      if (lines != 0) {
        line_ += lines;
        line_start_ = offset_ + after_feed;
      }
      if (i == chunk.size() || written == out.size()) break;
    }
    if (in_comment_) {
      const std::size_t feed = chunk.find('\n', i);
      if (feed == std::string_view::npos) {
        i = chunk.size();
        break;
      }
      in_comment_ = false;
      i = feed;  // the line feed is counted below
      continue;
    }
    if (in_word_) {
      // A word begun in an earlier chunk: its bytes up to the white space.
      std::size_t end = i;
      while (end < chunk.size() && !is_space(chunk[end]) && word_.size() + end - i <= max_word_size)
        ++end;
      word_.append(chunk.substr(i, end - i));
      i = end;
      if (range_.comments && opens_comment(word_)) {
        in_word_ = false;
        in_comment_ = true;
        word_.clear();
        continue;
      }
      if (i == chunk.size() && word_.size() <= max_word_size) break;
      in_word_ = false;
      out[written++] = value_of(word_, word_line_, word_column_);
      ++count_;
      word_.clear();
      continue;
    }
    const char c = chunk[i];
    if (is_space(c)) {
      ++i;
      if (c == '\n') {
        ++line_;
        line_start_ = offset_ + i;
      }
      continue;
    }
    // Most words are plain decimal reals that end within the chunk: read
    // where they stand, without a scan of their bytes first.
    if (const std::size_t length = quick_word(chunk.substr(i), out[written]); length != 0) {
      ++written;
      ++count_;
      i += length;
      // The white space that ends it, a line feed most often.
      if (chunk[i++] == '\n') {
        ++line_;
        line_start_ = offset_ + i;
      }
      continue;
    }
    std::size_t end = i;
    while (end < chunk.size() && !is_space(chunk[end]) && end - i <= max_word_size) ++end;
    const std::string_view word = chunk.substr(i, end - i);
    if (range_.comments && opens_comment(word)) {
      in_comment_ = true;
      i = end;
      continue;
    }
    if (end == chunk.size() && word.size() <= max_word_size) {
      // The next chunk may go on with it.
      in_word_ = true;
      word_.assign(word);
      word_line_ = line_;
      word_column_ = column_at(i);
      i = end;
      break;
    }
    out[written++] = value_of(word, line_, column_at(i));
    ++count_;
    i = end;
  }
  offset_ += i;
  return {i, written};
}

std::size_t real_parser::finish(std::span<std::int64_t> out) {
  if (!in_word_) return 0;
  in_word_ = false;
  if (range_.comments && opens_comment(word_)) return 0;
  out[0] = value_of(word_, word_line_, word_column_);
  ++count_;
  return 1;
}

}  // namespace decimal
