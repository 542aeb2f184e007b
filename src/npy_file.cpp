#include "decimal/npy_file.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <charconv>
#include <utility>

#include "decimal/display.hpp"
#include "decimal/error.hpp"
#include "decimal/file_descriptor.hpp"

namespace decimal {
namespace {

constexpr std::string_view magic = "\x93NUMPY";

[[noreturn]] void fail(const std::string& name, const std::string& what) {
  throw error(name + ": " + what);
}

std::string_view trimmed(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\n')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\n')) text.remove_suffix(1);
  return text;
}

// The text after "'KEY':" in a header dict, up to the end of the dict; empty when the key is
// missing.
std::string_view after_key(std::string_view header, std::string_view key) {
  for (const char quote_mark : {'\'', '"'}) {
    std::string spelt(1, quote_mark);
    spelt += key;
    spelt += quote_mark;
    std::size_t at = header.find(spelt);
    if (at == std::string_view::npos) continue;
    at += spelt.size();
    std::string_view rest = trimmed(header.substr(at));
    if (!rest.starts_with(':')) return {};
    return trimmed(rest.substr(1));
  }
  return {};
}

// Reads exactly `out.size()` bytes; returns how many came before the end.
std::size_t read_exactly(int fd, std::span<char> out, const std::string& name) {
  std::size_t got = 0;
  while (got < out.size()) {
    const ssize_t n = ::read(fd, out.data() + got, out.size() - got);
    if (n < 0) {
      if (errno == EINTR) continue;
      throw os_error(name, errno);
    }
    if (n == 0) break;
    got += static_cast<std::size_t>(n);
  }
  return got;
}

// The raw words of an .npy array, as many as its shape says.
class npy_reader final : public number_source {
 public:
  npy_reader(std::unique_ptr<raw_reader> words, std::uint64_t entries)
      : words_(std::move(words)), entries_(entries) {}

  std::size_t read(std::span<std::int64_t> out, bool values) override {
    const std::uint64_t left = entries_ - words_->count();
    const std::size_t wanted = out.size() < left ? out.size() : static_cast<std::size_t>(left);
    const std::size_t got = words_->read(out.first(wanted), values);
    if (got < wanted) {
      throw parse_error(name() + ": holds " + std::to_string(words_->count()) +
                            " entries where its header's shape says " + std::to_string(entries_),
                        0, 0);
    }
    if (got == left && out.size() > got) {
      std::int64_t extra = 0;
      if (words_->read(std::span(&extra, 1), false) != 0) {
        throw parse_error(name() + ": more words than its header's shape, " +
                              std::to_string(entries_) + ", holds",
                          0, 0);
      }
    }
    return got;
  }
  std::size_t count() const noexcept override { return words_->count(); }
  std::size_t unknown() const noexcept override { return 0; }
  bool real() const noexcept override { return words_->real(); }
  const std::string& name() const noexcept override { return words_->name(); }

 private:
  std::unique_ptr<raw_reader> words_;
  std::uint64_t entries_;
};

}  // namespace

