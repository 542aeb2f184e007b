// Reads two files of numbers of any lengths as one complex result (their
// numbers in turn), and one file with each number repeated for a frame, in
// reads of any sizes. Checks what comes out against the plain interleaving
// or repetition: the same numbers in the same order, counts that agree,
// and trouble exactly when the two files' lengths differ, told once both
// are known.
//
// Input: a byte for each part's length (0 to 255), one for the repeats (1
// to 8), then bytes that choose the sizes of the reads (1 to 64) in turn.

#include <algorithm>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "decimal/error.hpp"
#include "decimal/frame_sources.hpp"

namespace {

// A file of the numbers `first`, `first` + 1, ...: each one tells where it came from.
class counting_source final : public decimal::number_source {
 public:
  counting_source(std::size_t length, std::int64_t first, std::string name)
      : length_(length), first_(first), name_(std::move(name)) {}

  std::size_t read(std::span<std::int64_t> out, bool /*values*/) override {
    const std::size_t n = std::min(out.size(), length_ - given_);
    for (std::size_t k = 0; k < n; ++k) out[k] = first_ + static_cast<std::int64_t>(given_ + k);
    given_ += n;
    return n;
  }
  std::size_t count() const noexcept override { return given_; }
  std::size_t unknown() const noexcept override { return 0; }
  const std::string& name() const noexcept override { return name_; }

 private:
  std::size_t length_;
  std::int64_t first_;
  std::string name_;
  std::size_t given_ = 0;
};

// The sizes of the reads, from the input's bytes in turn (then 64s).
class read_sizes {
 public:
  explicit read_sizes(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
  std::size_t next() {
    return at_ < bytes_.size() ? std::size_t{bytes_[at_++]} % 64 + 1 : std::size_t{64};
  }

 private:
  std::span<const std::uint8_t> bytes_;
  std::size_t at_ = 0;
};

void check_interleaved(std::size_t real_length, std::size_t imaginary_length, read_sizes sizes) {
  decimal::interleaved_source both(
      std::make_unique<counting_source>(real_length, 0, "real"),
      std::make_unique<counting_source>(imaginary_length, 1000, "imag"));
  std::vector<std::int64_t> got;
  bool trouble = false;
  for (;;) {
    std::vector<std::int64_t> block(sizes.next());
    std::size_t n = 0;
    try {
      n = both.read(block, true);
    } catch (const decimal::error&) {
      trouble = true;
      break;
    }
    got.insert(got.end(), block.begin(), block.begin() + static_cast<std::ptrdiff_t>(n));
    if (both.count() != got.size()) __builtin_trap();
    if (n < block.size()) break;
  }
  if (trouble != (real_length != imaginary_length)) __builtin_trap();
  if (trouble) return;
  if (got.size() != 2 * real_length) __builtin_trap();
  for (std::size_t k = 0; k < got.size(); ++k) {
    const auto expected = static_cast<std::int64_t>(k / 2) + (k % 2 == 0 ? 0 : 1000);
    if (got[k] != expected) __builtin_trap();
  }
}

void check_repeated(std::size_t length, std::size_t repeats, read_sizes sizes) {
  decimal::repeated_source each(std::make_unique<counting_source>(length, 0, "samples"), repeats);
  std::vector<std::int64_t> got;
  for (;;) {
    std::vector<std::int64_t> block(sizes.next());
    const std::size_t n = each.read(block, true);
    got.insert(got.end(), block.begin(), block.begin() + static_cast<std::ptrdiff_t>(n));
    if (each.count() != got.size()) __builtin_trap();
    if (n < block.size()) break;
  }
  if (got.size() != length * repeats) __builtin_trap();
  for (std::size_t k = 0; k < got.size(); ++k) {
    if (got[k] != static_cast<std::int64_t>(k / repeats)) __builtin_trap();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 3) return 0;
  const std::span<const std::uint8_t> rest(data + 3, size - 3);
  check_interleaved(data[0], data[1], read_sizes(rest));
  check_repeated(data[0], std::size_t{data[2]} % 8 + 1, read_sizes(rest));
  return 0;
}
