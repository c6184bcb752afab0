// A hint to fetch memory into cache before it is needed.
#pragma once

namespace rowfreq {

// Asks the processor to fetch `address` into cache, where the compiler
// offers a way to; elsewhere does nothing. For memory read soon in an order
// the processor cannot guess.
inline void prefetch([[maybe_unused]] const void* address) {
#ifdef __GNUC__
  __builtin_prefetch(address);
#endif
}

}  // namespace rowfreq