npy_array parse_npy_header(const std::string& name, std::string_view header) {
  const std::string_view dict = trimmed(header);
  if (!dict.starts_with('{') || !dict.ends_with('}') || !header.ends_with('\n')) {
    fail(name, "not a .npy header: " + quote(dict.substr(0, 60), dict.size() > 60));
  }
  // descr: '<f8', '|u1', '>i2': byte order, kind and size.
  const std::string_view descr_field = after_key(dict, "descr");
  if (descr_field.empty() || (descr_field[0] != '\'' && descr_field[0] != '"')) {
    fail(name, "a structured or missing dtype where one of i1 i2 i4 i8 u1 u2 u4 f4 f8 is needed");
  }
  const std::size_t descr_end = descr_field.find(descr_field[0], 1);
  const std::string_view descr = descr_field.substr(1, descr_end - 1);
  npy_array array{{0, false}, 0};
  const bool known =
      descr.size() == 3 && std::string_view("<>|=").find(descr[0]) != std::string_view::npos;
  const std::string_view kind = known ? descr.substr(1) : std::string_view();
  if (kind == "i1" || kind == "i2" || kind == "i4" || kind == "i8") {
    array.word.kind = raw_kind::signed_integer;
  } else if (kind == "u1" || kind == "u2" || kind == "u4") {
    array.word.kind = raw_kind::unsigned_integer;
  } else if (kind == "f4" || kind == "f8") {
    array.word.kind = raw_kind::ieee_float;
  } else {
    fail(name, "a dtype " + quote(descr) + " where one of i1 i2 i4 i8 u1 u2 u4 f4 f8 is needed");
  }
  array.word.size = static_cast<unsigned>(kind[1] - '0');
  array.word.big_endian = descr[0] == '>';
  // fortran_order: False
  if (!after_key(dict, "fortran_order").starts_with("False")) {
    fail(name, "a Fortran-order array where C order is needed");
  }
  // shape: (1000,)
  const std::string_view shape_field = after_key(dict, "shape");
  const std::size_t shape_end = shape_field.find(')');
  if (!shape_field.starts_with('(') || shape_end == std::string_view::npos) {
    fail(name, "not a .npy header: no shape");
  }
  const std::string_view shape = shape_field.substr(0, shape_end + 1);
  std::string_view dimensions = shape.substr(1, shape.size() - 2);
  std::size_t count = 0;
  std::uint64_t entries = 0;
  while (!trimmed(dimensions).empty()) {
    const std::size_t comma = dimensions.find(',');
    const std::string_view n = trimmed(dimensions.substr(0, comma));
    if (n.empty() ||
        std::from_chars(n.data(), n.data() + n.size(), entries).ptr != n.data() + n.size()) {
      fail(name, "not a .npy header: a shape " + quote(shape));
    }
    ++count;
    if (comma == std::string_view::npos) break;
    dimensions.remove_prefix(comma + 1);
  }
  if (count != 1) {
    fail(name, "a " + std::to_string(count) + "-D array " + std::string(shape) +
                   " where a 1-D one is needed");
  }
  array.entries = entries;
  return array;
}

std::unique_ptr<number_source> open_npy(const std::string& path, std::span<char> buffer,
                                        number_range range, bool reals) {
  const std::string name = shown_name(path);
  file_descriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (file.get() < 0) throw os_error(name, errno);
  // The magic string, the version, and the header's length: 2 bytes in 1.0, 4 after.
  std::array<char, 12> lead{};
  const std::size_t got = read_exactly(file.get(), std::span(lead).first(10), name);
  if (got < 8 || std::string_view(lead.data(), magic.size()) != magic) {
    fail(name, "not a NumPy .npy file (no \\x93NUMPY at its start)");
  }
  const auto major = static_cast<unsigned char>(lead[6]);
  if (major < 1 || major > 3) {
    fail(name, "a .npy file of version " + std::to_string(major) + '.' +
                   std::to_string(static_cast<unsigned char>(lead[7])) +
                   " where 1.0, 2.0 or 3.0 is needed");
  }
  const std::size_t length_bytes = major == 1 ? 2 : 4;
  if (got < 10 || read_exactly(file.get(), std::span(lead).subspan(10, length_bytes - 2), name) !=
                      length_bytes - 2) {
    fail(name, "a .npy header cut short");
  }
  std::size_t length = 0;
  for (std::size_t i = length_bytes; i-- > 0;) {
    length = (length << 8) | static_cast<unsigned char>(lead[8 + i]);
  }
  // Far more than numpy ever writes: a length that lies must not make a
  // reader take gigabytes.
  constexpr std::size_t longest_header = std::size_t{1} << 16;
  if (length > longest_header) {
    fail(name, "a .npy header of " + std::to_string(length) + " bytes, more than any array needs");
  }
  std::string header(length, '\0');
  if (read_exactly(file.get(), header, name) != length) fail(name, "a .npy header cut short");
  const npy_array array = parse_npy_header(name, header);
  if (array.word.kind == raw_kind::ieee_float && !reals) {
    fail(name,
         "an array of floats where integers of the format are needed (only the model may "
         "hold real values)");
  }
  auto words =
      std::make_unique<raw_reader>(std::move(file), name, buffer, array.word, std::move(range));
  return std::make_unique<npy_reader>(std::move(words), array.entries);
}

}  // namespace decimal
