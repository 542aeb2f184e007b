// The bash completion of decimal-diff, driven as bash drives it: through
// COMP_WORDS and COMP_CWORD.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "run_program.hpp"
#include "scratch_dir.hpp"

namespace {

struct completion_case {
  const char* edge;
  std::vector<std::string> words;  // the command line, the last word being completed
  std::string replies;             // COMPREPLY, one per line
};

void PrintTo(const completion_case& c, std::ostream* os) { *os << c.edge; }

class Completion : public testing::TestWithParam<completion_case> {};

TEST_P(Completion, OffersWhatFitsTheWord) {
  const completion_case& c = GetParam();
  const scratch_dir scratch;
  scratch.write("vectors/run1/results_m.txt", "");
  scratch.write("vectors/run2/results_m.txt", "");
  scratch.write("verdict.html", "");
  const std::string script =
      "source '" DECIMAL_COMPLETION
      "' && COMP_WORDS=(\"$@\") && COMP_CWORD=$(($# - 1)) && "
      "_decimal_diff && for reply in \"${COMPREPLY[@]}\"; do echo \"$reply\"; done | sort";
  std::vector<std::string> args = {"-c", script, "bash"};
  args.insert(args.end(), c.words.begin(), c.words.end());
  const outcome result = run_program("/bin/bash", scratch.path(), scratch.path(), {.args = args});
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.out, c.replies);
}

INSTANTIATE_TEST_SUITE_P(
    Table, Completion,
    testing::Values(
        completion_case{"an_option", {"decimal-diff", "--form"}, "--format=\n"},
        completion_case{
            "options_alike", {"decimal-diff", "--ma"}, "--max-delay=\n--max-evm=\n--max-mean=\n"},
        completion_case{"a_format_in_one_word",
                        {"decimal-diff", "--format=Q1."},
                        "--format=Q1.11\n--format=Q1.15\n--format=Q1.31\n"},
        // Bash splits "--format=Q1" at "=" unless COMP_WORDBREAKS says otherwise.
        completion_case{"a_format_split_at_the_sign",
                        {"decimal-diff", "--format", "=", "Q1"},
                        "Q1.11\nQ1.15\nQ1.31\nQ15\n"},
        completion_case{"a_format_after_a_short_option",
                        {"decimal-diff", "-f", "Q1"},
                        "Q1.11\nQ1.15\nQ1.31\nQ15\n"},
        completion_case{"an_encoding", {"decimal-diff", "-e", "s16"}, "s16be\ns16le\n"},
        completion_case{"when", {"decimal-diff", "--color", "=", ""}, "always\nauto\nnever\n"},
        completion_case{"a_number_has_no_list", {"decimal-diff", "--tolerance", ""}, ""},
        // verdict.html is a file: not a DIR.
        completion_case{"a_directory", {"decimal-diff", "v"}, "vectors\n"},
        completion_case{"a_file", {"decimal-diff", "--html=verd"}, "--html=verdict.html\n"}));

}  // namespace
