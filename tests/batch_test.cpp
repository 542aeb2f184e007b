// decimal-diff over several directories, with its JUnit and JSON reports and
// its own file layout, run as a user runs it.

#include <gtest/gtest.h>

#include <filesystem>
#include <nlohmann/json.hpp>
#include <pugixml.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "decimal/ci_report.hpp"
#include "run_program.hpp"
#include "scratch_dir.hpp"

namespace {

namespace fs = std::filesystem;

const fs::path example_dir = DECIMAL_EXAMPLE_DIR;

// What the example gives at tolerance 7 (a pass) and 6 (a fail).
const std::string pass_block =
    "histogram: -7:2 -6:24 -5:82 -4:60 -3:26 -2:5 -1:1 0:1\n"
    "summary: 0 of 201 entries differ by more than 7 LSB; largest -7 LSB at index 113; mean "
    "-4.463 LSB, rms 4.586 LSB, snr 44.45 dB\n"
    "verdict: pass\n";
const std::string fail_line = "index:3, res_m:0.038574, res_c:-0.004395, samp:32, diff:-88\n";

// The text of the first test case's failure in the JUnit report at `path`.
std::string first_failure_text(const std::string& path) {
  pugi::xml_document document;
  EXPECT_TRUE(document.load_file(path.c_str())) << path;
  return document.child("testsuites")
      .child("testsuite")
      .child("testcase")
      .child("failure")
      .child_value();
}

class Batch : public testing::Test {
 protected:
  // A copy of the example in scratch/NAME; "fail" has -9 at entry 3 (88 LSB
  // off) and "trouble" has a bad word at the end.
  void make(const std::string& name, const std::string& kind = "pass") {
    scratch_.copy_run(example_dir, name);
    if (kind == "fail") {
      std::string results = read_file(example_dir / "results_c.txt");
      const std::size_t third = results.find('\n', results.find('\n', results.find('\n') + 1) + 1);
      const std::size_t fourth = results.find('\n', third + 1);
      results.replace(third + 1, fourth - third - 1, "-9");
      scratch_.write(name + "/results_c.txt", results);
    }
    if (kind == "trouble") {
      scratch_.write(name + "/results_c.txt", read_file(example_dir / "results_c.txt") + "oops\n");
    }
  }

  outcome run(const std::vector<std::string>& args) {
    return run_program(DECIMAL_DIFF_BINARY, scratch_.path(), scratch_.path(), {.args = args});
  }

  scratch_dir scratch_;
};

struct mix_case {
  const char* name;
  std::vector<std::string> kinds;  // of the directories d0, d1, ...
  int status;
  const char* total;  // the last line; empty for a single directory
};

void PrintTo(const mix_case& c, std::ostream* os) { *os << c.name; }

class BatchMix : public Batch, public testing::WithParamInterface<mix_case> {};

TEST_P(BatchMix, EveryDirectoryInItsBlockAndATotal) {
  const mix_case& c = GetParam();
  std::vector<std::string> args = {"-t", "7"};
  for (std::size_t i = 0; i < c.kinds.size(); ++i) {
    make("d" + std::to_string(i), c.kinds[i]);
    args.push_back("d" + std::to_string(i));
  }
  const outcome result = run(args);
  EXPECT_EQ(result.status, c.status);
  // Each block is what the directory gives alone, or "verdict: trouble".
  std::string expected;
  std::string errors;
  for (std::size_t i = 0; i < c.kinds.size(); ++i) {
    const std::string dir = "d" + std::to_string(i);
    const outcome alone = run({"-t", "7", dir});
    if (c.kinds.size() > 1) expected += (i ? "\n==> " : "==> ") + dir + " <==\n";
    if (c.kinds[i] == "pass") {
      EXPECT_EQ(alone.out, pass_block);
    }
    if (c.kinds[i] == "fail") {
      EXPECT_EQ(alone.out.substr(0, alone.out.find('\n') + 1), fail_line);
    }
    expected += c.kinds[i] == "trouble" && c.kinds.size() > 1 ? "verdict: trouble\n" : alone.out;
    errors += alone.err;
  }
  if (*c.total != '\0') expected += std::string("\n") + c.total + "\n";
  EXPECT_EQ(result.out, expected);
  EXPECT_EQ(result.err, errors);
}

INSTANTIATE_TEST_SUITE_P(
    Table, BatchMix,
    testing::Values(mix_case{"one_directory", {"pass"}, 0, ""},
                    mix_case{"one_in_trouble", {"trouble"}, 2, ""},
                    mix_case{"pass_and_fail",
                             {"pass", "fail"},
                             1,
                             "total: 1 passed, 1 failed, 0 in trouble, of 2 directories"},
                    mix_case{"pass_and_trouble",
                             {"pass", "trouble"},
                             2,
                             "total: 1 passed, 0 failed, 1 in trouble, of 2 directories"},
                    // Trouble first does not stop the next directory.
                    mix_case{"trouble_then_fail",
                             {"trouble", "fail", "pass"},
                             2,
                             "total: 1 passed, 1 failed, 1 in trouble, of 3 directories"}));

TEST_F(Batch, QuietPrintsNothingAndStillTellsTrouble) {
  make("a", "pass");
  make("b", "trouble");
  const outcome result = run({"-q", "-t7", "a", "b"});
  EXPECT_EQ(result.status, 2);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err,
            "decimal-diff: b/results_c.txt:202:1: expected an integer, found \"oops\"\n");
}

