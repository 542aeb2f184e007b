// Writes the bundled example: a noisy two-tone input in Q1.11, the output of a
// 9-tap low-pass FIR computed in floating point and rounded (the reference
// model, "results_m.txt", signed numbers), and the same filter with Q1.11
// coefficients, each product truncated to Q1.11 (the implementation under test,
// "results_c.txt", unsigned 12-bit patterns). They differ by a few LSBs.
//
// make_example DIR          writes the three files into DIR
// make_example --check DIR  exits 1 unless DIR holds exactly those files

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <numbers>
#include <random>
#include <sstream>
#include <string>

namespace {

constexpr int count = 201;
constexpr int taps = 9;
constexpr double one = 2048.0;  // Q1.11 scale

int saturate(long value) { return static_cast<int>(std::clamp(value, -2048L, 2047L)); }

std::array<double, taps> low_pass() {
  // Hamming-windowed sinc, cut-off at 0.1 of the sample rate, unity gain at DC.
  std::array<double, taps> h{};
  double sum = 0;
  for (int k = 0; k < taps; ++k) {
    const double m = k - (taps - 1) / 2.0;
    const double sinc =
        m == 0 ? 2 * 0.1 : std::sin(2 * std::numbers::pi * 0.1 * m) / (std::numbers::pi * m);
    const double window = 0.54 - 0.46 * std::cos(2 * std::numbers::pi * k / (taps - 1));
    h[static_cast<std::size_t>(k)] = sinc * window;
    sum += sinc * window;
  }
  for (double& c : h) c /= sum;
  return h;
}

struct files {
  std::string samples, results_m, results_c;
};

files make() {
  std::mt19937 random(20261209);  // fixed seed: the example never changes
  std::array<int, count> x{};
  for (int n = 0; n < count; ++n) {
    const double noise = (static_cast<double>(random()) / 4294967296.0 - 0.5) * 0.04;
    const double signal = 0.55 * std::sin(2 * std::numbers::pi * 0.021 * n) +
                          0.2 * std::sin(2 * std::numbers::pi * 0.23 * n) + noise;
    x[static_cast<std::size_t>(n)] = saturate(std::lround(signal * one));
  }
  const std::array<double, taps> h = low_pass();
  files out;
  for (int n = 0; n < count; ++n) {
    double reference = 0;
    long fixed = 0;
    for (int k = 0; k < taps && k <= n; ++k) {
      const int sample = x[static_cast<std::size_t>(n - k)];
      const double coefficient = h[static_cast<std::size_t>(k)];
      reference += coefficient * sample / one;
      fixed += (std::lround(coefficient * one) * sample) >> 11;  // arithmetic shift: truncation
    }
    const int model = saturate(std::lround(reference * one));
    out.samples += std::to_string(x[static_cast<std::size_t>(n)]) + "\n";
    out.results_m += std::to_string(model) + "\n";
    out.results_c += std::to_string(saturate(fixed) & 0xfff) + "\n";
  }
  return out;
}

bool same(const std::string& path, const std::string& text) {
  std::ifstream in(path, std::ios::binary);
  return in && std::string(std::istreambuf_iterator<char>(in), {}) == text;
}

}  // namespace

int main(int argc, char** argv) {
  const bool check = argc == 3 && std::string(argv[1]) == "--check";
  if (argc != 2 && !check) {
    std::fputs("usage: make_example [--check] DIR\n", stderr);
    return 2;
  }
  const std::string dir = std::string(argv[argc - 1]) + "/";
  const files example = make();
  const std::array<std::pair<const char*, const std::string*>, 3> outputs{
      {{"samples.txt", &example.samples},
       {"results_m.txt", &example.results_m},
       {"results_c.txt", &example.results_c}}};
  int status = 0;
  for (const auto& [name, text] : outputs) {
    if (check) {
      if (!same(dir + name, *text)) {
        std::fprintf(stderr, "make_example: %s%s differs from what the generator makes\n",
                     dir.c_str(), name);
        status = 1;
      }
    } else {
      std::ofstream(dir + name, std::ios::binary) << *text;
    }
  }
  return status;
}
