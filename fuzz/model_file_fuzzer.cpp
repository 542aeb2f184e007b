// Feeds arbitrary bytes to the readers of a model's files. As text reals,
// fed in chunks of a chosen size through out-spans of one number: the same
// values as strtod gives each word, or the same error as the whole text fed
// at once. As a .npy file: read to its end a few words at a time, never more
// words than its header's shape, and only a documented error.
//
// Input: a byte choosing the chunk size (bits 0-5) and the reader (bit 6:
// .npy), one the format's fraction bits (0 to 31); then the file.

#include <sys/mman.h>
#include <unistd.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "decimal/encoding.hpp"
#include "decimal/error.hpp"
#include "decimal/real_file.hpp"

namespace {

void check(bool condition) {
  if (!condition) std::abort();
}

struct outcome {
  std::vector<std::int64_t> words;
  std::optional<std::string> error;
};

outcome parse(std::string_view text, std::size_t chunk, const decimal::number_range& range) {
  outcome result;
  decimal::real_parser parser("m.txt", range);
  std::int64_t out = 0;
  try {
    for (std::size_t at = 0; at < text.size();) {
      const auto step = parser.feed(text.substr(at, chunk), std::span(&out, 1));
      check(step.numbers <= 1);
      at += step.bytes;
      if (step.numbers == 1) result.words.push_back(out);
      check(step.bytes != 0 || step.numbers != 0);
    }
    if (parser.finish(std::span(&out, 1)) == 1) result.words.push_back(out);
  } catch (const decimal::parse_error& e) {
    result.error = e.what();
  }
  return result;
}

bool is_space(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// Every word that is no comment, as strtod reads it, in LSB.
std::vector<double> plain_reading(std::string_view text, int scale) {
  std::vector<double> values;
  bool comment = false;
  for (std::size_t i = 0; i < text.size();) {
    if (comment) {
      comment = text[i++] != '\n';
      continue;
    }
    if (is_space(text[i])) {
      ++i;
      continue;
    }
    std::size_t end = i;
    while (end < text.size() && !is_space(text[end])) ++end;
    const std::string word(text.substr(i, end - i));
    i = end;
    if (word.starts_with('#') || word.starts_with("//")) {
      comment = true;
      continue;
    }
    values.push_back(std::ldexp(std::strtod(word.c_str(), nullptr), scale));
  }
  return values;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const std::size_t chunk = data[0] % 64 + 1;
  const bool npy = (data[0] & 0x40) != 0;
  const int scale = data[1] % 32;
  const decimal::number_range range{
      .format = "Q1." + std::to_string(scale), .comments = true, .real_scale = scale};
  const std::string_view bytes(reinterpret_cast<const char*>(data + 2), size - 2);
  if (!npy) {
    const outcome whole = parse(bytes, bytes.size() + 1, range);
    const outcome chunked = parse(bytes, chunk, range);
    check(chunked.words == whole.words);
    check(chunked.error == whole.error);
    if (!whole.error) {
      const std::vector<double> plain = plain_reading(bytes, scale);
      check(plain.size() == whole.words.size());
      for (std::size_t i = 0; i < plain.size(); ++i) {
        // -0 and the tiniest negatives are read as 0.
        check(decimal::real_of_word(whole.words[i]) == plain[i] ||
              (plain[i] <= 0 && plain[i] > -0x1p-1070 && whole.words[i] == 0));
      }
    }
    return 0;
  }
  static const int fd = memfd_create("model_file", MFD_CLOEXEC);
  static const std::string path = "/proc/self/fd/" + std::to_string(fd);
  check(fd >= 0 && ftruncate(fd, 0) == 0);
  check(pwrite(fd, bytes.data(), bytes.size(), 0) == static_cast<ssize_t>(bytes.size()));
  std::array<char, 64> buffer;
  decimal::number_range integers = range;
  integers.min = -(std::int64_t{1} << 20);
  integers.max = std::int64_t{1} << 20;
  try {
    const auto file = decimal::open_numbers(path, decimal::encoding::npy, buffer, integers, true);
    std::array<std::int64_t, 5> out{};
    std::size_t words = 0;
    for (std::size_t n; (n = file->read(out)) != 0;) {
      words += n;
      check(file->count() == words);
      for (std::size_t i = 0; i < n && file->real(); ++i) {
        check(std::isfinite(decimal::real_of_word(out[i])));
      }
    }
  } catch (const decimal::error& e) {
    check(std::string_view(e.what()).starts_with(path));
  }
  return 0;
}
