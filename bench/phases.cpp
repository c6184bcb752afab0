// Times the three phases of a run apart, in one process, on an input file:
//   tally    tally_rows from the file into a row_table;
//   prepare  write_report into a stream that discards every byte: all the
//            report's work except handing its lines to the system;
//   write    write_report again, this time to the output file, whole.
// write - prepare is what the writes themselves cost (one per line).
// Prints one line of fields, two spaces apart, each a name, a number and
// perhaps a unit: the three times in seconds, the row total, the report's
// lines and the rows it lists, then the tally's time per row read and the
// preparation's per listed row, in nanoseconds ("-" when nothing is
// listed). For example:
//   tally 0.120 s  prepare 0.050 s  write 0.540 s  rows 2100000  report lines 1000003
//   listed rows 1000000  tally per row 57.1 ns  prepare per listed row 50.0 ns
// (on one line). The input is read and the output written as rowfreq does,
// through fd_input_buffer and fd_output_buffer. It uses only those,
// tally_rows, row_table and write_report, so that the same file builds
// against older versions of the library and compares them.
// Usage: phases INPUT OUTPUT
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <fstream>
#include <istream>
#include <ostream>
#include <streambuf>
#include <string>

#include "frequency_report/fd_output.h"
#include "frequency_report/frequency_report.h"
#include "row_tally/fd_input.h"
#include "row_tally/row_tally.h"

namespace {

// A stream buffer that accepts every character and keeps none.
class discarding_buffer : public std::streambuf {
 protected:
  int_type overflow(int_type character) override { return traits_type::not_eof(character); }
  std::streamsize xsputn(const char_type*, std::streamsize count) override { return count; }
};

using clock_type = std::chrono::steady_clock;

double seconds_since(clock_type::time_point start) {
  return std::chrono::duration<double>(clock_type::now() - start).count();
}

// The lines of a report, and how many of them are listed rows.
struct report_shape {
  std::int64_t lines = 0;
  std::int64_t listed_rows = 0;
};

// Reads the report in the file at `path`: after the total line, each
// frequency line that ends with ':' is followed by as many listed rows as
// the number it begins with.
report_shape shape_of_report(const char* path) {
  std::ifstream report(path, std::ios::binary);
  report_shape shape;
  std::string line;
  std::int64_t rows_to_list = 0;
  while (std::getline(report, line)) {
    ++shape.lines;
    if (rows_to_list > 0) {
      --rows_to_list;
      ++shape.listed_rows;
    } else if (shape.lines > 1 && !line.empty() && line.back() == ':') {
      rows_to_list = std::stoll(line);
    }
  }
  return shape;
}

struct phase_times {
  double tally, prepare, write;  // seconds
};

// Prints the line of figures described at the top.
void print_figures(const phase_times& times, std::int64_t row_total, const report_shape& shape) {
  std::printf(
      "tally %.3f s  prepare %.3f s  write %.3f s  rows %lld  report lines %lld  listed rows %lld",
      times.tally, times.prepare, times.write, static_cast<long long>(row_total),
      static_cast<long long>(shape.lines), static_cast<long long>(shape.listed_rows));
  std::printf("  tally per row %.1f ns",
              row_total > 0 ? times.tally * 1e9 / static_cast<double>(row_total) : 0.0);
  if (shape.listed_rows > 0) {
    std::printf("  prepare per listed row %.1f ns\n",
                times.prepare * 1e9 / static_cast<double>(shape.listed_rows));
  } else {
    std::printf("  prepare per listed row - ns\n");
  }
}

int run(const char* input_path, const char* output_path) {
  const int input_file = open(input_path, O_RDONLY);
  const int output_file = open(output_path, O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (input_file < 0 || output_file < 0) {
    std::fprintf(stderr, "phases: cannot open %s or %s\n", input_path, output_path);
    return 2;
  }
  rowfreq::fd_input_buffer input_buffer(input_file);
  std::istream input(&input_buffer);
  rowfreq::row_table table;
  auto start = clock_type::now();
  const std::int64_t row_total = rowfreq::tally_rows(input, table);
  const double tally = seconds_since(start);

  discarding_buffer nowhere;
  std::ostream discarded(&nowhere);
  start = clock_type::now();
  rowfreq::write_report(discarded, table, row_total);
  const double prepare = seconds_since(start);

  rowfreq::fd_output_buffer output_buffer(output_file);
  std::ostream output(&output_buffer);
  start = clock_type::now();
  rowfreq::write_report(output, table, row_total);
  const double write = seconds_since(start);
  close(output_file);
  close(input_file);

  print_figures({tally, prepare, write}, row_total, shape_of_report(output_path));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fputs("usage: phases INPUT OUTPUT\n", stderr);
    return 2;
  }
  try {
    return run(argv[1], argv[2]);
  } catch (const std::exception& failure) {
    std::fprintf(stderr, "phases: %s\n", failure.what());
    return 1;
  }
}
