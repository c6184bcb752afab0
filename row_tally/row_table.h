// The distinct rows read and how many times each was read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <span>
#include <string_view>
#include <utility>
#include <vector>

#include "row_tally/huge_pages.h"

namespace rowfreq {

struct hashed_row;

// A row is at most this many characters: the rest of a longer line is dropped.
inline constexpr std::size_t max_row_length = 99;

// Draws a seed for a table's secret from `entropy`, std::random_device unless
// a test gives another. Where it throws, as std::random_device does where
// the system has no source of entropy, the seed is mixed instead from what
// the process has: the address of a local, the clock, the process id and a
// count of seeds drawn. Never throws.
std::uint64_t draw_seed(std::uint64_t (*entropy)() = nullptr);

// The distinct rows read and the number of times each was read (at least 1).
//
// Entries. Each distinct row is one entry, {count: 8 bytes, length: 1 byte,
// text}, padded to a multiple of 8 bytes and laid end to end, in the order
// the rows were first read, in chunks of 64 KiB. A new row costs its length
// and 9 bytes, with no allocation of its own, and walking every entry (to
// build the report) reads memory in order.
//
// Slots. Rows are found through an open-addressing table of 8-byte slots
// with linear probing, indexed by the top bits of the row's hash: each
// holds the place of its entry (40 bits, in 8-byte units: 8 TiB of entries)
// and 24 low bits of the hash (its tag), which no slot index uses, so they
// tell apart rows whose slots meet however large the table. Eight slots
// share a cache line, and an entry is read only when its tag matches, so a
// lookup usually costs one cache miss for the slot and one for the entry.
// The table doubles before it is more than three quarters full, or a
// quarter while it fits in the processor's cache; it then hashes every row
// again, reading the entries in order.
//
// Hash. The row's length selects a key made from the secret by a multiply;
// then each 16 bytes of the row, as two words, go through a 64x64->128-bit
// multiply whose halves are folded together with xor, the first word mixed
// with a secret word and the second with the length's key or with all that
// came before. Every byte of a row, and its length, thus reaches the hash
// only through a multiply by a value that depends on the secret.
// - What it resists: rows crafted without knowledge of the secret. No
//   choice of differences between rows (flipped bits, swapped or repeated
//   words, a changed length with adjusted bytes) is known to make rows
//   collide more often than random rows do; the tests check the families
//   that defeated the hashes used here before.
// - What it rests on: the secret staying unknown. It is drawn when the
//   table is made (see draw_seed); the report never depends on it, so
//   rowfreq's output does not reveal it.
// - What it does not promise: it is not a cryptographic hash and comes
//   with no proof. Someone who knows the secret, who can guess the fallback
//   seed, or who can time many runs made with one secret, may find rows
//   that collide.
class row_table {
 public:
  // The most rows add_each takes at once.
  static constexpr std::size_t max_batch = 256;
  // The number of slots a table starts with.
  static constexpr std::size_t default_slots = 1024;

  // An empty table with a secret drawn by draw_seed().
  row_table();
  // An empty table whose secret comes from `seed`, so that a test or a fuzz
  // run can be repeated exactly. Tests may also give it `slots` slots at
  // first (a power of two, at least 2) and a hash cut to its top
  // `hash_bits` bits (1 to 64), so that rows share tags and probe runs
  // grow long; other values throw std::invalid_argument.
  explicit row_table(std::uint64_t seed, std::size_t slots = default_slots, int hash_bits = 64);
  // A table holding `rows` with their counts.
  row_table(std::initializer_list<std::pair<std::string_view, std::int64_t>> rows);
  row_table(const row_table&) = delete;
  row_table& operator=(const row_table&) = delete;

  // The hash of `row` under this table's secret.
  std::uint64_t hash(std::string_view row) const;
  // Adds `times` to the count of `row`, entering the row first if it is
  // new. Throws std::invalid_argument when `times` is below 1 or `row` is
  // longer than max_row_length.
  void add(std::string_view row, std::int64_t times = 1);
  // Adds one to the count of each of `rows`, at most max_batch of them and
  // each at most max_row_length characters, as add() does. Once the table
  // outgrows the processor's cache, it hashes them all first and then,
  // before each add, fetches the slot of the row some places ahead, so that
  // the table's cache misses overlap instead of each waiting for the one
  // before. Throws std::invalid_argument when given more than max_batch.
  void add_each(std::span<const std::string_view> rows);

  // The number of distinct rows.
  std::size_t size() const { return size_; }

  // Calls visit(row, count) for every distinct row, in the order the rows
  // were first read.
  template <class Visit>
  void for_each(Visit visit) const {
    for (const chunk& c : chunks_) {
      for (std::size_t offset = 0; offset < c.used;) {
        const std::byte* entry = c.bytes + offset;
        visit(text_of(entry), count_of(entry));
        offset += entry_size(text_of(entry).size());
      }
    }
  }

 private:
  // Returns `count` empty slots.
  static block<std::uint64_t> empty_slots(std::size_t count);

  struct chunk {
    std::byte* bytes;
    std::size_t used = 0;
  };

  static constexpr std::size_t text_offset = 9;
  static std::size_t entry_size(std::size_t length) {
    return (text_offset + length + 7) & ~std::size_t{7};
  }
  static std::int64_t count_of(const std::byte* entry) {
    std::int64_t count;
    std::memcpy(&count, entry, sizeof count);
    return count;
  }
  static std::string_view text_of(const std::byte* entry) {
    return {reinterpret_cast<const char*>(entry) + text_offset,
            static_cast<std::size_t>(entry[sizeof(std::int64_t)])};
  }

  // The hash of `row` under this table's secret, cut as the table was told.
  hashed_row hash_of(std::string_view row) const;
  // Adds `times` to the count of `row`, whose hash is `hashed`.
  void add_hashed(std::string_view row, const hashed_row& hashed, std::int64_t times);
  // Enters `row` with `count` in the empty slot `slot`, marked with `tag`.
  void insert(std::string_view row, std::size_t slot, std::uint64_t tag, std::int64_t count);
  // Copies a new row into the chunks; returns its place.
  std::uint64_t store(std::string_view row, std::int64_t count);
  // The slot where the search for a row of `hash` begins.
  std::size_t home_of(std::uint64_t hash) const;
  // Asks the processor to fetch that slot into cache.
  void prefetch_slot(std::uint64_t hash) const;
  std::byte* entry_at(std::uint64_t slot) const;
  // Adds an empty chunk at the end.
  void add_chunk();
  void grow();

  // The secret: a key per row length and one for the row's words.
  std::uint64_t length_keys_[max_row_length + 1];
  std::uint64_t word_key_;
  std::uint64_t hash_mask_ = ~std::uint64_t{0};
  block<std::uint64_t> slots_;  // 0 marks an empty slot
  std::size_t slot_mask_;       // number of slots - 1
  std::size_t size_ = 0;
  std::vector<chunk> chunks_;
  std::vector<block<std::byte>> chunk_blocks_;  // the memory of the chunks
};

}  // namespace rowfreq
