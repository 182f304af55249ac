#include "scan/memory_block.h"

#include <cstdlib>
#include <cstring>
#include <utility>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace {

#if defined(__linux__)
// Blocks from this size up are mapped directly, in whole huge pages: the
// kernel then backs them with 2 MiB pages, and a block that grows is
// remapped instead of copied.
constexpr size_t kMapped = size_t{1} << 20;
constexpr size_t kHugePage = size_t{2} << 20;

size_t Rounded(size_t capacity) {
  if (capacity < kMapped)
    return capacity;
  return (capacity + kHugePage - 1) & ~(kHugePage - 1);
}

char* Allocate(size_t capacity, bool hugePages = true) {
  if (capacity < kMapped)
    return static_cast<char*>(malloc(capacity));
  void* data = mmap(nullptr, capacity, PROT_READ | PROT_WRITE,
                    MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (data == MAP_FAILED)
    return nullptr;
  // Only advice: without huge pages the block works the same, only slower.
  if (hugePages)
    madvise(data, capacity, MADV_HUGEPAGE);
  return static_cast<char*>(data);
}

void Release(char* data, size_t capacity) {
  if (capacity < kMapped)
    free(data);
  else if (data)
    munmap(data, capacity);
}

char* Reallocate(char* data, size_t capacity, size_t wanted) {
  if (capacity >= kMapped && wanted >= kMapped) {
    void* moved = mremap(data, capacity, wanted, MREMAP_MAYMOVE);
    if (moved == MAP_FAILED)
      return nullptr;
    madvise(moved, wanted, MADV_HUGEPAGE);
    return static_cast<char*>(moved);
  }
  char* fresh = Allocate(wanted);
  if (fresh && data)
    memcpy(fresh, data, capacity < wanted ? capacity : wanted);
  if (fresh)
    Release(data, capacity);
  return fresh;
}
#else
size_t Rounded(size_t capacity) { return capacity; }

char* Allocate(size_t capacity, bool = true) {
  return static_cast<char*>(malloc(capacity));
}

void Release(char* data, size_t) { free(data); }

char* Reallocate(char* data, size_t, size_t wanted) {
  return static_cast<char*>(realloc(data, wanted));
}
#endif

}  // namespace

MemoryBlock::MemoryBlock(size_t capacity, bool hugePages) {
  capacity = Rounded(capacity);
  data_ = Allocate(capacity, hugePages);
  if (data_)
    capacity_ = capacity;
}

MemoryBlock::MemoryBlock(MemoryBlock&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)),
      capacity_(std::exchange(other.capacity_, 0)) {}

MemoryBlock& MemoryBlock::operator=(MemoryBlock&& other) noexcept {
  if (this != &other) {
    Release(data_, capacity_);
    data_ = std::exchange(other.data_, nullptr);
    capacity_ = std::exchange(other.capacity_, 0);
  }
  return *this;
}

MemoryBlock::~MemoryBlock() { Release(data_, capacity_); }

bool MemoryBlock::Resize(size_t capacity) {
  if (!data_) {
    *this = MemoryBlock(capacity);
    return data_ != nullptr;
  }
  capacity = Rounded(capacity);
  char* resized = Reallocate(data_, capacity_, capacity);
  if (!resized)
    return false;
  data_ = resized;
  capacity_ = capacity;
  return true;
}
