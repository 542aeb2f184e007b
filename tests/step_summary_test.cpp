// The Markdown summary for a CI step: bounded, worst first, and names that
// cannot break its table or its HTML.

#include "decimal/step_summary.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "run_program.hpp"
#include "scratch_dir.hpp"

namespace {

struct markdown_case {
  const char* edge;
  const char* text;
  const char* shown;
};

void PrintTo(const markdown_case& c, std::ostream* os) { *os << c.edge; }

class MarkdownText : public testing::TestWithParam<markdown_case> {};

TEST_P(MarkdownText, TakesEveryCharacterLiterally) {
  EXPECT_EQ(decimal::markdown_text(GetParam().text), GetParam().shown);
}

INSTANTIATE_TEST_SUITE_P(
    Table, MarkdownText,
    testing::Values(markdown_case{"plain", "vectors/run1", "vectors/run1"},
                    // A cell ends at |; \ would take the next character literally (the
                    // terminal shows a \ as two).
                    markdown_case{"table_and_escape", "a|b\\c", "a\\|b\\\\\\\\c"},
                    // Emphasis, code, links, headings, strikes and images stay text.
                    markdown_case{"inline_marks", "*_`[x](y)#~!", "\\*\\_\\`\\[x\\](y)\\#\\~\\!"},
                    // GitHub renders HTML: none may start.
                    markdown_case{"html", "<script>&amp;", "&lt;script&gt;&amp;amp;"},
                    // Escaped as the terminal shows it first: no line feed, no bidi override.
                    markdown_case{"controls", "a\nb\xe2\x80\xae",
                                  "a\\\\x0ab\\\\xe2\\\\x80\\\\xae"}));

class StepSummary : public testing::Test {
 protected:
  // Directories run000 to run(N-1), those in `failing` 1 LSB off.
  std::vector<std::string> make(int count, int failing_from) {
    std::vector<std::string> names;
    for (int i = 0; i < count; ++i) {
      const std::string name = "run" +
                               std::string(i < 10    ? "00"
                                           : i < 100 ? "0"
                                                     : "") +
                               std::to_string(i);
      scratch_.write(name + "/results_m.txt", "1\n2\n");
      scratch_.write(name + "/results_c.txt", i >= failing_from ? "1\n3\n" : "1\n2\n");
      names.push_back(name);
    }
    return names;
  }

  outcome call(std::vector<std::string> args, const std::vector<std::string>& directories,
               std::vector<std::pair<std::string, std::string>> environment = {}) {
    args.insert(args.begin(), {"-q", "--samples=none"});
    args.insert(args.end(), directories.begin(), directories.end());
    return run_program(DECIMAL_DIFF_BINARY, scratch_.path(), scratch_.path(),
                       {.args = args, .environment = std::move(environment)});
  }

  scratch_dir scratch_;
};

TEST_F(StepSummary, ListsTheWorstFirstWithinItsBounds) {
  std::vector<std::string> directories = make(110, 5);  // 5 pass, 105 fail
  scratch_.write("broken/results_m.txt", "1\n");
  scratch_.write("broken/results_c.txt", "x|y\n");
  directories.push_back("broken");
  const outcome result = call({"--summary=summary.md"}, directories);
  ASSERT_EQ(result.status, 2) << result.err;
  const std::string text = read_file(scratch_.path() / "summary.md");
  EXPECT_TRUE(
      text.starts_with("### decimal-diff: TROUBLE: 1 of 111 directories in trouble, 105 failed\n\n"
                       "| directory | verdict | reasons or trouble |"))
      << text;
  EXPECT_NE(text.find("| broken | **TROUBLE** | broken/results\\_c.txt:1:1: "), std::string::npos)
      << text;
  EXPECT_LT(text.find("| broken |"), text.find("| run005 | fail | 1 entry beyond 0 LSB | 2 | 1 | 0 "
                                               "| 1 | 1 | 0.707 | 6.02 dB |\n"));
  // 100 rows: the trouble and the first 99 failures by name; then a count.
  EXPECT_NE(text.find("| run103 |"), std::string::npos);
  EXPECT_EQ(text.find("| run104 |"), std::string::npos);
  EXPECT_NE(text.find("\n6 more did not pass;"), std::string::npos) << text;
  EXPECT_NE(
      text.find("<details><summary>5 passed</summary>\n\nrun000, run001, run002, run003, run004\n"),
      std::string::npos)
      << text;
  EXPECT_LE(text.size(), decimal::summary_byte_limit);
}

// Where GitHub Actions names a step's summary, it is appended to, unless
// --summary names another file.
TEST_F(StepSummary, IsAppendedToTheStepsSummary) {
  const std::vector<std::string> directories = make(2, 2);
  scratch_.write("step.md", "before\n");
  const std::string step = (scratch_.path() / "step.md").string();
  EXPECT_EQ(call({}, directories, {{"GITHUB_STEP_SUMMARY", step}}).status, 0);
  EXPECT_EQ(read_file(step),
            "before\n### decimal-diff: PASS: all 2 directories passed\n\n"
            "<details><summary>2 passed</summary>\n\nrun000, run001\n\n</details>\n");
  EXPECT_EQ(call({"--summary=own.md"}, directories, {{"GITHUB_STEP_SUMMARY", step}}).status, 0);
  EXPECT_EQ(read_file(step).find("before\n### "), 0U);
  EXPECT_EQ(read_file(step).find("### ", 8), std::string::npos) << "appended twice";
  EXPECT_TRUE(read_file(scratch_.path() / "own.md").starts_with("### decimal-diff: PASS"));
  // A step summary that cannot be written is found before anything is read.
  const outcome denied = call({"--json"}, directories, {{"GITHUB_STEP_SUMMARY", "/"}});
  EXPECT_EQ(denied.status, 2);
  EXPECT_EQ(denied.out, "");
  EXPECT_EQ(denied.err, "decimal-diff: summary: /: Is a directory\n");
}

}  // namespace
