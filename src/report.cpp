#include "decimal/report.hpp"

#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstring>
#include <stdexcept>

#include "decimal/error.hpp"
#include "decimal/fixed_point.hpp"

namespace decimal {
namespace {

// Appends text and numbers to a buffer known to be large enough.
class line_writer {
 public:
  explicit line_writer(char* out) : out_(out) {}

  line_writer& operator<<(std::string_view text) {
    std::memcpy(out_, text.data(), text.size());
    out_ += text.size();
    return *this;
  }

  // "%d"
  line_writer& operator<<(std::int64_t value) { return put(std::to_chars(out_, limit(), value)); }

  // "%f": fixed notation, six digits after the point, correctly rounded.
  line_writer& operator<<(double value) {
    if (!(value >= -1.0 && value <= 1.0)) throw std::out_of_range("report value outside [-1, 1]");
    return put(std::to_chars(out_, limit(), value, std::chars_format::fixed, 6));
  }

  char* end() const noexcept { return out_; }

 private:
  // Every number written here fits in this many bytes, and so does the line.
  char* limit() const noexcept { return out_ + max_report_line; }

  line_writer& put(std::to_chars_result result) {
    out_ = result.ptr;
    return *this;
  }

  char* out_;
};

}  // namespace

real_table convert_results(const raw_table& raw) {
  real_table real;
  for (std::size_t i = 0; i < entry_count; ++i) real[i] = to_fixed(raw[i], result_width);
  return real;
}

char* render_report_fields(char* out, std::size_t index, double res_m, double res_c,
                           std::int32_t sample) {
  line_writer line(out);
  line << "index:" << static_cast<std::int64_t>(index) << ", res_m:" << res_m << ", res_c:" << res_c
       << ", samp:" << static_cast<std::int64_t>(sample);
  return line.end();
}

std::string_view render_report(const raw_table& samples, const real_table& res_m,
                               const real_table& res_c, report_buffer& out) {
  char* end = out.data();
  for (std::size_t i = 0; i < entry_count; ++i) {
    end = render_report_fields(end, i, res_m[i], res_c[i], samples[i]);
    *end++ = '\n';
  }
  return {out.data(), static_cast<std::size_t>(end - out.data())};
}

void write_all(int fd, std::string_view data) {
  // A regular file under a size limit takes the whole of `data` or none of
  // it: a line is never cut where the limit falls.
  struct stat status {};
  rlimit limit{};
  if (::getrlimit(RLIMIT_FSIZE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY &&
      ::fstat(fd, &status) == 0 && S_ISREG(status.st_mode)) {
    const int flags = ::fcntl(fd, F_GETFL);
    const off_t at =
        flags >= 0 && (flags & O_APPEND) != 0 ? status.st_size : ::lseek(fd, 0, SEEK_CUR);
    if (at >= 0 && static_cast<rlim_t>(at) + data.size() > limit.rlim_cur) {
      throw write_failure(os_error("write error", EFBIG).what());
    }
  }
  while (!data.empty()) {
    const ssize_t n = ::write(fd, data.data(), data.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      // A descriptor shared with a process that made it non-blocking: wait
      // until it takes more rather than lose the rest.
      if (errno == EAGAIN || errno == EWOULDBLOCK) {
        pollfd ready{fd, POLLOUT, 0};
        if (::poll(&ready, 1, -1) >= 0 || errno == EINTR) continue;
      }
      throw write_failure(os_error("write error", errno).what());
    }
    data.remove_prefix(static_cast<std::size_t>(n));
  }
}

}  // namespace decimal
