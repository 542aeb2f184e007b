// Feeds arbitrary bytes to the raw word reader as a real file, read through a
// buffer of one word to 15 bytes more, a few words at a time, with or without their
// values, as words of 1, 2 or 4 bytes in either byte order and results of any
// width. Checks the outcome against a plain reading of the whole file: the
// same words, or the same error, and never more words than were asked for.
//
// Input: a byte choosing the buffer size (bits 0-3), the word size (bits
// 4-5: 1, 2, 4) and the byte order (bit 6); one the width (0 for samples);
// one the words asked for at a time (bits 0-2), with or without values
// (bit 3), and how many words in all (bits 4-7, times 8; 0 for all); then the file.

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "decimal/error.hpp"
#include "decimal/raw_file.hpp"

namespace {

void check(bool condition) {
  if (!condition) std::abort();
}

struct expected {
  std::vector<std::int64_t> values;
  std::optional<std::string> error;  // the message's part after the file's name
};

expected read_whole(std::string_view bytes, unsigned size, bool big_endian,
                    const decimal::number_range& range, std::size_t limit) {
  expected result;
  const std::size_t whole = bytes.size() / size;
  for (std::size_t w = 0; w < std::min(whole, limit); ++w) {
    std::uint32_t pattern = 0;
    for (unsigned b = 0; b < size; ++b) {
      const auto byte = static_cast<std::uint8_t>(bytes[w * size + b]);
      pattern |= std::uint32_t{byte} << (8 * (big_endian ? size - 1 - b : b));
    }
    // The sign bit of the word's size, extended.
    const std::int64_t sign = std::int64_t{1} << (8 * size - 1);
    const std::int64_t value = (static_cast<std::int64_t>(pattern) ^ sign) - sign;
    if (value < range.min || value > range.max) {
      const std::string v = std::to_string(value);
      result.error =
          ": word " + std::to_string(w + 1) + " (byte " + std::to_string(w * size) + "): " +
          (range.format.empty() ? "number out of range: " + v
                                : v + " does not fit " + range.format) +
          " (not between " + std::to_string(range.min) + " and " + std::to_string(range.max) + ")";
      return result;
    }
    result.values.push_back(value);
  }
  const std::size_t tail = bytes.size() % size;
  if (whole < limit && tail != 0) {
    result.error = ": " + std::to_string(tail) + (tail == 1 ? " byte" : " bytes") +
                   " after the last whole " + std::to_string(8 * size) + "-bit word";
  }
  return result;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 3) return 0;
  const unsigned word = std::array<unsigned, 4>{1, 2, 4, 2}[(data[0] >> 4) & 3];
  std::string buffer(data[0] % 16 + word, '\0');  // room for a word at least
  const bool big_endian = (data[0] & 0x40) != 0;
  const int width = data[1] % 33;
  decimal::number_range range;  // samples: the signed 32-bit range
  if (width != 0) {
    range = {-(std::int64_t{1} << (width - 1)), (std::int64_t{1} << width) - 1, "W", true};
  }
  const std::size_t asked = data[2] % 8 + 1;
  const bool values = (data[2] & 8) != 0;
  const std::size_t limit =
      (data[2] >> 4) == 0 ? SIZE_MAX : static_cast<std::size_t>(data[2] >> 4) * 8;
  const std::string_view bytes(reinterpret_cast<const char*>(data + 3), size - 3);

  static const int fd = memfd_create("raw_file", MFD_CLOEXEC);
  static const std::string path = "/proc/self/fd/" + std::to_string(fd);
  check(fd >= 0 && ftruncate(fd, 0) == 0);
  check(pwrite(fd, bytes.data(), bytes.size(), 0) == static_cast<ssize_t>(bytes.size()));

  const expected want = read_whole(bytes, word, big_endian, range, limit);
  std::vector<std::int64_t> got;
  try {
    decimal::raw_reader reader(path, buffer, word, big_endian, range);
    std::array<std::int64_t, 8> out{};
    while (got.size() < limit) {
      const std::size_t n = std::min(asked, limit - got.size());
      const std::size_t read = reader.read(std::span(out).first(n), values);
      check(read <= n);
      check(reader.count() == got.size() + read);
      got.insert(got.end(), out.begin(), out.begin() + static_cast<std::ptrdiff_t>(read));
      if (read < n) break;
    }
    check(!want.error);
    check(got.size() == want.values.size());
    // Without values, what the words hold is left unspecified.
    check(!values || got == want.values);
  } catch (const decimal::parse_error& e) {
    check(want.error.has_value());
    check(std::string(e.what()) == path + *want.error);
  }
  return 0;
}
