#pragma once

#include <string>
#include <string_view>

namespace decimal {

// How decimal-diff shows text that may hold any byte (directory and file
// names, words of a file, gnuplot's messages) and the figures it echoes.

// `bytes` as UTF-8 that a terminal, XML 1.0 and JSON all carry, for text of
// several lines: valid UTF-8 sequences of allowed characters stay, tab and
// line feed too; any other byte, and every other control character, become
// the four characters \xNN (each byte of it), and a backslash becomes two,
// so that the text reads back unambiguously.
std::string printable_utf8(std::string_view bytes);

// The same for a name or a word shown within one line: tab and line feed
// are escaped too, so that a name can neither start a line nor move the
// cursor. In both, Unicode's invisible format characters (bidi controls
// such as U+202E, zero-width spaces) are escaped like control characters.
std::string shown_name(std::string_view bytes);

// Whether `bytes` is well-formed UTF-8 (no overlong form, surrogate or code
// past U+10FFFF), whatever characters it holds.
bool valid_utf8(std::string_view bytes);

// When decimal-diff colours its text (--color=WHEN).
enum class color_when { automatic, always, never };

// Whether the text is coloured: always, never, or automatically when it
// goes to a terminal, unless `no_color` (NO_COLOR) is set and not empty or
// `term` (TERM) is "dumb"; either may be null, for unset.
bool use_color(color_when when, bool terminal, const char* no_color, const char* term);

// An entry line ("index:..., diff:D\n") with its diff:D in red.
std::string with_red_difference(std::string_view line);

// Text whose last line is "verdict: ...\n", that verdict in green for a
// pass and red for anything else; other text as it is.
std::string with_coloured_verdict(std::string_view text);

// The shortest decimal that reads back as `value`, never in exponent form:
// 60, 72.5, 1000000.
std::string shortest_decimal(double value);

// Text for XML and HTML content and quoted attributes: & < > " ' as references.
std::string xml_text(std::string_view text);

// `value` with `decimals` digits after the point, as printf's "%.*f".
std::string fixed_decimal(double value, int decimals);

}  // namespace decimal
