#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <optional>
#include <span>
#include <string>

#include "decimal/q_format.hpp"
#include "decimal/value_file.hpp"

namespace decimal {

// The files of a run, inside its directory.
inline constexpr const char* samples_file = "samples.txt";
inline constexpr const char* results_m_file = "results_m.txt";  // the reference model's
inline constexpr const char* results_c_file = "results_c.txt";  // the implementation's

// `name` inside `dir`: the name alone for an empty `dir` (the current
// directory), DIR/NAME otherwise.
std::string path_in(const std::string& dir, const std::string& name);

// decimal reads this many numbers from each file; the rest is never read.
inline constexpr std::size_t entry_count = 201;

using raw_table = std::array<std::int32_t, entry_count>;

// The first entry_count numbers of the file at `path`, signed 32-bit, read
// through `buffer` (not empty) and never past the white space that ends the
// last of them. Throws error when the file cannot be opened or read,
// parse_error when it is malformed or holds fewer numbers.
raw_table read_value_file(const std::string& path, std::span<char> buffer);

// The same through a buffer of its own, sized for ordinary files.
raw_table read_value_file(const std::string& path);

// decimal's run: the input and the two result sets.
struct run_files {
  raw_table samples;
  raw_table results_m;
  raw_table results_c;
};

// Reads the three files from `dir` in the order samples, results_m,
// results_c, each closed before the next is opened; the first error ends it.
run_files read_run_files(const std::string& dir = {});

// decimal-diff's run: the three files read in step, a block of entries at a
// time, in one pass and bounded memory whatever their length. The results
// must be patterns of `format`; without `count`, the two result files must
// hold the same number of entries, and samples.txt at least as many.
class entry_stream {
 public:
  static constexpr std::size_t block_size = 4096;

  entry_stream(const std::string& dir, const q_format& format, std::optional<std::size_t> count);

  // Reads the next block of entries into samples(), results_m() and
  // results_c() and returns its size: 0 once every entry has been read.
  // Throws the run's trouble: of the files that are bad, the first in the
  // order samples, results_m, results_c, and in it the first bad word.
  // samples.txt is read as far as the result files go; a shortage in it
  // counts once both result files agree on their length.
  std::size_t next();

  std::span<const std::int64_t> samples() const noexcept { return samples_buffer_; }
  std::span<const std::int64_t> results_m() const noexcept { return model_buffer_; }
  std::span<const std::int64_t> results_c() const noexcept { return implementation_buffer_; }

  // Entries read so far.
  std::size_t entries() const noexcept { return entries_; }

 private:
  using block = std::array<std::int64_t, block_size>;

  // Reads up to `size` numbers into `out`; a failure is kept in `failure`
  // and ends the file. Returns the numbers read before it.
  // A file that could not be opened has no reader and its failure set.
  static std::size_t read_some(std::optional<value_reader>& file, std::span<std::int64_t> out,
                               std::exception_ptr& failure);
  // Reads the rest of a result file (to the count, when given), keeping a failure.
  void drain(std::optional<value_reader>& file, std::exception_ptr& failure);
  // Throws the trouble that has shown up: reads on as far as it takes to
  // tell which file is bad first, and in it the first bad word.
  [[noreturn]] void fail();

  static constexpr std::size_t file_buffer_size = std::size_t{64} << 10;
  std::array<char, file_buffer_size> samples_text_;
  std::array<char, file_buffer_size> model_text_;
  std::array<char, file_buffer_size> implementation_text_;
  std::optional<value_reader> samples_;
  std::optional<value_reader> model_;
  std::optional<value_reader> implementation_;
  std::optional<std::size_t> count_;
  std::size_t entries_ = 0;
  bool finished_ = false;
  block samples_block_;
  block model_block_;
  block implementation_block_;
  std::span<const std::int64_t> samples_buffer_;
  std::span<const std::int64_t> model_buffer_;
  std::span<const std::int64_t> implementation_buffer_;
  std::exception_ptr samples_failure_;
  std::exception_ptr model_failure_;
  std::exception_ptr implementation_failure_;
};

}  // namespace decimal
