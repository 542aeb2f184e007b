// decimal-diff against the models people have: real values as a script
// writes them, and bit-true models of a wider format; the rounding, bias and
// accuracy figures that tell a truncating implementation from a rounding one.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "run_program.hpp"
#include "scratch_dir.hpp"

namespace {

// Q1.11: the implementation's format in these runs.
constexpr int fraction_bits = 11;

// A sine as a tone generator's model computes it, and a 3-tap filter's
// output over a ramp: real values in [-1, 1), none on a half LSB.
std::vector<double> sine() {
  std::vector<double> x;
  x.reserve(500);
  for (int n = 0; n < 500; ++n) x.push_back(0.9 * std::sin(2 * M_PI * n / 97.3));
  return x;
}
std::vector<double> filter() {
  std::vector<double> x;
  x.reserve(500);
  double in_1 = 0;
  double in_2 = 0;
  for (int n = 0; n < 500; ++n) {
    const double in = std::fmod(n * 0.0137, 1.6) - 0.8;
    x.push_back(0.25 * in + 0.5 * in_1 + 0.25 * in_2 + 1e-7);
    in_2 = in_1;
    in_1 = in;
  }
  return x;
}

std::string as_text(const std::vector<double>& values, const char* form) {
  std::string text;
  for (const double v : values) {
    char word[64];
    std::snprintf(word, sizeof word, form, v);
    text += word;
    text += '\n';
  }
  return text;
}

// The implementation's integers: each model value quantized by `rounding`.
std::string quantized(const std::vector<double>& values, double (*rounding)(double)) {
  std::string text;
  for (const double v : values) {
    text += std::to_string(static_cast<long long>(rounding(std::ldexp(v, fraction_bits)))) + '\n';
  }
  return text;
}

class RealModel : public testing::Test {
 protected:
  outcome run(const std::vector<std::string>& args) {
    return run_program(DECIMAL_DIFF_BINARY, scratch_.path(), scratch_.path(), {.args = args});
  }
  scratch_dir scratch_;
};

struct rounding_case {
  const char* edge;
  std::vector<double> (*model)();
  double (*rounding)(double);
  const char* tolerance;
  int status;
};

void PrintTo(const rounding_case& c, std::ostream* os) { *os << c.edge; }

class RealModelRounding : public RealModel, public testing::WithParamInterface<rounding_case> {};

// -t 0.5 passes exactly the correctly rounded implementation, -t 1 the
// faithfully rounded ones too; a model as %.17g text and as the same model
// in Q1.23 (a bit-true wider model) give the same verdict.
TEST_P(RealModelRounding, VerdictOfEachRounding) {
  const rounding_case& c = GetParam();
  const std::vector<double> model = c.model();
  scratch_.write("run/results_m.txt", as_text(model, "%.17g"));
  scratch_.write("run/results_c.txt", quantized(model, c.rounding));
  std::string wide;
  for (const double v : model) wide += std::to_string(std::lround(std::ldexp(v, 23))) + '\n';
  scratch_.write("run/wide_m.txt", wide);
  const outcome real =
      run({"-q", "--samples=none", "--model-encoding=real", "-t", c.tolerance, "run"});
  EXPECT_EQ(real.status, c.status) << real.err;
  const outcome wider = run({"-q", "--samples=none", "--model=wide_m.txt", "--model-format=Q1.23",
                             "-t", c.tolerance, "run"});
  EXPECT_EQ(wider.status, c.status) << wider.err;
}

double nearest(double x) { return std::round(x); }

INSTANTIATE_TEST_SUITE_P(
    Table, RealModelRounding,
    testing::Values(rounding_case{"sine_rounded_half", sine, nearest, "0.5", 0},
                    rounding_case{"sine_truncated_half", sine, std::floor, "0.5", 1},
                    rounding_case{"sine_truncated_one", sine, std::floor, "1", 0},
                    rounding_case{"sine_ceiling_half", sine, std::ceil, "0.5", 1},
                    rounding_case{"sine_ceiling_one", sine, std::ceil, "1", 0},
                    rounding_case{"filter_rounded_half", filter, nearest, "0.5", 0},
                    rounding_case{"filter_truncated_half", filter, std::floor, "0.5", 1},
                    rounding_case{"filter_truncated_one", filter, std::floor, "1", 0},
                    // An integer tolerance of 0 passes nothing short of exact values.
                    rounding_case{"filter_rounded_zero", filter, nearest, "0", 1}));

// An entry exactly half an LSB off passes -t 0.5 either way, and the lines
// show the model's value with %f and the difference with three decimals.
TEST_F(RealModel, HalfAnLsbIsWithinHalfAnLsb) {
  scratch_.write("run/results_m.txt", "0x1p-12\n-0x1p-12\n0.25\n0x1.8p-11\n");
  scratch_.write("run/results_c.txt", "0\n0\n512\n1\n");
  const outcome half = run({"--samples=none", "--model-encoding=real", "-t", "0.5", "run"});
  EXPECT_EQ(half.status, 0) << half.out << half.err;
  const outcome none = run({"--samples=none", "--model-encoding=real", "run"});
  EXPECT_EQ(none.status, 1);
  EXPECT_EQ(none.out,
            "index:0, res_m:0.000244, res_c:0.000000, diff:-0.500\n"
            "index:1, res_m:-0.000244, res_c:0.000000, diff:0.500\n"
            "index:3, res_m:0.000732, res_c:0.000488, diff:-0.500\n"
            "histogram: -1:2 0:1 1:1\n"
            "summary: 3 of 4 entries differ by more than 0 LSB; largest -0.500 LSB at index 0; "
            "mean -0.125 LSB, rms 0.433 LSB, snr 55.43 dB\n"
            "rounding: mean -0.125 LSB, rms 0.433 LSB (ideal rounding: mean 0, rms 0.289 LSB)\n"
            "accuracy: highest level met: 11\n"
            "verdict: fail: 3 entries beyond 0 LSB\n");
}

// A truncating implementation: a steady -0.5 LSB bias that -t 1 lets
// through, and --max-mean does not; the same implementation rounded passes.
TEST_F(RealModel, MaxMeanCatchesTheTruncationBias) {
  const std::vector<double> model = sine();
  scratch_.write("run/results_m.txt", as_text(model, "%.17g"));
  scratch_.write("run/results_c.txt", quantized(model, std::floor));
  const outcome truncated =
      run({"--samples=none", "--model-encoding=real", "-t", "1", "--max-mean=0.25", "run"});
  EXPECT_EQ(truncated.status, 1);
  EXPECT_NE(truncated.out.find("rounding: mean -0.5"), std::string::npos) << truncated.out;
  EXPECT_NE(truncated.out.find("verdict: fail: mean -0.5"), std::string::npos) << truncated.out;
  EXPECT_NE(truncated.out.find(" LSB beyond \u00b10.25 LSB\n"), std::string::npos) << truncated.out;
  scratch_.write("run/results_c.txt", quantized(model, nearest));
  EXPECT_EQ(
      run({"-q", "--samples=none", "--model-encoding=real", "-t", "1", "--max-mean=0.25", "run"})
          .status,
      0);
}

// The JSON line gives a real model's value in real units and the
// difference as a number, with the rounding and accuracy figures; a wider
// model's format is among the JUnit report's properties.
TEST_F(RealModel, ReportsCarryTheRealFigures) {
  scratch_.write("run/results_m.txt", "0x1p-12\n0.25\n");
  scratch_.write("run/results_c.txt", "1\n512\n");
  const outcome json =
      run({"--json", "--samples=none", "--model-encoding=real", "--max-mean=1", "run"});
  EXPECT_EQ(json.status, 1);
  EXPECT_EQ(json.out,
            "{\"directory\":\"run\",\"verdict\":\"fail\",\"reasons\":[\"1 entry beyond 0 LSB\"],"
            "\"format\":\"Q1.11\",\"tolerance\":0,\"skipped\":0,\"max_mean\":1.0,\"count\":2,"
            "\"beyond_tolerance\":1,\"largest\":0.5,\"largest_index\":0,\"mean\":0.25,\"rms\":"
            "0.3535533905932738,\"snr_db\":60.2060032745492,\"histogram\":[[0,1],[1,1]],"
            "\"rounding\":{\"mean\":0.25,\"rms\":0.3535533905932738},\"accuracy_highest\":11,"
            "\"beyond\":[{\"index\":0,\"res_m\":0.000244140625,\"res_c\":1,\"sample\":null,"
            "\"diff\":0.5}]}\n");
  scratch_.write("run/wide_m.txt", "4096\n2097152\n");
  const outcome junit = run({"-q", "--samples=none", "--model=wide_m.txt", "--model-format=Q1.23",
                             "--junit=j.xml", "run"});
  EXPECT_EQ(junit.status, 0) << junit.err;
  std::ifstream file(scratch_.path() / "j.xml");
  const std::string xml((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  EXPECT_NE(xml.find("<property name=\"model_format\" value=\"Q1.23\" />"), std::string::npos)
      << xml;
}

struct limit_case {
  const char* edge;
  std::vector<int> differences;  // of an integer Q1.15 run, in LSB
  std::vector<std::string> options;
  int status;
  std::string closing;  // the lines after the summary
};

void PrintTo(const limit_case& c, std::ostream* os) { *os << c.edge; }

class RealModelLimits : public RealModel, public testing::WithParamInterface<limit_case> {};

// --max-mean and --accuracy at the edges of their limits, on integer runs:
// the rounding line comes with either, the accuracy line with --accuracy.
TEST_P(RealModelLimits, AtTheEdge) {
  const limit_case& c = GetParam();
  std::string m;
  std::string impl;
  for (const int d : c.differences) {
    m += "100\n";
    impl += std::to_string(100 + d) + '\n';
  }
  scratch_.write("run/results_m.txt", m);
  scratch_.write("run/results_c.txt", impl);
  std::vector<std::string> args = {"--samples=none", "-f", "Q1.15", "-t", "3"};
  args.insert(args.end(), c.options.begin(), c.options.end());
  args.push_back("run");
  const outcome result = run(args);
  EXPECT_EQ(result.status, c.status);
  const std::size_t after_summary = result.out.find('\n', result.out.find("summary: ")) + 1;
  EXPECT_EQ(result.out.substr(after_summary), c.closing);
}

// Level 16 of Q1.15: rms at most 1/sqrt(12) = 0.2887 LSB, largest at most 2 LSB.
std::vector<int> one_in(int d, int entries) {
  std::vector<int> v(static_cast<std::size_t>(entries), 0);
  v[0] = d;
  return v;
}

INSTANTIATE_TEST_SUITE_P(
    Table, RealModelLimits,
    testing::Values(
        limit_case{"mean_at_its_limit",
                   {1, 0, 0, 0},
                   {"--max-mean=0.25"},
                   0,
                   "rounding: mean 0.250 LSB, rms 0.500 LSB (ideal rounding: mean 0, rms 0.289 "
                   "LSB)\nverdict: pass\n"},
        limit_case{"mean_just_over",
                   {1, 0, 0},
                   {"--max-mean=0.25"},
                   1,
                   "rounding: mean 0.333 LSB, rms 0.577 LSB (ideal rounding: mean 0, rms 0.289 "
                   "LSB)\nverdict: fail: mean 0.333 LSB beyond \u00b10.25 LSB\n"},
        // 0.2501 shows as 0.250 with three decimals: shown as it is instead.
        limit_case{"mean_over_by_less_than_shown",
                   [] {
                     std::vector<int> v(10000, 0);
                     for (int i = 0; i < 2501; ++i) v[static_cast<std::size_t>(i)] = 1;
                     return v;
                   }(),
                   {"--max-mean=0.25"},
                   1,
                   "rounding: mean 0.250 LSB, rms 0.500 LSB (ideal rounding: mean 0, rms 0.289 "
                   "LSB)\nverdict: fail: mean 0.2501 LSB beyond \u00b10.25 LSB\n"},
        limit_case{"level_met_at_the_largest",
                   one_in(2, 49),
                   {"--accuracy=16"},
                   0,
                   "rounding: mean 0.041 LSB, rms 0.286 LSB (ideal rounding: mean 0, rms 0.289 "
                   "LSB)\naccuracy: level 16 met; highest level met: 16\nverdict: pass\n"},
        limit_case{"largest_just_over",
                   one_in(3, 200),
                   {"--accuracy=16"},
                   1,
                   "rounding: mean 0.015 LSB, rms 0.212 LSB (ideal rounding: mean 0, rms 0.289 "
                   "LSB)\naccuracy: level 16 not met; highest level met: 15\nverdict: fail: "
                   "accuracy level 16 not met (largest 3 > 2 LSB)\n"},
        limit_case{"rms_just_over",
                   one_in(2, 47),
                   {"--accuracy=16"},
                   1,
                   "rounding: mean 0.043 LSB, rms 0.292 LSB (ideal rounding: mean 0, rms 0.289 "
                   "LSB)\naccuracy: level 16 not met; highest level met: 15\nverdict: fail: "
                   "accuracy level 16 not met (rms 0.292 > 0.289 LSB)\n"},
        // Level 1's limits are full scale and twice it: a wrap misses even those.
        limit_case{"no_level",
                   {30000, 0},
                   {"-t", "65535", "--accuracy=1"},
                   1,
                   "rounding: mean 15000.000 LSB, rms 21213.203 LSB (ideal rounding: mean 0, rms "
                   "0.289 LSB)\naccuracy: level 1 not met; highest level met: none\nverdict: "
                   "fail: accuracy level 1 not met (rms 21213.203 > 9459.307 LSB)\n"},
        // Without the options, an integer run prints as it always has.
        limit_case{"neither", {1, 0}, {}, 0, "verdict: pass\n"}));

struct usage_case {
  std::vector<std::string> args;
  std::string message;
};

void PrintTo(const usage_case& c, std::ostream* os) { *os << testing::PrintToString(c.args); }

class RealModelUsage : public RealModel, public testing::WithParamInterface<usage_case> {};

TEST_P(RealModelUsage, RefusedBeforeAnyFileIsRead) {
  const outcome result = run(GetParam().args);
  EXPECT_EQ(result.status, 2);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err, "decimal-diff: " + GetParam().message + "\nTry 'decimal-diff --help'.\n");
}

INSTANTIATE_TEST_SUITE_P(
    Table, RealModelUsage,
    testing::Values(
        usage_case{{"--impl-encoding=real"},
                   "the implementation's results must be integers of the format, not real: only "
                   "the model's may be real values"},
        usage_case{{"-e", "f64le"},
                   "the implementation's results must be integers of the format, not f64le: only "
                   "the model's may be real values"},
        usage_case{{"--samples-encoding=f32be"},
                   "the samples must be integers of the format, not f32be: only the model's may be "
                   "real values"},
        usage_case{{"--model-encoding=real", "--model-format=Q1.23"},
                   "--model-format reads the model's integers: a real model holds real values of "
                   "its own"},
        usage_case{{"--model-format=Q0.23"},
                   "invalid model format \"Q0.23\": that format is Q1.23 here, where M counts the "
                   "sign bit"},
        // A fraction of an LSB needs a model that has fractions.
        usage_case{{"-t", "0.5"},
                   "invalid tolerance \"0.5\": expected a whole number from 0 to 4095"},
        usage_case{{"--model-encoding=real", "-t", "-0.5"},
                   "invalid tolerance \"-0.5\": expected a number of LSB from 0 to 4095, such as 1 "
                   "or 0.5"},
        usage_case{{"--model-encoding=real", "-t", "1e3"},
                   "invalid tolerance \"1e3\": expected a number of LSB from 0 to 4095, such as 1 "
                   "or 0.5"},
        usage_case{{"--max-mean=-1"},
                   "invalid maximum mean \"-1\": expected a number of LSB from 0, such as 0.25"},
        usage_case{{"--accuracy=41"},
                   "invalid accuracy level \"41\": expected a whole number from 1 to 40"},
        usage_case{{"--accuracy=0"},
                   "invalid accuracy level \"0\": expected a whole number from 1 to 40"}));

}  // namespace
