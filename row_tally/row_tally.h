// Reading standard input and counting its rows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <istream>
#include <string>
#include <string_view>
#include <unordered_map>

namespace rowfreq {

// A row is at most this many characters: the rest of a longer line is dropped.
inline constexpr std::size_t max_row_length = 99;

// Hashes row text; transparent, so a std::string_view finds a std::string key
// without building a string.
struct row_hash {
  using is_transparent = void;
  std::size_t operator()(std::string_view row) const noexcept;
};

// Each distinct row text and the number of times it was read (at least 1).
using row_table = std::unordered_map<std::string, std::int64_t, row_hash, std::equal_to<>>;

// Reads `input` to its end and counts each of its rows into `table`; returns
// the number of rows read. A row is a line without its newline, cut to its
// first 99 characters and then at its first NUL. A last line without a
// newline is a row; the end of input right after a newline is not. Writes
// nothing. Throws std::system_error ("read error") when reading fails and
// std::bad_alloc when memory runs out; `table` then holds part of the input.
std::int64_t tally_rows(std::istream& input, row_table& table);

}  // namespace rowfreq
