#pragma once

#include <cstddef>
#include <stdexcept>
#include <string>
#include <string_view>

namespace decimal {

// Any failure that ends a run. what() is the diagnostic without the program
// name, e.g. "samples.txt: No such file or directory".
class error : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A value file that does not hold a number where one is due. line() and
// column() count from 1 and point at the offending word; both are 0 when the
// fault has no single place (too few numbers).
class parse_error : public error {
 public:
  parse_error(const std::string& message, std::size_t line, std::size_t column)
      : error(message), line_(line), column_(column) {}

  std::size_t line() const noexcept { return line_; }
  std::size_t column() const noexcept { return column_; }

 private:
  std::size_t line_;
  std::size_t column_;
};

// Standard output (or another stream a run writes) failed: "write error: why".
class write_failure : public error {
 public:
  using error::error;
};

// "NAME: strerror(errnum)", the diagnostic of a failed system call.
error os_error(const std::string& name, int errnum);

// `bytes` in double quotes, safe for one line of a terminal: quotes and
// backslashes escaped, control and non-ASCII bytes as \xNN, and "..." after
// the closing quote when `cut` says that more followed.
std::string quote(std::string_view bytes, bool cut = false);

}  // namespace decimal
