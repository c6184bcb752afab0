// Reading standard input and counting its rows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <istream>
#include <memory_resource>
#include <string_view>
#include <unordered_map>
#include <utility>

namespace rowfreq {

// A row is at most this many characters: the rest of a longer line is dropped.
inline constexpr std::size_t max_row_length = 99;

// A row's text as the table keeps it: a pointer to the text's length,
// followed by its characters. One pointer instead of a pointer and a size
// keeps the table's nodes small.
class stored_row {
 public:
  explicit stored_row(const char* stored) : stored_(stored) {}
  std::string_view text() const {
    std::uint32_t length = 0;
    std::memcpy(&length, stored_, sizeof length);
    return {stored_ + sizeof length, length};
  }

 private:
  const char* stored_;
};

// Hashes row text a word at a time, which is quick for short rows. The seed
// is drawn once per run, so that no input can be made to collide on purpose.
// Transparent: a std::string_view finds a stored row without storing it.
struct row_hash {
  using is_transparent = void;
  // Not noexcept on purpose: the standard library then keeps each row's hash
  // in its node, so that walking a bucket and growing the table never have
  // to read the row text again.
  std::size_t operator()(std::string_view row) const;
  std::size_t operator()(stored_row row) const { return (*this)(row.text()); }
};

// Compares rows byte for byte, a word at a time. Transparent, like row_hash.
struct row_equal {
  using is_transparent = void;
  bool operator()(std::string_view left, std::string_view right) const;
  bool operator()(stored_row left, std::string_view right) const {
    return (*this)(left.text(), right);
  }
  bool operator()(std::string_view left, stored_row right) const {
    return (*this)(left, right.text());
  }
  bool operator()(stored_row left, stored_row right) const {
    return (*this)(left.text(), right.text());
  }
};

// The distinct rows read and the number of times each was read (at least 1),
// in no particular order. Each row's text is copied once into storage that
// lives as long as the table, and the table's nodes come from a pool, so a
// new row costs its length and one small node, and a row already counted
// costs no allocation at all.
class row_table {
 public:
  using counts = std::pmr::unordered_map<stored_row, std::int64_t, row_hash, row_equal>;

  row_table();
  // A table holding `rows` with their counts.
  row_table(std::initializer_list<std::pair<std::string_view, std::int64_t>> rows);
  row_table(const row_table&) = delete;
  row_table& operator=(const row_table&) = delete;

  // Adds `times` to the count of `row`, entering the row first if it is new.
  void add(std::string_view row, std::int64_t times = 1);

  counts::const_iterator begin() const { return counts_.begin(); }
  counts::const_iterator end() const { return counts_.end(); }

 private:
  // Copies `row` into the table's text storage.
  stored_row store(std::string_view row);

  std::pmr::monotonic_buffer_resource texts_;
  std::pmr::unsynchronized_pool_resource nodes_;
  counts counts_{&nodes_};
};

// How much tally_rows reads at a time unless told otherwise.
inline constexpr std::size_t default_block_size = std::size_t{64} * 1024;

// Reads `input` to its end, `block_size` characters at a time, and counts
// each of its rows into `table`; returns the number of rows read. A row is a
// line without its newline, cut to its first 99 characters and then at its
// first NUL. A last line without a newline is a row; the end of input right
// after a newline is not. Writes nothing. When reading fails, throws a
// std::runtime_error saying "read error" (a std::system_error when the system
// gives a reason); when memory runs out, std::bad_alloc. `table` then holds
// part of the input.
std::int64_t tally_rows(std::istream& input, row_table& table,
                        std::size_t block_size = default_block_size);

}  // namespace rowfreq
