// Sorting the rows of a listed group in byte order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string_view>

namespace rowfreq {

// A row to be listed, in 16 bytes: where its text is, and a key that holds
// 7 of its bytes from some depth on as a big-endian number, zero-padded past
// the row's end, and below them the row's length. Comparing keys orders rows
// alike before that depth as their bytes do, except that the padding puts a
// row that ends within those 7 bytes level with a row that goes on with
// NULs, and the length, which comes last, then orders them.
struct listed_row {
  std::uint64_t key;
  const char* text;

  std::size_t length() const { return static_cast<std::size_t>(key & 0xFF); }
  std::string_view row() const { return {text, length()}; }
};

// The key of `row` (at most 255 bytes) at `depth`: bytes `depth` to
// `depth` + 6, each byte past the row's end read as 0, and the length.
std::uint64_t key_at(std::string_view row, std::size_t depth);

// Sorts groups of listed rows in byte order: each byte compared as an
// unsigned value, a row before every longer row that begins with it. It
// sorts by the bytes that the keys hold, a radix pass a byte, and each run
// of rows alike in those by the bytes after, so no comparison reads row
// text. It works in place, but for a scratch area of 256 KiB through which
// ranges of up to 16,384 rows are sorted a stable pass a byte.
class listing_sorter {
 public:
  // A sorter for groups of up to `most_rows` rows, whose scratch area is
  // allocated here, so that sorting allocates nothing.
  explicit listing_sorter(std::size_t most_rows);

  // Sorts `rows`, at most the number given to the constructor, whose keys
  // must be their keys at depth 0. Keeps each row's length in its key, and
  // changes the rest.
  void sort(std::span<listed_row> rows);

 private:
  void sort_by_key(listed_row* first, listed_row* last, std::size_t depth);
  void sort_run(listed_row* first, listed_row* last, std::size_t depth, const listed_row* ahead);
  void distribute(listed_row* first, listed_row* last, int shift);
  void sort_in_cache(listed_row* first, listed_row* last, std::uint64_t differing_bits);

  std::unique_ptr<listed_row[]> scratch_;
  std::size_t next_place_[256];
  std::size_t part_end_[256];
  std::uint32_t counts_[7][256];
};

}  // namespace rowfreq
