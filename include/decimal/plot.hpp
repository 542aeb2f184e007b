#pragma once

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "decimal/comparison.hpp"
#include "decimal/envelope.hpp"

namespace decimal {

enum class plot_format { svg, png };

// The format that the name of a plot file asks for: ".svg" or ".png" at its end.
std::optional<plot_format> plot_format_of(std::string_view file);

// What a plot shows: the entries (one per column, or each column's extremes
// once there are more than it has columns) and the comparison's figures.
struct plot_input {
  const envelope& entries;
  const run_verdict& verdict;
  const verdict_rules& rules;
  std::string directory;  // for the title
  std::string hint{};     // a line under the verdict, such as a delay that would explain it
};

// `text` as a gnuplot string literal that holds it as data, never commands:
// single-quoted, its quotes doubled, as shown_name shows it. For an SVG, its
// & and > also written as XML's character references: gnuplot's SVG
// terminal passes "&#x" through, and "]]>" or "&#x1b;" would make the file
// invalid.
std::string gnuplot_string(std::string_view text, bool for_svg = false);

// The gnuplot commands that draw the comparison, with the data inline as the
// datablock $results: above, under the directory, the format when it is not
// Q1.11 and the verdict with its reasons, both result sets as real values
// against the index; below, the differences in LSB as impulses, those
// beyond the tolerance in a colour of their own, the tolerance band when it
// is not 0, and the summary's figures in the title. The picture goes to
// standard output.
std::string gnuplot_script(plot_format format, const plot_input& input);

// How long gnuplot may take, and how much it may write.
struct gnuplot_limits {
  std::chrono::milliseconds time{60'000};
  std::size_t bytes = std::size_t{64} << 20;
};

// Draws the comparison with the gnuplot found on PATH, run with its default
// settings, and returns the picture. Throws error("plot: ...") saying why
// when gnuplot is missing, fails, draws nothing or passes a limit; nothing it
// started is then left running. A signal that ends the process meanwhile
// ends gnuplot too.
std::string draw_plot(plot_format format, const plot_input& input,
                      const gnuplot_limits& limits = {});

}  // namespace decimal
