#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "decimal/number_source.hpp"

namespace decimal {

// The samples of a run whose frames hold `repeats` result entries and one
// sample: each sample given once for each entry of its frame. Counts are of
// the entries given; a shortage is told in samples.
class repeated_source final : public number_source {
 public:
  repeated_source(std::unique_ptr<number_source> file, std::size_t repeats);

  std::size_t read(std::span<std::int64_t> out, bool values) override;
  std::size_t count() const noexcept override { return given_; }
  std::size_t unknown() const noexcept override { return file_->unknown(); }
  const std::string& name() const noexcept override { return file_->name(); }
  std::string shortage(std::size_t expected) const override;

 private:
  std::unique_ptr<number_source> file_;
  std::size_t repeats_;
  std::vector<std::int64_t> read_;  // samples read and not yet given out in full
  std::size_t next_ = 0;            // the one being given
  std::size_t held_ = 0;            // how many read_ holds
  std::size_t left_ = 0;            // how many more times it is given
  std::size_t given_ = 0;
};

// The real parts' file and the imaginary parts' file of a complex result,
// read as one file of numbers taken in turn (real, imaginary, real, ...).
// Both must hold as many numbers: the one with more is the trouble.
class interleaved_source final : public number_source {
 public:
  interleaved_source(std::unique_ptr<number_source> real_parts,
                     std::unique_ptr<number_source> imaginary_parts);

  std::size_t read(std::span<std::int64_t> out, bool values) override;
  std::size_t count() const noexcept override { return given_; }
  std::size_t unknown() const noexcept override {
    return parts_[0]->unknown() + parts_[1]->unknown();
  }
  std::size_t weak() const noexcept override { return parts_[0]->weak() + parts_[1]->weak(); }
  std::size_t files() const noexcept override { return 2; }
  bool real() const noexcept override { return parts_[0]->real(); }
  const std::string& name() const noexcept override { return parts_[0]->name(); }
  std::string shortage(std::size_t expected) const override;

 private:
  // Reads the rest of `part` only to count it, and throws that the two
  // files' counts differ.
  [[noreturn]] void fail_unequal(std::size_t longer);

  std::array<std::unique_ptr<number_source>, 2> parts_;
  std::array<std::vector<std::int64_t>, 2> read_;
  std::size_t given_ = 0;
};

}  // namespace decimal
