#include "decimal/run.hpp"

#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <system_error>
#include <utility>
#include <vector>

#include "decimal/display.hpp"
#include "decimal/error.hpp"
#include "decimal/frame_sources.hpp"

namespace decimal {

std::string path_in(const std::string& dir, const std::string& name) {
  if (dir.empty() || name.starts_with('/')) return name;
  return dir.ends_with('/') ? dir + name : dir + '/' + name;
}

raw_table read_value_file(const std::string& path, std::span<char> buffer) {
  value_reader file(path, buffer);
  std::array<std::int64_t, entry_count> numbers;
  if (file.read(numbers) < entry_count) file.fail_count(entry_count);
  raw_table table;
  // The reader's range is the signed 32-bit one.
  std::transform(numbers.begin(), numbers.end(), table.begin(),
                 [](std::int64_t n) { return static_cast<std::int32_t>(n); });
  return table;
}

raw_table read_value_file(const std::string& path) {
  // Ordinary value files fit in one read; longer ones stream through.
  std::array<char, std::size_t{64} << 10> buffer;
  return read_value_file(path, buffer);
}

run_files read_run_files(const std::string& dir) {
  run_files files;
  files.samples = read_value_file(path_in(dir, samples_file));
  files.results_m = read_value_file(path_in(dir, results_m_file));
  files.results_c = read_value_file(path_in(dir, results_c_file));
  return files;
}

namespace {

// A file whose first numbers were read ahead: gives them again, then what
// follows them, or the failure that ended them.
class replayed_source final : public number_source {
 public:
  replayed_source(std::unique_ptr<number_source> file, std::vector<std::int64_t> head,
                  const std::exception_ptr& failure)
      : file_(std::move(file)), head_(std::move(head)), unknown_in_head_(file_->unknown()) {
    failure_ = failure;
  }

  std::size_t read(std::span<std::int64_t> out, bool values) override {
    const std::size_t again = std::min(out.size(), head_.size() - position_);
    const auto from = head_.begin() + static_cast<std::ptrdiff_t>(position_);
    std::copy_n(from, again, out.begin());
    unknown_again_ += static_cast<std::size_t>(
        std::count_if(from, from + static_cast<std::ptrdiff_t>(again), is_unknown));
    position_ += again;
    if (again == out.size()) return again;
    if (failure_) std::rethrow_exception(failure_);
    return again + file_->read(out.subspan(again), values);
  }

  std::size_t count() const noexcept override {
    return position_ + (file_->count() - head_.size());
  }
  std::size_t unknown() const noexcept override {
    return unknown_again_ + (file_->unknown() - unknown_in_head_);
  }
  std::size_t weak() const noexcept override { return file_->weak(); }
  bool real() const noexcept override { return file_->real(); }
  const std::string& name() const noexcept override { return file_->name(); }

 private:
  std::unique_ptr<number_source> file_;
  std::vector<std::int64_t> head_;
  std::exception_ptr failure_;
  std::size_t unknown_in_head_;
  std::size_t position_ = 0;
  std::size_t unknown_again_ = 0;
};

// A model's integers of a wider (or narrower) format, handed on as the
// real_word()s of their values in LSB of the implementation's format:
// exact, as each is an integer below 2^32 times a power of two.
class rescaled_source final : public number_source {
 public:
  rescaled_source(std::unique_ptr<number_source> file, const q_format& model_format,
                  const q_format& format)
      : file_(std::move(file)),
        model_format_(model_format),
        shift_(format.fraction_bits - model_format.fraction_bits) {}

  std::size_t read(std::span<std::int64_t> out, bool values) override {
    const std::size_t got = file_->read(out, values);
    for (std::int64_t& n : out.first(got)) {
      if (!is_unknown(n))
        n = real_word(std::ldexp(static_cast<double>(model_format_.lsb(n)), shift_));
    }
    return got;
  }
  std::size_t count() const noexcept override { return file_->count(); }
  std::size_t unknown() const noexcept override { return file_->unknown(); }
  std::size_t weak() const noexcept override { return file_->weak(); }
  bool real() const noexcept override { return true; }
  const std::string& name() const noexcept override { return file_->name(); }

