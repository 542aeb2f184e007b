#include "decimal/raw_file.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
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

std::int64_t raw_reader::word_at(const unsigned char* bytes) const noexcept {
  std::uint32_t bits = 0;
  for (unsigned i = 0; i < size_; ++i) {
    const unsigned shift = 8 * (big_endian_ ? size_ - 1 - i : i);
    bits |= static_cast<std::uint32_t>(bytes[i]) << shift;
  }
  // Signed, of the word's size.
  const unsigned unused = 32 - 8 * size_;
  return static_cast<std::int64_t>(static_cast<std::int32_t>(bits << unused) >> unused);
}

std::size_t raw_reader::read(std::span<std::int64_t> out, bool /*values*/) {
  std::size_t got = 0;
  auto* const bytes = reinterpret_cast<unsigned char*>(buffer_.data());
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
    for (std::size_t w = 0; w < words; ++w) {
      const std::int64_t value = word_at(bytes + w * size_);
      if (value < range_.min || value > range_.max) {
        const std::string what = range_.format.empty()
                                     ? "number out of range: " + std::to_string(value)
                                     : std::to_string(value) + " does not fit " + range_.format;
        throw parse_error(name_ + ": word " + std::to_string(count_ + 1) + " (byte " +
                              std::to_string(count_ * size_) + "): " + what + " (not between " +
                              std::to_string(range_.min) + " and " + std::to_string(range_.max) +
                              ")",
                          0, 0);
      }
      out[got++] = value;
      ++count_;
    }
    partial_ = held - words * size_;
    std::memmove(buffer_.data(), buffer_.data() + words * size_, partial_);
  }
  return got;
}

}  // namespace decimal
