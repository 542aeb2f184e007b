#pragma once

#include <unistd.h>

#include <utility>

namespace decimal {

// Owns a file descriptor (or a failed open's -1) and closes it once.
class file_descriptor {
 public:
  explicit file_descriptor(int fd) : fd_(fd) {}
  file_descriptor(const file_descriptor&) = delete;
  file_descriptor& operator=(const file_descriptor&) = delete;
  file_descriptor(file_descriptor&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  file_descriptor& operator=(file_descriptor&& other) noexcept {
    if (this != &other) {
      reset();
      fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
  }
  ~file_descriptor() { reset(); }

  int get() const noexcept { return fd_; }

  // Gives the descriptor up, unclosed.
  int release() noexcept { return std::exchange(fd_, -1); }

  void reset() noexcept {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

 private:
  int fd_;
};

}  // namespace decimal
