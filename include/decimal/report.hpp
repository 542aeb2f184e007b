#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "decimal/run.hpp"

namespace decimal {

// The result files hold Q1.11 numbers: one sign bit and eleven fraction bits.
inline constexpr std::int32_t result_width = 12;

using real_table = std::array<double, entry_count>;

// Each raw result as its real value, through to_fixed with result_width.
real_table convert_results(const raw_table& raw);

// Longest report line: "index:200, res_m:-1.000000, res_c:-1.000000,
// samp:-2147483648\n" is 62 bytes.
inline constexpr std::size_t max_report_line = 64;

using report_buffer = std::array<char, entry_count * max_report_line>;

// Writes the report line of `index` without its line feed, as
// "index:%d, res_m:%f, res_c:%f, samp:%d" would print it, into `out`, which
// must have max_report_line bytes of room; returns the end of what it wrote.
// Throws std::out_of_range for a result outside [-1, 1].
char* render_report_fields(char* out, std::size_t index, double res_m, double res_c,
                           std::int32_t sample);

// Writes the report into `out` and returns it: one line per index, as
// "index:%d, res_m:%f, res_c:%f, samp:%d\n" would print it. Every result must
// lie in [-1, 1], as to_fixed gives them; throws std::out_of_range otherwise.
std::string_view render_report(const raw_table& samples, const real_table& res_m,
                               const real_table& res_c, report_buffer& out);

// Writes all of `data` to `fd`, in as many writes as it takes, waiting on a
// non-blocking `fd` when it is full; throws write_failure("write error: ...") on failure.
void write_all(int fd, std::string_view data);

}  // namespace decimal