// A name with every kind of byte that XML and JSON cannot carry as it is.
const std::string odd_name = "odd&<\"'\x01\xff\xc3(name";

TEST_F(Batch, JunitReportOfAMix) {
  make("pass");
  make("fail", "fail");
  make("trouble", "trouble");
  make(odd_name, "fail");
  const std::string report = (scratch_.path() / "report.xml").string();
  const outcome result =
      run({"-t7", "--min-snr=30", "-q", "--junit=" + report, "pass", "fail", "trouble", odd_name});
  EXPECT_EQ(result.status, 2);
  if (std::system("command -v xmllint >/dev/null") != 0) {
    GTEST_SKIP() << "xmllint is not installed (Debian: libxml2-utils): the schema is not checked";
  }
  const std::string check =
      "xmllint --noout --schema '" DECIMAL_JUNIT_SCHEMA "' '" + report + "' 2>&1";
  EXPECT_EQ(std::system(check.c_str()), 0) << "the report does not match tests/junit.xsd";
  pugi::xml_document document;
  ASSERT_TRUE(document.load_file(report.c_str()));
  const pugi::xml_node suites = document.child("testsuites");
  const pugi::xml_node suite = suites.child("testsuite");
  for (const pugi::xml_node node : {suites, suite}) {
    EXPECT_STREQ(node.attribute("name").value(), "decimal-diff -t 7 --min-snr=30");
    EXPECT_EQ(node.attribute("tests").as_int(), 4);
    EXPECT_EQ(node.attribute("failures").as_int(), 2);
    EXPECT_EQ(node.attribute("errors").as_int(), 1);
  }
  EXPECT_STREQ(suite.child("properties")
                   .find_child_by_attribute("property", "name", "min_snr_db")
                   .attribute("value")
                   .value(),
               "30");
  std::vector<std::string> names;
  for (const pugi::xml_node test : suite.children("testcase")) {
    names.emplace_back(test.attribute("name").value());
  }
  EXPECT_EQ(names,
            (std::vector<std::string>{"pass", "fail", "trouble", "odd&<\"'\\x01\\xff\\xc3(name"}));
  const pugi::xml_node pass = suite.find_child_by_attribute("testcase", "name", "pass");
  // The summary as the text has it, minimum included.
  EXPECT_EQ(std::string(pass.child_value("system-out")),
            "summary: 0 of 201 entries differ by more than 7 LSB; largest -7 LSB at index 113; "
            "mean -4.463 LSB, rms 4.586 LSB, snr 44.45 dB (minimum 30 dB)");
  const pugi::xml_node failure =
      suite.find_child_by_attribute("testcase", "name", "fail").child("failure");
  EXPECT_STREQ(failure.attribute("message").value(), "1 entry beyond 7 LSB");
  // A viewer opens on the verdict and the summary; the lines come last.
  const std::string text = failure.child_value();
  EXPECT_TRUE(text.starts_with("verdict: fail: 1 entry beyond 7 LSB\nsummary: 1 of 201 entries "))
      << text;
  EXPECT_TRUE(text.ends_with("\n" + fail_line)) << text;
  const pugi::xml_node error =
      suite.find_child_by_attribute("testcase", "name", "trouble").child("error");
  EXPECT_STREQ(error.attribute("message").value(),
               "trouble/results_c.txt:202:1: expected an integer, found \"oops\"");
  EXPECT_STREQ(error.attribute("type").value(), "trouble");
  EXPECT_STREQ(error.child_value(), error.attribute("message").value());
}

