// decimal: prints two sets of Q1.11 results as real values, index by index,
// beside the raw input sample of the same index.

#include <unistd.h>

#include <exception>
#include <string>

#include "decimal/error.hpp"
#include "decimal/report.hpp"
#include "decimal/run.hpp"

namespace {

void say(const std::string& text) {
  // Nothing better is left to do if standard error fails.
  [[maybe_unused]] const ssize_t ignored = ::write(STDERR_FILENO, text.data(), text.size());
}

}  // namespace

int main(int argc, char**) {
  // Arguments change nothing; beside decimal-diff DIR, a user may think they do.
  if (argc > 1) {
    say("decimal: arguments ignored: it reads samples.txt, results_m.txt and results_c.txt from "
        "the current directory\n");
  }
  try {
    // Nothing is written until all three files are good.
    const decimal::run_files files = decimal::read_run_files();
    const decimal::real_table res_m = decimal::convert_results(files.results_m);
    const decimal::real_table res_c = decimal::convert_results(files.results_c);
    decimal::report_buffer buffer;
    decimal::write_all(STDOUT_FILENO, decimal::render_report(files.samples, res_m, res_c, buffer));
    return 0;
  } catch (const std::exception& e) {
    say(std::string("decimal: ") + e.what() + "\n");
    return 1;
  }
}
