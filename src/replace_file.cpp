#include "decimal/replace_file.hpp"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include "decimal/display.hpp"
#include "decimal/error.hpp"
#include "decimal/file_descriptor.hpp"

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

}  // namespace

void replace_file(const std::string& file, std::string_view contents, const std::string& what) {
  const auto fail = [&](int errnum) { return os_error(what + ": " + shown_name(file), errnum); };
  // Unnamed, it cannot be left behind by anything that ends the process.
  file_descriptor unnamed(
      ::open(directory_of(file).c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666));
  if (unnamed.get() >= 0) {
    if (const int errnum = write_contents(unnamed.get(), contents)) throw fail(errnum);
    const std::string self = "/proc/self/fd/" + std::to_string(unnamed.get());
    if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, file.c_str(), AT_SYMLINK_FOLLOW) == 0) return;
    if (errno != EEXIST) throw fail(errno);
    // Replacing: a name of its own first, then over the old one in one step.
    for (int attempt = 0; attempt < 100; ++attempt) {
      const std::string named =
          file + "." + std::to_string(::getpid()) + "." + std::to_string(attempt);
      if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, named.c_str(), AT_SYMLINK_FOLLOW) == 0) {
        if (::rename(named.c_str(), file.c_str()) == 0) return;
        const int errnum = errno;
        ::unlink(named.c_str());
        throw fail(errnum);
      }
      if (errno != EEXIST) throw fail(errno);
    }
    throw fail(EEXIST);
  }
  if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) throw fail(errno);
  // File systems without unnamed files: a named temporary, removed on failure.
  std::string named = file + ".XXXXXX";
  file_descriptor temporary(::mkostemp(named.data(), O_CLOEXEC));
  if (temporary.get() < 0) throw fail(errno);
  const mode_t mask = ::umask(0);
  ::umask(mask);
  if (const int errnum = write_contents(temporary.get(), contents)) {
    ::unlink(named.c_str());
    throw fail(errnum);
  }
  if (::fchmod(temporary.get(), 0666 & ~mask) != 0 || ::rename(named.c_str(), file.c_str()) != 0) {
    const int errnum = errno;
    ::unlink(named.c_str());
    throw fail(errnum);
  }
}

}  // namespace decimal
