#include "decimal/frame_sources.hpp"

#include <algorithm>
#include <utility>

#include "decimal/error.hpp"

namespace decimal {

repeated_source::repeated_source(std::unique_ptr<number_source> file, std::size_t repeats)
    : file_(std::move(file)), repeats_(repeats) {}

std::size_t repeated_source::read(std::span<std::int64_t> out, bool values) {
  std::size_t done = 0;
  while (done < out.size()) {
    if (left_ == 0) {
      if (++next_ >= held_) {
        // Only the samples these entries need: a bad word after them is not theirs.
        read_.resize(std::max(read_.size(), out.size() - done));
        const std::size_t wanted = (out.size() - done + repeats_ - 1) / repeats_;
        next_ = 0;
        held_ = file_->read(std::span(read_).first(wanted), values);
        if (held_ == 0) return done;
      }
      left_ = repeats_;
    }
    const std::size_t n = std::min(left_, out.size() - done);
    std::fill_n(out.begin() + static_cast<std::ptrdiff_t>(done), n, read_[next_]);
    done += n;
    given_ += n;
    left_ -= n;
  }
  return done;
}

std::string repeated_source::shortage(std::size_t expected) const {
  return name() + ": expected " + std::to_string((expected + repeats_ - 1) / repeats_) +
         " numbers, found " + std::to_string(file_->count());
}

interleaved_source::interleaved_source(std::unique_ptr<number_source> real_parts,
                                       std::unique_ptr<number_source> imaginary_parts)
    : parts_{std::move(real_parts), std::move(imaginary_parts)} {}

std::size_t interleaved_source::read(std::span<std::int64_t> out, bool values) {
  // Entry k is number k / 2 of part k % 2: of entries g to g + n - 1, the
  // real parts are ceil((g + n) / 2) - ceil(g / 2), the imaginary ones the rest.
  const std::size_t first = given_;
  const std::size_t end = given_ + out.size();
  const std::array<std::size_t, 2> wanted = {(end + 1) / 2 - (first + 1) / 2, end / 2 - first / 2};
  std::array<std::size_t, 2> got{};
  for (std::size_t part = 0; part < 2; ++part) {
    read_[part].resize(std::max(read_[part].size(), wanted[part]));
    got[part] = parts_[part]->read(std::span(read_[part]).first(wanted[part]), values);
  }
  std::array<std::size_t, 2> taken{};
  std::size_t done = 0;
  for (; done < out.size(); ++done) {
    const std::size_t part = (first + done) % 2;
    if (taken[part] == got[part]) break;
    out[done] = read_[part][taken[part]++];
  }
  given_ += done;
  if (done == out.size()) return done;
  // A part ended: the other must end at the same count.
  for (std::size_t part = 0; part < 2; ++part) {
    std::array<std::int64_t, 1> probe{};
    if (got[part] == wanted[part]) parts_[part]->read(probe, false);
  }
  if (parts_[0]->count() != parts_[1]->count()) {
    fail_unequal(parts_[0]->count() > parts_[1]->count() ? 0 : 1);
  }
  return done;
}

void interleaved_source::fail_unequal(std::size_t longer) {
  std::vector<std::int64_t> rest(4096);
  while (parts_[longer]->read(rest, false) == rest.size()) {
    // counted only
  }
  throw error(parts_[1]->name() + " holds " + std::to_string(parts_[1]->count()) + " numbers, " +
              parts_[0]->name() + " " + std::to_string(parts_[0]->count()));
}

std::string interleaved_source::shortage(std::size_t expected) const {
  const std::array<std::size_t, 2> needed = {(expected + 1) / 2, expected / 2};
  const std::size_t part = parts_[0]->count() < needed[0] ? 0 : 1;
  return parts_[part]->name() + ": expected " + std::to_string(needed[part]) + " numbers, found " +
         std::to_string(parts_[part]->count());
}

}  // namespace decimal
