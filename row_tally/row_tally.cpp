#include "row_tally/row_tally.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <span>
#include <string_view>

#include "row_tally/newlines.h"

namespace rowfreq {

namespace {

// The start of a line that did not end inside the block it began in. Only
// the characters that can belong to its row are kept, so memory stays
// bounded however long the line is.
struct line_buffer {
  char text[max_row_length];
  std::size_t length = 0;  // characters stored
  bool open = false;       // a line has begun and not yet ended
};

// Returns the row of a line: its first 99 characters, cut at the first NUL.
// The search for a NUL is skipped when the caller knows there is none.
std::string_view row_of(const char* line, std::size_t length, bool may_hold_nul = true) {
  length = std::min(length, max_row_length);
  const void* nul = may_hold_nul ? std::memchr(line, '\0', length) : nullptr;
  return {line,
          nul != nullptr ? static_cast<std::size_t>(static_cast<const char*>(nul) - line) : length};
}

// Keeps the part of [piece, piece + length) that can still belong to the
// row of the open line.
void extend_line(line_buffer& line, const char* piece, std::size_t length) {
  const std::size_t kept = std::min(max_row_length - line.length, length);
  std::memcpy(line.text + line.length, piece, kept);
  line.length += kept;
  line.open = true;
}

// Counts the row of the open line and closes it.
void close_line(row_table& table, line_buffer& line) {
  table.add(row_of(line.text, line.length));
  line.length = 0;
  line.open = false;
}

// Counts every line that ends in [block, block + length); returns how many.
// A line left open by the previous block is completed first, and the tail
// after the last newline is left open in `line`.
std::int64_t tally_block(row_table& table, line_buffer& line, const char* block,
                         std::size_t length) {
  // Text rarely holds a NUL: one search of the whole block spares a search
  // of every row.
  const bool may_hold_nul = std::memchr(block, '\0', length) != nullptr;
  std::int64_t lines = 0;
  const char* const end = block + length;
  const char* start = block;
  if (line.open) {
    const void* found = std::memchr(block, '\n', length);
    const char* newline = found != nullptr ? static_cast<const char*>(found) : end;
    extend_line(line, block, static_cast<std::size_t>(newline - block));
    if (newline == end) {
      return 0;
    }
    close_line(table, line);
    ++lines;
    start = newline + 1;
  }
  // The rows found and not yet counted, so that the table can look many up
  // at once. They point into the block, which the next read overwrites, so
  // none is left when the block is done. Their number is a local of its
  // own, which storing a row cannot be taken to change, so that it can stay
  // in a register.
  std::array<std::string_view, row_table::max_batch> batch;
  std::size_t batched = 0;
  for_each_newline(start, end, [&](const char* newline) {
    batch[batched] = row_of(start, static_cast<std::size_t>(newline - start), may_hold_nul);
    if (++batched == batch.size()) {
      table.add_each(batch);
      batched = 0;
    }
    ++lines;
    start = newline + 1;
  });
  table.add_each(std::span(batch.data(), batched));
  if (start != end) {
    extend_line(line, start, static_cast<std::size_t>(end - start));
  }
  return lines;
}

}  // namespace

std::int64_t tally_rows(std::istream& input, row_table& table, std::size_t block_size) {
  block_size = std::max<std::size_t>(block_size, 1);
  const auto block = std::make_unique<char[]>(block_size);
  line_buffer line;
  std::int64_t row_total = 0;
  std::streambuf& source = *input.rdbuf();
  // A short read means the source met the end of input; reading stops there
  // rather than asking again, as a terminal would answer with more lines.
  std::size_t length = 0;
  do {
    length = static_cast<std::size_t>(
        source.sgetn(block.get(), static_cast<std::streamsize>(block_size)));
    row_total += tally_block(table, line, block.get(), length);
  } while (length == block_size);
  if (line.open) {
    close_line(table, line);
    ++row_total;
  }
  return row_total;
}

}  // namespace rowfreq
