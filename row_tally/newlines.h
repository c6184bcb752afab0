// Finding the newlines of a block of input.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#elif defined(__ARM_NEON) && defined(__aarch64__)
#include <arm_neon.h>
#endif

namespace rowfreq {

namespace newline_scan {

// Lines at least this long are looked through by memchr.
inline constexpr std::ptrdiff_t long_line = 32;

// Each way of looking at several bytes at once gives, for the `size` bytes
// at `bytes`, a number with bit k * bits_per_byte + (bits_per_byte - 1) set
// for each byte k that is a newline, and no other bit.

// 8 bytes as one word, with plain integer arithmetic: every compiler and
// processor.
struct word_at_a_time {
  static constexpr std::ptrdiff_t size = 8;
  static constexpr unsigned bits_per_byte = 8;

  static std::uint64_t newline_bits(const char* bytes) {
    std::uint64_t word;
    std::memcpy(&word, bytes, sizeof word);
    if constexpr (std::endian::native == std::endian::big) {
      word = (word & 0x00FF'00FF'00FF'00FF) << 8 | (word >> 8 & 0x00FF'00FF'00FF'00FF);
      word = (word & 0x0000'FFFF'0000'FFFF) << 16 | (word >> 16 & 0x0000'FFFF'0000'FFFF);
      word = word << 32 | word >> 32;
    }
    constexpr std::uint64_t newlines = 0x0A0A'0A0A'0A0A'0A0A;
    constexpr std::uint64_t low_bits = 0x7F7F'7F7F'7F7F'7F7F;
    const std::uint64_t zero_where_newline = word ^ newlines;
    // Adding 0x7F to the low 7 bits of a byte sets its high bit unless they
    // are all 0; no carry crosses into the next byte.
    return ~(((zero_where_newline & low_bits) + low_bits) | zero_where_newline | low_bits);
  }
};

#if defined(__SSE2__)
// 16 bytes in one SSE2 register (every x86-64 processor).
struct vector_at_a_time {
  static constexpr std::ptrdiff_t size = 16;
  static constexpr unsigned bits_per_byte = 1;

  static unsigned newline_bits(const char* bytes) {
    const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes));
    return static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(block, _mm_set1_epi8('\n'))));
  }
};
#elif defined(__ARM_NEON) && defined(__aarch64__)
// 16 bytes in one NEON register (every 64-bit Arm processor). NEON has no
// instruction that gathers a bit per byte; narrowing each pair of bytes
// keeps 4 bits of each.
struct vector_at_a_time {
  static constexpr std::ptrdiff_t size = 16;
  static constexpr unsigned bits_per_byte = 4;

  static std::uint64_t newline_bits(const char* bytes) {
    const uint8x16_t block = vld1q_u8(reinterpret_cast<const std::uint8_t*>(bytes));
    const uint8x16_t equal = vceqq_u8(block, vdupq_n_u8('\n'));
    const uint8x8_t nibbles = vshrn_n_u16(vreinterpretq_u16_u8(equal), 4);
    return vget_lane_u64(vreinterpret_u64_u8(nibbles), 0) & 0x8888'8888'8888'8888;
  }
};
#else
using vector_at_a_time = word_at_a_time;
#endif

}  // namespace newline_scan

// Calls found(newline) for each newline in [begin, end), in order, looking
// at Scan::size bytes at a time, which for short lines costs less than a
// call of memchr per line; once a line has gone on for newline_scan::
// long_line bytes, memchr, faster over long stretches, finds its end.
template <class Scan, class Found>
void for_each_newline_by(const char* begin, const char* end, Found found) {
  const char* line_start = begin;
  const char* p = begin;
  while (end - p >= Scan::size) {
    auto bits = Scan::newline_bits(p);
    if (bits == 0 && p - line_start >= newline_scan::long_line) {
      const void* newline = std::memchr(p, '\n', static_cast<std::size_t>(end - p));
      if (newline == nullptr) {
        return;
      }
      p = static_cast<const char*>(newline);
      continue;
    }
    for (; bits != 0; bits &= bits - 1) {
      const char* newline = p + static_cast<unsigned>(std::countr_zero(bits)) / Scan::bits_per_byte;
      found(newline);
      line_start = newline + 1;
    }
    p += Scan::size;
  }
  for (; p != end; ++p) {
    if (*p == '\n') {
      found(p);
    }
  }
}

// for_each_newline_by the widest way this processor has.
template <class Found>
void for_each_newline(const char* begin, const char* end, Found found) {
  for_each_newline_by<newline_scan::vector_at_a_time>(begin, end, found);
}

}  // namespace rowfreq
