#include "decimal/raw_file.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstring>
#include <limits>
#include <type_traits>
#include <utility>

#include "decimal/display.hpp"
#include "decimal/error.hpp"

namespace decimal {

raw_reader::raw_reader(const std::string& path, std::span<char> buffer, unsigned size,
                       bool big_endian, number_range range)
    : file_(::open(path.c_str(), O_RDONLY | O_CLOEXEC)),
      name_(shown_name(path)),
      // Whole words only, so that one never straddles two reads.
      buffer_(buffer.first(buffer.size() / size * size)),
      size_(size),
      big_endian_(big_endian),
      range_(std::move(range)) {
  if (file_.get() < 0) throw os_error(name_, errno);
}

namespace {

// The bits of an unsigned word in the other byte order.
template <typename Word>
Word swapped(Word word) {
  if constexpr (sizeof(Word) == 2) return __builtin_bswap16(word);
  if constexpr (sizeof(Word) == 4) return __builtin_bswap32(word);
  return word;
}

// Converts `words` words of `bytes`, signed, into `out`; returns whether all
// lie in [min, max]. The check is made in the word's own signed type, on
// the bounds clamped to it, so that it runs over many words at once.
template <typename Word, bool big_endian>
[[gnu::always_inline]] inline bool convert(const char* bytes, std::size_t words, std::int64_t* out,
                                           std::int64_t min, std::int64_t max) {
  using Signed = std::make_signed_t<Word>;
  const auto clamped = [](std::int64_t bound) {
    return static_cast<Signed>(std::clamp<std::int64_t>(bound, std::numeric_limits<Signed>::min(),
                                                        std::numeric_limits<Signed>::max()));
  };
  constexpr auto sign = std::int64_t{1} << (8 * sizeof(Word) - 1);
  const Signed low = clamped(min);
  const Signed high = clamped(max);
  unsigned outside = 0;
  for (std::size_t w = 0; w < words; ++w) {
    Word word;
    std::memcpy(&word, bytes + w * sizeof(Word), sizeof(Word));
    if constexpr (big_endian != (std::endian::native == std::endian::big)) word = swapped(word);
    const auto value = std::bit_cast<Signed>(word);
    // The sign extended by arithmetic on the unsigned word: no signed char widened.
    out[w] = (static_cast<std::int64_t>(word) ^ sign) - sign;
    outside |= static_cast<unsigned>(value < low) | static_cast<unsigned>(value > high);
  }
  return outside == 0;
}

// convert() for each size and byte order, made for AVX2 too and chosen when
// the machine has it; one function each, as clang clones no template.
__attribute__((target_clones("avx2", "default"))) bool convert_s8(
    const char* bytes, std::size_t words, std::int64_t* out, std::int64_t min, std::int64_t max) {
  return convert<std::uint8_t, false>(bytes, words, out, min, max);
}
__attribute__((target_clones("avx2", "default"))) bool convert_s16le(
    const char* bytes, std::size_t words, std::int64_t* out, std::int64_t min, std::int64_t max) {
  return convert<std::uint16_t, false>(bytes, words, out, min, max);
}
__attribute__((target_clones("avx2", "default"))) bool convert_s16be(
    const char* bytes, std::size_t words, std::int64_t* out, std::int64_t min, std::int64_t max) {
  return convert<std::uint16_t, true>(bytes, words, out, min, max);
}
__attribute__((target_clones("avx2", "default"))) bool convert_s32le(
    const char* bytes, std::size_t words, std::int64_t* out, std::int64_t min, std::int64_t max) {
  return convert<std::uint32_t, false>(bytes, words, out, min, max);
}
__attribute__((target_clones("avx2", "default"))) bool convert_s32be(
    const char* bytes, std::size_t words, std::int64_t* out, std::int64_t min, std::int64_t max) {
  return convert<std::uint32_t, true>(bytes, words, out, min, max);
}

}  // namespace

bool raw_reader::convert_words(const char* bytes, std::size_t words, std::int64_t* out) const {
  const std::int64_t min = range_.min;
  const std::int64_t max = range_.max;
  switch (size_) {
    case 1:
      return convert_s8(bytes, words, out, min, max);
    case 2:
      return big_endian_ ? convert_s16be(bytes, words, out, min, max)
                         : convert_s16le(bytes, words, out, min, max);
    default:
      return big_endian_ ? convert_s32be(bytes, words, out, min, max)
                         : convert_s32le(bytes, words, out, min, max);
  }
}

bool raw_reader::every_word_fits() const noexcept {
  const std::int64_t sign = std::int64_t{1} << (8 * size_ - 1);
  return range_.min <= -sign && range_.max >= sign - 1;
}

std::size_t raw_reader::read(std::span<std::int64_t> out, bool values) {
  const bool convert = values || !every_word_fits();
  std::size_t got = 0;
  while (got < out.size() && !at_end_) {
    // As many bytes as the words still asked for, and no more.
    const std::size_t wanted = std::min(buffer_.size(), (out.size() - got) * size_) - partial_;
    const ssize_t n = ::read(file_.get(), buffer_.data() + partial_, wanted);
    if (n < 0) {
      if (errno == EINTR) continue;
      throw os_error(name_, errno);
    }
    if (n == 0) {
      at_end_ = true;
      if (partial_ != 0) {
        throw parse_error(name_ + ": " + std::to_string(partial_) +
                              (partial_ == 1 ? " byte" : " bytes") + " after the last whole " +
                              std::to_string(8 * size_) + "-bit word",
                          0, 0);
      }
      break;
    }
    const std::size_t held = partial_ + static_cast<std::size_t>(n);
    const std::size_t words = held / size_;
    std::int64_t* const into = out.data() + got;  // room for them: see `wanted`
    if (convert && !convert_words(buffer_.data(), words, into)) {
      // The first word out of range is told; those before it count as read.
      std::size_t w = 0;
      while (into[w] >= range_.min && into[w] <= range_.max) ++w;
      count_ += w;
      const std::string value = std::to_string(into[w]);
      const std::string what = range_.format.empty() ? "number out of range: " + value
                                                     : value + " does not fit " + range_.format;
      throw parse_error(name_ + ": word " + std::to_string(count_ + 1) + " (byte " +
                            std::to_string(count_ * size_) + "): " + what + " (not between " +
                            std::to_string(range_.min) + " and " + std::to_string(range_.max) + ")",
                        0, 0);
    }
    got += words;
    count_ += words;
    partial_ = held - words * size_;
    std::memmove(buffer_.data(), buffer_.data() + words * size_, partial_);
  }
  return got;
}

}  // namespace decimal
