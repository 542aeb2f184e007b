#include "decimal/value_file.hpp"

#include <fcntl.h>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#include <unistd.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <tuple>
#include <utility>

#include "decimal/display.hpp"
#include "decimal/error.hpp"

namespace decimal {
namespace {

bool is_space(char c) { return is_white_space(c); }

// 0 to 9 for a decimal digit, 10 or more for any other byte.
unsigned digit_value(char c) { return unsigned{static_cast<unsigned char>(c)} - unsigned{'0'}; }

// Why a file that starts with `head` holds no numbers, when its encoding tells.
std::string_view encoding_hint(std::string_view head) {
  if (head.starts_with("\xef\xbb\xbf")) return " (the file starts with a UTF-8 byte order mark)";
  if (head.starts_with("\xff\xfe") || head.starts_with("\xfe\xff")) {
    return " (the file looks like UTF-16 text)";
  }
  if (head.starts_with("\x93NUMPY")) {
    return " (the file is a NumPy .npy file: see --model-encoding=npy)";
  }
  return {};
}

// Whether `word` is written as a real number: digits with a point, an
// exponent or both ("12.5", "-.5", "1e3", "2.0E-05").
bool looks_real(std::string_view word) {
  std::size_t i = !word.empty() && (word[0] == '-' || word[0] == '+') ? 1 : 0;
  const auto digits = [&] {
    const std::size_t from = i;
    while (i < word.size() && word[i] >= '0' && word[i] <= '9') ++i;
    return i - from;
  };
  std::size_t mantissa = digits();
  bool point = false;
  if (i < word.size() && word[i] == '.') {
    point = true;
    ++i;
    mantissa += digits();
  }
  if (mantissa == 0) return false;
  if (i < word.size() && (word[i] == 'e' || word[i] == 'E')) {
    ++i;
    if (i < word.size() && (word[i] == '-' || word[i] == '+')) ++i;
    if (digits() == 0) return false;
    point = true;
  }
  return point && i == word.size();
}

// Eight bytes at a time, the first byte in the lowest place.
constexpr std::uint64_t repeated(std::uint8_t byte) {
  return std::uint64_t{0x0101010101010101} * byte;
}

std::uint64_t load_eight(const char* p) {
  std::uint64_t bytes = 0;
  std::memcpy(&bytes, p, sizeof bytes);
  return bytes;
}

// The bytes less '0' each: decimal digits become 0 to 9. A byte below '0'
// borrows from the bytes after it, which only matter up to the first non-digit.
std::uint64_t less_zeros(std::uint64_t bytes) { return bytes - repeated('0'); }

// Bit 7 set in each byte of less_zeros() that was not a digit, up to and
// including the first such byte (what follows it may be marked or not).
std::uint64_t non_digits(std::uint64_t x) {
  return (x | (x + repeated(0x80 - 10))) & repeated(0x80);
}

// The number that the first `n` digits spell (1 <= n <= 8), from less_zeros().
std::uint64_t digits_value(std::uint64_t x, unsigned n) {
  // Moving the n digits to the top leaves zeros in front: the value is the same.
  std::uint64_t v = x << (64 - 8 * n);
  v = v * 10 + (v >> 8);
  v = (((v & 0x000000FF000000FF) * 0x000F424000000064) +
       (((v >> 16) & 0x000000FF000000FF) * 0x0000271000000001)) >>
      32;
  return v;
}

// The same for 1 <= n <= 4 digits, in 32 bits, with `end_bit` = 8n + 7 (the
// marked bit of the first non-digit): results of up to 12 bits and 16-bit
// samples are mostly this short.
std::uint64_t four_digits_value(std::uint32_t x, unsigned end_bit) {
  std::uint32_t v = x << (39 - end_bit);
  v = v * 10 + (v >> 8);  // pairs of digits in bytes 0 and 2
  return ((v & 0x00FF00FF) * (1 + (100 << 16))) >> 16;
}

constexpr std::array<std::uint64_t, 9> powers_of_ten = {1,      10,      100,      1000,     10000,
                                                        100000, 1000000, 10000000, 100000000};

// The fast path reads up to a sign, sixteen digits and the white space after them.
constexpr std::ptrdiff_t short_word_room = 32;

// The magnitude spelt by nine to sixteen digits at `q`, whose first eight
// are `first` (from less_zeros()), and how many there are; 0 for more.
[[gnu::noinline]] std::pair<std::uint64_t, unsigned> long_magnitude(const char* q,
                                                                    std::uint64_t first) {
  const std::uint64_t second = less_zeros(load_eight(q + 8));
  const std::uint64_t second_non_digits = non_digits(second);
  if (second_non_digits == 0) return {0, 0};  // sixteen digits or more
  const auto n = static_cast<unsigned>(std::countr_zero(second_non_digits)) / 8;
  return {digits_value(first, 8) * powers_of_ten[n] + (n ? digits_value(second, n) : 0), 8 + n};
}

// Reads whole words from `p` into `next` as long as they are short, in range
// and at least short_word_room bytes before `end`, and `next` has not reached
// `out_end`; passes the white space between them. Returns where it stopped.
// Without `values`, a number of fewer than `fitting_digits` digits, which
// always fits, is checked but its value not worked out (0 stands for it).
template <bool values>
const char* read_short_words(const char* p, const char* end, std::int64_t*& next,
                             std::int64_t* const out_end, const std::uint64_t positive_limit,
                             const std::uint64_t negative_limit, const unsigned fitting_digits) {
  if constexpr (std::endian::native != std::endian::little) return p;
  if (end - p < short_word_room) return p;
  const char* const stop = end - short_word_room;
  std::int64_t* out = next;
  // A number takes two bytes at least: up to `roomy`, `out` cannot fill, and
  // the loop need not look at it.
  for (const char* roomy = p; p < stop && out != out_end && p >= roomy;) {
    roomy = p + std::min(stop - p, 2 * (out_end - out));
    while (p < roomy) {
      // Numbers are signed rarely, and in runs: a branch costs least.
      const char* q = p;
      const bool negative = *q == '-';
      if (negative || *q == '+') ++q;
      const std::uint64_t first = less_zeros(load_eight(q));
      const std::uint64_t first_non_digits = non_digits(first);
      std::uint64_t magnitude = 0;
      unsigned n = 0;
      if (first_non_digits != 0) {
        const auto end_bit = static_cast<unsigned>(std::countr_zero(first_non_digits));
        n = end_bit / 8;
        if (n == 0) {
          if (!is_space(*p)) break;
          do ++p;  // a run of white space, as long as it is
          while (p < roomy && is_space(*p));
          continue;
        }
        if constexpr (!values) {
          if (n < fitting_digits) {
            if (!is_space(q[n])) break;
            *out++ = 0;
            p = q + n + 1;
            continue;
          }
        }
        magnitude = n <= 4 ? four_digits_value(static_cast<std::uint32_t>(first), end_bit)
                           : digits_value(first, n);
      } else {
        std::tie(magnitude, n) = long_magnitude(q, first);
        if (n == 0) break;
      }
      q += n;
      if (!is_space(*q)) break;
      if (negative) {
        if (magnitude > negative_limit) break;
        *out++ = -static_cast<std::int64_t>(magnitude);
      } else {
        if (magnitude > positive_limit) break;
        *out++ = static_cast<std::int64_t>(magnitude);
      }
      p = q + 1;  // past the white space that ends it
    }
  }
  next = out;
  return p;
}

// Line feeds in [p, end): sixteen bytes at a time where SSE2 is, so that
// counting lines costs little beside the numbers.
std::size_t count_line_feeds(const char* p, const char* end) {
  std::size_t count = 0;
#if defined(__SSE2__)
  const __m128i line_feed = _mm_set1_epi8('\n');
  const auto line_feeds_at = [&](const char* q) {
    return _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(q)), line_feed);
  };
  while (end - p >= 64) {
    // Each round adds at most 4 to each byte counter: 63 rounds fit.
    __m128i counters = _mm_setzero_si128();
    for (int round = 0; round < 63 && end - p >= 64; ++round, p += 64) {
      counters = _mm_sub_epi8(
          counters, _mm_add_epi8(_mm_add_epi8(line_feeds_at(p), line_feeds_at(p + 16)),
                                 _mm_add_epi8(line_feeds_at(p + 32), line_feeds_at(p + 48))));
    }
    const __m128i sums = _mm_sad_epu8(counters, _mm_setzero_si128());
    count += static_cast<std::size_t>(_mm_cvtsi128_si64(sums)) +
             static_cast<std::size_t>(_mm_cvtsi128_si64(_mm_unpackhi_epi64(sums, sums)));
  }
#endif
  for (; p != end; ++p) count += *p == '\n' ? 1 : 0;
  return count;
}

}  // namespace

