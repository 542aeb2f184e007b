#include "decimal/value_file.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <limits>

#include "decimal/error.hpp"

namespace decimal {
namespace {

constexpr std::uint64_t magnitude_limit = std::uint64_t{1} << 31;  // |INT32_MIN|

constexpr bool is_space(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

constexpr bool is_digit(char c) { return c >= '0' && c <= '9'; }

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
  std::size_t i = 0;
  while (i < chunk.size() && !complete()) {
    const char c = chunk[i++];
    if (is_space(c)) {
      if (in_word_) end_word();
      if (c == '\n') {
        ++line_;
        column_ = 1;
      } else {
        ++column_;
      }
      continue;
    }
    if (!in_word_) begin_word();
    if (word_length_ < preview_.size()) preview_[word_length_] = c;
    if (is_digit(c)) {
      magnitude_ = magnitude_ * 10 + static_cast<std::uint64_t>(c - '0');
      if (magnitude_ > magnitude_limit) magnitude_ = magnitude_limit + 1;
      ++digits_;
    } else if (word_length_ == 0 && (c == '-' || c == '+')) {
      negative_ = c == '-';
    } else {
      malformed_ = true;
    }
    ++word_length_;
    ++column_;
  }
  return i;
}

const raw_table& value_parser::finish() {
  if (in_word_ && !complete()) end_word();
  if (!complete()) {
    throw parse_error(name_ + ": expected " + std::to_string(entry_count) + " numbers, found " +
                          std::to_string(count_),
                      0, 0);
  }
  return values_;
}

void value_parser::begin_word() {
  in_word_ = true;
  word_line_ = line_;
  word_column_ = column_;
  word_length_ = 0;
  negative_ = false;
  malformed_ = false;
  digits_ = 0;
  magnitude_ = 0;
}

void value_parser::end_word() {
  in_word_ = false;
  if (malformed_ || digits_ == 0) fail_word("expected an integer, found ");
  const std::uint64_t limit = negative_ ? magnitude_limit : magnitude_limit - 1;
  if (magnitude_ > limit) fail_word("number out of range: ");
  // Two's complement wrap-around makes 2^31 negated come out as INT32_MIN.
  const auto bits = static_cast<std::uint32_t>(negative_ ? 0 - magnitude_ : magnitude_);
  values_[count_++] = static_cast<std::int32_t>(bits);
}

void value_parser::fail_word(std::string_view what) const {
  const bool cut = word_length_ > preview_.size();
  const std::string_view shown(preview_.data(), cut ? preview_.size() : word_length_);
  throw parse_error(name_ + ':' + std::to_string(word_line_) + ':' + std::to_string(word_column_) +
                        ": " + std::string(what) + quote(shown, cut),
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
  std::array<char, 64 * 1024> buffer;
  return read_value_file(path, buffer);
}

}  // namespace decimal
