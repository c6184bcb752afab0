// rowfreq: reads standard input to its end and writes how often its rows
// repeat. Arguments, environment and locale are ignored.
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <istream>
#include <new>
#include <ostream>
#include <string>
#include <system_error>

#include "frequency_report/fd_output.h"
#include "frequency_report/frequency_report.h"
#include "row_tally/fd_input.h"
#include "row_tally/row_tally.h"

namespace {

// A write that failed because the reader of a pipe went away. Where SIGPIPE
// is left at its default the run ends at that write without a word, as other
// filters do; where it is ignored, and on Windows, which has no SIGPIPE, the
// write fails instead, and the run ends just as quietly, with status 1.
bool is_closed_pipe(const std::system_error& failure) {
  return failure.code() == std::errc::broken_pipe;
}

void report_failure(const std::string& what) {
  std::fprintf(stderr, "rowfreq: %s\n", what.c_str());
}

}  // namespace

int main() {
  rowfreq::fd_input_buffer standard_input(0);
  rowfreq::fd_output_buffer standard_output(1);
  std::istream input(&standard_input);
  std::ostream output(&standard_output);
  // Reading fails only while tallying, writing only while reporting.
  const char* system_failure = "read error";
  try {
    rowfreq::row_table table;
    const std::int64_t row_total = rowfreq::tally_rows(input, table);
    system_failure = "write error";
    rowfreq::write_report(output, table, row_total);
    return EXIT_SUCCESS;
  } catch (const std::bad_alloc&) {
    report_failure("out of memory");
  } catch (const std::system_error& failure) {
    if (!is_closed_pipe(failure)) {
      report_failure(system_failure + (": " + failure.code().message()));
    }
  } catch (const std::exception& failure) {
    report_failure(failure.what());
  }
  return EXIT_FAILURE;
}