 private:
  std::unique_ptr<number_source> file_;
  q_format model_format_;
  int shift_;
};

// Opens a file of numbers, keeping an error to be told in its turn.
void open_numbers_file(std::unique_ptr<number_source>& file, const std::string& path, encoding form,
                       std::span<char> buffer, const number_range& range,
                       std::exception_ptr& failure, bool reals = false) {
  try {
    file = open_numbers(path, form, buffer, range, reals);
  } catch (const error&) {
    failure = std::current_exception();
  }
}

}  // namespace

std::thread start_thread(std::function<void()> task) { return std::thread(std::move(task)); }

run_paths default_paths(const std::string& dir) {
  return {path_in(dir, samples_file), path_in(dir, results_m_file), path_in(dir, results_c_file)};
}

entry_stream::entry_stream(const run_paths& paths, const q_format& format,
                           std::optional<std::size_t> count, const delay_setting& delay,
                           thread_starter start)
    : frame_(paths.channels),
      has_samples_(paths.samples.has_value()),
      count_(count ? std::optional(*count * paths.channels) : std::nullopt),
      start_(std::move(start)),
      // A raw word is converted in fewer instructions than it takes to wake a
      // thread for a block of them.
      without_helpers_(is_raw(paths.encodings.results_m) && is_raw(paths.encodings.results_c)) {
  const run_encodings& forms = paths.encodings;
  const auto results = [&](encoding form, const q_format& of) {
    number_range range{.min = of.lowest_raw(),
                       .max = of.highest_raw(),
                       .format = of.name(),
                       .unknowns = true,
                       .weak_unknown = forms.weak_unknown,
                       .max_word_size = longest_word,
                       .comments = true};
    if (forms.word_bits != 0 && is_radix(form)) {
      // A container's word stands for its sign-extended value: it must be one of the format's.
      range.min = of.lowest_lsb();
      range.max = of.highest_lsb();
      range.word_bits = forms.word_bits;
    }
    return range;
  };
  const q_format model_format = forms.model_format.value_or(format);
  number_range model_range = results(forms.results_m, model_format);
  // A real model's values are read in the implementation's LSB, whatever the model's format.
  model_range.real_scale = format.fraction_bits;
  if (has_samples_) {
    open_numbers_file(samples_, *paths.samples, forms.samples, samples_text_,
                      samples_range(forms.samples), samples_failure_);
    if (samples_ && frame_ > 1 && !paths.sample_per_entry) {
      samples_ = std::make_unique<repeated_source>(std::move(samples_), frame_);
    }
  }
  // A file compared with itself always passes: whatever it holds, nothing was checked.
  struct stat model_status {};
  struct stat implementation_status {};
  if (::stat(paths.results_m.c_str(), &model_status) == 0 &&
      ::stat(paths.results_c.c_str(), &implementation_status) == 0 &&
      model_status.st_dev == implementation_status.st_dev &&
      model_status.st_ino == implementation_status.st_ino) {
    throw error(
        "the model and the implementation are the same file: " + shown_name(paths.results_m) +
        (paths.results_m == paths.results_c ? "" : " and " + shown_name(paths.results_c)));
  }
  // A result of two files reads as one: the imaginary parts' file is opened
  // after the real parts', and its trouble counts after theirs.
  const auto open_result = [&](std::unique_ptr<number_source>& file, const std::string& path,
                               const std::optional<std::string>& imaginary_path,
                               std::vector<char>& imaginary_text, encoding form,
                               const number_range& range, std::exception_ptr& failure,
                               std::span<char> text, bool reals) {
    open_numbers_file(file, path, form, text, range, failure, reals);
    if (!imaginary_path || !file) return;
    std::unique_ptr<number_source> imaginary;
    imaginary_text.resize(file_buffer_size);
    open_numbers_file(imaginary, *imaginary_path, form, imaginary_text, range, failure, reals);
    if (imaginary)
      file = std::make_unique<interleaved_source>(std::move(file), std::move(imaginary));
    else
      file.reset();
  };
  open_result(model_, paths.results_m, paths.results_m_imag, model_imaginary_text_, forms.results_m,
              model_range, model_failure_, model_text_, true);
  if (model_ && !model_->real() && !(model_format == format)) {
    model_ = std::make_unique<rescaled_source>(std::move(model_), model_format, format);
  }
  open_result(implementation_, paths.results_c, paths.results_c_imag,
              implementation_imaginary_text_, forms.results_c, results(forms.results_c, format),
              implementation_failure_, implementation_text_, false);
  max_delay_ = delay.max_delay;
  const auto frames = static_cast<std::int64_t>(frame_);
  delay_ = (delay.automatic ? search_delay(format, delay.max_delay) : delay.entries) * frames;
  const std::uint64_t lag =
      delay_ < 0 ? -static_cast<std::uint64_t>(delay_) : static_cast<std::uint64_t>(delay_);
  (delay_ < 0 ? model_offset_ : implementation_offset_) = lag;
}

std::int64_t entry_stream::search_delay(const q_format& format, std::uint32_t max_delay) {
  if (!model_ || !implementation_) return 0;  // the run is in trouble
  // Whole frames; never past what the run reads with the largest delay.
  std::size_t window = delay_window - delay_window % frame_;
  if (count_ && *count_ < window) window = std::min(window, *count_ + max_delay * frame_);
  std::array<std::vector<std::int64_t>, 2> heads;
  std::array<std::exception_ptr, 2> failures;
  file_totals totals;
  for (std::size_t file = 0; file < 2; ++file) {
    heads[file].resize(window);
    heads[file].resize(
        read_some(file == 0 ? model_ : implementation_, heads[file], failures[file]));
    // A file that ended within the window has its count known, unless a count cuts it short.
    if (!failures[file] && heads[file].size() < window && !count_) {
      (file == 0 ? totals.model : totals.implementation) = heads[file].size() / frame_;
    }
  }
  if (failures[0] || failures[1]) {
    // The bad word is the run's trouble, told at its place before any pair,
    // whether or not the pairs compared would reach it.
    model_failure_ = failures[0];
    implementation_failure_ = failures[1];
    search_failed_ = true;
    return 0;
  }
  // Frames are lined up by their first channel. A real model is scored by
  // its values rounded to whole LSB of the format. Entries of one channel
  // and integers are scored as read.
  const bool as_read = frame_ == 1 && !model_->real();
  std::array<std::vector<std::int64_t>, 2> scored;
  for (std::size_t file = 0; file < 2 && !as_read; ++file) {
    scored[file].reserve(heads[file].size() / frame_);
    for (std::size_t i = 0; i < heads[file].size(); i += frame_) {
      const std::int64_t n = heads[file][i];
      scored[file].push_back(file == 0 && model_->real() && !is_unknown(n)
                                 ? std::clamp<std::int64_t>(std::llround(real_of_word(n)),
                                                            format.lowest_lsb(),
                                                            format.highest_lsb())
                                 : n);
    }
  }
  search_ = find_delay(as_read ? heads[0] : scored[0], as_read ? heads[1] : scored[1], format,
                       max_delay, totals);
  model_ = std::make_unique<replayed_source>(std::move(model_), std::move(heads[0]), nullptr);
  implementation_ =
      std::make_unique<replayed_source>(std::move(implementation_), std::move(heads[1]), nullptr);
  return search_->found;
}

entry_stream::~entry_stream() {
  {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return tasks_ == 0; });
    stopping_ = true;
  }
  changed_.notify_all();
  for (std::thread& helper : helpers_) {
    if (helper.joinable()) helper.join();
  }
}

