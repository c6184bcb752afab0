// Reading row text a word at a time, and fetching it ahead of its use.
#pragma once

#include <cstdint>
#include <cstring>

namespace rowfreq {

// The 8 bytes at `bytes` as a word, in the processor's byte order.
inline std::uint64_t load_word(const char* bytes) {
  std::uint64_t word;
  std::memcpy(&word, bytes, sizeof word);
  return word;
}

// The 4 bytes at `bytes` as the low half of a word, in the processor's byte
// order.
inline std::uint64_t load_half_word(const char* bytes) {
  std::uint32_t half;
  std::memcpy(&half, bytes, sizeof half);
  return half;
}

// `word` with its 8 bytes in the opposite order.
constexpr std::uint64_t byte_swapped(std::uint64_t word) {
  word = (word & 0x00FF'00FF'00FF'00FF) << 8 | (word >> 8 & 0x00FF'00FF'00FF'00FF);
  word = (word & 0x0000'FFFF'0000'FFFF) << 16 | (word >> 16 & 0x0000'FFFF'0000'FFFF);
  return word << 32 | word >> 32;
}

// Asks the processor to fetch `address` into cache, where the compiler
// offers a way to; elsewhere does nothing.
inline void prefetch([[maybe_unused]] const void* address) {
#ifdef __GNUC__
  __builtin_prefetch(address);
#endif
}

}  // namespace rowfreq
