#include "decimal/raw_file.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <limits>
#include <type_traits>
#include <utility>

#include "decimal/display.hpp"
#include "decimal/error.hpp"

namespace decimal {

raw_reader::raw_reader(const std::string& path, std::span<char> buffer, unsigned size,
                       bool big_endian, number_range range)
    : raw_reader(path, buffer, raw_word{size, big_endian}, std::move(range)) {}

raw_reader::raw_reader(const std::string& path, std::span<char> buffer, raw_word word,
                       number_range range)
    : raw_reader(file_descriptor(::open(path.c_str(), O_RDONLY | O_CLOEXEC)), shown_name(path),
                 buffer, word, std::move(range)) {
  if (file_.get() < 0) throw os_error(name_, errno);
}

raw_reader::raw_reader(file_descriptor file, std::string name, std::span<char> buffer,
                       raw_word word, number_range range)
    : file_(std::move(file)),
      name_(std::move(name)),
      // Whole words only, so that one never straddles two reads.
      buffer_(buffer.first(buffer.size() / word.size * word.size)),
      size_(word.size),
      big_endian_(word.big_endian),
      kind_(word.kind),
      range_(std::move(range)) {}

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

void raw_reader::convert_other_words(const char* bytes, std::size_t words, std::int64_t* out) {
  std::size_t w = 0;
  if (kind_ == raw_kind::ieee_float) {
    // The good words in a plain loop; the first bad one, if any, is told below.
    const double scale = std::ldexp(1.0, range_.real_scale);
    const bool swap = big_endian_ != (std::endian::native == std::endian::big);
    for (; w < words; ++w) {
      double value = 0;
      if (size_ == 8) {
        std::uint64_t word = 0;
        std::memcpy(&word, bytes + 8 * w, 8);
        value = std::bit_cast<double>(swap ? __builtin_bswap64(word) : word);
      } else {
        std::uint32_t word = 0;
        std::memcpy(&word, bytes + 4 * w, 4);
        value = std::bit_cast<float>(swap ? swapped(word) : word);
      }
      const double lsb = value * scale;             // times a power of two: exact
      if (!(std::fabs(lsb) < max_real_lsb)) break;  // NaN too
      out[w] = real_word(lsb);
    }
  }
  for (; w < words; ++w) {
    std::uint64_t word = 0;
    for (unsigned b = 0; b < size_; ++b) {
      const auto byte =
          static_cast<unsigned char>(bytes[w * size_ + (big_endian_ ? b : size_ - 1 - b)]);
      word = (word << 8) | byte;
    }
    const auto fail = [&](const std::string& what) {
      count_ += w;
      throw parse_error(name_ + ": word " + std::to_string(count_ + 1) + " (byte " +
                            std::to_string(count_ * size_) + "): " + what,
                        0, 0);
    };
    if (kind_ == raw_kind::ieee_float) {
      const double value = size_ == 4 ? std::bit_cast<float>(static_cast<std::uint32_t>(word))
                                      : std::bit_cast<double>(word);
      if (!std::isfinite(value)) fail("not a finite number: " + shortest_decimal(value));
      fail(shortest_decimal(value) + " is 2^52 LSB or more of " + range_.format +
           ", past what is compared exactly");
    }
    const unsigned bits = 8 * size_;
    if (kind_ == raw_kind::unsigned_integer && bits == 64 && word > INT64_MAX) {
      fail(std::to_string(word) + " does not fit " + range_.format);
    }
    // Sign-extended from the word's top bit when the word is signed.
    const std::uint64_t sign =
        kind_ == raw_kind::signed_integer ? std::uint64_t{1} << (bits - 1) : 0;
    const auto value = static_cast<std::int64_t>((word ^ sign) - sign);
    if (value < range_.min || value > range_.max) {
      const std::string number = std::to_string(value);
      fail((range_.format.empty() ? "number out of range: " + number
                                  : number + " does not fit " + range_.format) +
           " (not between " + std::to_string(range_.min) + " and " + std::to_string(range_.max) +
           ")");
    }
    out[w] = value;
  }
}

bool raw_reader::every_word_fits() const noexcept {
  if (kind_ != raw_kind::signed_integer || size_ == 8) return false;
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
    if (kind_ != raw_kind::signed_integer || size_ == 8) {
      convert_other_words(buffer_.data(), words, into);
    } else if (convert && !convert_words(buffer_.data(), words, into)) {
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
