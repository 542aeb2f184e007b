// Micro-benchmarks: the converter against a per-bit baseline, and rendering
// the report from its tables.

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>

#include "decimal/fixed_point.hpp"
#include "decimal/report.hpp"

namespace {

// The textbook conversion: build the mask bit by bit, start from the sign
// bit's -1 and add bit j over pow(2, width-1-j) for every fraction bit.
double per_bit_baseline(std::int32_t raw, std::int32_t width) {
  const auto bits = static_cast<std::uint64_t>(width);
  std::uint32_t mask = 0;
  for (std::uint64_t i = 0; i < bits; ++i) mask |= std::uint32_t{1} << i;
  const std::uint32_t masked = static_cast<std::uint32_t>(raw) & mask;
  const std::uint32_t sign = (masked >> (bits - 1)) & 1U;
  double result = -static_cast<double>(sign);
  for (std::uint64_t j = 0; j + 1 < bits; ++j) {
    const double bit = static_cast<double>((masked >> j) & 1U);
    result += bit / std::pow(2.0, static_cast<double>(bits - 1 - j));
  }
  return result;
}

template <double (*convert)(std::int32_t, std::int32_t)>
void all_patterns(benchmark::State& state) {
  std::int32_t width = decimal::result_width;
  for (std::int32_t raw = 0; raw < 4096; ++raw) {
    if (convert(raw, width) != decimal::to_fixed(raw, width)) std::abort();
  }
  for (auto _ : state) {
    benchmark::DoNotOptimize(width);
    for (std::int32_t raw = 0; raw < 4096; ++raw) benchmark::DoNotOptimize(convert(raw, width));
  }
  state.SetItemsProcessed(state.iterations() * 4096);
}

void to_fixed_all_patterns(benchmark::State& state) { all_patterns<decimal::to_fixed>(state); }
void per_bit_baseline_all_patterns(benchmark::State& state) {
  all_patterns<per_bit_baseline>(state);
}

void render_report(benchmark::State& state) {
  decimal::raw_table samples{};
  decimal::raw_table raw{};
  for (std::size_t i = 0; i < decimal::entry_count; ++i) {
    samples[i] = static_cast<std::int32_t>(i * 97 % 4096) - 2048;
    raw[i] = static_cast<std::int32_t>(i * 1237 % 4096);
  }
  const decimal::real_table res_m = decimal::convert_results(raw);
  const decimal::real_table res_c = decimal::convert_results(samples);
  decimal::report_buffer buffer;
  for (auto _ : state) {
    benchmark::DoNotOptimize(decimal::render_report(samples, res_m, res_c, buffer).size());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(decimal::entry_count));
}

BENCHMARK(to_fixed_all_patterns);
BENCHMARK(per_bit_baseline_all_patterns);
BENCHMARK(render_report);

}  // namespace

BENCHMARK_MAIN();
