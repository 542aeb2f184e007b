#include "decimal/error.hpp"

#include <cerrno>
#include <cstring>
#include <string>
#include <string_view>

namespace decimal {

error os_error(const std::string& name, int errnum) {
  // EFBIG's own words ("File too large") do not say that a limit was met.
  return error(name + ": " +
               (errnum == EFBIG ? "file size limit exceeded" : std::strerror(errnum)));
}

std::string quote(std::string_view bytes, bool cut) {
  static constexpr char hex[] = "0123456789abcdef";
  std::string out = "\"";
  for (const char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (byte < 0x20 || byte >= 0x7f) {
      out += "\\x";
      out += hex[byte >> 4];
      out += hex[byte & 0xf];
    } else {
      out += c;
    }
  }
  out += cut ? "\"..." : "\"";
  return out;
}

}  // namespace decimal
