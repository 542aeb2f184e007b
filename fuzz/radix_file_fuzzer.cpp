// Feeds arbitrary bytes to the hex and binary word reader as a real file,
// read through a buffer of 1 to 16 bytes or of 4096, a few numbers at a time, as
// results (unknown digits allowed) of any width or as samples. Checks the
// outcome against a plain reading of the whole text: comments blanked out
// first, then each word judged on its own. The same numbers, or an error at
// the same place.
//
// Input: a byte choosing the buffer size (bit 6: 4096), hex or binary (bit 7)
// and C literals or weak letters as unknown (bit 5), one the width
// (0 for samples), one the numbers asked for at a time, then the file.

#include <sys/mman.h>
#include <unistd.h>

#include <array>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "decimal/error.hpp"
#include "decimal/radix_file.hpp"

namespace {

constexpr std::size_t wanted_numbers = 300;
constexpr std::uint64_t cap = std::uint64_t{1} << 40;

bool is_space(char c) { return std::string_view(" \t\n\v\f\r").find(c) != std::string_view::npos; }

void check(bool condition) {
  if (!condition) std::abort();
}

struct expected {
  std::vector<std::int64_t> values;
  bool failed = false;
  std::size_t line = 0;
  std::size_t column = 0;
};

// The index in unknown_letters of a letter of unknown bits, if it is one.
std::optional<std::size_t> letter_of(char c, bool weak_unknown) {
  const char upper = c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
  if (!weak_unknown && (upper == 'L' || upper == 'H')) return std::nullopt;
  for (std::size_t i = 0; i < decimal::unknown_letters.size(); ++i) {
    if (decimal::unknown_letters[i] == upper) return i;
  }
  return std::nullopt;
}

// The word's number, an unknown value, nothing for an address of the next
// entry; false when it is bad. A bench's word has no sign, and - is one of
// its unknown digits; a C literal has a sign and a prefix, and no unknown digit.
bool judge(std::string_view word, unsigned bits, bool c_literals,
           const decimal::number_range& range, std::size_t next,
           std::optional<std::int64_t>& number) {
  number.reset();
  const bool address = word.front() == '@' && bits == 4 && !c_literals;
  std::size_t at = address ? 1 : 0;
  bool negative = false;
  if (c_literals) {
    if (word[at] == '-' || word[at] == '+') negative = word[at++] == '-';
    if (word.size() < at + 2 || word[at] != '0' || (word[at + 1] | 0x20) != 'x') return false;
    at += 2;
  } else if (bits == 1 && word.size() >= 2 && word[0] == '0' && (word[1] | 0x20) == 'b') {
    at = 2;
  }
  const unsigned digit_bits = address ? 4 : bits;
  const std::uint64_t all_ones = (std::uint64_t{1} << digit_bits) - 1;
  std::uint64_t magnitude = 0;
  std::uint64_t pattern = 0;  // every unknown bit set
  std::optional<std::size_t> first_unknown;
  bool weak = false;
  std::size_t digits = 0;
  for (std::size_t i = at; i < word.size(); ++i) {
    const char c = word[i];
    if (c == '_') {
      if (digits == 0 || i + 1 == word.size()) return false;
      continue;
    }
    std::uint64_t d = 16;
    std::uint64_t p = 16;
    const char upper = c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
    if (const auto letter =
            address || c_literals ? std::nullopt : letter_of(c, range.weak_unknown)) {
      if (!first_unknown) first_unknown = letter;
      d = 0;
      p = all_ones;
    } else if (!address && !c_literals && (upper == 'L' || upper == 'H')) {
      weak = true;
      d = p = upper == 'H' ? all_ones : 0;
    } else {
      if (c >= '0' && c <= '9') d = static_cast<unsigned>(c - '0');
      if ((c | 0x20) >= 'a' && (c | 0x20) <= 'f') d = static_cast<unsigned>((c | 0x20) - 'a' + 10);
      if (d > all_ones) return false;
      p = d;
    }
    ++digits;
    if (pattern < cap) {
      magnitude = (magnitude << digit_bits) | d;
      pattern = (pattern << digit_bits) | p;
    }
  }
  if (digits == 0) return false;
  if ((first_unknown || weak) && !range.unknowns) return false;
  if (address) return magnitude == next;
  if (first_unknown) {
    if (pattern > static_cast<std::uint64_t>(range.max)) return false;
    number = decimal::unknown_value_of(*first_unknown);
    return true;
  }
  if (magnitude >= cap) return false;
  const std::int64_t value =
      negative ? -static_cast<std::int64_t>(magnitude) : static_cast<std::int64_t>(magnitude);
  if (value < range.min || value > range.max) return false;
  number = value;
  return true;
}

expected read_whole(std::string text, unsigned bits, bool c_literals,
                    const decimal::number_range& range) {
  expected result;
  // Comments become blanks, their line feeds kept; one left open is an error where it starts.
  std::size_t line = 1;
  std::size_t line_start = 0;
  std::optional<std::pair<std::size_t, std::size_t>> open_comment;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\n') {
      ++line;
      line_start = i + 1;
    }
    if (text[i] != '/' || i + 1 == text.size() || (text[i + 1] != '/' && text[i + 1] != '*'))
      continue;
    const bool block = text[i + 1] == '*';
    const std::pair<std::size_t, std::size_t> where{line, i - line_start + 1};
    std::size_t end = block ? text.find("*/", i + 2) : text.find('\n', i + 2);
    if (end == std::string::npos) {
      if (block) open_comment = where;
      end = text.size();
    } else {
      end += block ? 2 : 0;
    }
    for (std::size_t j = i; j < end; ++j) {
      if (text[j] == '\n') {
        ++line;
        line_start = j + 1;
      } else {
        text[j] = ' ';
      }
    }
    i = end - 1;  // a blank, or the line feed that ends a line comment comes next
  }
  line = 1;
  line_start = 0;
  std::size_t i = 0;
  while (result.values.size() < wanted_numbers) {
    for (; i < text.size() && is_space(text[i]); ++i) {
      if (text[i] == '\n') {
        ++line;
        line_start = i + 1;
      }
    }
    if (i == text.size()) break;
    const std::size_t start = i;
    while (i < text.size() && !is_space(text[i])) ++i;
    std::optional<std::int64_t> number;
    if (!judge(std::string_view(text).substr(start, i - start), bits, c_literals, range,
               result.values.size(), number)) {
      result.failed = true;
      result.line = line;
      result.column = start - line_start + 1;
      return result;
    }
    if (number) result.values.push_back(*number);
  }
  if (open_comment && result.values.size() < wanted_numbers) {
    result.failed = true;
    result.line = open_comment->first;
    result.column = open_comment->second;
  }
  return result;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 3) return 0;
  // Bit 6: a buffer long enough for the reader's 16-byte steps through hex words.
  std::string buffer((data[0] & 0x40) != 0 ? 4096 : data[0] % 16 + 1, '\0');
  const unsigned bits = (data[0] & 0x80) != 0 ? 1 : 4;
  // Bit 5: C literals in hex, weak letters taken as unknown in binary.
  const bool c_literals = bits == 4 && (data[0] & 0x20) != 0;
  const int width = data[1] % 33;
  decimal::number_range range{INT32_MIN, UINT32_MAX, "", false};  // samples
  if (width != 0) {
    range = {-(std::int64_t{1} << (width - 1)), (std::int64_t{1} << width) - 1, "W", true,
             bits == 1 && (data[0] & 0x20) != 0};
  }
  const std::size_t asked = data[2] % 7 + 1;
  const std::string_view text(reinterpret_cast<const char*>(data + 3), size - 3);

  static const int fd = memfd_create("radix_file", MFD_CLOEXEC);
  static const std::string path = "/proc/self/fd/" + std::to_string(fd);
  check(fd >= 0 && ftruncate(fd, 0) == 0);
  check(pwrite(fd, text.data(), text.size(), 0) == static_cast<ssize_t>(text.size()));

  const expected want = read_whole(std::string(text), bits, c_literals, range);
  std::vector<std::int64_t> got;
  try {
    decimal::radix_reader reader(path, buffer, bits, range, c_literals);
    std::array<std::int64_t, 7> out{};
    while (got.size() < wanted_numbers) {
      const std::size_t n = std::min(asked, wanted_numbers - got.size());
      const std::size_t read = reader.read(std::span(out).first(n));
      check(reader.count() == got.size() + read);
      got.insert(got.end(), out.begin(), out.begin() + static_cast<std::ptrdiff_t>(read));
      if (read < n) break;
    }
    check(!want.failed && got == want.values);
  } catch (const decimal::parse_error& e) {
    check(want.failed);
    check(e.line() == want.line && e.column() == want.column);
    check(got.size() <= want.values.size());
    check(std::equal(got.begin(), got.end(), want.values.begin()));
  }
  return 0;
}
