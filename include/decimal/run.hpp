#pragma once

#include <array>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "decimal/alignment.hpp"
#include "decimal/encoding.hpp"
#include "decimal/number_source.hpp"
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

// How each file of a run is written.
struct run_encodings {
  encoding samples = encoding::dec;
  encoding results_m = encoding::dec;
  encoding results_c = encoding::dec;
  bool weak_unknown = false;  // the results' weak L and H are unknown, not 0 and 1
  // The results' hex and binary words are patterns of this many bits,
  // sign-extended (0: of the format's own width).
  unsigned word_bits = 0;
  // The model's integers are of this format (none: the implementation's),
  // and compared in the implementation's LSB as real values.
  std::optional<q_format> model_format{};
};

// The files of one of decimal-diff's runs; it may do without the samples.
struct run_paths {
  std::optional<std::string> samples;
  std::string results_m;
  std::string results_c;
  run_encodings encodings{};
  // A complex result as two files: these hold its imaginary parts, the
  // result files its real parts, read as one stream of both in turn.
  std::optional<std::string> results_m_imag{};
  std::optional<std::string> results_c_imag{};
  // Each frame holds this many result entries, one of each channel in
  // turn, and one sample, or as many as it holds result entries.
  std::size_t channels = 1;
  bool sample_per_entry = false;
};

// The default file names inside `dir`.
run_paths default_paths(const std::string& dir);

// Starts a thread that runs `task`; throws std::system_error when the
// system will not (a limit on processes or on memory).
using thread_starter = std::function<std::thread(std::function<void()> task)>;

// The plain std::thread.
std::thread start_thread(std::function<void()> task);

// decimal-diff's run: the three files read in step, a block of entries at a
// time, in one pass and bounded memory whatever their length, the model's
// entries paired with the implementation's as `delay` says (the samples
// follow the model). Counts, delays and blocks are whole frames of
// paths.channels entries; a file that is not is trouble. The results must be patterns of `format`;
// without `count`, the result files must agree in length (counts_agree()), and the samples reach
// the last entry compared; with it, `count` pairs are read and nothing after them. An automatic
// delay is found in the first delay_window entries of each file, read ahead and kept to be read
// again. Once a run proves longer than one block, two helper threads read the next block of the
// result files, one each, while the caller compares the current one; when they cannot start, the
// caller's thread reads it instead, with the same outcome. Result files both of raw words are
// always read on the caller's thread: their reading costs less than the
// helpers' hand-over.
class entry_stream {
 public:
  // Small enough that the blocks being read and compared stay in the cache.
  static constexpr std::size_t block_size = 16384;
  static constexpr std::size_t first_block_size = 4096;

  entry_stream(const run_paths& paths, const q_format& format, std::optional<std::size_t> count,
               const delay_setting& delay = {}, thread_starter start = start_thread);
  entry_stream(const entry_stream&) = delete;
  entry_stream& operator=(const entry_stream&) = delete;
  ~entry_stream();

  // Reads the next block of entries into results_m() and results_c() and
  // returns its size: 0 once every entry has been read. Its samples follow
  // with read_samples(). Throws the run's trouble: of the files that are
  // bad, the first in the order samples, results_m, results_c, and in it the
  // first bad word. The samples are read as far as the result files go; a
  // shortage in them counts once both result files agree on their length.
  std::size_t next();

  // Reads the samples of the block, each checked, and returns them; empty
  // when the run has no samples. Without `values`, they are checked alike
  // but not all worked out (for a block that shows none of them). Throws as
  // next() does. next() reads them itself when they were not asked for.
  std::span<const std::int64_t> read_samples(bool values);
  std::span<const std::int64_t> results_m() const noexcept { return model_view_; }
  std::span<const std::int64_t> results_c() const noexcept { return implementation_view_; }
  // Whether an entry of the block is unknown (unknown_value) in either result file.
  bool unknowns_in_block() const noexcept { return unknowns_in_block_; }

  // Pairs of entries read so far.
  std::size_t entries() const noexcept { return entries_; }
  // The delay used, and the model's index of the first pair, in entries.
  std::int64_t delay() const noexcept { return delay_; }
  std::uint64_t first_index() const noexcept { return model_offset_; }
  // Entries in a frame, and the delay in frames.
  std::size_t frame() const noexcept { return frame_; }
  std::int64_t delay_frames() const noexcept { return delay_ / static_cast<std::int64_t>(frame_); }
  // What the search found, when it ran.
  const std::optional<delay_search>& search() const noexcept { return search_; }
  // Whether the model's entries are real_word()s: a real model, or one of another format.
  bool real_model() const noexcept { return model_ && model_->real(); }
  // Words of the result files read as known from a weak letter.
  std::uint64_t weak() const noexcept {
    return (model_ ? model_->weak() : 0) + (implementation_ ? implementation_->weak() : 0);
  }
  // Numbers read so far from each result file.
  std::uint64_t model_count() const noexcept { return model_ ? model_->count() : 0; }
  std::uint64_t implementation_count() const noexcept {
    return implementation_ ? implementation_->count() : 0;
  }

