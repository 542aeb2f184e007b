#include "decimal/error.hpp"

#include <cstring>

namespace decimal {

error os_error(const std::string& name, int errnum) {
  return error(name + ": " + std::strerror(errnum));
}

}  // namespace decimal
