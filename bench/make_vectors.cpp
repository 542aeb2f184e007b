// Writes a test-vector directory of COUNT entries: samples.txt, a 16-bit
// two-tone input with noise; results_m.txt, a scaled copy rounded to Q1.11;
// results_c.txt, the same truncated, so the two differ by at most 2 LSB.
//
//   make_vectors COUNT DIR

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

bool write_file(const std::string& path, const std::string& text) {
  std::FILE* file = std::fopen(path.c_str(), "w");
  if (file == nullptr) return false;
  const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
  return std::fclose(file) == 0 && written;
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
  }
  if (!write_file(dir + "/samples.txt", samples) || !write_file(dir + "/results_m.txt", model) ||
      !write_file(dir + "/results_c.txt", implementation)) {
    std::perror(dir.c_str());
    return 1;
  }
  return 0;
}
