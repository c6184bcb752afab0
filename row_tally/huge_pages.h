// Memory that the system may back with huge pages.
#pragma once

#include <cstddef>
#include <memory>
#include <type_traits>

namespace rowfreq {

// The huge pages of x86-64 and aarch64 Linux.
inline constexpr std::size_t huge_page_bytes = std::size_t{2} << 20;

// Frees a block from allocate_block.
struct block_deleter {
  bool aligned_to_huge_pages;
  void operator()(void* block) const;
};

template <class T>
using block = std::unique_ptr<T[], block_deleter>;

// Returns `bytes` of memory, left unset, that the block_deleter it sets
// frees. On Linux, memory of at least one huge page is aligned to huge
// pages, and the system is asked (madvise MADV_HUGEPAGE) to back the whole
// huge pages in it with huge pages: it then maps them in a page fault per
// 2 MiB instead of per 4 KiB, and one TLB entry covers 2 MiB of them.
// The advice is only a hint; where it is refused, and elsewhere, the memory
// is ordinary.
void* allocate_memory(std::size_t bytes, block_deleter& deleter);

// Returns room for `count` Ts, left unset, as allocate_memory does.
template <class T>
block<T> allocate_block(std::size_t count) {
  static_assert(std::is_trivially_default_constructible_v<T> && std::is_trivially_destructible_v<T>,
                "the memory is left unset and never destroys its Ts");
  block_deleter deleter{};
  void* memory = allocate_memory(count * sizeof(T), deleter);
  return block<T>(static_cast<T*>(memory), deleter);
}

}  // namespace rowfreq
