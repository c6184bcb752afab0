#include "row_tally/huge_pages.h"

#include <new>

#ifdef __linux__
#include <sys/mman.h>
#endif

namespace rowfreq {

void* allocate_memory(std::size_t bytes, block_deleter& deleter) {
#ifdef __linux__
  if (bytes >= huge_page_bytes) {
    void* memory = ::operator new (bytes, std::align_val_t{huge_page_bytes});
    madvise(memory, bytes / huge_page_bytes * huge_page_bytes, MADV_HUGEPAGE);
    deleter.aligned_to_huge_pages = true;
    return memory;
  }
#endif
  deleter.aligned_to_huge_pages = false;
  return ::operator new(bytes);
}

void block_deleter::operator()(void* block) const {
  if (aligned_to_huge_pages) {
    ::operator delete (block, std::align_val_t{huge_page_bytes});
  } else {
    ::operator delete(block);
  }
}

}  // namespace rowfreq
