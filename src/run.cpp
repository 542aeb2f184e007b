#include "decimal/run.hpp"

#include <algorithm>
#include <system_error>
#include <utility>

#include "decimal/error.hpp"

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

// Opens a file of numbers, keeping an error to be told in its turn.
void open_numbers_file(std::unique_ptr<number_source>& file, const std::string& path, encoding form,
                       std::span<char> buffer, const number_range& range,
                       std::exception_ptr& failure) {
  try {
    file = open_numbers(path, form, buffer, range);
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
                           std::optional<std::size_t> count, thread_starter start)
    : has_samples_(paths.samples.has_value()), count_(count), start_(std::move(start)) {
  const number_range results{format.lowest_raw(), format.highest_raw(), format.name(), true};
  const run_encodings& forms = paths.encodings;
  if (has_samples_) {
    open_numbers_file(samples_, *paths.samples, forms.samples, samples_text_,
                      samples_range(forms.samples), samples_failure_);
  }
  open_numbers_file(model_, paths.results_m, forms.results_m, model_text_, results, model_failure_);
  open_numbers_file(implementation_, paths.results_c, forms.results_c, implementation_text_,
                    results, implementation_failure_);
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
  const std::size_t size = std::clamp(done, first_block_size, block_size);
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
    std::size_t wanted = rest.size();
    if (count_) wanted = std::min(wanted, *count_ - file->count());
    if (wanted == 0 || read_some(file, std::span(rest).first(wanted), failure) < wanted) return;
  }
}

std::size_t entry_stream::next() {
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
  // Without a count, both files must end at the same entry.
  if (ended && (count_ || results.model_read != results.implementation_read)) fail();
  if (entries_ + both == 0) throw error(model_->name() + ": expected at least 1 number, found 0");
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

void entry_stream::fail() {
  if (samples_failure_) std::rethrow_exception(samples_failure_);  // the first file
  // Read on as far as it takes to know which file is bad first: both result
  // files to their end (or the count), and the samples as far as they go.
  drain(model_, model_failure_);
  drain(implementation_, implementation_failure_);
  const auto numbers_in = [](const std::unique_ptr<number_source>& file) {
    return file ? file->count() : 0;
  };
  std::size_t reached = std::max(numbers_in(model_), numbers_in(implementation_));
  if (count_) reached = std::min(reached, *count_);
  while (has_samples_ && !samples_failure_ && numbers_in(samples_) < reached) {
    const std::size_t wanted = std::min(samples_block_.size(), reached - numbers_in(samples_));
    if (read_some(samples_, std::span(samples_block_).first(wanted), samples_failure_) < wanted) {
      break;
    }
  }
  if (samples_failure_) std::rethrow_exception(samples_failure_);
  // A result file is bad for a bad word, or for ending before the count.
  if (model_failure_) std::rethrow_exception(model_failure_);
  if (count_ && model_->count() < *count_) model_->fail_count(*count_);
  if (implementation_failure_) std::rethrow_exception(implementation_failure_);
  if (count_ && implementation_->count() < *count_) implementation_->fail_count(*count_);
  if (model_->count() != implementation_->count()) {
    throw error(implementation_->name() + " holds " + std::to_string(implementation_->count()) +
                " numbers, " + model_->name() + " " + std::to_string(model_->count()));
  }
  samples_->fail_count(count_ ? *count_ : model_->count());  // only a shortage is left
}

}  // namespace decimal