value_parser::value_parser(const std::string& name, number_range range)
    : name_(shown_name(name)),
      limits_{static_cast<std::uint64_t>(range.max),
              range.min < 0 ? static_cast<std::uint64_t>(-range.min) : 0},
      range_(std::move(range)) {
  // Any number of fewer digits than there are nines in the smaller limit fits.
  for (std::uint64_t largest = 9; largest <= std::min(limits_[0], limits_[1]);
       largest = largest * 10 + 9) {
    ++fitting_digits_;
  }
  ++fitting_digits_;
}

value_parser::progress value_parser::feed(std::string_view chunk, std::span<std::int64_t> out,
                                          bool values) {
  const char* const begin = chunk.data();
  const char* const end = begin + chunk.size();
  const char* p = begin;
  std::size_t written = 0;
  chunk_ = scanned_ = begin;
  try {
    while (written < out.size()) {
      if (slash_pending_ && p != end) {
        // The "/" that ended the last chunk: a comment if another follows,
        // else the start of a bad word.
        slash_pending_ = false;
        if (*p == '/') {
          in_comment_ = true;
        } else {
          resume_slash_word();
        }
      }
      if (in_comment_) {
        const void* line_end = std::memchr(p, '\n', static_cast<std::size_t>(end - p));
        in_comment_ = line_end == nullptr;
        p = in_comment_ ? end : static_cast<const char*>(line_end) + 1;
        if (in_comment_) break;
      }
      if (!in_word_) {
        // The usual case: short words well before the end of the chunk.
        std::int64_t* next = out.data() + written;
        p = values ? read_short_words<true>(p, end, next, out.data() + out.size(), limits_[0],
                                            limits_[1], fitting_digits_)
                   : read_short_words<false>(p, end, next, out.data() + out.size(), limits_[0],
                                             limits_[1], fitting_digits_);
        written = static_cast<std::size_t>(next - out.data());
        if (written == out.size()) break;
        while (p != end && is_space(*p)) ++p;
        if (p == end) break;
        if (range_.comments && (*p == '#' || (*p == '/' && p + 1 != end && p[1] == '/'))) {
          in_comment_ = true;
          continue;
        }
        begin_word(p);
        if (range_.comments && *p == '/' && p + 1 == end) {
          // Whether it opens a comment, the next chunk tells.
          in_word_ = false;
          slash_pending_ = true;
          ++p;
          break;
        }
      }
      if (p == end) break;
      const char* const word_end = read_word(p, end);
      const std::string_view part(p, static_cast<std::size_t>(word_end - p));
      p = word_end;
      if (p == end && !(bad() && (too_long_ || word_length_ - leading_zeros_ > shown_word_size))) {
        keep_for_message(part);  // the word goes on in the next chunk
        break;
      }
      out[written++] = end_word(part);
      ++p;  // the white space that ends it: a bad word has thrown
    }
  } catch (const parse_error&) {
    count_ += written;
    throw;
  }
  count_ += written;
  scan_to(p);
  const auto consumed = static_cast<std::size_t>(p - begin);
  offset_ += consumed;
  return {consumed, written};
}

