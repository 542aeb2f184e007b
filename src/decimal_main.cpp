// decimal: prints two sets of Q1.11 results as real values, index by index,
// beside the raw input sample of the same index.

#include <unistd.h>

#include <exception>
#include <string>

#include "decimal/error.hpp"
#include "decimal/report.hpp"
#include "decimal/run.hpp"

int main() {
  try {
    // Nothing is written until all three files are good.
    const decimal::run_files files = decimal::read_run_files();
    const decimal::real_table res_m = decimal::convert_results(files.results_m);
    const decimal::real_table res_c = decimal::convert_results(files.results_c);
    decimal::report_buffer buffer;
    decimal::write_all(STDOUT_FILENO, decimal::render_report(files.samples, res_m, res_c, buffer));
    return 0;
  } catch (const std::exception& e) {
    const std::string message = std::string("decimal: ") + e.what() + "\n";
    // Nothing better is left to do if standard error fails too.
    [[maybe_unused]] const ssize_t ignored = ::write(STDERR_FILENO, message.data(), message.size());
    return 1;
  }
}
