#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "decimal/file_descriptor.hpp"
#include "decimal/number_source.hpp"
#include "decimal/value_file.hpp"

namespace decimal {

// A file of raw signed binary words, back to back, as a C test bench
// fwrite()s them or an audio chain writes PCM: `size` bytes each (1, 2 or
// 4), little- or big-endian. Each must lie in `range`; bytes after the last
// whole word are trouble. Nothing past the last word asked for is read.
// `buffer` holds one word at least.
class raw_reader final : public number_source {
 public:
  raw_reader(const std::string& path, std::span<char> buffer, unsigned size, bool big_endian,
             number_range range);

  std::size_t read(std::span<std::int64_t> out, bool values = true) override;
  std::size_t count() const noexcept override { return count_; }
  std::size_t unknown() const noexcept override { return 0; }
  const std::string& name() const noexcept override { return name_; }

 private:
  // Converts `words` words at `bytes` into `out`; returns whether all lie in the range.
  bool convert_words(const char* bytes, std::size_t words, std::int64_t* out) const;
  // Whether every word of the size lies in the range: then a word checked
  // without its value is not even converted.
  bool every_word_fits() const noexcept;

  file_descriptor file_;
  std::string name_;
  std::span<char> buffer_;
  unsigned size_;
  bool big_endian_;
  number_range range_;
  std::size_t count_ = 0;
  std::size_t partial_ = 0;  // bytes of a word begun at the front of buffer_
  bool at_end_ = false;
};

}  // namespace decimal
