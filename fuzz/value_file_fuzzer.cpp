// Feeds arbitrary bytes to the value-file reader as a real file, read through
// a buffer of 1 to 16 bytes so that words split across reads (and the
// reader's eight-byte steps meet the ends of its buffer), asking for a few
// numbers at a time, in the signed 32-bit range or as the patterns of any
// fixed-point format. Checks the outcome against a plain whole-text reading
// with std::from_chars: the same numbers, or the same error at the same place.
//
// Input: a byte choosing the buffer size, two choosing the range (a width of
// 0 is the signed 32-bit range), one the numbers asked for at a time,
// whether their values are wanted (bit 7) and whether "#" and "//" open
// comments (bit 6), then the file's contents.

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "decimal/error.hpp"
#include "decimal/q_format.hpp"
#include "decimal/value_file.hpp"

namespace {

// The reader stops after this many numbers, whatever follows.
constexpr std::size_t wanted_numbers = 300;

bool is_space(char c) { return std::string_view(" \t\n\v\f\r").find(c) != std::string_view::npos; }

struct expected {
  enum { numbers, not_an_integer, out_of_range } kind = numbers;
  std::vector<std::int64_t> values;
  std::size_t line = 0;
  std::size_t column = 0;
};

expected read_whole(std::string_view text, const decimal::number_range& range) {
  expected result;
  std::size_t line = 1;
  std::size_t line_start = 0;
  std::size_t i = 0;
  while (result.values.size() < wanted_numbers) {
    for (; i < text.size() && is_space(text[i]); ++i) {
      if (text[i] == '\n') {
        ++line;
        line_start = i + 1;
      }
    }
    if (i == text.size()) return result;
    // A word that starts "#" or "//" begins a comment to the end of the line.
    if (range.comments && (text.substr(i).starts_with('#') || text.substr(i).starts_with("//"))) {
      while (i < text.size() && text[i] != '\n') ++i;
      continue;
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
    std::int64_t value = 0;
    const bool in_range =
        std::from_chars(number.data(), number.data() + number.size(), value).ec == std::errc() &&
        value >= range.min && value <= range.max;
    // A word is judged on its first 41 bytes but its leading zeros, once it
    // is out of range there.
    std::size_t zeros = 0;
    while (first_digit + zeros < junk && word[first_digit + zeros] == '0') ++zeros;
    if (junk < word.size() && (in_range || junk - zeros < 41)) {
      result.kind = expected::not_an_integer;
      return result;
    }
    if (!in_range) {
      result.kind = expected::out_of_range;
      return result;
    }
    result.values.push_back(value);
  }
  return result;
}

void check(bool condition) {
  if (!condition) std::abort();
}

decimal::number_range range_of(std::uint8_t width_choice, std::uint8_t integer_bits_choice) {
  const int width = width_choice % 33;
  if (width == 0) return {};  // the samples' range
  const int integer_bits = 1 + integer_bits_choice % width;
  const decimal::q_format format{integer_bits, width - integer_bits};
  return {format.lowest_raw(), format.highest_raw(), format.name()};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 4) return 0;
  std::string buffer(data[0] % 16 + 1, '\0');
  decimal::number_range range = range_of(data[1], data[2]);
  range.comments = (data[3] & 0x40) != 0;
  const std::size_t asked = data[3] % 7 + 1;
  // Reading on without the values must check the words all the same.
  const bool values = (data[3] & 0x80) == 0;
  const std::string_view text(reinterpret_cast<const char*>(data + 4), size - 4);

  static const int fd = memfd_create("value_file", MFD_CLOEXEC);
  static const std::string path = "/proc/self/fd/" + std::to_string(fd);
  check(fd >= 0 && ftruncate(fd, 0) == 0);
  check(pwrite(fd, text.data(), text.size(), 0) == static_cast<ssize_t>(text.size()));

  const expected want = read_whole(text, range);
  std::vector<std::int64_t> got;
  try {
    decimal::value_reader reader(path, buffer, range);
    std::array<std::int64_t, 7> out{};
    while (got.size() < wanted_numbers) {
      const std::size_t n = std::min(asked, wanted_numbers - got.size());
      const std::size_t read = reader.read(std::span(out).first(n), values);
      check(reader.count() == got.size() + read);
      got.insert(got.end(), out.begin(), out.begin() + static_cast<std::ptrdiff_t>(read));
      if (read < n) break;
    }
    check(want.kind == expected::numbers && got.size() == want.values.size());
    check(!values || got == want.values);
  } catch (const decimal::parse_error& e) {
    const std::string_view message = e.what();
    check(want.kind != expected::numbers);
    check(e.line() == want.line && e.column() == want.column);
    check(got.size() <= want.values.size());
    check(!values || std::equal(got.begin(), got.end(), want.values.begin()));
    // After " (" or, when a run of leading zeros is counted, "; ".
    const std::string between =
        "not between " + std::to_string(range.min) + " and " + std::to_string(range.max) + ")";
    if (want.kind == expected::not_an_integer) {
      check(message.find(": expected an integer, found ") != std::string_view::npos);
      check(message.find(between) == std::string_view::npos);
    } else if (range.format.empty()) {
      check(message.find(": number out of range: ") != std::string_view::npos);
      check(message.ends_with(between));
    } else {
      check(message.find(" does not fit " + range.format + " (") != std::string_view::npos);
      check(message.ends_with(between));
    }
  }
  return 0;
}
