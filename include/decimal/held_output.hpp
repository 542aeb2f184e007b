#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

#include "decimal/file_descriptor.hpp"

namespace decimal {

// Output held back until a run is known to be good, so that a run that ends
// in trouble writes nothing. Up to `memory_limit` bytes stay in memory; past
// that they go to an unlinked temporary file (in $TMPDIR, else /tmp), which
// vanishes with the process whatever ends it.
class held_output {
 public:
  explicit held_output(std::size_t memory_limit = std::size_t{1} << 20)
      : memory_limit_(memory_limit) {}

  void append(std::string_view text);

  // Writes everything held to `fd`, in order, and forgets it. Throws
  // error("write error: ...") when the output fails.
  void release(int fd);
  // Moves everything held to the end of `into`, in order.
  void release(held_output& into);

  // Forgets everything held.
  void discard();

  // The first `limit` bytes held, or all of them when fewer.
  std::string head(std::size_t limit) const;

  std::size_t size() const noexcept { return spilled_ + memory_.size(); }

 private:
  void spill();
  // Hands what is held to `take`, part by part, in order.
  void for_each_part(const std::function<void(std::string_view)>& take) const;

  std::size_t memory_limit_;
  std::string memory_;
  file_descriptor spill_file_{-1};
  std::size_t spilled_ = 0;
};

}  // namespace decimal
