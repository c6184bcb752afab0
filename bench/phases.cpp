// Times the three phases of a run apart, in one process, on an input file:
//   tally    tally_rows from the file into a row_table;
//   prepare  write_report into a stream that discards every byte: all the
//            report's work except handing its lines to the system;
//   write    write_report again, this time to the output file, whole.
// write - prepare is what the writes themselves cost (one per line).
// Prints the three times in seconds, the row total and the report's lines.
// It uses only tally_rows, row_table and write_report, so that the same
// file builds against older versions of the library and compares them.
// Usage: phases INPUT OUTPUT
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <fstream>
#include <iterator>
#include <ostream>
#include <streambuf>

#include "frequency_report/frequency_report.h"
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

// Returns the number of newlines in the file at `path`.
std::int64_t count_lines(const char* path) {
  std::ifstream file(path, std::ios::binary);
  return std::count(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>(), '\n');
}

int run(const char* input_path, const char* output_path) {
  std::ifstream input(input_path, std::ios::binary);
  if (!input) {
    std::fprintf(stderr, "phases: cannot open %s\n", input_path);
    return 2;
  }
  rowfreq::row_table table;
  auto start = clock_type::now();
  const std::int64_t row_total = rowfreq::tally_rows(input, table);
  const double tally = seconds_since(start);

  discarding_buffer nowhere;
  std::ostream discarded(&nowhere);
  start = clock_type::now();
  rowfreq::write_report(discarded, table, row_total);
  const double prepare = seconds_since(start);

  std::ofstream output(output_path, std::ios::binary | std::ios::trunc);
  start = clock_type::now();
  rowfreq::write_report(output, table, row_total);
  const double write = seconds_since(start);
  output.close();

  std::printf("tally %.3f s  prepare %.3f s  write %.3f s  rows %lld  report lines %lld\n", tally,
              prepare, write, static_cast<long long>(row_total),
              static_cast<long long>(count_lines(output_path)));
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
