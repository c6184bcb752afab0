#include "row_tally/row_table.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <random>
#include <stdexcept>
#include <string>

#ifdef _WIN32
#include <process.h>
#else
#include <unistd.h>
#endif

#include "row_tally/fold_multiply.h"
#include "row_tally/words.h"

namespace rowfreq {

namespace {

constexpr std::size_t chunk_bytes = std::size_t{64} * 1024;
// Chunks are allocated a huge page at a time (see allocate_block) once the
// table has that many, so that a small table stays small.
constexpr std::size_t chunks_per_huge_page = huge_page_bytes / chunk_bytes;
constexpr std::size_t unit_bytes = 8;  // entries start at multiples of 8 bytes
constexpr std::size_t units_per_chunk = chunk_bytes / unit_bytes;
// Tables of up to this many slots (512 KiB) fit in the processor's cache.
// They are kept at most a quarter full, since more slots cost no memory
// worth counting there and a lookup then seldom probes past its first
// slot, which spares a mispredicted branch; larger tables are filled to
// three quarters, to save memory. And only larger ones are worth
// prefetching.
constexpr std::size_t cache_sized_slots = std::size_t{1} << 16;

// A slot holds an entry's place in its low 40 bits, and above them a tag
// of 24 bits: the hash's lowest, with the lowest of those set, so that no
// slot in use is 0 and 0 marks an empty slot. The place is the entry's
// number of 8-byte units from the start of the first chunk, which gives
// room for 8 TiB of entries. A test build lowers the ceiling, so that a
// small input reaches it. The slot index is taken from the hash bits above
// the tag's.
constexpr int place_bits = 40;
constexpr std::uint64_t place_mask = (std::uint64_t{1} << place_bits) - 1;
constexpr int index_offset = 64 - place_bits;
#ifdef ROWFREQ_TEST_MAX_UNITS
constexpr std::uint64_t max_units = ROWFREQ_TEST_MAX_UNITS;
#else
constexpr std::uint64_t max_units = place_mask + 1;
#endif

constexpr std::uint64_t tag_of(std::uint64_t hash) {
  return (hash | 1) << place_bits;
}

static_assert(max_row_length <= 0xFF, "a row's length must fit the byte that holds it");

// The last 0 to 16 characters of a row as two words, whose loads overlap
// when fewer than 16 remain: for a given length, every tail gives its own
// pair of words.
std::pair<std::uint64_t, std::uint64_t> tail_words(const char* tail, std::size_t length) {
  if (length >= 8) {
    return {load_word(tail), load_word(tail + length - 8)};
  }
  if (length >= 4) {
    return {load_half_word(tail), load_half_word(tail + length - 4)};
  }
  if (length > 0) {
    const auto byte = [tail](std::size_t i) {
      return std::uint64_t{static_cast<unsigned char>(tail[i])};
    };
    return {byte(0) << 16 | byte(length / 2) << 8 | byte(length - 1), 0};
  }
  return {0, 0};
}

}  // namespace

// A row's hash, and the two words its last 16 bytes or fewer gave the hash:
// for a row of at most 16 bytes, all of it.
struct hashed_row {
  std::uint64_t hash;
  std::pair<std::uint64_t, std::uint64_t> tail;
};

namespace {

// The hash of `row`: the key of its length, then each 16 bytes, as two
// words, through one multiply, the first word mixed with `word_key` and the
// second with the state so far. Rows of at most 16 bytes, the most common,
// take a single multiply after their loads.
[[gnu::always_inline]] inline hashed_row keyed_hash(
    const std::uint64_t (&length_keys)[max_row_length + 1], std::uint64_t word_key,
    std::string_view row) {
  const char* text = row.data();
  std::size_t left = row.size();
  std::uint64_t state = length_keys[left];
  for (; left > 16; text += 16, left -= 16) {
    state = fold_multiply(load_word(text) ^ word_key, load_word(text + 8) ^ state);
  }
  const auto tail = tail_words(text, left);
  return {fold_multiply(tail.first ^ word_key, tail.second ^ state), tail};
}

// Whether `stored`, the text of an entry, is `row`, whose hash took the
// words `tail` of it. Short rows, the most common, are compared as those
// words, which spares a call of memcmp per lookup.
bool same_text(std::string_view stored, std::string_view row,
               const std::pair<std::uint64_t, std::uint64_t>& tail) {
  if (stored.size() != row.size()) {
    return false;
  }
  if (row.size() <= 16) {
    return tail_words(stored.data(), stored.size()) == tail;
  }
  return std::memcmp(stored.data(), row.data(), row.size()) == 0;
}

// The next number of a splitmix64 sequence whose state is `state`: spreads
// a seed into several independent-looking words.
std::uint64_t next_mixed(std::uint64_t& state) {
  std::uint64_t z = state += 0x9E37'79B9'7F4A'7C15;
  z = (z ^ (z >> 30)) * 0xBF58'476D'1CE4'E5B9;
  z = (z ^ (z >> 27)) * 0x94D0'49BB'1331'11EB;
  return z ^ (z >> 31);
}

std::uint64_t random_device_word() {
  std::random_device entropy;
  return std::uint64_t{entropy()} << 32 ^ entropy();
}

int process_id() {
#ifdef _WIN32
  return _getpid();
#else
  return static_cast<int>(getpid());
#endif
}

// A seed from what any process has, for when the system gives no entropy:
// the address of a local (which varies from run to run where addresses are
// randomised), the clock, the process id, and a count that tells apart the
// seeds drawn in one process.
std::uint64_t fallback_seed() {
  static std::atomic<std::uint64_t> drawn{0};
  const int local = 0;
  std::uint64_t state = reinterpret_cast<std::uintptr_t>(&local);
  state ^= next_mixed(state) ^
           static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
  state ^= next_mixed(state) ^
           static_cast<std::uint64_t>(std::chrono::system_clock::now().time_since_epoch().count());
  state ^= next_mixed(state) ^ static_cast<std::uint64_t>(process_id());
  state ^= next_mixed(state) ^ drawn++;
  return next_mixed(state);
}

}  // namespace

std::uint64_t draw_seed(std::uint64_t (*entropy)()) {
  try {
    return (entropy != nullptr ? entropy : random_device_word)();
  } catch (const std::exception&) {
    return fallback_seed();
  }
}

row_table::row_table() : row_table(draw_seed()) {}

row_table::row_table(std::uint64_t seed, std::size_t slots, int hash_bits) {
  if (slots < 2 || (slots & (slots - 1)) != 0 || hash_bits < 1 || hash_bits > 64) {
    throw std::invalid_argument(
        "row_table: slots must be a power of two of at least 2, "
        "hash bits from 1 to 64");
  }
  hash_mask_ = ~std::uint64_t{0} << (64 - hash_bits);
  slots_ = empty_slots(slots);
  slot_mask_ = slots - 1;
  word_key_ = next_mixed(seed);
  const std::uint64_t length_secret = next_mixed(seed);
  const std::uint64_t spread = next_mixed(seed) | 1;
  for (std::size_t length = 0; length <= max_row_length; ++length) {
    length_keys_[length] = fold_multiply(length_secret ^ length, spread);
  }
}

row_table::row_table(std::initializer_list<std::pair<std::string_view, std::int64_t>> rows)
    : row_table() {
  for (const auto& [row, count] : rows) {
    add(row, count);
  }
}

[[gnu::always_inline]] inline hashed_row row_table::hash_of(std::string_view row) const {
  hashed_row hashed = keyed_hash(length_keys_, word_key_, row);
  hashed.hash &= hash_mask_;
  return hashed;
}

std::uint64_t row_table::hash(std::string_view row) const {
  return hash_of(row).hash;
}

void row_table::add(std::string_view row, std::int64_t times) {
  if (times < 1 || row.size() > max_row_length) {
    throw std::invalid_argument("row_table::add: a count of at least 1, a row of at most " +
                                std::to_string(max_row_length) + " characters");
  }
  add_hashed(row, hash_of(row), times);
}

void row_table::add_each(std::span<const std::string_view> rows) {
  if (rows.size() > max_batch) {
    throw std::invalid_argument("row_table::add_each: more rows than max_batch");
  }
  // While the slots fit in the processor's cache, fetching them ahead only
  // costs instructions.
  if (slot_mask_ < cache_sized_slots) {
    for (const std::string_view row : rows) {
      // The same call on both sides: where the compiler knows that the row
      // is short, it leaves out the hash's loop and the call of memcmp,
      // and that path comes first: a run over a million rows of 8 bytes
      // took 110.3 million instructions, against 123.4 million with one call.
      if (row.size() <= 16) [[likely]] {  // NOLINT(bugprone-branch-clone)
        add_hashed(row, hash_of(row), 1);
      } else {
        add_hashed(row, hash_of(row), 1);
      }
    }
    return;
  }
  constexpr std::size_t distance = 16;  // rows between a slot's prefetch and its use
  hashed_row hashed[max_batch];
  for (std::size_t i = 0; i < rows.size(); ++i) {
    hashed[i] = hash_of(rows[i]);
  }
  for (std::size_t i = 0; i < std::min(rows.size(), distance); ++i) {
    prefetch_slot(hashed[i].hash);
  }
  for (std::size_t i = 0; i < rows.size(); ++i) {
    if (i + distance < rows.size()) {
      prefetch_slot(hashed[i + distance].hash);
    }
    if (rows[i].size() <= 16) [[likely]] {  // NOLINT(bugprone-branch-clone): as above
      add_hashed(rows[i], hashed[i], 1);
    } else {
      add_hashed(rows[i], hashed[i], 1);
    }
  }
}

std::size_t row_table::home_of(std::uint64_t hash) const {
  return static_cast<std::size_t>(hash >> index_offset) & slot_mask_;
}

void row_table::prefetch_slot(std::uint64_t hash) const {
  prefetch(&slots_[home_of(hash)]);
}

std::byte* row_table::entry_at(std::uint64_t slot) const {
  const std::uint64_t place = slot & place_mask;
  return chunks_[place / units_per_chunk].bytes + place % units_per_chunk * unit_bytes;
}

// The common case, a row already in the table in its first slot, takes no
// branch that goes the other way.
[[gnu::always_inline]] inline void row_table::add_hashed(std::string_view row,
                                                         const hashed_row& hashed,
                                                         std::int64_t times) {
  const std::uint64_t tag = tag_of(hashed.hash);
  for (std::size_t i = home_of(hashed.hash);; i = (i + 1) & slot_mask_) {
    const std::uint64_t slot = slots_[i];
    if ((slot & ~place_mask) == tag) {
      std::byte* entry = entry_at(slot);
      if (same_text(text_of(entry), row, hashed.tail)) {
        const std::int64_t count = count_of(entry) + times;
        std::memcpy(entry, &count, sizeof count);
        return;
      }
    } else if (slot == 0) {
      insert(row, i, tag, times);
      return;
    }
  }
}

[[gnu::noinline]] void row_table::insert(std::string_view row, std::size_t slot, std::uint64_t tag,
                                         std::int64_t count) {
  slots_[slot] = tag | store(row, count);
  const std::size_t quarters_full = slot_mask_ < cache_sized_slots ? 1 : 3;
  if (++size_ * 4 > (slot_mask_ + 1) * quarters_full) {
    grow();
  }
}

std::uint64_t row_table::store(std::string_view row, std::int64_t count) {
  const std::size_t size = entry_size(row.size());
  if (chunks_.empty() || chunks_.back().used + size > chunk_bytes) {
    if ((chunks_.size() + 1) * units_per_chunk > max_units) {
      throw std::length_error("too many distinct rows");
    }
    add_chunk();
  }
  chunk& last = chunks_.back();
  std::byte* entry = last.bytes + last.used;
  std::memcpy(entry, &count, sizeof count);
  entry[sizeof count] = static_cast<std::byte>(row.size());
  std::memcpy(entry + text_offset, row.data(), row.size());
  const std::uint64_t place = (chunks_.size() - 1) * units_per_chunk + last.used / unit_bytes;
  last.used += size;
  return place;
}

void row_table::add_chunk() {
  const std::size_t count = chunks_.size();
  if (count < chunks_per_huge_page) {
    chunk_blocks_.push_back(allocate_block<std::byte>(chunk_bytes));
    chunks_.push_back({chunk_blocks_.back().get()});
    return;
  }
  if (count % chunks_per_huge_page == 0) {
    chunk_blocks_.push_back(allocate_block<std::byte>(huge_page_bytes));
  }
  chunks_.push_back({chunk_blocks_.back().get() + count % chunks_per_huge_page * chunk_bytes});
}

// allocate_block leaves its memory unset, and 0 marks an empty slot.
block<std::uint64_t> row_table::empty_slots(std::size_t count) {
  block<std::uint64_t> slots = allocate_block<std::uint64_t>(count);
  std::fill_n(slots.get(), count, 0);
  return slots;
}

// The slots keep too few bits of a row's hash to place it in a larger table,
// so growing hashes every row again, reading the entries in order. Their
// slots are scattered over the new table: they are fetched a batch ahead,
// so that the cache misses overlap.
void row_table::grow() {
  slots_ = empty_slots((slot_mask_ + 1) * 2);
  slot_mask_ = slot_mask_ * 2 + 1;
  constexpr std::size_t batch = 64;
  std::uint64_t hashes[batch], places[batch];
  std::size_t batched = 0;
  const auto insert_batch = [&] {
    for (std::size_t k = 0; k < batched; ++k) {
      std::size_t i = home_of(hashes[k]);
      while (slots_[i] != 0) {
        i = (i + 1) & slot_mask_;
      }
      slots_[i] = tag_of(hashes[k]) | places[k];
    }
    batched = 0;
  };
  std::uint64_t chunk_place = 0;
  for (const chunk& c : chunks_) {
    for (std::size_t offset = 0; offset < c.used;) {
      const std::string_view row = text_of(c.bytes + offset);
      hashes[batched] = hash_of(row).hash;
      places[batched] = chunk_place + offset / unit_bytes;
      prefetch_slot(hashes[batched]);
      if (++batched == batch) {
        insert_batch();
      }
      offset += entry_size(row.size());
    }
    chunk_place += units_per_chunk;
  }
  insert_batch();
}

}  // namespace rowfreq
