// Writes a test-vector directory of COUNT entries: samples.txt, a 16-bit
// two-tone input with noise; results_m.txt, a scaled copy rounded to Q1.11;
// results_c.txt, the same truncated, so the two differ by at most 2 LSB. The
// same values go into samples.hex, results_m.hex and results_c.hex as a
// Verilog bench writes them ($fdisplay "%h": the 32-bit and 12-bit patterns),
// and into samples.s16, results_m.s16 and results_c.s16 as raw s16le words.
// The model's values before rounding, in real units, go into results_m.real
// (printf "%.17g"), results_m.f64 (raw f64le words) and results_m.npy (a
// NumPy float64 array); samples.npy and results_c.npy hold the integers as
// int16 arrays.
//
//   make_vectors COUNT DIR

#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>

namespace {

bool write_file(const std::string& path, const std::string& text) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return false;
  const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
  return std::fclose(file) == 0 && written;
}

// The header of a NumPy .npy file (format 1.0) of a 1-D array, padded as numpy pads it.
std::string npy_header(std::string_view descr, long long count) {
  std::string dict = "{'descr': '" + std::string(descr) + "', 'fortran_order': False, 'shape': (" +
                     std::to_string(count) + ",), }";
  while ((10 + dict.size() + 1) % 64 != 0) dict += ' ';
  dict += '\n';
  std::string header = "\x93NUMPY";
  header += '\x01';
  header += '\x00';
  header += static_cast<char>(dict.size() & 0xff);
  header += static_cast<char>(dict.size() >> 8);
  return header + dict;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fputs("usage: make_vectors COUNT DIR\n", stderr);
    return 2;
  }
  const long long count = std::atoll(argv[1]);
  const std::string dir = argv[2];
  std::string samples;
  std::string model;
  std::string implementation;
  std::string samples_hex;
  std::string model_hex;
  std::string implementation_hex;
  std::string samples_s16;
  std::string model_s16;
  std::string implementation_s16;
  std::string model_real;
  std::string model_f64;
  const auto hex = [](std::string& text, long value, unsigned long mask) {
    std::array<char, 16> digits;
    const int n = std::snprintf(digits.data(), digits.size(), "%lx\n",
                                static_cast<unsigned long>(value) & mask);
    text.append(digits.data(), static_cast<std::size_t>(n));
  };
  const auto s16le = [](std::string& bytes, long value) {
    const auto word = static_cast<std::uint16_t>(value);
    bytes += static_cast<char>(word & 0xff);
    bytes += static_cast<char>(word >> 8);
  };
  const auto f64le = [](std::string& bytes, double value) {
    std::array<char, sizeof value> word;
    std::memcpy(word.data(), &value, sizeof value);  // little-endian on the machines it runs on
    bytes.append(word.data(), word.size());
  };
  std::uint32_t noise = 12345;
  constexpr double pi = 3.14159265358979323846;
  for (long long i = 0; i < count; ++i) {
    noise = noise * 1664525 + 1013904223;  // a plain LCG: the same files every time
    const double t = static_cast<double>(i);
    const double x = 0.5 * std::sin(2 * pi * t / 97.3) + 0.3 * std::sin(2 * pi * t / 13.1) +
                     0.1 * (static_cast<double>(noise >> 8) / 16777216.0 - 0.5);
    const auto sample = static_cast<long>(std::lround(x * 32767));
    const double y = 0.6 * static_cast<double>(sample) / 32768 * 2048;
    const long m = std::lround(y);
    const auto c = static_cast<long>(std::floor(y)) - static_cast<long>((noise >> 4) & 1);
    samples += std::to_string(sample) + '\n';
    model += std::to_string(m) + '\n';
    implementation += std::to_string(c) + '\n';
    hex(samples_hex, sample, 0xffffffff);
    hex(model_hex, m, 0xfff);
    hex(implementation_hex, c, 0xfff);
    s16le(samples_s16, sample);
    s16le(model_s16, m);
    s16le(implementation_s16, c);
    std::array<char, 32> real;
    const int n = std::snprintf(real.data(), real.size(), "%.17g\n", y / 2048);
    model_real.append(real.data(), static_cast<std::size_t>(n));
    f64le(model_f64, y / 2048);
  }
  const std::string model_npy = npy_header("<f8", count) + model_f64;
  const std::string samples_npy = npy_header("<i2", count) + samples_s16;
  const std::string implementation_npy = npy_header("<i2", count) + implementation_s16;
  for (const auto& [name, text] :
       {std::pair<std::string_view, const std::string&>{"samples.txt", samples},
        {"results_m.txt", model},
        {"results_c.txt", implementation},
        {"samples.hex", samples_hex},
        {"results_m.hex", model_hex},
        {"results_c.hex", implementation_hex},
        {"samples.s16", samples_s16},
        {"results_m.s16", model_s16},
        {"results_c.s16", implementation_s16},
        {"results_m.real", model_real},
        {"results_m.f64", model_f64},
        {"results_m.npy", model_npy},
        {"samples.npy", samples_npy},
        {"results_c.npy", implementation_npy}}) {
    if (!write_file(dir + "/" + std::string(name), text)) {
      std::perror(dir.c_str());
      return 1;
    }
  }
  return 0;
}
