#include "row_tally/row_tally.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstring>
#include <ios>
#include <limits>
#include <memory>
#include <random>
#include <stdexcept>
#include <system_error>

namespace rowfreq {

namespace {

std::uint64_t draw_hash_seed() {
  std::random_device entropy;
  return (std::uint64_t{entropy()} << 32) ^ entropy();
}

// Drawn once per run: the report never depends on it, only the table's
// layout does.
const std::uint64_t hash_seed = draw_hash_seed();

std::uint64_t load_word(const char* bytes) {
  std::uint64_t word;
  std::memcpy(&word, bytes, sizeof word);
  return word;
}

std::uint64_t load_half_word(const char* bytes) {
  std::uint32_t half;
  std::memcpy(&half, bytes, sizeof half);
  return half;
}

// The last bytes of a row that a whole word did not take: fewer than 8 when
// the row is shorter than a word, otherwise the row's last 8 bytes, which may
// overlap the previous word. Overlapping loads avoid a loop over bytes.
std::uint64_t load_tail(const char* row, std::size_t length) {
  if (length >= 8) {
    return load_word(row + length - 8);
  }
  if (length >= 4) {
    return load_half_word(row) << 32 | load_half_word(row + length - 4);
  }
  if (length > 0) {
    const auto byte = [row](std::size_t i) {
      return std::uint64_t{static_cast<unsigned char>(row[i])};
    };
    return byte(0) << 16 | byte(length / 2) << 8 | byte(length - 1);
  }
  return 0;
}

}  // namespace

std::size_t row_hash::operator()(std::string_view row) const {
  constexpr std::uint64_t multiplier = 0x9E3779B97F4A7C15;  // 2^64 / golden ratio
  const auto mix = [](std::uint64_t hash, std::uint64_t word) {
    return (std::rotl(hash, 23) ^ word) * multiplier;
  };
  std::uint64_t hash = hash_seed ^ row.size();
  std::size_t offset = 0;
  for (; offset + 8 < row.size(); offset += 8) {
    hash = mix(hash, load_word(row.data() + offset));
  }
  hash = mix(hash, load_tail(row.data(), row.size()));
  return static_cast<std::size_t>(hash ^ (hash >> 29));
}

bool row_equal::operator()(std::string_view left, std::string_view right) const {
  if (left.size() != right.size()) {
    return false;
  }
  for (std::size_t offset = 0; offset + 8 < left.size(); offset += 8) {
    if (load_word(left.data() + offset) != load_word(right.data() + offset)) {
      return false;
    }
  }
  return load_tail(left.data(), left.size()) == load_tail(right.data(), right.size());
}

row_table::row_table() {
  // Short bucket chains matter more than the buckets' memory: a lookup that
  // walks past a node costs a mispredicted branch and often a cache miss.
  counts_.max_load_factor(0.5);
}

row_table::row_table(std::initializer_list<std::pair<std::string_view, std::int64_t>> rows)
    : row_table() {
  for (const auto& [row, count] : rows) {
    add(row, count);
  }
}

void row_table::add(std::string_view row, std::int64_t times) {
  if (auto entry = counts_.find(row); entry != counts_.end()) {
    entry->second += times;
    return;
  }
  counts_.emplace(store(row), times);
}

stored_row row_table::store(std::string_view row) {
  if (row.size() > std::numeric_limits<std::uint32_t>::max()) {
    throw std::length_error("row too long to store");
  }
  const auto length = static_cast<std::uint32_t>(row.size());
  char* stored = static_cast<char*>(texts_.allocate(sizeof length + row.size(), 1));
  std::memcpy(stored, &length, sizeof length);
  std::memcpy(stored + sizeof length, row.data(), row.size());
  return stored_row(stored);
}

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
  const std::size_t room = max_row_length - line.length;
  const std::size_t kept = std::min(room, length);
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
  std::int64_t rows = 0;
  const char* const end = block + length;
  const char* start = block;
  while (const void* found = std::memchr(start, '\n', static_cast<std::size_t>(end - start))) {
    const char* newline = static_cast<const char*>(found);
    const auto line_length = static_cast<std::size_t>(newline - start);
    if (line.open) {
      extend_line(line, start, line_length);
      close_line(table, line);
    } else {
      table.add(row_of(start, line_length, may_hold_nul));
    }
    ++rows;
    start = newline + 1;
  }
  if (start != end) {
    extend_line(line, start, static_cast<std::size_t>(end - start));
  }
  return rows;
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