void entry_stream::helper_loop(std::size_t file) {
  std::unique_lock lock(mutex_);
  for (;;) {
    changed_.wait(lock, [&] { return (tasks_ & (1U << file)) != 0 || stopping_; });
    if ((tasks_ & (1U << file)) == 0) return;
    results_block& into = *task_;
    lock.unlock();
    read_result_file(file, into);
    lock.lock();
    tasks_ &= ~(1U << file);
    changed_.notify_all();
  }
}

void entry_stream::read_ahead(results_block& into, std::size_t wanted) {
  if (!helpers_[0].joinable() && (without_helpers_ || !start_helpers())) {
    without_helpers_ = true;
    read_results(into, wanted);
    return;
  }
  into.wanted = wanted;
  {
    const std::lock_guard lock(mutex_);
    task_ = &into;
    tasks_ = 3;  // each result file on a thread of its own
  }
  changed_.notify_all();
}

bool entry_stream::start_helpers() {
  try {
    helpers_[0] = start_([this] { helper_loop(0); });
    helpers_[1] = start_([this] { helper_loop(1); });
    return true;
  } catch (const std::system_error&) {
    if (helpers_[0].joinable()) {
      {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
      }
      changed_.notify_all();
      helpers_[0].join();
      stopping_ = false;
    }
    return false;
  }
}

