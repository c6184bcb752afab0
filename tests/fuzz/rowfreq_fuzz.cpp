// libFuzzer target: runs the tally and the report on arbitrary bytes and
// checks the report against a deliberately plain model of the rules, and
// against invariants that need no model. Any difference aborts.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "frequency_report/frequency_report.h"
#include "row_tally/row_tally.h"
#include "tests/row_model.h"

namespace {

void require(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "rowfreq_fuzz: %s\n", what);
    std::abort();
  }
}

// Checks what any report must satisfy: the groups add up to the total, come
// in ascending order of count, and a listed group lists exactly its rows,
// in strictly ascending order.
void check_invariants(const std::string& report) {
  std::istringstream lines(report);
  std::string line;
  std::int64_t total = -1;
  require(std::getline(lines, line) && std::sscanf(line.c_str(), "%ldrows in total:", &total) == 1,
          "no total line");
  std::int64_t sum = 0, previous_count = 0;
  while (std::getline(lines, line)) {
    long rows = 0, count = 0;
    require(std::sscanf(line.c_str(), "%ld rows appear %ld times", &rows, &count) == 2,
            "not a frequency line");
    require(count > previous_count && rows > 0, "counts out of order");
    previous_count = count;
    sum += rows * count;
    const bool listed = line.back() == ':';
    require(listed == (rows * count < total / 2), "listing does not follow the threshold");
    std::string previous_row;
    for (long i = 0; listed && i < rows; ++i) {
      require(static_cast<bool>(std::getline(lines, line)), "listing too short");
      require(i == 0 || previous_row < line, "listing not strictly ascending");
      previous_row = line;
    }
  }
  require(sum == total, "groups do not add up to the total");
}

}  // namespace

// The shapes the row table is run in: the default one, and tiny ones whose
// hash keeps only a few bits, so that growth, equal tags and long probe
// runs come up with short inputs.
struct table_shape {
  std::size_t slots;
  int hash_bits;
};
constexpr table_shape table_shapes[] = {{1024, 32}, {2, 32}, {2, 8}, {4, 3}};

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // The first byte picks a small read block, so that rows straddle blocks
  // as they do in large inputs, and the table's shape; the table's secret
  // comes from the second, so that every finding repeats exactly.
  const std::uint8_t pick = size > 0 ? data[0] : 0;
  const std::size_t block_size = 1 + pick % 64;
  const table_shape shape = table_shapes[pick / 64];
  const std::uint64_t seed = size > 1 ? data[1] : 0;
  const std::string input(reinterpret_cast<const char*>(data), size);

  std::istringstream in(input);
  rowfreq::row_table table(seed, shape.slots, shape.hash_bits);
  const std::int64_t row_total = rowfreq::tally_rows(in, table, block_size);
  std::ostringstream out;
  rowfreq::write_report(out, table, row_total);

  const std::string report = out.str();
  require(report == model_report(input), "report differs from the model");
  check_invariants(report);
  return 0;
}
