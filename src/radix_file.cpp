#include "decimal/radix_file.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <utility>

#include "decimal/display.hpp"
#include "decimal/error.hpp"

namespace decimal {
namespace {

constexpr bool is_space(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// 0 to 15 for a hex digit of either case, 16 for anything else.
constexpr unsigned hex_digit(char c) {
  if (c >= '0' && c <= '9') return static_cast<unsigned>(c - '0');
  const char lower = static_cast<char>(c | 0x20);
  if (lower >= 'a' && lower <= 'f') return static_cast<unsigned>(lower - 'a' + 10);
  return 16;
}

// What a byte is to the words' usual case: hex_digit() for a digit, or one
// of these.
constexpr unsigned char space_class = 16;  // white space but a line feed
constexpr unsigned char line_feed_class = 17;
constexpr unsigned char other_class = 18;
static_assert(line_feed_class == space_class + 1, "white space is one range of classes");
constexpr std::array<unsigned char, 256> byte_classes = [] {
  std::array<unsigned char, 256> classes{};
  for (unsigned byte = 0; byte < 256; ++byte) {
    const char c = static_cast<char>(byte);
    const unsigned digit = hex_digit(c);
    classes[byte] = static_cast<unsigned char>(digit < 16    ? digit
                                               : c == '\n'   ? line_feed_class
                                               : is_space(c) ? space_class
                                                             : other_class);
  }
  return classes;
}();

// Past this, a magnitude is out of every range; it stops growing here.
constexpr std::uint64_t magnitude_cap = std::uint64_t{1} << 40;

// The usual case, in locals that no store can alias: white space, and plain
// words of digits alone (up to 40 bits, within `max`) that end before `end`.
// Stops at anything else, or once `next` reaches `out_end`, with `p` there.
// `base` is the offset of `chunk` in the file, for the lines' starts. Made
// for each digit size, so that the digit loop has a bound it can unroll.
template <unsigned bits>
void read_plain_words(const char*& p, const char* const end, std::int64_t*& next,
                      std::int64_t* const out_end, const std::uint64_t max, const std::size_t base,
                      const char* const chunk, std::size_t& line, std::size_t& line_start) {
  constexpr unsigned radix = 1U << bits;
  constexpr std::ptrdiff_t max_digits = 40 / bits;
  const char* q = p;
  const char* line_begin = nullptr;  // of the last line feed's line, when one was passed
  std::size_t lines = line;          // a local, which the stores to `out` cannot alias
  std::int64_t* out = next;
  const auto class_of = [](char c) { return byte_classes[static_cast<unsigned char>(c)]; };
  while (out != out_end) {
    if (end - q > max_digits + 1 && class_of(*q) < radix) {
      // A word, one digit more than it may have and the byte after all
      // within the chunk: no check of the chunk's end for each digit.
      const char* digit = q;
      std::uint64_t magnitude = 0;
      unsigned value = class_of(*q);
      for (std::ptrdiff_t k = 0; k <= max_digits && value < radix; ++k) {
        magnitude = (magnitude << bits) | value;
        value = class_of(*++digit);
      }
      // Too many digits, a digit of a larger radix, or anything but white space after them.
      if (value - space_class > 1U || magnitude > max) break;
      *out++ = static_cast<std::int64_t>(magnitude);
      q = digit + 1;  // and the white space after it
      if (value == line_feed_class) {
        ++lines;
        line_begin = q;
      }
      continue;
    }
    if (q == end) break;
    const unsigned first = class_of(*q);
    if (first == line_feed_class) {
      ++lines;
      line_begin = ++q;
      continue;
    }
    if (first == space_class) {
      ++q;
      continue;
    }
    // Near the chunk's end, a word that reaches it is the slow path's.
    const char* digit = q;
    std::uint64_t magnitude = 0;
    for (unsigned value = first; value < radix; value = class_of(*digit)) {
      magnitude = (magnitude << bits) | value;
      if (++digit == end) break;
    }
    if (digit == q || digit == end || class_of(*digit) < space_class ||
        class_of(*digit) == other_class || magnitude > max) {
      break;
    }
    *out++ = static_cast<std::int64_t>(magnitude);
    q = digit;
  }
  line = lines;
  if (line_begin != nullptr) line_start = base + static_cast<std::size_t>(line_begin - chunk);
  p = q;
  next = out;
}

}  // namespace

radix_parser::radix_parser(const std::string& name, unsigned bits_per_digit, number_range range,
                           bool c_literals)
    : name_(shown_name(name)),
      bits_per_digit_(bits_per_digit),
      range_(std::move(range)),
      c_literals_(c_literals) {}

radix_parser::progress radix_parser::feed(std::string_view chunk, std::span<std::int64_t> out,
                                          bool /*values*/) {
  std::size_t written = 0;
  std::size_t i = 0;
  const auto put = [&](bool number, std::int64_t value) {
    if (number) out[written++] = value;
  };
  while (i < chunk.size() && written < out.size()) {
    if (mode_ == mode::between && !slash_ && !c_literals_) {
      const char* p = chunk.data() + i;
      std::int64_t* next = out.data() + written;
      std::size_t line = line_;
      std::size_t line_start = line_start_;
      const auto plain_words = bits_per_digit_ == 4 ? read_plain_words<4> : read_plain_words<1>;
      // A word of a wider container is sign-extended, by the slow path,
      // once its top bit is set.
      const std::uint64_t plain_max =
          range_.word_bits == 0 ? static_cast<std::uint64_t>(range_.max)
                                : std::min(static_cast<std::uint64_t>(range_.max),
                                           (std::uint64_t{1} << (range_.word_bits - 1)) - 1);
      plain_words(p, chunk.data() + chunk.size(), next, out.data() + out.size(), plain_max, offset_,
                  chunk.data(), line, line_start);
      count_ += static_cast<std::size_t>(next - (out.data() + written));
      written = static_cast<std::size_t>(next - out.data());
      i = static_cast<std::size_t>(p - chunk.data());
      line_ = line;
      line_start_ = line_start;
      if (i == chunk.size() || written == out.size()) break;
    }
    const char c = chunk[i++];
    const std::size_t line = line_;
    const std::size_t column = offset_ + i - line_start_;
    if (c == '\n') {
      ++line_;
      line_start_ = offset_ + i;
    }
    if (mode_ == mode::line_comment) {
      if (c == '\n') mode_ = mode::between;
      continue;
    }
    if (mode_ == mode::block_comment) {
      if (star_ && c == '/') mode_ = mode::between;
      star_ = c == '*';
      continue;
    }
    std::int64_t value = 0;
    if (slash_) {
      slash_ = false;
      if (c == '/' || c == '*') {  // a comment, which ends the word before it
        const bool number = mode_ == mode::word && end_word(value);
        mode_ = c == '/' ? mode::line_comment : mode::block_comment;
        star_ = false;
        comment_line_ = slash_line_;
        comment_column_ = slash_column_;
        put(number, value);
        continue;
      }
      if (mode_ != mode::word) begin_word(slash_line_, slash_column_);
      add_to_word('/');
    }
    if (is_space(c)) {
      if (mode_ == mode::word) {
        const bool number = end_word(value);
        put(number, value);
      }
      continue;
    }
    if (c == '/') {
      slash_ = true;
      slash_line_ = line;
      slash_column_ = column;
      continue;
    }
    if (mode_ != mode::word) begin_word(line, column);
    add_to_word(c);
    // A word that can only be bad is read no further than its message shows
    // it, nor any word past max_word_size: an endless one must not keep the
    // run reading.
    if (word_length_ > shown_word_size &&
        (malformed_ || beyond_every_number() || word_length_ > max_word_size)) {
      too_long_ = word_length_ > max_word_size;
      end_word(value);
    }
  }
  offset_ += i;
  return {i, written};
}

std::size_t radix_parser::finish(std::span<std::int64_t> out) {
  if (slash_) {
    slash_ = false;
    if (mode_ != mode::word) begin_word(slash_line_, slash_column_);
    add_to_word('/');
  }
  if (mode_ == mode::block_comment) {
    throw parse_error(name_ + ':' + std::to_string(comment_line_) + ':' +
                          std::to_string(comment_column_) + ": comment not closed",
                      comment_line_, comment_column_);
  }
  std::int64_t value = 0;
  if (mode_ == mode::word && end_word(value)) {
    out[0] = value;
    return 1;
  }
  return 0;
}

void radix_parser::begin_word(std::size_t line, std::size_t column) {
  mode_ = mode::word;
  word_line_ = line;
  word_column_ = column;
  word_length_ = 0;
  address_ = false;
  negative_ = false;
  prefix_possible_ = false;
  prefix_seen_ = false;
  malformed_ = false;
  too_long_ = false;
  first_unknown_ = 0;
  weak_digit_ = false;
  last_underscore_ = false;
  digits_ = 0;
  magnitude_ = 0;
  pattern_ = 0;
  wider_than_64_bits_ = false;
}

void radix_parser::add_to_word(char c) {
  if (word_length_ < kept_.size()) kept_[word_length_] = c;
  ++word_length_;
  if (malformed_) return;
  if (word_length_ == 1) {
    if (c == '@' && bits_per_digit_ == 4 && !c_literals_) {
      address_ = true;
      return;
    }
    // Only a C literal has a sign: to a bench's word, - is a digit of unknown bits.
    if (c_literals_ && (c == '-' || c == '+')) {
      negative_ = c == '-';
      return;
    }
    prefix_possible_ = c == '0' && (c_literals_ || bits_per_digit_ == 1);
  } else if (c_literals_ && word_length_ == 2 && (kept_[0] == '-' || kept_[0] == '+')) {
    prefix_possible_ = c == '0';
  }
  const char prefix = bits_per_digit_ == 4 ? 'x' : 'b';
  if (prefix_possible_ && digits_ == 1 && (c | 0x20) == prefix) {
    prefix_possible_ = false;
    prefix_seen_ = true;
    digits_ = 0;
    return;
  }
  if (digits_ >= 1) prefix_possible_ = false;
  // A C literal is a sign, a prefix, and only then digits.
  if (c_literals_ && !prefix_seen_ && !(prefix_possible_ && c == '0')) {
    malformed_ = true;
    return;
  }
  if (c == '_') {
    if (digits_ == 0) malformed_ = true;  // only between digits
    last_underscore_ = true;
    return;
  }
  last_underscore_ = false;
  const unsigned bits = address_ ? 4 : bits_per_digit_;
  const std::uint64_t all_ones = (std::uint64_t{1} << bits) - 1;
  std::uint64_t digit = hex_digit(c);
  std::uint64_t pattern_digit = digit;
  const bool letters = !address_ && !c_literals_;  // std_logic's letters are digits here
  if (const auto letter = letters ? unknown_letter_index(c, range_.weak_unknown) : std::nullopt) {
    if (first_unknown_ == 0) first_unknown_ = *letter + 1;
    digit = 0;
    pattern_digit = all_ones;
  } else if (const auto level = letters ? weak_level(c) : std::nullopt) {
    // A weak digit: all its bits at that level.
    weak_digit_ = true;
    digit = *level == 1 ? all_ones : 0;
    pattern_digit = digit;
  } else if (digit > all_ones) {
    malformed_ = true;
    return;
  }
  ++digits_;
  if (range_.word_bits != 0 && !address_) {
    // Up to 64 bits: leading zeros and all, a wide container's word.
    if ((pattern_ >> (64 - bits)) != 0) wider_than_64_bits_ = true;
    if (wider_than_64_bits_) return;
    magnitude_ = (magnitude_ << bits) | digit;
    pattern_ = (pattern_ << bits) | pattern_digit;
    return;
  }
  if (pattern_ < magnitude_cap) {
    magnitude_ = (magnitude_ << bits) | digit;
    pattern_ = (pattern_ << bits) | pattern_digit;
  }
}

bool radix_parser::beyond_every_number() const noexcept {
  if (range_.word_bits == 0 || address_) return pattern_ >= magnitude_cap;
  return wider_than_64_bits_ || (range_.word_bits < 64 && pattern_ >> range_.word_bits != 0);
}

std::int64_t radix_parser::sign_extended() const {
  const unsigned bits = range_.word_bits;
  if (beyond_every_number()) {
    fail_word(shown_word(false) + " does not fit a " + std::to_string(bits) +
              "-bit word (--word-bits=" + std::to_string(bits) + ")");
  }
  if (bits == 64) return static_cast<std::int64_t>(magnitude_);
  const std::uint64_t sign = std::uint64_t{1} << (bits - 1);
  return magnitude_ < sign
             ? static_cast<std::int64_t>(magnitude_)
             : static_cast<std::int64_t>(magnitude_) - static_cast<std::int64_t>(sign << 1);
}

bool radix_parser::end_word(std::int64_t& value) {
  mode_ = mode::between;
  const char* const kind = c_literals_            ? "a C hex literal (0x1f, -0x27)"
                           : bits_per_digit_ == 4 ? "a hex number"
                                                  : "a binary number";
  if (too_long_) {
    fail_word("a word of more than " + std::to_string(max_word_size) +
              " bytes, which no bench writes");
  }
  if (malformed_ || digits_ == 0 || last_underscore_ || (c_literals_ && !prefix_seen_)) {
    fail_word(std::string("expected ") + (address_ ? "a hex address" : kind) + ", found " +
              shown_word(true));
  }
  if ((first_unknown_ != 0 || weak_digit_) && !range_.unknowns) {
    fail_word(std::string("expected ") + kind + ", found " + shown_word(true) +
              " (U, W, X, Z and - are unknown bits, L and H weak ones: only a result may hold "
              "them)");
  }
  if (address_) {
    if (magnitude_ != count_) {
      fail_word("address " + shown_word(true) + " is not the index of the next entry, " +
                std::to_string(count_));
    }
    return false;
  }
  const std::string between =
      " (not between " + std::to_string(range_.min) + " and " + std::to_string(range_.max) + ")";
  if (first_unknown_ != 0) {
    // Whatever its unknown bits, the word must fit the format's width (or
    // the container's). Only digits, "_" and the unknown letters: safe to
    // show as they are.
    if (range_.word_bits != 0 ? beyond_every_number()
                              : pattern_ > static_cast<std::uint64_t>(range_.max)) {
      const std::string container =
          range_.word_bits != 0 ? "a " + std::to_string(range_.word_bits) + "-bit word" : "";
      fail_word(shown_word(false) + " does not fit " +
                (container.empty() ? range_.format : container) + " with its unknown bits set" +
                (container.empty() ? between : ""));
    }
    ++count_;
    ++unknown_;
    value = unknown_value_of(first_unknown_ - 1);
    return true;
  }
  if (weak_digit_) ++weak_;
  const auto magnitude = static_cast<std::int64_t>(magnitude_);
  value = negative_ ? -magnitude : range_.word_bits != 0 ? sign_extended() : magnitude;
  if (value < range_.min || value > range_.max) {
    if (range_.format.empty()) {
      fail_word("number out of range: " + shown_word(true) + between);
    }
    // Only a sign, a prefix, digits and "_": safe to show as they are.
    // A narrower result sign-extended into a wider word (fffc for Q1.13 in
    // 16 bits) is a common bench habit: say what the word holds.
    std::string hint;
    const unsigned word_bits = static_cast<unsigned>(digits_) * bits_per_digit_;
    if (!negative_ && range_.word_bits == 0 && word_bits < 40 && value > range_.max) {
      const std::int64_t extended = value - (std::int64_t{1} << word_bits);
      if (extended >= range_.min && extended < 0) {
        hint = "; as a " + std::to_string(word_bits) + "-bit word it is " +
               std::to_string(extended) +
               ", sign-extended: see --word-bits=" + std::to_string(word_bits);
      }
    }
    const std::string as_word = range_.word_bits != 0 && !negative_
                                    ? " (" + std::to_string(value) + " as a " +
                                          std::to_string(range_.word_bits) + "-bit word)"
                                    : "";
    fail_word(shown_word(false) + as_word + " does not fit " + range_.format + between + hint);
  }
  ++count_;
  return true;
}

std::string radix_parser::shown_word(bool quoted) const {
  const bool cut = word_length_ > shown_word_size;
  const std::string_view word(kept_.data(), std::min(word_length_, shown_word_size));
  if (quoted) return quote(word, cut);
  return std::string(word) + (cut ? "..." : "");
}

void radix_parser::fail_word(const std::string& what) const {
  // A file's first word that is a .npy file's magic: say what the file is.
  const bool npy =
      word_line_ == 1 && word_column_ == 1 && offset_ < shown_word_size &&
      std::string_view(kept_.data(), std::min(word_length_, kept_.size())).starts_with("\x93NUMPY");
  throw parse_error(name_ + ':' + std::to_string(word_line_) + ':' + std::to_string(word_column_) +
                        ": " + what +
                        (npy ? " (the file is a NumPy .npy file: see --model-encoding=npy)" : ""),
                    word_line_, word_column_);
}

}  // namespace decimal
