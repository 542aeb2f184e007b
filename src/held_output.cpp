#include "decimal/held_output.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <functional>

#include "decimal/display.hpp"
#include "decimal/error.hpp"
#include "decimal/report.hpp"

namespace decimal {
namespace {

file_descriptor open_unlinked_temporary() {
  const char* dir = std::getenv("TMPDIR");
  if (dir == nullptr || *dir == '\0') dir = "/tmp";
  file_descriptor file(::open(dir, O_TMPFILE | O_RDWR | O_CLOEXEC, 0600));
  if (file.get() >= 0) return file;
  // File systems without O_TMPFILE: a named file, unlinked at once.
  std::string name = std::string(dir) + "/decimal-diff.XXXXXX";
  file_descriptor named(::mkostemp(name.data(), O_CLOEXEC));
  if (named.get() < 0) throw os_error("temporary file in " + shown_name(dir), errno);
  ::unlink(name.c_str());
  return named;
}

}  // namespace

void held_output::append(std::string_view text) {
  memory_.append(text);
  if (memory_.size() >= memory_limit_) spill();
}

void held_output::spill() {
  if (spill_file_.get() < 0) spill_file_ = open_unlinked_temporary();
  try {
    write_all(spill_file_.get(), memory_);
  } catch (const write_failure& e) {
    // The temporary file's trouble is the run's, not standard output's.
    throw error("temporary file: " +
                std::string(e.what()).substr(std::string("write error: ").size()));
  }
  spilled_ += memory_.size();
  memory_.clear();
}

void held_output::for_each_part(const std::function<void(std::string_view)>& take) const {
  if (spilled_ != 0) {
    std::array<char, std::size_t{64} << 10> buffer;
    for (off_t at = 0;;) {
      const ssize_t n = ::pread(spill_file_.get(), buffer.data(), buffer.size(), at);
      if (n < 0) {
        if (errno == EINTR) continue;
        throw os_error("temporary file", errno);
      }
      if (n == 0) break;
      take(std::string_view(buffer.data(), static_cast<std::size_t>(n)));
      at += n;
    }
  }
  take(memory_);
}

void held_output::release(int fd) {
  for_each_part([fd](std::string_view part) { write_all(fd, part); });
  discard();
}

void held_output::release(held_output& into) {
  for_each_part([&into](std::string_view part) { into.append(part); });
  discard();
}

std::string held_output::head(std::size_t limit) const {
  std::string text;
  if (spilled_ != 0) {
    text.resize(std::min(limit, spilled_));
    std::size_t at = 0;
    while (at < text.size()) {
      const ssize_t n =
          ::pread(spill_file_.get(), text.data() + at, text.size() - at, static_cast<off_t>(at));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) throw os_error("temporary file", n < 0 ? errno : EIO);
      at += static_cast<std::size_t>(n);
    }
  }
  text.append(memory_, 0, limit - text.size());
  return text;
}

void held_output::discard() {
  memory_.clear();
  spill_file_.reset();
  spilled_ = 0;
}

}  // namespace decimal
