#include "decimal/value_file.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <string>
#include <string_view>

#include "decimal/error.hpp"
#include "file_descriptor.hpp"

namespace decimal {
namespace {

constexpr std::uint64_t magnitude_limit = std::uint64_t{1} << 31;  // |INT32_MIN|

constexpr std::array<bool, 256> space_bytes = [] {
  std::array<bool, 256> table{};
  for (const char c : {' ', '\t', '\n', '\v', '\f', '\r'})
    table[static_cast<unsigned char>(c)] = true;
  return table;
}();

bool is_space(char c) { return space_bytes[static_cast<unsigned char>(c)]; }

// 0 to 9 for a decimal digit, 10 or more for any other byte.
unsigned digit_value(char c) { return unsigned{static_cast<unsigned char>(c)} - unsigned{'0'}; }

// Why a file that starts with `head` holds no numbers, when its encoding tells.
std::string_view encoding_hint(std::string_view head) {
  if (head.starts_with("\xef\xbb\xbf")) return " (the file starts with a UTF-8 byte order mark)";
  if (head.starts_with("\xff\xfe") || head.starts_with("\xfe\xff")) {
    return " (the file looks like UTF-16 text)";
  }
  return {};
}

}  // namespace

std::size_t value_parser::feed(std::string_view chunk) {
  const char* const begin = chunk.data();
  const char* const end = begin + chunk.size();
  const char* p = begin;
  // The line count lives in locals here so that the white-space loop stays in registers.
  std::size_t line = line_;
  std::size_t line_start = line_start_;
  const auto offset_of = [&](const char* q) {
    return offset_ + static_cast<std::size_t>(q - begin);
  };
  while (p != end && !complete()) {
    if (!in_word_) {
      for (; p != end && is_space(*p); ++p) {
        if (*p == '\n') {
          ++line;
          line_start = offset_of(p) + 1;
        }
      }
      if (p == end) break;
      begin_word(line, offset_of(p) - line_start + 1);
    }
    const char* const word_end = read_word(p, end);
    const std::string_view part(p, static_cast<std::size_t>(word_end - p));
    p = word_end;
    if (p == end && !(bad() && word_length_ > shown_word_size)) {
      keep_for_message(part);  // the word goes on in the next chunk
    } else {
      end_word(part);
      if (complete()) ++p;  // the white space that ends the last needed word
    }
  }
  line_ = line;
  line_start_ = line_start;
  const auto used = static_cast<std::size_t>(p - begin);
  offset_ += used;
  return used;
}

const raw_table& value_parser::finish() {
  if (in_word_ && !complete()) end_word({});
  if (!complete()) {
    throw parse_error(name_ + ": expected " + std::to_string(entry_count) + " numbers, found " +
                          std::to_string(count_),
                      0, 0);
  }
  return values_;
}

inline void value_parser::begin_word(std::size_t line, std::size_t column) {
  in_word_ = true;
  word_line_ = line;
  word_column_ = column;
  word_length_ = 0;
  kept_length_ = 0;
  negative_ = false;
  malformed_ = false;
  digits_ = 0;
  magnitude_ = 0;
}

inline bool value_parser::out_of_range() const noexcept {
  return magnitude_ > (negative_ ? magnitude_limit : magnitude_limit - 1);
}

inline const char* value_parser::read_word(const char* const start, const char* const end) {
  const char* p = start;
  if (word_length_ == 0 && (*p == '-' || *p == '+')) {
    negative_ = *p == '-';
    ++p;
  }
  if (!bad()) {
    const std::uint64_t limit = negative_ ? magnitude_limit : magnitude_limit - 1;
    const char* const digits_start = p;
    std::uint64_t magnitude = magnitude_;
    for (; p != end; ++p) {
      const unsigned digit = digit_value(*p);
      if (digit >= 10) break;
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
    const std::size_t read = word_length_ + static_cast<std::size_t>(p - start);
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
  const std::size_t n = std::min(part.size(), kept_.size() - kept_length_);
  std::copy_n(part.data(), n, kept_.data() + kept_length_);
  kept_length_ += n;
}

inline void value_parser::end_word(std::string_view last_part) {
  in_word_ = false;
  if (bad() || digits_ == 0) fail_word(last_part);
  // Two's complement wrap-around makes 2^31 negated come out as INT32_MIN.
  const auto bits = static_cast<std::uint32_t>(negative_ ? 0 - magnitude_ : magnitude_);
  values_[count_++] = static_cast<std::int32_t>(bits);
}

void value_parser::fail_word(std::string_view last_part) {
  keep_for_message(last_part);
  const std::string_view shown(kept_.data(), kept_length_);
  const bool cut = word_length_ > kept_length_;
  std::string message =
      name_ + ':' + std::to_string(word_line_) + ':' + std::to_string(word_column_) + ": ";
  if (malformed_ || digits_ == 0) {
    message += "expected an integer, found " + quote(shown, cut);
  } else {
    message +=
        "number out of range: " + quote(shown, cut) + " (not between -2147483648 and 2147483647)";
  }
  // The first word of the file holds its first bytes.
  if (word_line_ == 1 && word_column_ == 1) message += encoding_hint(shown);
  throw parse_error(message, word_line_, word_column_);
}

raw_table read_value_file(const char* path, std::span<char> buffer) {
  const file_descriptor file(::open(path, O_RDONLY | O_CLOEXEC));
  if (file.get() < 0) throw os_error(path, errno);
  value_parser parser(path);
  while (!parser.complete()) {
    const ssize_t n = ::read(file.get(), buffer.data(), buffer.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      throw os_error(path, errno);
    }
    if (n == 0) break;
    parser.feed(std::string_view(buffer.data(), static_cast<std::size_t>(n)));
  }
  return parser.finish();
}

raw_table read_value_file(const char* path) {
  // Ordinary value files fit in one read; longer ones stream through.
  std::array<char, std::size_t{64} << 10> buffer;
  return read_value_file(path, buffer);
}

run_files read_run_files(const std::string& dir) {
  const auto path = [&dir](const char* name) {
    if (dir.empty()) return std::string(name);
    return dir.ends_with('/') ? dir + name : dir + '/' + name;
  };
  run_files files;
  files.samples = read_value_file(path("samples.txt").c_str());
  files.results_m = read_value_file(path("results_m.txt").c_str());
  files.results_c = read_value_file(path("results_c.txt").c_str());
  return files;
}

}  // namespace decimal
