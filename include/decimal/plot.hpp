#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "decimal/comparison.hpp"
#include "decimal/value_file.hpp"

namespace decimal {

enum class plot_format { svg, png };

// The format that the name of a plot file asks for: ".svg" or ".png" at its end.
std::optional<plot_format> plot_format_of(std::string_view file);

// The gnuplot commands that draw the comparison, with the data inline: above,
// both result sets as real values against the index; below, the differences
// in LSB as impulses, the tolerance band when it is not 0, and the summary's
// figures in the title. The picture goes to standard output.
std::string gnuplot_script(plot_format format, const run_files& files, const comparison& result);

// Draws the comparison into `file` with the gnuplot found on PATH. `file` is
// replaced only once the picture is whole; on any failure it is left as it
// was and error("plot: ...") says why.
void draw_plot(const std::string& file, const run_files& files, const comparison& result);

}  // namespace decimal
