#include "scan/memory_block.h"

#include <cstdlib>

#if defined(__linux__)
#include <sys/mman.h>

namespace {

// Blocks from this size up are made of whole huge pages.
constexpr size_t kLarge = size_t{1} << 20;
constexpr size_t kHugePage = size_t{2} << 20;

}  // namespace
#endif

MemoryBlock::MemoryBlock(size_t capacity) {
#if defined(__linux__)
  if (capacity >= kLarge) {
    capacity = (capacity + kHugePage - 1) & ~(kHugePage - 1);
    data_ = static_cast<char*>(aligned_alloc(kHugePage, capacity));
    if (data_)
      madvise(data_, capacity, MADV_HUGEPAGE);  // advice: works the same without
    capacity_ = data_ ? capacity : 0;
    return;
  }
#endif
  data_ = static_cast<char*>(malloc(capacity));
  capacity_ = data_ ? capacity : 0;
}

MemoryBlock::~MemoryBlock() { free(data_); }