  // The entries of the leading file (the model's, unless the delay is
  // negative) that follow its last pair because the lagging file ended
  // first: at most |delay| of them, none with a count. Known once next()
  // has returned 0; their model indices follow the last pair's.
  std::span<const std::int64_t> unpaired() const noexcept { return unpaired_; }
  bool model_leads() const noexcept { return delay_ >= 0; }
  // The samples of the unpaired entries when the model leads (the samples
  // follow it), each checked; empty when the run has no samples or the
  // implementation leads. Throws as next() does.
  std::span<const std::int64_t> read_unpaired_samples(bool values);

 private:
  using block = std::array<std::int64_t, block_size>;

  // A block of both result files: what was asked and what came.
  struct results_block {
    block model;
    block implementation;
    std::size_t wanted = 0;
    std::size_t model_read = 0;
    std::size_t implementation_read = 0;
    // Whether each file's part holds an unknown entry; written by its own thread.
    bool model_unknowns = false;
    bool implementation_unknowns = false;
  };

  // Reads up to `size` numbers into `out`; a failure is kept in `failure`
  // and ends the file. Returns the numbers read before it.
  // A file that could not be opened has no reader and its failure set.
  static std::size_t read_some(std::unique_ptr<number_source>& file, std::span<std::int64_t> out,
                               std::exception_ptr& failure, bool values = true);
  // Reads into.wanted entries of result file 0 (the model's) or 1 into `into`.
  void read_result_file(std::size_t file, results_block& into);
  // Reads the next `wanted` entries of both result files into `into`.
  void read_results(results_block& into, std::size_t wanted);
  // The entries a block asks for when `done` entries have gone before.
  std::size_t wanted_after(std::size_t done) const noexcept;
  // Hands the reading of the next block to the helper threads, starting them
  // if need be; reads it at once when they cannot start.
  void read_ahead(results_block& into, std::size_t wanted);
  // Starts both helpers, or none; returns whether it did.
  bool start_helpers();
  // Waits until the helpers have read what they were handed, if anything.
  void wait_for_helpers();
  void helper_loop(std::size_t file);
  // Reads the rest of a result file (to the count, when given), keeping a failure.
  void drain(std::unique_ptr<number_source>& file, std::exception_ptr& failure);
  // Numbers of a file to be read before its first pair, and the most it is read to.
  std::uint64_t offset_of(const std::unique_ptr<number_source>& file) const noexcept;
  std::uint64_t limit_of(const std::unique_ptr<number_source>& file) const noexcept;
  // Reads (and checks) the entries before the first pair.
  void lead_in();
  // Reads the first delay_window entries of each result file and finds the delay in them.
  std::int64_t search_delay(const q_format& format, std::uint32_t max_delay);
  // Throws trouble when either result file, read to its end, does not hold
  // a whole number of frames.
  void check_whole_frames() const;
  // Reads the rest of the leading file, after the lagging one ended, into unpaired_.
  void read_unpaired(results_block& results, std::size_t both);
  // Throws the trouble that has shown up: reads on as far as it takes to
  // tell which file is bad first, and in it the first bad word.
  [[noreturn]] void fail();

  static constexpr std::size_t file_buffer_size = std::size_t{64} << 10;
  std::array<char, file_buffer_size> samples_text_;
  std::array<char, file_buffer_size> model_text_;
  std::array<char, file_buffer_size> implementation_text_;
  // The imaginary parts' files, when a result is written as two.
  std::vector<char> model_imaginary_text_;
  std::vector<char> implementation_imaginary_text_;
  std::size_t frame_;
  bool has_samples_;
  std::unique_ptr<number_source> samples_;
  std::unique_ptr<number_source> model_;
  std::unique_ptr<number_source> implementation_;
  std::optional<std::size_t> count_;
  std::int64_t delay_ = 0;
  std::uint32_t max_delay_ = 0;
  std::uint64_t model_offset_ = 0;  // the samples' too
  std::uint64_t implementation_offset_ = 0;
  bool led_in_ = false;
  std::size_t entries_ = 0;
  bool finished_ = false;
  block samples_block_;
  std::array<results_block, 2> results_;  // the one compared and the one read ahead
  std::size_t current_ = 0;
  bool samples_due_ = false;  // the block's samples are still to be read
  std::span<const std::int64_t> model_view_;
  std::span<const std::int64_t> implementation_view_;
  bool unknowns_in_block_ = false;
  std::optional<delay_search> search_;
  bool search_failed_ = false;  // a bad word in the search's window: trouble before any pair
  std::vector<std::int64_t> unpaired_;
  std::vector<std::int64_t> unpaired_samples_;
  std::exception_ptr samples_failure_;
  std::exception_ptr model_failure_;
  std::exception_ptr implementation_failure_;

  // The helper threads, one for each result file, and their task.
  thread_starter start_;
  bool without_helpers_ = false;  // they could not start, or are not worth starting
  std::array<std::thread, 2> helpers_;
  std::mutex mutex_;
  std::condition_variable changed_;
  results_block* task_ = nullptr;
  unsigned tasks_ = 0;  // bit 0: the model's file still to be read, bit 1: the implementation's
  bool read_ahead_ = false;  // results_[current_] was handed to the helpers
  bool stopping_ = false;
};

}  // namespace decimal