// Two calls' reports merge as two suites, each named for its settings (or
// as given), and a glob's trailing "/" is no part of a test's name.
TEST_F(Batch, JunitReportsOfTwoCallsMerge) {
  make("pass");
  const std::string first = (scratch_.path() / "first.xml").string();
  const std::string second = (scratch_.path() / "second.xml").string();
  EXPECT_EQ(run({"-q", "-t7", "--junit=" + first, "pass/"}).status, 0);
  EXPECT_EQ(run({"-q", "-f", "Q1.11", "-t", "7", "--delay=0", "--junit=" + second,
                 "--junit-suite=nightly Q1.11", "pass"})
                .status,
            0);
  std::vector<std::string> suites;
  for (const std::string& report : {first, second}) {
    pugi::xml_document document;
    ASSERT_TRUE(document.load_file(report.c_str()));
    const pugi::xml_node suite = document.child("testsuites").child("testsuite");
    suites.emplace_back(suite.attribute("name").value());
    EXPECT_STREQ(suite.child("testcase").attribute("name").value(), "pass");
    EXPECT_STREQ(suite.child("testcase").attribute("classname").value(),
                 suite.attribute("name").value());
  }
  EXPECT_EQ(suites, (std::vector<std::string>{"decimal-diff -t 7", "nightly Q1.11"}));
}

TEST_F(Batch, JunitReportReplacesItsFileOnlyOnceWhole) {
  make("pass");
  const fs::path missing = scratch_.path() / "none" / "report.xml";
  const outcome result = run({"-t7", "--junit=" + missing.string(), "pass"});
  EXPECT_EQ(result.status, 2);
  EXPECT_EQ(result.err,
            "decimal-diff: junit: " + missing.string() + ": No such file or directory\n");
  const std::string report = scratch_.write("report.xml", "an older report");
  EXPECT_EQ(run({"-t7", "-q", "--junit=" + report, "pass"}).status, 0);
  EXPECT_TRUE(read_file(report).starts_with("<?xml"));
  EXPECT_EQ(std::distance(fs::directory_iterator(scratch_.path()), fs::directory_iterator()), 4)
      << "pass, report.xml and the captured output, nothing left over";
}

