#include "row_tally/row_tally.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ios>
#include <memory>
#include <stdexcept>
#include <system_error>

namespace rowfreq {

std::size_t row_hash::operator()(std::string_view row) const noexcept {
  return std::hash<std::string_view>{}(row);
}

namespace {

constexpr std::size_t block_size = 64 * 1024;

// The start of a line that did not end inside the block it began in. Only
// the characters that can belong to its row are kept, so memory stays
// bounded however long the line is.
struct line_buffer {
  char text[max_row_length];
  std::size_t length = 0;  // characters stored
  bool open = false;       // a line has begun and not yet ended
};

// Returns the row of a line: its first 99 characters, cut at the first NUL.
std::string_view row_of(const char* line, std::size_t length) {
  length = std::min(length, max_row_length);
  const void* nul = std::memchr(line, '\0', length);
  return {line, nul ? static_cast<std::size_t>(static_cast<const char*>(nul) - line) : length};
}

// Adds one to the count of `row`, entering it first if it is new. A row
// already in the table costs no allocation.
void count_row(row_table& table, std::string_view row) {
  if (auto entry = table.find(row); entry != table.end()) {
    ++entry->second;
  } else {
    table.emplace(row, 1);
  }
}

// Keeps the part of [piece, piece + length) that can still belong to the
// row of the open line.
void extend_line(line_buffer& line, const char* piece, std::size_t length) {
  const std::size_t room = max_row_length - line.length;
  const std::size_t kept = std::min(room, length);
  std::memcpy(line.text + line.length, piece, kept);
  line.length += kept;
  line.open = true;
}

// Counts the row of the open line, if any, and closes it.
void close_line(row_table& table, line_buffer& line) {
  if (line.open) {
    count_row(table, row_of(line.text, line.length));
    line.length = 0;
    line.open = false;
  }
}

// Counts every line that ends in [block, block + length); returns how many.
// A line left open by the previous block is completed first, and the tail
// after the last newline is left open in `line`.
std::int64_t tally_block(row_table& table, line_buffer& line, const char* block,
                         std::size_t length) {
  std::int64_t rows = 0;
  const char* const end = block + length;
  const char* start = block;
  while (const void* found = std::memchr(start, '\n', static_cast<std::size_t>(end - start))) {
    const char* newline = static_cast<const char*>(found);
    if (line.open) {
      extend_line(line, start, static_cast<std::size_t>(newline - start));
      close_line(table, line);
    } else {
      count_row(table, row_of(start, static_cast<std::size_t>(newline - start)));
    }
    ++rows;
    start = newline + 1;
  }
  if (start != end) {
    extend_line(line, start, static_cast<std::size_t>(end - start));
  }
  return rows;
}

// Fills `block` from `source`; returns the number of characters read, 0 only
// at the end of input. A failing read becomes a "read error" carrying the
// system's reason when there is one.
std::size_t read_block(std::streambuf& source, char* block, std::size_t size) {
  try {
    return static_cast<std::size_t>(source.sgetn(block, static_cast<std::streamsize>(size)));
  } catch (const std::ios_base::failure& failure) {
    if (failure.code().category() == std::iostream_category()) {
      throw std::runtime_error("read error");
    }
    throw std::system_error(failure.code(), "read error");
  }
}

}  // namespace

std::int64_t tally_rows(std::istream& input, row_table& table) {
  const auto block = std::make_unique<char[]>(block_size);
  line_buffer line;
  std::int64_t row_total = 0;
  std::streambuf& source = *input.rdbuf();
  while (const std::size_t length = read_block(source, block.get(), block_size)) {
    row_total += tally_block(table, line, block.get(), length);
  }
  if (line.open) {
    close_line(table, line);
    ++row_total;
  }
  return row_total;
}

}  // namespace rowfreq
