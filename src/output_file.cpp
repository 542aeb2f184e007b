#include "decimal/output_file.hpp"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <charconv>
#include <climits>
#include <string>

#include "decimal/display.hpp"
#include "decimal/ending_signals.hpp"
#include "decimal/error.hpp"

namespace decimal {
namespace {

// Writes all of `contents`; returns 0, or the errno of the failed write.
int write_contents(int fd, std::string_view contents) {
  while (!contents.empty()) {
    const ssize_t n = ::write(fd, contents.data(), contents.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    contents.remove_prefix(static_cast<std::size_t>(n));
  }
  return 0;
}

std::string directory_of(const std::string& file) {
  const std::size_t slash = file.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : file.substr(0, slash);
}

std::string base_of(const std::string& file) { return file.substr(file.rfind('/') + 1); }

// N of "/dev/fd/N", "/proc/self/fd/N" or "/proc/PID/fd/N" with this
// process's PID: a descriptor it holds, which may be a pipe or a socket
// that cannot be opened by name.
std::optional<int> own_descriptor(std::string_view path) {
  const std::string own = "/proc/" + std::to_string(::getpid()) + "/fd/";
  for (const std::string_view prefix :
       {std::string_view("/dev/fd/"), std::string_view("/proc/self/fd/"), std::string_view(own)}) {
    if (!path.starts_with(prefix)) continue;
    const std::string_view digits = path.substr(prefix.size());
    int fd = -1;
    const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), fd);
    if (ec == std::errc() && end == digits.data() + digits.size() && !digits.empty()) return fd;
  }
  return std::nullopt;
}

}  // namespace

void open_standard_descriptors() {
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    if (::fcntl(fd, F_GETFD) >= 0 || errno != EBADF) continue;
    // The lowest free descriptor: this one.
    const int opened = ::open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
    if (opened >= 0 && opened != fd) ::close(opened);
  }
}

output_file::output_file(const std::string& name, std::string what)
    : name_(name), what_(std::move(what)), target_(name) {
  for (int links = 0;; ++links) {
    if (const std::optional<int> fd = own_descriptor(target_)) {
      // Closed, or open for reading only: found now, not after the run.
      const int flags = ::fcntl(*fd, F_GETFL);
      if (flags < 0 || (flags & O_ACCMODE) == O_RDONLY) fail(EBADF);
      struct stat status {};
      if (::fstat(*fd, &status) != 0) fail(errno);
      through_fd_ = *fd;
      written_.emplace(status.st_dev, status.st_ino);
      return;
    }
    struct stat status {};
    if (::lstat(target_.c_str(), &status) != 0) {
      if (errno != ENOENT) fail(errno);
      break;  // a new file
    }
    if (S_ISLNK(status.st_mode)) {
      if (links == 40) fail(ELOOP);
      std::array<char, PATH_MAX> link{};
      const ssize_t n = ::readlink(target_.c_str(), link.data(), link.size() - 1);
      if (n < 0) fail(errno);
      const std::string to(link.data(), static_cast<std::size_t>(n));
      target_ = to.starts_with('/') ? to : directory_of(target_) + "/" + to;
      continue;
    }
    if (S_ISDIR(status.st_mode)) fail(EISDIR);
    if (!S_ISREG(status.st_mode)) {
      if (::access(target_.c_str(), W_OK) != 0) fail(errno);
      in_place_ = true;
      written_.emplace(status.st_dev, status.st_ino);
      return;
    }
    existing_.emplace(status.st_dev, status.st_ino);
    break;
  }
  // Replaced: its directory must take a new file.
  const std::string directory = directory_of(target_);
  struct stat status {};
  if (::stat(directory.c_str(), &status) != 0) fail(errno);
  if (!S_ISDIR(status.st_mode)) fail(ENOTDIR);
  if (::access(directory.c_str(), W_OK) != 0) fail(errno);
  std::array<char, PATH_MAX> resolved{};
  if (::realpath(directory.c_str(), resolved.data()) == nullptr) fail(errno);
  new_path_ = std::string(resolved.data()) + "/" + base_of(target_);
}

output_file output_file::appended(const std::string& name, std::string what) {
  output_file file;
  file.name_ = name;
  file.what_ = std::move(what);
  file.target_ = name;
  file.appended_ = std::make_shared<file_descriptor>(
      ::open(name.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY, 0666));
  if (file.appended_->get() < 0) file.fail(errno);
  struct stat status {};
  if (::fstat(file.appended_->get(), &status) != 0) file.fail(errno);
  file.through_fd_ = file.appended_->get();
  file.written_.emplace(status.st_dev, status.st_ino);
  return file;
}