// Each line parses and holds the figures that the text shows.
TEST_F(Batch, JsonLinesOfAMix) {
  make("pass");
  make("fail", "fail");
  make("trouble", "trouble");
  const outcome result = run({"-t7", "--json", "pass", "fail", "trouble"});
  EXPECT_EQ(result.status, 2);
  std::istringstream lines(result.out);
  std::vector<nlohmann::json> objects;
  for (std::string line; std::getline(lines, line);) objects.push_back(nlohmann::json::parse(line));
  ASSERT_EQ(objects.size(), 3U);
  const nlohmann::json& pass = objects[0];
  EXPECT_EQ(pass["directory"], "pass");
  EXPECT_EQ(pass["verdict"], "pass");
  EXPECT_EQ(pass["reasons"], nlohmann::json::array());
  EXPECT_EQ(pass["format"], "Q1.11");
  EXPECT_EQ(pass["count"], 201);
  EXPECT_EQ(pass["tolerance"], 7);
  EXPECT_EQ(pass["skipped"], 0);
  EXPECT_EQ(pass["beyond_tolerance"], 0);
  EXPECT_EQ(pass["largest"], -7);
  EXPECT_EQ(pass["largest_index"], 113);
  EXPECT_NEAR(pass["mean"].get<double>(), -4.463, 0.0005);
  EXPECT_NEAR(pass["rms"].get<double>(), 4.586, 0.0005);
  EXPECT_NEAR(pass["snr_db"].get<double>(), 44.45, 0.005);
  EXPECT_EQ(pass["histogram"].front(), nlohmann::json::parse("[-7, 2]"));
  EXPECT_EQ(pass["beyond"], nlohmann::json::array());
  const nlohmann::json& fail = objects[1];
  EXPECT_EQ(fail["verdict"], "fail");
  EXPECT_EQ(fail["reasons"], nlohmann::json::parse(R"(["1 entry beyond 7 LSB"])"));
  EXPECT_EQ(fail["beyond"],
            nlohmann::json::parse(R"([{"index":3,"res_m":79,"res_c":-9,"sample":32,"diff":-88}])"));
  EXPECT_EQ(objects[2]["verdict"], "trouble");
  EXPECT_EQ(objects[2]["message"],
            "trouble/results_c.txt:202:1: expected an integer, found \"oops\"");
}

TEST_F(Batch, JsonShowsInfinitiesAsStrings) {
  scratch_.write("same/samples.txt", "1 2\n");
  scratch_.write("same/results_m.txt", "5 6\n");
  scratch_.write("same/results_c.txt", "5 6\n");
  scratch_.write("zero/samples.txt", "1 2\n");
  scratch_.write("zero/results_m.txt", "0 0\n");
  scratch_.write("zero/results_c.txt", "0 1\n");
  const outcome result = run({"--json", "-t1", "same", "zero"});
  EXPECT_EQ(result.status, 0);
  std::istringstream lines(result.out);
  std::string line;
  std::getline(lines, line);
  EXPECT_EQ(nlohmann::json::parse(line)["snr_db"], "inf");
  std::getline(lines, line);
  EXPECT_EQ(nlohmann::json::parse(line)["snr_db"], "-inf");
}

// Reports keep only what they show: with -q or --json nothing is held in
// $TMPDIR (here a directory that does not exist, so that any use of it is
// trouble), the JUnit failure text holds the first 100 lines and says how
// many it left out, and the JSON line lists the first entries.
TEST_F(Batch, ReportsHoldOnlyWhatTheyShow) {
  constexpr int entries = 40'000;  // some 2.4 MB of lines beyond the tolerance
  std::string model;
  std::string implementation;
  for (int i = 0; i < entries; ++i) {
    model += std::to_string(i % 2000) + "\n";
    implementation += std::to_string(i % 2000 + 1) + "\n";
  }
  scratch_.write("run/samples.txt", model);
  scratch_.write("run/results_m.txt", model);
  scratch_.write("run/results_c.txt", implementation);
  const std::string report = (scratch_.path() / "report.xml").string();
  const run_options no_tmpdir{.environment = {{"TMPDIR", (scratch_.path() / "none").string()}}};
  for (const std::vector<std::string>& options :
       {std::vector<std::string>{"-q", "--junit=" + report, "run"},
        std::vector<std::string>{"--json", "--junit=" + report, "run"}}) {
    run_options with = no_tmpdir;
    with.args = options;
    const outcome result = run_program(DECIMAL_DIFF_BINARY, scratch_.path(), scratch_.path(), with);
    EXPECT_EQ(result.status, 1) << result.err;
    EXPECT_EQ(result.err, "");
    const std::string failure = first_failure_text(report);
    EXPECT_TRUE(failure.starts_with("verdict: fail: 40000 entries beyond 0 LSB\n"));
    // After the verdict, summary and histogram, the first lines and a count of the rest.
    const std::size_t first_line = failure.find("\nindex:") + 1;
    const std::size_t cut = failure.rfind("\n(") + 1;
    EXPECT_EQ(std::count(failure.begin() + static_cast<long>(first_line),
                         failure.begin() + static_cast<long>(cut), '\n'),
              100);
    EXPECT_EQ(failure.substr(cut), "(39900 more lines left out)\n");
    if (options.front() == "--json") {
      const nlohmann::json line = nlohmann::json::parse(result.out);
      EXPECT_EQ(line["beyond_tolerance"], entries);
      EXPECT_EQ(line["beyond"].size(), 1000U);
      EXPECT_EQ(line["beyond"].back()["index"], 999);
    }
  }
}

