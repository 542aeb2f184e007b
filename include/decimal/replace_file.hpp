#pragma once

#include <string>
#include <string_view>

namespace decimal {

// Makes `file` hold `contents`, with the mode that the umask gives a new
// file: written to an unnamed temporary in the same directory, which only
// takes the name once whole. A symbolic link named `file` is replaced by the
// file, not followed. Throws error("WHAT: FILE: why") when it cannot; `file`
// is then as it was, and no temporary is left.
void replace_file(const std::string& file, std::string_view contents, const std::string& what);

}  // namespace decimal
