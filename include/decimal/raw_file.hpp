#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "decimal/file_descriptor.hpp"
#include "decimal/number_source.hpp"
#include "decimal/value_file.hpp"

namespace decimal {

// What a raw word is: an integer of either signedness, or an IEEE 754
// float (4 bytes) or double (8), of `size` bytes in either byte order.
enum class raw_kind { signed_integer, unsigned_integer, ieee_float };
struct raw_word {
  unsigned size;  // 1, 2, 4 or 8
  bool big_endian;
  raw_kind kind = raw_kind::signed_integer;
};

// A file of raw binary words, back to back, as a C test bench fwrite()s
// them or an audio chain writes PCM. Each integer must lie in `range`; each
// float is read as the real_word() of its value in LSB (range.real_scale),
// and must be finite and below max_real_lsb. Bytes after the last whole word
// are trouble. Nothing past the last word asked for is read. `buffer` holds
// one word at least.
class raw_reader final : public number_source {
 public:
  raw_reader(const std::string& path, std::span<char> buffer, unsigned size, bool big_endian,
             number_range range);
  raw_reader(const std::string& path, std::span<char> buffer, raw_word word, number_range range);
  // Reads on from where `file` stands (past a header), named `name` in messages.
  raw_reader(file_descriptor file, std::string name, std::span<char> buffer, raw_word word,
             number_range range);

  std::size_t read(std::span<std::int64_t> out, bool values = true) override;
  std::size_t count() const noexcept override { return count_; }
  std::size_t unknown() const noexcept override { return 0; }
  bool real() const noexcept override { return kind_ == raw_kind::ieee_float; }
  const std::string& name() const noexcept override { return name_; }

 private:
  // Converts `words` words at `bytes` into `out`; returns whether all lie in the range.
  bool convert_words(const char* bytes, std::size_t words, std::int64_t* out) const;
  // The same for words that have no vector path (unsigned, 64-bit, floats):
  // throws at the first bad one, the words before it counted as read.
  void convert_other_words(const char* bytes, std::size_t words, std::int64_t* out);
  // Whether every word of the size lies in the range: then a word checked
  // without its value is not even converted.
  bool every_word_fits() const noexcept;

  file_descriptor file_;
  std::string name_;
  std::span<char> buffer_;
  unsigned size_;
  bool big_endian_;
  raw_kind kind_;
  number_range range_;
  std::size_t count_ = 0;
  std::size_t partial_ = 0;  // bytes of a word begun at the front of buffer_
  bool at_end_ = false;
};

}  // namespace decimal