void entry_stream::wait_for_helpers() {
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [this] { return tasks_ == 0; });
}

void entry_stream::read_result_file(std::size_t file, results_block& into) {
  const auto unknown_in = [](const std::unique_ptr<number_source>& source) {
    return source ? source->unknown() : 0;
  };
  if (file == 0) {
    const std::size_t before = unknown_in(model_);
    into.model_read = read_some(model_, std::span(into.model).first(into.wanted), model_failure_);
    into.model_unknowns = unknown_in(model_) != before;
  } else {
    const std::size_t before = unknown_in(implementation_);
    into.implementation_read =
        read_some(implementation_, std::span(into.implementation).first(into.wanted),
                  implementation_failure_);
    into.implementation_unknowns = unknown_in(implementation_) != before;
  }
}

void entry_stream::read_results(results_block& into, std::size_t wanted) {
  into.wanted = wanted;
  read_result_file(0, into);
  read_result_file(1, into);
}

std::size_t entry_stream::wanted_after(std::size_t done) const noexcept {
  // Small at first, so that a short run is read at once and a long one is
  // soon read on two threads; then as large as a block holds.
  std::size_t size = std::clamp(done, first_block_size, block_size);
  size -= size % frame_;
  return count_ ? std::min(size, *count_ - done) : size;
}

std::size_t entry_stream::read_some(std::unique_ptr<number_source>& file,
                                    std::span<std::int64_t> out, std::exception_ptr& failure,
                                    bool values) {
  if (failure) return 0;
  const std::size_t before = file->count();
  try {
    return file->read(out, values);
  } catch (const error&) {
    failure = std::current_exception();
    return file->count() - before;
  }
}

void entry_stream::drain(std::unique_ptr<number_source>& file, std::exception_ptr& failure) {
  block rest;  // what is read is only counted and checked
  while (!failure) {
    const std::size_t wanted = std::min<std::uint64_t>(rest.size(), limit_of(file) - file->count());
    if (wanted == 0 || read_some(file, std::span(rest).first(wanted), failure, false) < wanted) {
      return;
    }
  }
}

std::uint64_t entry_stream::offset_of(const std::unique_ptr<number_source>& file) const noexcept {
  return &file == &implementation_ ? implementation_offset_ : model_offset_;
}

std::uint64_t entry_stream::limit_of(const std::unique_ptr<number_source>& file) const noexcept {
  if (!count_) return UINT64_MAX;
  const std::uint64_t offset = offset_of(file);
  return *count_ > UINT64_MAX - offset ? UINT64_MAX : *count_ + offset;
}

void entry_stream::lead_in() {
  led_in_ = true;
  std::span<std::int64_t> scratch = results_[current_].model;
  const auto pass_over = [&](std::unique_ptr<number_source>& file, std::exception_ptr& failure) {
    for (std::uint64_t left = offset_of(file); left != 0;) {
      const std::size_t wanted = std::min<std::uint64_t>(left, scratch.size());
      const std::size_t got = read_some(file, scratch.first(wanted), failure, false);
      if (got < wanted) return;
      left -= got;
    }
  };
  pass_over(model_, model_failure_);
  pass_over(implementation_, implementation_failure_);
  if (has_samples_) pass_over(samples_, samples_failure_);
}

