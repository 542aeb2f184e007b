#pragma once

#include <sys/types.h>

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "decimal/file_descriptor.hpp"

namespace decimal {

// Opens /dev/null on each of standard input, output and error that is
// closed, before anything else opens a file: otherwise a report or a
// temporary would take the descriptor, and the text meant for standard
// output would be written into it.
void open_standard_descriptors();

// Where a report or a plot goes, found out before anything is read, and
// written as a shell redirection would write it, but never half-written:
// - a regular file, or a new name in a writable directory, is replaced in
//   one step by a whole file with the mode the umask gives a new file;
// - a symbolic link is followed: the file it names is replaced, the link stays;
// - a FIFO, a character or block device, and /dev/stdout, /dev/fd/N or
//   /proc/self/fd/N, are written in place, never replaced.
class output_file {
 public:
  // Checks `name` for the report `what` ("junit", "plot"). Throws
  // error("WHAT: NAME: why") for a directory, for a missing or read-only
  // directory, and for a name that cannot be followed.
  output_file(const std::string& name, std::string what);

  // The file `name`, opened now (and made when missing), for the contents
  // to be appended to it on commit: a CI step's summary, which other steps
  // write too.
  static output_file appended(const std::string& name, std::string what);

  const std::string& name() const noexcept { return name_; }
  const std::string& what() const noexcept { return what_; }

  // Whether writing replaces a file, rather than writing through.
  bool replaces() const noexcept { return through_fd_ < 0 && !in_place_; }

  // Whether both go to the same file: an existing one (a regular file, a
  // FIFO, a device, a descriptor), or a new name.
  bool same_file(const output_file& other) const;

  // Whether it writes through what the descriptor `fd` is open on.
  bool writes_through(int fd) const;

  // Whether it replaces the existing file `device`, `inode`.
  bool is(dev_t device, ino_t inode) const noexcept;

  // The contents, ready to take their place with commit(): for a file that
  // is replaced, written into a temporary in its directory (unnamed where the
  // file system allows, else named and removed on failure, on destruction
  // and by a signal that ends the process).
  class prepared {
   public:
    prepared(const prepared&) = delete;
    prepared& operator=(const prepared&) = delete;
    prepared(prepared&&) noexcept;
    prepared& operator=(prepared&&) = delete;
    ~prepared();

    // Puts the contents in place. Throws error("WHAT: NAME: why"); a file
    // that is replaced is then as it was, and no temporary is left.
    void commit();
    // Whether commit() replaces a file, rather than writing through.
    bool replaces() const noexcept { return file_->replaces(); }

   private:
    friend class output_file;
    explicit prepared(const output_file& file) : file_(&file) {}

    const output_file* file_;
    std::string contents_;  // to write through
    file_descriptor temporary_{-1};
    std::string temporary_name_;  // a named temporary; empty for an unnamed one
  };

  // Prepares `contents`; throws as commit() does. With `named_temporary`,
  // a named temporary is used even where an unnamed one would do.
  prepared prepare(std::string contents, bool named_temporary = false) const;

  // prepare() and commit() in one.
  void write(std::string contents) const { prepare(std::move(contents)).commit(); }

 private:
  output_file() = default;
  [[noreturn]] void fail(int errnum) const;

  std::string name_;  // as given
  std::string what_;
  std::string target_;   // the name with its links followed
  int through_fd_ = -1;  // a descriptor of this process named by /dev/fd/N and the like
  bool in_place_ = false;
  std::optional<std::pair<dev_t, ino_t>> existing_;  // the file to replace, when it exists
  std::optional<std::pair<dev_t, ino_t>> written_;   // the FIFO, device or descriptor written
  std::string new_path_;                       // the new file's name, with its directory resolved
  std::shared_ptr<file_descriptor> appended_;  // held open from the check to the write
};

}  // namespace decimal