std::size_t value_parser::finish(std::span<std::int64_t> out) {
  if (slash_pending_) {
    slash_pending_ = false;
    resume_slash_word();
  }
  if (!in_word_) return 0;
  out[0] = end_word({});
  ++count_;
  return 1;
}

void value_parser::resume_slash_word() {
  in_word_ = true;
  word_length_ = 1;
  keep_for_message("/");
  malformed_ = true;
}

void value_parser::begin_word(const char* at) {
  in_word_ = true;
  scan_to(at);
  word_line_ = line_;
  word_column_ = offset_ + static_cast<std::size_t>(at - chunk_) - line_start_ + 1;
  word_length_ = 0;
  kept_length_ = 0;
  leading_zeros_ = 0;
  zeros_skipped_ = 0;
  negative_ = false;
  malformed_ = false;
  too_long_ = false;
  digits_ = 0;
  magnitude_ = 0;
}

inline bool value_parser::out_of_range() const noexcept {
  return magnitude_ > (limits_[negative_ ? 1 : 0]);
}

inline const char* value_parser::read_word(const char* const start, const char* const end) {
  const char* p = start;
  if (word_length_ == 0 && (*p == '-' || *p == '+')) {
    negative_ = *p == '-';
    ++p;
  }
  if (!bad()) {
    // Every limit is below 2^33, so the magnitude stops well before it could wrap.
    const std::uint64_t limit = limits_[negative_ ? 1 : 0];
    const char* const digits_start = p;
    std::uint64_t magnitude = magnitude_;
    for (; p != end; ++p) {
      const unsigned digit = digit_value(*p);
      if (digit >= 10) break;
      if (magnitude == 0 && digit == 0) ++leading_zeros_;  // only zeros so far
      magnitude = magnitude * 10 + digit;
      if (magnitude > limit) {
        ++p;
        break;
      }
    }
    magnitude_ = magnitude;
    digits_ += static_cast<std::size_t>(p - digits_start);
    if (p == end || is_space(*p)) {  // the usual case: digits up to the white space
      word_length_ += static_cast<std::size_t>(p - start);
      // Leading zeros without end must not keep the run reading either.
      too_long_ = word_length_ > range_.max_word_size;
      return p;
    }
    // Anything else before the white space spoils the word.
    if (!out_of_range()) {
      malformed_ = true;
      ++p;
    }
  }
  if (bad()) {
    // Read on only as far as the message shows the word, and one byte more to
    // tell whether it is cut: an endless bad word must not keep the run reading.
    // Leading zeros are not shown, and do not count.
    const std::size_t read = word_length_ + static_cast<std::size_t>(p - start) - leading_zeros_;
    const std::size_t to_show = read <= shown_word_size ? shown_word_size + 1 - read : 0;
    const char* const shown_end = p + std::min(to_show, static_cast<std::size_t>(end - p));
    for (; p != shown_end && !is_space(*p); ++p) {
      if (digit_value(*p) >= 10) malformed_ = true;
    }
  }
  word_length_ += static_cast<std::size_t>(p - start);
  return p;
}