std::size_t entry_stream::next() {
  if (search_failed_) fail();
  if (!led_in_) lead_in();
  if (samples_due_) read_samples(false);
  if (finished_) return 0;
  results_block& results = results_[current_];
  if (read_ahead_) {
    wait_for_helpers();
    read_ahead_ = false;
  } else {
    read_results(results, wanted_after(entries_));
  }
  const std::size_t both = std::min(results.model_read, results.implementation_read);
  if (model_failure_ || implementation_failure_) fail();
  const bool ended =
      results.model_read < results.wanted || results.implementation_read < results.wanted;
  if (ended && count_) fail();
  if (ended && results.model_read != results.implementation_read) read_unpaired(results, both);
  if (ended) check_whole_frames();
  if (entries_ + both == 0) {
    if (samples_failure_) std::rethrow_exception(samples_failure_);
    if (model_->count() == 0 && implementation_->count() == 0) {
      throw error(model_->name() + ": expected at least 1 number, found 0");
    }
    const number_source& lagging = delay_ < 0 ? *model_ : *implementation_;
    throw error(lagging.name() + ": --delay=" + std::to_string(delay_frames()) +
                " leaves none of its " + std::to_string(lagging.count()) + " entries");
  }
  const bool more = !ended && !(count_ && entries_ + both == *count_);
  // The next block's results are read while this one's samples are, and while it is compared.
  if (more) {
    read_ahead(results_[current_ ^ 1], wanted_after(entries_ + both));
    read_ahead_ = true;
  }
  entries_ += both;
  finished_ = !more;
  samples_due_ = has_samples_;
  model_view_ = std::span(results.model).first(both);
  implementation_view_ = std::span(results.implementation).first(both);
  unknowns_in_block_ = results.model_unknowns || results.implementation_unknowns;
  current_ ^= 1;
  return both;
}

void entry_stream::read_unpaired(results_block& results, std::size_t both) {
  // The leading file may go on for up to |delay| entries after the lagging
  // one ends; more, or the lagging file going on, is trouble.
  const bool model_ahead = results.model_read > results.implementation_read;
  if (delay_ == 0 || model_ahead != (delay_ > 0)) fail();
  const std::span<const std::int64_t> block_rest =
      std::span(model_ahead ? results.model : results.implementation)
          .subspan(both, (model_ahead ? results.model_read : results.implementation_read) - both);
  unpaired_.assign(block_rest.begin(), block_rest.end());
  std::unique_ptr<number_source>& leading = model_ahead ? model_ : implementation_;
  std::exception_ptr& failure = model_ahead ? model_failure_ : implementation_failure_;
  const std::uint64_t lag = model_ahead ? implementation_offset_ : model_offset_;
  while (unpaired_.size() <= lag && !failure) {
    const std::size_t before = unpaired_.size();
    const std::size_t wanted = std::min<std::uint64_t>(lag + 1 - before, block_size);
    unpaired_.resize(before + wanted);
    const std::size_t got = read_some(leading, std::span(unpaired_).subspan(before), failure);
    unpaired_.resize(before + got);
    if (got < wanted) break;
  }
  if (failure || unpaired_.size() > lag) {
    unpaired_.clear();
    fail();
  }
}

std::span<const std::int64_t> entry_stream::read_unpaired_samples(bool values) {
  if (!has_samples_ || !model_leads() || unpaired_.empty()) return {};
  if (samples_due_) read_samples(false);
  unpaired_samples_.resize(unpaired_.size());
  if (read_some(samples_, unpaired_samples_, samples_failure_, values) < unpaired_.size()) {
    if (samples_failure_) std::rethrow_exception(samples_failure_);
    samples_->fail_count(model_->count());
  }
  return unpaired_samples_;
}

std::span<const std::int64_t> entry_stream::read_samples(bool values) {
  if (!samples_due_) return {};
  samples_due_ = false;
  const std::size_t both = model_view_.size();
  if (read_some(samples_, std::span(samples_block_).first(both), samples_failure_, values) < both) {
    // The entries of this block are counted: the samples must reach them all.
    entries_ -= both;
    finished_ = true;
    if (read_ahead_) wait_for_helpers();
    read_ahead_ = false;
    fail();
  }
  return std::span(samples_block_).first(both);
}

void entry_stream::check_whole_frames() const {
  if (frame_ == 1) return;
  for (const number_source* file : {model_.get(), implementation_.get()}) {
    if (file->count() % frame_ != 0) {
      throw error(file->name() + " holds " + std::to_string(file->count()) +
                  " numbers, not a whole number of " + std::to_string(frame_) + "-channel frames");
    }
  }
}