struct unknown_case {
  const char* edge;
  std::vector<std::string> options;
  std::string model;
  std::string implementation;
  std::string out;   // the text output
  std::string json;  // fields of the JSON line that tell of the unknowns
};

void PrintTo(const unknown_case& c, std::ostream* os) { *os << c.edge; }

class Unknowns : public Batch, public testing::WithParamInterface<unknown_case> {};

// An entry unknown in either file fails the run, is shown among the lines
// with x, and takes no part in the histogram and the figures.
TEST_P(Unknowns, FailTheRunAndStayOutOfTheFigures) {
  const unknown_case& c = GetParam();
  scratch_.write("run/samples.txt", "10 20 30 40 50\n");
  scratch_.write("run/results_m.txt", c.model);
  scratch_.write("run/results_c.txt", c.implementation);
  std::vector<std::string> args = c.options;
  args.push_back("run");
  const outcome text = run(args);
  EXPECT_EQ(text.status, 1) << text.err;
  EXPECT_EQ(text.out, c.out);
  // JUnit's text holds every line, the unknown ones among them.
  const std::string report = (scratch_.path() / "report.xml").string();
  args.insert(args.begin(), "--junit=" + report);
  EXPECT_EQ(run(args).status, 1);
  const std::string failure = first_failure_text(report);
  EXPECT_TRUE(failure.ends_with(c.out.substr(0, c.out.find("histogram:")))) << failure;
  args.insert(args.begin(), "--json");
  const nlohmann::json line = nlohmann::json::parse(run(args).out);
  const nlohmann::json expected = nlohmann::json::parse(c.json);
  for (const auto& [field, value] : expected.items()) {
    EXPECT_EQ(line[field], value) << field;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Table, Unknowns,
    testing::Values(
        unknown_case{
            "some_in_the_implementation",
            {"-t1"},
            "1 2 3 4 5\n",
            "1 x 3 X 9\n",
            "index:1, res_m:0.000977, res_c:x, samp:20, diff:x\n"
            "index:3, res_m:0.001953, res_c:x, samp:40, diff:x\n"
            "index:4, res_m:0.002441, res_c:0.004395, samp:50, diff:4\n"
            "histogram: 0:2 4:1\n"
            "summary: 1 of 5 entries differ by more than 1 LSB, 2 unknown (X:2); largest 4 LSB at "
            "index "
            "4; mean 1.333 LSB, rms 2.309 LSB, snr 3.40 dB\n"
            "verdict: fail: 1 entry beyond 1 LSB; 2 entries unknown\n",
            R"({"reasons": ["1 entry beyond 1 LSB", "2 entries unknown"], "count": 5, "unknown": 2,
                "beyond_tolerance": 1, "largest": 4, "largest_index": 4,
                "beyond": [{"index": 1, "res_m": 2, "res_c": null, "sample": 20, "diff": null},
                           {"index": 3, "res_m": 4, "res_c": null, "sample": 40, "diff": null},
                           {"index": 4, "res_m": 5, "res_c": 9, "sample": 50, "diff": 4}]})"},
        // In hex, with the SNR minimum met by the entries known in both.
        unknown_case{
            "one_in_the_model",
            {"--model-encoding=hex", "--min-snr=10"},
            "1 z 3\n",
            "1 2 3\n",
            "index:1, res_m:x, res_c:0.000977, samp:20, diff:x\n"
            "histogram: 0:2\n"
            "summary: 0 of 3 entries differ by more than 0 LSB, 1 unknown (Z:1); largest 0 LSB "
            "at index 0; mean 0.000 LSB, rms 0.000 LSB, snr inf dB (minimum 10 dB)\n"
            "verdict: fail: 1 entry unknown\n",
            R"({"reasons": ["1 entry unknown"], "count": 3, "unknown": 1,
                         "beyond": [{"index": 1, "res_m": null, "res_c": 2, "sample": 20,
                                     "diff": null}]})"},
        // None known in both: no histogram and no figures, and no SNR to miss.
        unknown_case{"all",
                     {"--min-snr=10"},
                     "x x\n",
                     "1 z\n",
                     "index:0, res_m:x, res_c:0.000488, samp:10, diff:x\n"
                     "index:1, res_m:x, res_c:x, samp:20, diff:x\n"
                     "histogram: none\n"
                     "summary: 0 of 2 entries differ by more than 0 LSB, 2 unknown (X:1 Z:1)\n"
                     "verdict: fail: 2 entries unknown\n",
                     R"({"reasons": ["2 entries unknown"], "count": 2, "unknown": 2,
                         "largest": null, "mean": null, "snr_db": null, "histogram": []})"},
        // VHDL's letters as bare decimal words: U and - unknown, H and L weak 1 and 0.
        unknown_case{
            "vhdl_letters",
            {"-t1"},
            "1 2 3 4 5\n",
            "U - 3 H L\n",
            "index:0, res_m:0.000488, res_c:x, samp:10, diff:x\n"
            "index:1, res_m:0.000977, res_c:x, samp:20, diff:x\n"
            "index:3, res_m:0.001953, res_c:0.000488, samp:40, diff:-3\n"
            "index:4, res_m:0.002441, res_c:0.000000, samp:50, diff:-5\n"
            "histogram: -5:1 -3:1 0:1\n"
            "summary: 2 of 5 entries differ by more than 1 LSB, 2 unknown (U:1 -:1), 2 weak; "
            "largest -5 LSB at index 4; mean -2.667 LSB, rms 3.367 LSB, snr 1.67 dB\n"
            "verdict: fail: 2 entries beyond 1 LSB; 2 entries unknown\n",
            R"({"unknown": 2, "unknown_letters": {"U": 1, "-": 1}, "weak": 2})"},
        unknown_case{"weak_taken_as_unknown",
                     {"--weak=unknown"},
                     "1 2 3 4 5\n",
                     "1 2 3 H L\n",
                     "index:3, res_m:0.001953, res_c:x, samp:40, diff:x\n"
                     "index:4, res_m:0.002441, res_c:x, samp:50, diff:x\n"
                     "histogram: 0:3\n"
                     "summary: 0 of 5 entries differ by more than 0 LSB, 2 unknown (L:1 H:1); "
                     "largest 0 LSB at index 0; mean 0.000 LSB, rms 0.000 LSB, snr inf dB\n"
                     "verdict: fail: 2 entries unknown\n",
                     R"({"unknown_letters": {"L": 1, "H": 1}})"},
        // Verilog's %h of 0000_xxxx_0101 prints 0x5: unknown, never the value 5.
        unknown_case{
            "verilog_word_with_its_second_digit_unknown",
            {"--impl-encoding=hex"},
            "1 5 3\n",
            "1 0x5 3\n",
            "index:1, res_m:0.002441, res_c:x, samp:20, diff:x\n"
            "histogram: 0:2\n"
            "summary: 0 of 3 entries differ by more than 0 LSB, 1 unknown (X:1); largest 0 "
            "LSB at index 0; mean 0.000 LSB, rms 0.000 LSB, snr inf dB\n"
            "verdict: fail: 1 entry unknown\n",
            R"({"unknown_letters": {"X": 1}})"}));