void value_parser::keep_for_message(std::string_view part) {
  // The sign is kept; the leading zeros after it are counted instead, so
  // that the digits that matter show however many there are.
  const bool word_start = word_length_ == part.size();
  const std::size_t sign =
      word_start && !part.empty() && (part[0] == '-' || part[0] == '+') ? 1 : 0;
  std::size_t zeros = 0;
  while (sign + zeros < part.size() && zeros_skipped_ + zeros < leading_zeros_ &&
         part[sign + zeros] == '0') {
    ++zeros;
  }
  zeros_skipped_ += zeros;
  const auto keep = [&](std::string_view bytes) {
    const std::size_t n = std::min(bytes.size(), kept_.size() - kept_length_);
    std::copy_n(bytes.data(), n, kept_.data() + kept_length_);
    kept_length_ += n;
  };
  keep(part.substr(0, sign));
  keep(part.substr(sign + zeros));
}

inline std::int64_t value_parser::end_word(std::string_view last_part) {
  in_word_ = false;
  if (bad() || digits_ == 0) {
    // A single letter of std_logic's (x, z, U, -, ...): a value the test
    // bench could not tell, or a weak 0 or 1.
    if (range_.unknowns && word_length_ == 1 && !too_long_) {
      const char c = kept_length_ == 1 ? kept_[0] : last_part.empty() ? '\0' : last_part[0];
      if (const auto letter = unknown_letter_index(c, range_.weak_unknown)) {
        ++unknown_;
        return unknown_value_of(*letter);
      }
      if (const auto level = weak_level(c)) {
        ++weak_;
        return *level;
      }
    }
    fail_word(last_part);
  }
  const auto magnitude = static_cast<std::int64_t>(magnitude_);
  return negative_ ? -magnitude : magnitude;
}

