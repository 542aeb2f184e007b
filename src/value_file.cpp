#include "decimal/value_file.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>

#include "decimal/error.hpp"

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

// `bytes` in double quotes, safe for one line of a terminal: quotes and
// backslashes escaped, control and non-ASCII bytes as \xNN, "..." after a cut.
std::string quote(std::string_view bytes, bool cut) {
  static constexpr char hex[] = "0123456789abcdef";
  std::string out = "\"";
  for (const char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (byte < 0x20 || byte >= 0x7f) {
      out += "\\x";
      out += hex[byte >> 4];
      out += hex[byte & 0xf];
    } else {
      out += c;
    }
  }
  out += cut ? "\"..." : "\"";
  return out;
}

class file_descriptor {
 public:
  explicit file_descriptor(int fd) : fd_(fd) {}
  file_descriptor(const file_descriptor&) = delete;
  file_descriptor& operator=(const file_descriptor&) = delete;
  ~file_descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  int get() const noexcept { return fd_; }

 private:
  int fd_;
};

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
    if (p == end) {
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

inline const char* value_parser::read_word(const char* const start, const char* const end) {
  const char* p = start;
  if (word_length_ == 0 && (*p == '-' || *p == '+')) {
    negative_ = *p == '-';
    ++p;
  }
  const char* const digits_start = p;
  std::uint64_t magnitude = magnitude_;
  for (; p != end; ++p) {
    const auto digit = static_cast<unsigned>(static_cast<unsigned char>(*p)) - unsigned{'0'};
    if (digit >= 10) break;
    magnitude = std::min(magnitude * 10 + digit, magnitude_limit + 1);
  }
  magnitude_ = magnitude;
  digits_ += static_cast<std::size_t>(p - digits_start);
  // Anything else before the white space spoils the word.
  for (; p != end && !is_space(*p); ++p) malformed_ = true;
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
  if (malformed_ || digits_ == 0) fail_word("expected an integer, found ", last_part);
  const std::uint64_t limit = negative_ ? magnitude_limit : magnitude_limit - 1;
  if (magnitude_ > limit) fail_word("number out of range: ", last_part);
  // Two's complement wrap-around makes 2^31 negated come out as INT32_MIN.
  const auto bits = static_cast<std::uint32_t>(negative_ ? 0 - magnitude_ : magnitude_);
  values_[count_++] = static_cast<std::int32_t>(bits);
}

void value_parser::fail_word(std::string_view what, std::string_view last_part) {
  keep_for_message(last_part);
  const bool cut = word_length_ > kept_length_;
  throw parse_error(name_ + ':' + std::to_string(word_line_) + ':' + std::to_string(word_column_) +
                        ": " + std::string(what) +
                        quote(std::string_view(kept_.data(), kept_length_), cut),
                    word_line_, word_column_);
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

}  // namespace decimal