// Standard output and error on one terminal or log: a directory's trouble
// message follows its header, never the directory before it.
TEST_F(Batch, TroubleMessageFollowsItsHeader) {
  make("a");
  make("b", "trouble");
  const outcome merged =
      run_program("/bin/sh", scratch_.path(), scratch_.path(),
                  {.args = {"-c", std::string("\"$0\" -q -t7 a b 2>&1; \"$0\" -t7 a b 2>&1"),
                            DECIMAL_DIFF_BINARY}});
  EXPECT_EQ(merged.out.substr(merged.out.find("==> b <==")),
            "==> b <==\n"
            "decimal-diff: b/results_c.txt:202:1: expected an integer, found \"oops\"\n"
            "verdict: trouble\n\n"
            "total: 1 passed, 0 failed, 1 in trouble, of 2 directories\n");
}

struct hostile_case {
  const char* edge;
  std::string name;
  std::string shown;
  // JSON carries the path itself where it is UTF-8, escaping what JSON needs.
  bool exact_in_json = true;
};

void PrintTo(const hostile_case& c, std::ostream* os) { *os << c.edge; }

class HostileName : public Batch, public testing::WithParamInterface<hostile_case> {};

// However a directory is named, it is shown on one line that it cannot
// colour, rewrite or end, and the reports carry the message as printed.
TEST_P(HostileName, IsEscapedInHeadersMessagesAndReports) {
  const hostile_case& c = GetParam();
  make("pass");
  make(c.name, "trouble");
  const std::string report = (scratch_.path() / "report.xml").string();
  const outcome text = run({"-t7", "--junit=" + report, "pass", c.name});
  EXPECT_EQ(text.status, 2);
  EXPECT_EQ(text.out, "==> pass <==\n" + pass_block + "\n==> " + c.shown +
                          " <==\nverdict: trouble\n\n"
                          "total: 1 passed, 0 failed, 1 in trouble, of 2 directories\n");
  const std::string message = c.shown + "/results_c.txt:202:1: expected an integer, found \"oops\"";
  EXPECT_EQ(text.err, "decimal-diff: " + message + "\n");
  pugi::xml_document document;
  ASSERT_TRUE(document.load_file(report.c_str()));
  const pugi::xml_node test = document.child("testsuites")
                                  .child("testsuite")
                                  .find_child_by_attribute("testcase", "name", c.shown.c_str());
  EXPECT_EQ(test.child("error").attribute("message").value(), message);
  const outcome json = run({"-t7", "--json", c.name});
  const nlohmann::json line = nlohmann::json::parse(json.out);
  EXPECT_EQ(line["directory"], c.exact_in_json ? c.name : c.shown);
  EXPECT_EQ(line["message"], message);
}