void value_parser::fail_word(std::string_view last_part) {
  keep_for_message(last_part);
  const std::string_view kept(kept_.data(), kept_length_);
  const bool cut = word_length_ > kept_length_ + zeros_skipped_;
  // The leading zeros go back in, or, when they are many, "0...0" stands for them.
  const std::size_t sign = !kept.empty() && (kept[0] == '-' || kept[0] == '+') ? 1 : 0;
  const bool many_zeros = zeros_skipped_ > shown_zeros;
  const std::string shown = std::string(kept.substr(0, sign)) +
                            (many_zeros ? std::string("0...0") : std::string(zeros_skipped_, '0')) +
                            std::string(kept.substr(sign));
  const std::string zeros = std::to_string(zeros_skipped_) + " leading zeros";
  std::string message =
      name_ + ':' + std::to_string(word_line_) + ':' + std::to_string(word_column_) + ": ";
  const std::string between = " (" + (many_zeros ? zeros + "; " : std::string()) + "not between " +
                              std::to_string(range_.min) + " and " + std::to_string(range_.max) +
                              ")";
  if (too_long_) {
    message += "a word of more than " + std::to_string(range_.max_word_size) +
               " bytes, which no bench writes";
  } else if (malformed_ || digits_ == 0) {
    message += "expected an integer, found " + quote(shown, cut);
    if (many_zeros) message += " (" + zeros + ")";
    if (!cut && looks_real(kept)) message += ": a real number, where integers are read";
  } else if (range_.format.empty()) {
    message += "number out of range: " + quote(shown, cut) + between;
  } else {
    // Only a sign and digits: safe to show as they are.
    message += std::string(shown) + (cut ? "..." : "") + " does not fit " + range_.format + between;
  }
  // The first word of the file holds its first bytes.
  if (word_line_ == 1 && word_column_ == 1) message += encoding_hint(shown);
  throw parse_error(message, word_line_, word_column_);
}

void value_parser::scan_to(const char* to) {
  line_ += count_line_feeds(scanned_, to);
  const auto length = static_cast<std::size_t>(to - scanned_);
  if (const void* last_feed = ::memrchr(scanned_, '\n', length)) {
    line_start_ =
        offset_ + static_cast<std::size_t>(static_cast<const char*>(last_feed) - chunk_) + 1;
  }
  scanned_ = to;
}

void value_parser::fail_count(std::size_t expected) const {
  throw parse_error(name_ + ": expected " + std::to_string(expected) + " numbers, found " +
                        std::to_string(count_),
                    0, 0);
}

}  // namespace decimal
