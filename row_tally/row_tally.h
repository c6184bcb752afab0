// Reading standard input and counting its rows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <istream>

#include "row_tally/row_table.h"

namespace rowfreq {

// How much tally_rows reads at a time unless told otherwise.
inline constexpr std::size_t default_block_size = std::size_t{64} * 1024;

// Reads `input` to its end, `block_size` characters at a time, and counts
// each of its rows into `table`; returns the number of rows read. A row is a
// line without its newline, cut to its first 99 characters and then at its
// first NUL. A last line without a newline is a row; the end of input right
// after a newline is not. Reading stops at the first read that comes back
// short, which only the end of input does. Writes nothing. Whatever the
// input's stream buffer throws when a read fails passes through (see
// fd_input_buffer), as does std::bad_alloc when memory runs out; `table`
// then holds part of the input.
std::int64_t tally_rows(std::istream& input, row_table& table,
                        std::size_t block_size = default_block_size);

}  // namespace rowfreq
