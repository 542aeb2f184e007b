#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "decimal/number_source.hpp"
#include "decimal/raw_file.hpp"
#include "decimal/value_file.hpp"

namespace decimal {

// What a NumPy .npy header says of its array: the word of one entry and how
// many entries there are.
struct npy_array {
  raw_word word;
  std::uint64_t entries;
};

// Reads the header text of a .npy file (the Python dict after the length
// field, version 1.0 to 3.0) for a 1-D array in C order of one of the dtypes
// i1 i2 i4 i8 u1 u2 u4 f4 f8, in either byte order. Throws error naming what
// was found otherwise, prefixed by `name`.
npy_array parse_npy_header(const std::string& name, std::string_view header);

// The numbers of the .npy file at `path`: its header read and checked, its
// words read as raw_reader reads them, and their count checked against the
// header's shape. Without `reals`, a float dtype is trouble: only a model
// may hold real values. Throws error when the file cannot be opened or its
// header is not such a file's.
std::unique_ptr<number_source> open_npy(const std::string& path, std::span<char> buffer,
                                        number_range range, bool reals);

}  // namespace decimal
