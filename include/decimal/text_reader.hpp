#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <utility>

#include "decimal/error.hpp"
#include "decimal/file_descriptor.hpp"
#include "decimal/number_source.hpp"

namespace decimal {

// The bytes that separate words: blank, \t, \n, \v, \f and \r.
inline constexpr std::array<bool, 256> white_space_bytes = [] {
  std::array<bool, 256> table{};
  for (const char c : {' ', '\t', '\n', '\v', '\f', '\r'})
    table[static_cast<unsigned char>(c)] = true;
  return table;
}();
inline bool is_white_space(char c) { return white_space_bytes[static_cast<unsigned char>(c)]; }

// What a parser made of a chunk of text.
struct chunk_progress {
  std::size_t bytes;    // consumed from the chunk
  std::size_t numbers;  // written to the front of the numbers asked for
};

// A file of text words read through a buffer that the caller owns, number by
// number in one pass, by a Parser that takes chunks of any size (such as
// value_parser), and never past what ends the last number asked for. Errors
// throw error (open, read) or the parser's parse_error.
template <typename Parser>
class text_reader final : public number_source {
 public:
  // Opens `path`; the parser, made of the name and `parser_args`, names the
  // file in its messages. `buffer` must not be empty.
  template <typename... ParserArgs>
  text_reader(const std::string& path, std::span<char> buffer, ParserArgs&&... parser_args)
      : file_(::open(path.c_str(), O_RDONLY | O_CLOEXEC)),
        parser_(path, std::forward<ParserArgs>(parser_args)...),
        buffer_(buffer) {
    if (file_.get() < 0) throw os_error(parser_.name(), errno);
  }

  std::size_t read(std::span<std::int64_t> out, bool values = true) override {
    std::size_t got = 0;
    while (got < out.size()) {
      if (unread_.empty()) {
        if (at_end_) break;
        const ssize_t n = ::read(file_.get(), buffer_.data(), buffer_.size());
        if (n < 0) {
          if (errno == EINTR) continue;
          throw os_error(name(), errno);
        }
        if (n == 0) {
          at_end_ = true;
          got += parser_.finish(out.subspan(got));
          break;
        }
        unread_ = std::string_view(buffer_.data(), static_cast<std::size_t>(n));
      }
      const auto step = parser_.feed(unread_, out.subspan(got), values);
      unread_.remove_prefix(step.bytes);
      got += step.numbers;
    }
    return got;
  }

  std::size_t count() const noexcept override { return parser_.count(); }
  std::size_t unknown() const noexcept override { return parser_.unknown(); }
  std::size_t weak() const noexcept override { return parser_.weak(); }
  const std::string& name() const noexcept override { return parser_.name(); }

 private:
  file_descriptor file_;
  Parser parser_;
  std::span<char> buffer_;
  std::string_view unread_{};  // read from the file, not yet parsed
  bool at_end_ = false;
};

}  // namespace decimal