void entry_stream::fail() {
  if (samples_failure_) std::rethrow_exception(samples_failure_);  // the first file
  // Read on as far as it takes to know which file is bad first: both result
  // files to their end (or the count), and the samples as far as they go.
  drain(model_, model_failure_);
  drain(implementation_, implementation_failure_);
  const auto numbers_in = [](const std::unique_ptr<number_source>& file) {
    return file ? file->count() : 0;
  };
  // The samples follow the model's index.
  const std::uint64_t implementation_reach =
      numbers_in(implementation_) > implementation_offset_
          ? numbers_in(implementation_) - implementation_offset_ + model_offset_
          : 0;
  std::uint64_t reached = std::max<std::uint64_t>(numbers_in(model_), implementation_reach);
  reached = std::min(reached, limit_of(samples_));
  while (has_samples_ && !samples_failure_ && numbers_in(samples_) < reached) {
    const std::size_t wanted = std::min(samples_block_.size(), reached - numbers_in(samples_));
    if (read_some(samples_, std::span(samples_block_).first(wanted), samples_failure_) < wanted) {
      break;
    }
  }
  if (samples_failure_) std::rethrow_exception(samples_failure_);
  // A result file is bad for a bad word, or for ending before the count.
  if (model_failure_) std::rethrow_exception(model_failure_);
  if (count_ && model_->count() < limit_of(model_)) model_->fail_count(limit_of(model_));
  if (implementation_failure_) std::rethrow_exception(implementation_failure_);
  if (count_ && implementation_->count() < limit_of(implementation_)) {
    implementation_->fail_count(limit_of(implementation_));
  }
  if (!count_) check_whole_frames();
  const std::uint64_t model_count = model_->count();
  const std::uint64_t implementation_count = implementation_->count();
  if (!count_ && !counts_agree(model_count, implementation_count, delay_)) {
    // A result in two files is told by its real parts' file.
    std::string message = implementation_->name() + " holds " +
                          std::to_string(implementation_count / implementation_->files()) +
                          " numbers, " + model_->name() + " " +
                          std::to_string(model_count / model_->files());
    if (search_ && !search_->any_candidate) {
      message += "; no delay between -" + std::to_string(max_delay_) + " and " +
                 std::to_string(max_delay_) + " fits these counts";
    } else if (delay_ != 0) {
      // The implementation's count the model's allows.
      const std::uint64_t low = model_count - std::min(model_count, model_offset_);
      const std::uint64_t high = model_count + implementation_offset_;
      message += (search_ ? "; with the delay found, " + std::to_string(delay_frames())
                          : "; with --delay=" + std::to_string(delay_frames())) +
                 ", it must hold " + std::to_string(low / implementation_->files()) + " to " +
                 std::to_string(high / implementation_->files());
    } else if (const std::uint64_t more = implementation_count > model_count
                                              ? implementation_count - model_count
                                              : model_count - implementation_count;
               !search_ && more <= max_max_delay) {
      // A file that runs on by a pipeline's latency is the usual cause.
      const bool implementation_longer = implementation_count > model_count;
      const std::uint64_t frames = more / frame_;
      const std::string lag = (implementation_longer ? "" : "-") + std::to_string(frames);
      const char* unit =
          frame_ == 1 ? (more == 1 ? " entry" : " entries") : (frames == 1 ? " frame" : " frames");
      const number_source& longer = implementation_longer ? *implementation_ : *model_;
      message += " (" + std::to_string(more / longer.files()) + " more in " +
                 (implementation_longer ? implementation_->name() : model_->name()) + "); if the " +
                 (implementation_longer ? "implementation" : "model") + " lags the " +
                 (implementation_longer ? "model" : "implementation") + " by " +
                 std::to_string(frames) + unit + ", give --delay=" + lag + " or --delay=auto";
    }
    throw error(message);
  }
  // Only a shortage of samples is left: they must reach the last pair.
  const auto past = [](std::uint64_t n, std::uint64_t offset) { return n - std::min(n, offset); };
  const std::uint64_t pairs = count_ ? *count_
                                     : std::min(past(model_count, model_offset_),
                                                past(implementation_count, implementation_offset_));
  samples_->fail_count(model_offset_ + pairs);
}

}  // namespace decimal