void output_file::fail(int errnum) const {
  throw os_error(what_ + ": " + shown_name(name_), errnum);
}

bool output_file::same_file(const output_file& other) const {
  if (written_ && other.written_) return *written_ == *other.written_;
  if (!replaces() || !other.replaces()) return false;
  if (existing_ && other.existing_) return *existing_ == *other.existing_;
  return !existing_ && !other.existing_ && new_path_ == other.new_path_;
}

bool output_file::writes_through(int fd) const {
  struct stat status {};
  return written_ && ::fstat(fd, &status) == 0 &&
         *written_ == std::pair<dev_t, ino_t>(status.st_dev, status.st_ino);
}

bool output_file::is(dev_t device, ino_t inode) const noexcept {
  return replaces() && existing_ && existing_->first == device && existing_->second == inode;
}

output_file::prepared output_file::prepare(std::string contents, bool named_temporary) const {
  prepared ready(*this);
  if (!replaces()) {
    ready.contents_ = std::move(contents);
    return ready;
  }
  const std::string directory = directory_of(target_);
  // Unnamed, it cannot be left behind by anything that ends the process.
  if (!named_temporary) {
    ready.temporary_ =
        file_descriptor(::open(directory.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666));
    if (ready.temporary_.get() < 0 && errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
      fail(errno);
    }
  }
  if (ready.temporary_.get() < 0) {
    // File systems without unnamed files: a named temporary, removed on
    // failure and by a signal, with the mode a new file would have.
    std::string named = target_ + ".XXXXXX";
    {
      const ending_signals_held held;  // made and registered in one step
      ready.temporary_ = file_descriptor(::mkostemp(named.data(), O_CLOEXEC));
      if (ready.temporary_.get() < 0) fail(errno);
      ready.temporary_name_ = named;
      remove_on_ending_signal(named);
    }
    const mode_t mask = ::umask(0);
    ::umask(mask);
    if (::fchmod(ready.temporary_.get(), 0666 & ~mask) != 0) fail(errno);
  }
  if (const int errnum = write_contents(ready.temporary_.get(), contents)) fail(errnum);
  return ready;
}

output_file::prepared::prepared(prepared&& other) noexcept
    : file_(other.file_),
      contents_(std::move(other.contents_)),
      temporary_(std::move(other.temporary_)),
      temporary_name_(std::exchange(other.temporary_name_, {})) {}

output_file::prepared::~prepared() {
  if (!temporary_name_.empty()) {
    ::unlink(temporary_name_.c_str());
    forget_on_ending_signal();
  }
}

void output_file::prepared::commit() {
  const output_file& file = *file_;
  if (file.through_fd_ >= 0) {
    if (const int errnum = write_contents(file.through_fd_, contents_)) file.fail(errnum);
    return;
  }
  if (file.in_place_) {
    const file_descriptor out(::open(file.target_.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY));
    if (out.get() < 0) file.fail(errno);
    if (const int errnum = write_contents(out.get(), contents_)) file.fail(errnum);
    return;
  }
  const std::string& target = file.target_;
  if (!temporary_name_.empty()) {
    if (::rename(temporary_name_.c_str(), target.c_str()) != 0) file.fail(errno);
    temporary_name_.clear();
    forget_on_ending_signal();
    return;
  }
  const std::string self = "/proc/self/fd/" + std::to_string(temporary_.get());
  if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, target.c_str(), AT_SYMLINK_FOLLOW) == 0) return;
  if (errno != EEXIST) file.fail(errno);
  // Replacing: a name of its own first, then over the old one in one step.
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string named =
        target + "." + std::to_string(::getpid()) + "." + std::to_string(attempt);
    // A signal between the link and the rename removes the name.
    const ending_signals_held held;
    if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, named.c_str(), AT_SYMLINK_FOLLOW) == 0) {
      remove_on_ending_signal(named);
      const bool renamed = ::rename(named.c_str(), target.c_str()) == 0;
      const int errnum = errno;
      if (!renamed) ::unlink(named.c_str());
      forget_on_ending_signal();
      if (renamed) return;
      file.fail(errnum);
    }
    if (errno != EEXIST) file.fail(errno);
  }
  file.fail(EEXIST);
}

}  // namespace decimal
