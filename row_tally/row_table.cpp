#include "row_tally/row_table.h"

#include <algorithm>
#include <random>
#include <stdexcept>

namespace rowfreq {

namespace {

constexpr std::size_t chunk_bytes = std::size_t{64} * 1024;
constexpr std::size_t unit_bytes = 8;  // entries start at multiples of 8 bytes
constexpr std::size_t units_per_chunk = chunk_bytes / unit_bytes;
constexpr std::size_t initial_slots = 1024;
// Tables of up to this many slots (512 KiB) fit in the processor's cache.
// They are kept at most a quarter full, since more slots cost no memory
// worth counting there and a lookup then seldom probes past its first
// slot, which spares a mispredicted branch; larger tables are filled to
// three quarters, to save memory. And only larger ones are worth
// prefetching.
constexpr std::size_t cache_sized_slots = std::size_t{1} << 16;

// An entry's place in the chunks is its number of 8-byte units from the
// start of the first chunk, plus 1 so that no slot in use is 0. It fills
// the low 32 bits of a slot.
constexpr std::uint64_t max_place = 0xFFFF'FFFF;

static_assert(max_row_length <= 0xFF, "a row's length must fit the byte that holds it");

// The two halves of the 128-bit product of `a` and `b`, folded together.
std::uint64_t fold_multiply(std::uint64_t a, std::uint64_t b) {
#ifdef __SIZEOF_INT128__
  __extension__ using wide = unsigned __int128;
  const wide product = static_cast<wide>(a) * b;
  return static_cast<std::uint64_t>(product) ^ static_cast<std::uint64_t>(product >> 64);
#else
  const std::uint64_t a_low = a & 0xFFFF'FFFF, a_high = a >> 32;
  const std::uint64_t b_low = b & 0xFFFF'FFFF, b_high = b >> 32;
  const std::uint64_t low = a_low * b_low, middle1 = a_high * b_low, middle2 = a_low * b_high;
  const std::uint64_t high = a_high * b_high;
  const std::uint64_t carry =
      ((low >> 32) + (middle1 & 0xFFFF'FFFF) + (middle2 & 0xFFFF'FFFF)) >> 32;
  return (a * b) ^ (high + (middle1 >> 32) + (middle2 >> 32) + carry);
#endif
}

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

// The last 1 to 16 characters of a row as two words, whose loads overlap
// when fewer than 16 remain; together with the row's length they tell
// every such tail apart.
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

// The hash of `row` under `secret`: each 16 bytes, as two words, go
// through one multiply, the first word mixed with a secret and the second
// with all that came before; a last multiply spreads the result over the
// top bits, which the table uses.
[[gnu::always_inline]] inline std::uint64_t keyed_hash(const std::uint64_t (&secret)[3],
                                                       std::string_view row) {
  const char* text = row.data();
  std::size_t left = row.size();
  std::uint64_t state = secret[0] ^ left;
  for (; left > 16; text += 16, left -= 16) {
    state = fold_multiply(load_word(text) ^ secret[1], load_word(text + 8) ^ state);
  }
  const auto [first, second] = tail_words(text, left);
  state = fold_multiply(first ^ secret[1], second ^ state);
  return fold_multiply(state, secret[2]);
}

// Whether `stored`, the text of an entry, is `row`. Short rows, the most
// common, are compared as the two words the hash took of them, which
// spares a call of memcmp per lookup.
bool same_text(std::string_view stored, std::string_view row) {
  if (stored.size() != row.size()) {
    return false;
  }
  if (row.size() <= 16) {
    return tail_words(stored.data(), stored.size()) == tail_words(row.data(), row.size());
  }
  return std::memcmp(stored.data(), row.data(), row.size()) == 0;
}

// Asks the processor to fetch `address` into cache, where the compiler
// offers a way to; elsewhere does nothing.
void prefetch([[maybe_unused]] const void* address) {
#ifdef __GNUC__
  __builtin_prefetch(address);
#endif
}

std::uint64_t draw_secret(std::random_device& entropy) {
  return std::uint64_t{entropy()} << 32 ^ entropy();
}

}  // namespace

row_table::row_table() : row_table(initial_slots, 32) {}

row_table::row_table(std::size_t slots, int hash_bits)
    : tag_mask_(~std::uint32_t{0} << (32 - hash_bits)),
      slots_(std::make_unique<std::uint64_t[]>(slots)),
      slot_mask_(slots - 1) {
  std::random_device entropy;
  for (std::uint64_t& secret : secret_) {
    secret = draw_secret(entropy);
  }
  index_shift_ = 32;
  for (std::size_t n = slots; n > 1; n /= 2) {
    --index_shift_;
  }
}

row_table::row_table(std::initializer_list<std::pair<std::string_view, std::int64_t>> rows)
    : row_table() {
  for (const auto& [row, count] : rows) {
    add(row, count);
  }
}

std::uint64_t row_table::hash(std::string_view row) const {
  return keyed_hash(secret_, row);
}

void row_table::add(std::string_view row, std::int64_t times) {
  add(row, hash(row), times);
}

void row_table::add_each(std::span<const std::string_view> rows) {
  // While the slots fit in the processor's cache, fetching them ahead only
  // costs instructions.
  if (slot_mask_ < cache_sized_slots) {
    for (const std::string_view row : rows) {
      add(row, keyed_hash(secret_, row), 1);
    }
    return;
  }
  constexpr std::size_t batch = 256;    // hashes kept at a time
  constexpr std::size_t distance = 16;  // rows between a slot's prefetch and its use
  std::uint64_t hashes[batch];
  for (std::size_t start = 0; start < rows.size(); start += batch) {
    const std::span<const std::string_view> part =
        rows.subspan(start, std::min(batch, rows.size() - start));
    for (std::size_t i = 0; i < part.size(); ++i) {
      hashes[i] = keyed_hash(secret_, part[i]);
    }
    for (std::size_t i = 0; i < std::min(part.size(), distance); ++i) {
      prefetch_slot(hashes[i]);
    }
    for (std::size_t i = 0; i < part.size(); ++i) {
      if (i + distance < part.size()) {
        prefetch_slot(hashes[i + distance]);
      }
      add(part[i], hashes[i], 1);
    }
  }
}

void row_table::prefetch_slot(std::uint64_t hash) const {
  prefetch(&slots_[home_of(tag_of(hash))]);
}

std::uint32_t row_table::tag_of(std::uint64_t hash) const {
  return static_cast<std::uint32_t>(hash >> 32) & tag_mask_;
}

std::byte* row_table::entry_at(std::uint64_t slot) const {
  const std::size_t place = (slot & max_place) - 1;
  return chunks_[place / units_per_chunk].bytes.get() + place % units_per_chunk * unit_bytes;
}

[[gnu::always_inline]] inline void row_table::add(std::string_view row, std::uint64_t hash,
                                                  std::int64_t times) {
  const std::uint32_t tag = tag_of(hash);
  for (std::size_t i = home_of(tag);; i = (i + 1) & slot_mask_) {
    const std::uint64_t slot = slots_[i];
    if (slot == 0) {
      slots_[i] = store(row, times, tag);
      const std::size_t quarters_full = slot_mask_ < cache_sized_slots ? 1 : 3;
      if (++size_ * 4 > (slot_mask_ + 1) * quarters_full) {
        grow();
      }
      return;
    }
    if (slot >> 32 == tag) {
      std::byte* entry = entry_at(slot);
      if (same_text(text_of(entry), row)) {
        const std::int64_t count = count_of(entry) + times;
        std::memcpy(entry, &count, sizeof count);
        return;
      }
    }
  }
}

std::uint64_t row_table::store(std::string_view row, std::int64_t count, std::uint32_t tag) {
  const std::size_t size = entry_size(row.size());
  if (chunks_.empty() || chunks_.back().used + size > chunk_bytes) {
    if ((chunks_.size() + 1) * units_per_chunk > max_place) {
      throw std::length_error("too many distinct rows");
    }
    chunks_.push_back({std::unique_ptr<std::byte[]>(new std::byte[chunk_bytes]), 0});
  }
  chunk& last = chunks_.back();
  std::byte* entry = last.bytes.get() + last.used;
  std::memcpy(entry, &count, sizeof count);
  entry[sizeof count] = static_cast<std::byte>(row.size());
  std::memcpy(entry + text_offset, row.data(), row.size());
  const std::size_t place = (chunks_.size() - 1) * units_per_chunk + last.used / unit_bytes + 1;
  last.used += size;
  return std::uint64_t{tag} << 32 | place;
}

void row_table::grow() {
  if (index_shift_ == 0) {
    throw std::length_error("too many distinct rows");
  }
  const std::size_t old_size = slot_mask_ + 1;
  const std::unique_ptr<std::uint64_t[]> old =
      std::exchange(slots_, std::make_unique<std::uint64_t[]>(old_size * 2));
  slot_mask_ = old_size * 2 - 1;
  --index_shift_;
  for (std::size_t j = 0; j < old_size; ++j) {
    if (const std::uint64_t slot = old[j]; slot != 0) {
      std::size_t i = home_of(static_cast<std::uint32_t>(slot >> 32));
      while (slots_[i] != 0) {
        i = (i + 1) & slot_mask_;
      }
      slots_[i] = slot;
    }
  }
}

}  // namespace rowfreq
