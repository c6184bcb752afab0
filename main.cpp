// rowfreq: reads standard input to its end and writes how often its rows
// repeat. Arguments, environment and locale are ignored.
#include <cerrno>
#include <cstdlib>
#include <iostream>
#include <new>
#include <stdexcept>
#include <system_error>

#include "frequency_report/frequency_report.h"
#include "row_tally/row_tally.h"

namespace {

// A write that failed because the reader of a pipe went away. When SIGPIPE
// is left at its default the run ends at that write without a word, as other
// filters do; when the parent ignored SIGPIPE the write fails with EPIPE, and
// the run ends just as quietly, with status 1.
bool is_closed_pipe(const std::system_error& failure) {
  return failure.code() == std::errc::broken_pipe;
}

void report_failure(const char* what) {
  std::cerr << "rowfreq: " << what << '\n';
}

}  // namespace

int main() {
  // The streams' own buffers, not C stdio's: reads go straight to the
  // system in large blocks, and a failing read is reported instead of
  // looking like the end of input.
  std::ios::sync_with_stdio(false);
  try {
    rowfreq::row_table table;
    const std::int64_t row_total = rowfreq::tally_rows(std::cin, table);
    rowfreq::write_report(std::cout, table, row_total);
    return EXIT_SUCCESS;
  } catch (const std::bad_alloc&) {
    report_failure("out of memory");
  } catch (const std::system_error& failure) {
    if (!is_closed_pipe(failure)) {
      report_failure(failure.what());
    }
  } catch (const std::runtime_error& failure) {
    report_failure(failure.what());
  }
  return EXIT_FAILURE;
}