INSTANTIATE_TEST_SUITE_P(
    Table, HostileName,
    testing::Values(
        hostile_case{"escape_sequence", "esc\x1b[31mred", "esc\\x1b[31mred"},
        hostile_case{"bell", "bell\a", "bell\\x07"},
        hostile_case{"carriage_return", "cr\rverdict: pass", "cr\\x0dverdict: pass"},
        hostile_case{"line_feed", "lf\nverdict: pass", "lf\\x0averdict: pass"},
        hostile_case{"tab", "a\tb", "a\\x09b"},
        hostile_case{"invalid_utf8", "bad\xff\xfe", "bad\\xff\\xfe", false},
        hostile_case{"backslash", "back\\slash", "back\\\\slash"},
        // A right-to-left override shows "tc01\u202Eliaf_ssap" as "tc01pass_fail".
        hostile_case{"bidi_override", "tc01\u202eliaf_ssap", "tc01\\xe2\\x80\\xaeliaf_ssap"},
        hostile_case{"bidi_isolate", "a\u2067b\u2069", "a\\xe2\\x81\\xa7b\\xe2\\x81\\xa9"},
        // A zero-width space makes two names look the same.
        hostile_case{"zero_width_space", "run\u200b1", "run\\xe2\\x80\\x8b1"},
        // Printable letters of any script stay as they are.
        hostile_case{"accented", "d\u00e9j\u00e0", "d\u00e9j\u00e0"}));

