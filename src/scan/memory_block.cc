#include "scan/memory_block.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace {

#if defined(__linux__)
// Blocks from this size up are mapped directly, in whole huge pages.
constexpr size_t kMapped = size_t{1} << 20;
constexpr size_t kHugePage = size_t{2} << 20;
#else
constexpr size_t kMapped = ~size_t{0};
#endif

}  // namespace

MemoryBlock::MemoryBlock(size_t capacity) {
  if (capacity < kMapped) {
    data_ = static_cast<char*>(malloc(capacity));
  } else {
#if defined(__linux__)
    capacity = (capacity + kHugePage - 1) & ~(kHugePage - 1);
    void* data = mmap(nullptr, capacity, PROT_READ | PROT_WRITE,
                      MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (data == MAP_FAILED)
      return;
    madvise(data, capacity, MADV_HUGEPAGE);  // advice: works the same without
    data_ = static_cast<char*>(data);
#endif
  }
  capacity_ = data_ ? capacity : 0;
}

MemoryBlock::~MemoryBlock() {
#if defined(__linux__)
  if (capacity_ >= kMapped) {
    munmap(data_, capacity_);
    return;
  }
#endif
  free(data_);
}

bool MemoryBlock::Resize(size_t capacity) {
  MemoryBlock resized(capacity);
  if (!resized.data())
    return false;
  if (data_)
    memcpy(resized.data(), data_, std::min(capacity, capacity_));
  *this = std::move(resized);
  return true;
}
