// Feeds arbitrary bytes to the value-file reader as a real file, read through
// a buffer of 1 to 16 bytes so that words split across reads, and checks the
// outcome against a plain whole-text reading with std::from_chars: the same
// 201 numbers, or the same error at the same place.
//
// Input: one byte choosing the buffer size, then the file's contents.

#include <sys/mman.h>
#include <unistd.h>

#include <charconv>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "decimal/error.hpp"
#include "decimal/run.hpp"

namespace {

using decimal::entry_count;

bool is_space(char c) { return std::string_view(" \t\n\v\f\r").find(c) != std::string_view::npos; }

struct expected {
  enum { numbers, not_an_integer, out_of_range, too_few } kind = numbers;
  decimal::raw_table values{};
  std::size_t count = 0;
  std::size_t line = 0;
  std::size_t column = 0;
};

expected read_whole(std::string_view text) {
  expected result;
  std::size_t line = 1;
  std::size_t line_start = 0;
  std::size_t i = 0;
  while (result.count < entry_count) {
    for (; i < text.size() && is_space(text[i]); ++i) {
      if (text[i] == '\n') {
        ++line;
        line_start = i + 1;
      }
    }
    if (i == text.size()) {
      result.kind = expected::too_few;
      return result;
    }
    const std::size_t start = i;
    while (i < text.size() && !is_space(text[i])) ++i;
    const std::string_view word = text.substr(start, i - start);
    result.line = line;
    result.column = start - line_start + 1;
    const bool signed_word = word.front() == '+' || word.front() == '-';
    const std::size_t first_digit = signed_word ? 1 : 0;
    std::size_t junk = first_digit;  // where the digits end
    while (junk < word.size() && word[junk] >= '0' && word[junk] <= '9') ++junk;
    if (junk == first_digit) {
      result.kind = expected::not_an_integer;
      return result;
    }
    // from_chars takes "-7" but not "+7".
    const std::string number = (word.front() == '-' ? "-" : "") +
                               std::string(word.substr(first_digit, junk - first_digit));
    std::int32_t value = 0;
    const bool in_range =
        std::from_chars(number.data(), number.data() + number.size(), value).ec == std::errc();
    // A word is judged on its first 41 bytes once it is out of range there.
    if (junk < word.size() && (in_range || junk < 41)) {
      result.kind = expected::not_an_integer;
      return result;
    }
    if (!in_range) {
      result.kind = expected::out_of_range;
      return result;
    }
    result.values[result.count++] = value;
  }
  return result;
}

void check(bool condition) {
  if (!condition) std::abort();
}

// The byte at (line, column) exists and starts a word.
bool starts_a_word(std::string_view text, std::size_t line, std::size_t column) {
  std::size_t at = 0;
  for (std::size_t l = 1; l < line; ++l) {
    at = text.find('\n', at);
    if (at == std::string_view::npos) return false;
    ++at;
  }
  at += column - 1;
  return column >= 1 && at < text.size() && !is_space(text[at]) &&
         (at == 0 || is_space(text[at - 1]));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  std::string buffer(data[0] % 16 + 1, '\0');
  const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);

  static const int fd = memfd_create("value_file", MFD_CLOEXEC);
  static const std::string path = "/proc/self/fd/" + std::to_string(fd);
  check(fd >= 0 && ftruncate(fd, 0) == 0);
  check(pwrite(fd, text.data(), text.size(), 0) == static_cast<ssize_t>(text.size()));

  const expected want = read_whole(text);
  try {
    const decimal::raw_table got = decimal::read_value_file(path.c_str(), buffer);
    check(want.kind == expected::numbers && got == want.values);
  } catch (const decimal::parse_error& e) {
    const std::string_view message = e.what();
    switch (want.kind) {
      case expected::numbers:
        check(false);
        break;
      case expected::too_few:
        check(e.line() == 0 && e.column() == 0);
        check(message.ends_with(": expected 201 numbers, found " + std::to_string(want.count)));
        break;
      case expected::not_an_integer:
      case expected::out_of_range:
        check(e.line() == want.line && e.column() == want.column);
        check(starts_a_word(text, e.line(), e.column()));
        check(message.find(want.kind == expected::out_of_range
                               ? ": number out of range: "
                               : ": expected an integer, found ") != std::string_view::npos);
        check(message.ends_with(" (not between -2147483648 and 2147483647)") ==
              (want.kind == expected::out_of_range));
        break;
    }
  }
  return 0;
}