struct layout_case {
  const char* name;
  std::vector<std::string> args;
  int status;
  const char* out;  // the first line of standard output, or the error
};

void PrintTo(const layout_case& c, std::ostream* os) { *os << c.name; }

class Layout : public Batch, public testing::WithParamInterface<layout_case> {};

// run/ holds in.txt, model.txt and impl.txt: three entries, the last off by 5.
TEST_P(Layout, NamesTheFilesOfEachDirectory) {
  const layout_case& c = GetParam();
  scratch_.write("run/in.txt", "10 20 30\n");
  scratch_.write("run/model.txt", "1 2 3\n");
  scratch_.write("run/impl.txt", "1 2 8\n");
  scratch_.write("elsewhere/impl.txt", "1 2 3\n");
  std::vector<std::string> args = c.args;
  for (std::string& arg : args) {
    if (const std::size_t at = arg.find("ABSOLUTE/"); at != std::string::npos) {
      arg.replace(at, 9, scratch_.path().string() + "/");
    }
  }
  args.emplace_back("run");
  const outcome result = run(args);
  EXPECT_EQ(result.status, c.status) << result.err;
  const std::string& text = c.status == 2 ? result.err : result.out;
  EXPECT_EQ(text.substr(0, text.find('\n') + 1), c.out);
}

INSTANTIATE_TEST_SUITE_P(
    Table, Layout,
    testing::Values(
        layout_case{"all_three_named",
                    {"--samples=in.txt", "--model=model.txt", "--impl=impl.txt"},
                    1,
                    "index:2, res_m:0.001465, res_c:0.003906, samp:30, diff:5\n"},
        layout_case{"without_samples",
                    {"--samples=none", "--model=model.txt", "--impl=impl.txt"},
                    1,
                    "index:2, res_m:0.001465, res_c:0.003906, diff:5\n"},
        layout_case{"absolute_name",
                    {"--samples=in.txt", "--model=model.txt", "--impl=ABSOLUTE/elsewhere/impl.txt"},
                    0,
                    "histogram: 0:3\n"},
        layout_case{"default_names_missing",
                    {"--model=model.txt", "--impl=impl.txt"},
                    2,
                    "decimal-diff: run/samples.txt: No such file or directory\n"},
        layout_case{"skip_none",
                    {"--samples=in.txt", "--model=model.txt", "--impl=impl.txt", "--skip=0"},
                    1,
                    "index:2, res_m:0.001465, res_c:0.003906, samp:30, diff:5\n"},
        // Skipped entries are read and checked, and count no further.
        layout_case{"skip_all_but_one",
                    {"--samples=in.txt", "--model=model.txt", "--impl=impl.txt", "--skip=2", "-t5"},
                    0,
                    "histogram: 5:1\n"},
        layout_case{"skip_the_fault",
                    {"--samples=none", "--model=model.txt", "--impl=impl.txt", "-n2", "--skip=1"},
                    0,
                    "histogram: 0:1\n"},
        layout_case{"skip_everything",
                    {"--samples=in.txt", "--model=model.txt", "--impl=impl.txt", "--skip=3"},
                    2,
                    "decimal-diff: run/model.txt: --skip=3 leaves none of its 3 entries\n"}));

TEST_F(Batch, SkippedEntriesAreNamedInTheSummary) {
  scratch_.write("run/samples.txt", "10 20 30\n");
  scratch_.write("run/results_m.txt", "1 2 3\n");
  scratch_.write("run/results_c.txt", "9 2 8\n");
  const outcome result = run({"--skip=1", "run"});
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.out,
            "index:2, res_m:0.001465, res_c:0.003906, samp:30, diff:5\n"
            "histogram: 0:1 5:1\n"
            "summary: 1 of 2 entries (1 skipped) differ by more than 0 LSB; largest 5 LSB at "
            "index 2; mean 2.500 LSB, rms 3.536 LSB, snr -2.84 dB\n"
            "verdict: fail: 1 entry beyond 0 LSB\n");
}

}  // namespace
