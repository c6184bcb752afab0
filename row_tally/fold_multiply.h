// The one arithmetic step of the row hash.
#pragma once

#include <cstdint>

namespace rowfreq {

// The 128-bit product of `a` and `b`, its two 64-bit halves combined with
// xor, computed from 32-bit halves: for compilers without a 128-bit integer
// type. Gives the same result as fold_multiply.
constexpr std::uint64_t fold_multiply_portable(std::uint64_t a, std::uint64_t b) {
  const std::uint64_t a_low = a & 0xFFFF'FFFF, a_high = a >> 32;
  const std::uint64_t b_low = b & 0xFFFF'FFFF, b_high = b >> 32;
  const std::uint64_t low = a_low * b_low, middle1 = a_high * b_low, middle2 = a_low * b_high;
  const std::uint64_t high = a_high * b_high;
  const std::uint64_t carry =
      ((low >> 32) + (middle1 & 0xFFFF'FFFF) + (middle2 & 0xFFFF'FFFF)) >> 32;
  return (a * b) ^ (high + (middle1 >> 32) + (middle2 >> 32) + carry);
}

// The 128-bit product of `a` and `b`, its two 64-bit halves combined with
// xor, so that the result holds the high half too, which the low bits of
// both inputs reach.
inline std::uint64_t fold_multiply(std::uint64_t a, std::uint64_t b) {
#ifdef __SIZEOF_INT128__
  __extension__ using wide = unsigned __int128;
  const wide product = static_cast<wide>(a) * b;
  return static_cast<std::uint64_t>(product) ^ static_cast<std::uint64_t>(product >> 64);
#else
  return fold_multiply_portable(a, b);
#endif
}

}  // namespace rowfreq
