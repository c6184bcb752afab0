#include "frequency_report/listing_sort.h"

#include <algorithm>
#include <bit>
#include <iterator>
#include <memory>
#include <utility>

#include "row_tally/words.h"

namespace rowfreq {

namespace {

// The row bytes a key holds, above the byte of the length.
constexpr std::size_t key_bytes = 7;
constexpr std::uint64_t length_bits = 0xFF;
// Ranges of at most this many rows are sorted by insertion, which for so
// few rows takes fewer steps than the 256 counts of a radix pass.
constexpr std::ptrdiff_t insertion_limit = 24;
// Ranges of this many rows or fewer, but not fewer than the least, are
// sorted through the scratch area: 256 KiB, meant to stay in the
// processor's cache along with the range. Below the least, the 256 counts
// of each byte sorted there would outnumber the rows.
constexpr std::ptrdiff_t most_rows_in_cache = 16'384;
constexpr std::ptrdiff_t least_rows_in_cache = 256;
// Rows between the fetch of a row's text and the reading of its key.
constexpr std::size_t fetch_distance = 16;

std::uint64_t byte_at(const char* bytes, std::size_t i) {
  return static_cast<unsigned char>(bytes[i]);
}

// The 8 bytes at `bytes` as a big-endian number: one load, and on a
// little-endian processor one byte swap, which compilers make one
// instruction.
std::uint64_t big_endian_word(const char* bytes) {
  const std::uint64_t word = load_word(bytes);
  if constexpr (std::endian::native == std::endian::little) {
    return byte_swapped(word);
  }
  return word;
}

// The 4 bytes at `bytes` as a big-endian number.
std::uint64_t big_endian_half_word(const char* bytes) {
  const std::uint64_t half = load_half_word(bytes);
  if constexpr (std::endian::native == std::endian::little) {
    return byte_swapped(half) >> 32;
  }
  return half;
}

// The first `count` bytes at `bytes` (1 to 8) as the top bytes of a
// big-endian number, the rest 0. Fewer than 8 are read as two loads that
// overlap, or three single bytes, instead of a loop of `count` steps.
std::uint64_t leading_bytes(const char* bytes, std::size_t count) {
  if (count == 8) {
    return big_endian_word(bytes);
  }
  if (count >= 4) {
    return big_endian_half_word(bytes) << 32 | big_endian_half_word(bytes + count - 4)
                                                   << (64 - 8 * count);
  }
  return byte_at(bytes, 0) << 56 | byte_at(bytes, count / 2) << (56 - 8 * (count / 2)) |
         byte_at(bytes, count - 1) << (64 - 8 * count);
}

unsigned digit_of(std::uint64_t key, int shift) {
  return static_cast<unsigned>(key >> shift) & 0xFFu;
}

bool by_key(const listed_row& a, const listed_row& b) {
  return a.key < b.key;
}

// Whether the keys of `a` and `b` hold the same row bytes.
bool same_bytes(const listed_row& a, const listed_row& b) {
  return (a.key ^ b.key) <= length_bits;
}

// Calls sort_run(run_first, run_last) for each run of two rows or more in
// [first, last) that `same` holds equal to the run's first row, in order.
template <class Same, class SortRun>
void for_each_run(listed_row* first, listed_row* last, Same same, SortRun sort_run) {
  while (first != last) {
    listed_row* run_end = first + 1;
    while (run_end != last && same(*first, *run_end)) {
      ++run_end;
    }
    if (run_end - first > 1) {
      sort_run(first, run_end);
    }
    first = run_end;
  }
}

// Sorts [first, last) by key, moving each row back past the larger ones.
void insertion_sort(listed_row* first, listed_row* last) {
  if (last - first < 2) {
    return;
  }
  for (listed_row* next = first + 1; next != last; ++next) {
    const listed_row moving = *next;
    listed_row* place = next;
    for (; place != first && by_key(moving, place[-1]); --place) {
      *place = place[-1];
    }
    *place = moving;
  }
}

}  // namespace

std::uint64_t key_at(std::string_view row, std::size_t depth) {
  const std::uint64_t bytes =
      depth < row.size()
          ? leading_bytes(row.data() + depth, std::min<std::size_t>(row.size() - depth, 8))
          : 0;
  return (bytes & ~length_bits) | row.size();
}

listing_sorter::listing_sorter(std::size_t most_rows)
    : scratch_(most_rows >= least_rows_in_cache
                   ? std::make_unique_for_overwrite<listed_row[]>(
                         std::min<std::size_t>(most_rows, most_rows_in_cache))
                   : nullptr) {}

void listing_sorter::sort(std::span<listed_row> rows) {
  if (rows.size() > 1) {
    sort_by_key(rows.data(), rows.data() + rows.size(), 0);
  }
}

// Sorts [first, last), rows alike in their first `depth` bytes whose keys
// are their keys at `depth`, in byte order: by the keys' bytes from the
// first that not all of them share, then each run of rows alike in all 7
// bytes by the bytes after. Log lines often share their first 8 bytes, or
// many more.
void listing_sorter::sort_by_key(listed_row* first, listed_row* last, std::size_t depth) {
  const auto sort_each_run = [this, depth, last](listed_row* run_first, listed_row* run_last) {
    sort_run(run_first, run_last, depth, last);
  };
  if (last - first <= insertion_limit) {
    insertion_sort(first, last);
    for_each_run(first, last, same_bytes, sort_each_run);
    return;
  }
  std::uint64_t differing_bits = 0;
  for (const listed_row* r = first; r != last; ++r) {
    differing_bits |= r->key ^ first->key;
  }
  differing_bits &= ~length_bits;
  if (differing_bits == 0) {
    sort_each_run(first, last);
    return;
  }
  if (last - first >= least_rows_in_cache && last - first <= most_rows_in_cache) {
    sort_in_cache(first, last, differing_bits);
    for_each_run(first, last, same_bytes, sort_each_run);
    return;
  }
  const int shift = (63 - std::countl_zero(differing_bits)) & ~7;
  distribute(first, last, shift);
  for_each_run(
      first, last,
      [shift](const listed_row& a, const listed_row& b) {
        return digit_of(a.key, shift) == digit_of(b.key, shift);
      },
      [this, depth, shift, sort_each_run](listed_row* part_first, listed_row* part_last) {
        // Past the last byte of row text, a part's rows are one run.
        if (shift == 8) {
          sort_each_run(part_first, part_last);
        } else {
          sort_by_key(part_first, part_last, depth);
        }
      });
}

// Sorts [first, last), rows alike in their first `depth` + 7 bytes: those
// that end within them come first, the shorter first, since the bytes they
// lack are the others' NULs; the rest follow, sorted by the bytes after.
// The rows up to `ahead` are read next, at about the same depth.
void listing_sorter::sort_run(listed_row* first, listed_row* last, std::size_t depth,
                              const listed_row* ahead) {
  const std::size_t run_depth = depth + key_bytes;
  listed_row* const going_on = std::partition(
      first, last, [run_depth](const listed_row& r) { return r.length() <= run_depth; });
  insertion_sort(first, going_on);
  if (last - going_on < 2) {
    return;
  }
  // The rows' keys at the new depth, each row's text fetched some rows
  // ahead, past the end of this run too when it is short.
  for (listed_row* r = going_on; r != last; ++r) {
    if (ahead - r > static_cast<std::ptrdiff_t>(fetch_distance)) {
      prefetch(r[fetch_distance].text + run_depth);
    }
    r->key = key_at(r->row(), run_depth);
  }
  sort_by_key(going_on, last, run_depth);
}

// Reorders [first, last) in place so that its rows come in ascending order
// of their keys' byte at `shift`, each byte's rows together: counts them,
// then moves each row straight to the next free place of its byte's part.
// Only the bytes between the least and the greatest found are visited,
// which for text is far fewer than 256.
void listing_sorter::distribute(listed_row* first, listed_row* last, int shift) {
  std::size_t(&next)[256] = next_place_;
  std::fill(std::begin(next), std::end(next), 0);
  unsigned least = 0xFF;
  unsigned greatest = 0;
  for (const listed_row* r = first; r != last; ++r) {
    const unsigned digit = digit_of(r->key, shift);
    ++next[digit];
    least = std::min(least, digit);
    greatest = std::max(greatest, digit);
  }
  std::size_t place = 0;
  for (unsigned digit = least; digit <= greatest; ++digit) {
    const std::size_t rows = next[digit];
    next[digit] = place;
    place += rows;
    part_end_[digit] = place;
  }
  for (unsigned digit = least; digit <= greatest; ++digit) {
    while (next[digit] < part_end_[digit]) {
      listed_row moving = first[next[digit]];
      for (unsigned home = digit_of(moving.key, shift); home != digit;
           home = digit_of(moving.key, shift)) {
        std::swap(moving, first[next[home]++]);
      }
      first[next[digit]++] = moving;
    }
  }
}

// Sorts [first, last), which fits the scratch area, by the bytes of their
// keys that `differing_bits` marks: a stable pass a byte, from the last,
// moving the rows between the range and the scratch area. One counting
// pass serves them all.
void listing_sorter::sort_in_cache(listed_row* first, listed_row* last,
                                   std::uint64_t differing_bits) {
  int shifts[key_bytes];
  std::size_t passes = 0;
  for (int shift = 8; shift < 64; shift += 8) {
    if (digit_of(differing_bits, shift) != 0) {
      shifts[passes++] = shift;
    }
  }
  for (std::size_t pass = 0; pass < passes; ++pass) {
    std::fill(std::begin(counts_[pass]), std::end(counts_[pass]), 0);
  }
  for (const listed_row* r = first; r != last; ++r) {
    for (std::size_t pass = 0; pass < passes; ++pass) {
      ++counts_[pass][digit_of(r->key, shifts[pass])];
    }
  }
  listed_row* from = first;
  listed_row* to = scratch_.get();
  const auto rows = static_cast<std::size_t>(last - first);
  for (std::size_t pass = 0; pass < passes; ++pass) {
    std::uint32_t place = 0;
    for (std::uint32_t& count : counts_[pass]) {
      place += std::exchange(count, place);
    }
    for (std::size_t i = 0; i < rows; ++i) {
      to[counts_[pass][digit_of(from[i].key, shifts[pass])]++] = from[i];
    }
    std::swap(from, to);
  }
  if (from != first) {
    std::copy(from, from + rows, first);
  }
}

}  // namespace rowfreq
