// Writing the frequency report of a tallied input.
#pragma once

#include <cstdint>
#include <map>
#include <ostream>

#include "row_tally/row_table.h"

namespace rowfreq {

// Each occurrence count and the number of distinct rows read exactly that
// many times, in ascending order of the count.
using frequency_table = std::map<std::int64_t, std::int64_t>;

// Returns how many distinct rows of `table` share each count.
frequency_table build_frequency_table(const row_table& table);

// Writes the report of `table` and `row_total` to `output`: the total line,
// then one line per occurrence count in ascending order, each followed by its
// rows in ascending byte order when the group holds fewer than half of all
// rows read (rounded down). Every line is handed whole to the stream's
// buffer, in one sputn, and the buffer is synced after it. Everything the
// report needs is built before its first line, so running out of memory
// (std::bad_alloc) writes nothing. Stops at the first line that cannot be
// written: what the buffer throws passes through, and a buffer that takes
// less than the whole line or fails to sync, or a stream without a buffer,
// gives a std::runtime_error ("write error"). The stream's own state and
// exception mask are left alone.
void write_report(std::ostream& output, const row_table& table, std::int64_t row_total);

}  // namespace rowfreq
