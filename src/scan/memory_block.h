// Large blocks of memory for the scan's buffers.
#ifndef KESTRANE_SCAN_MEMORY_BLOCK_H_
#define KESTRANE_SCAN_MEMORY_BLOCK_H_

#include <cstddef>

/// An owned, uninitialised block of memory, for the read buffer and the pieces
/// of the list: blocks of megabytes, where the first touch of each page is
/// what costs. On Linux a large block is mapped as wanting transparent huge
/// pages, which cuts the page faults of a 100 MB list from tens of thousands
/// to a few dozen, and it grows by remapping, without a copy. A block may be
/// given more capacity than asked for.
class MemoryBlock {
 public:
  MemoryBlock() = default;
  /// On failure the block is empty: data() is null. Without `hugePages` a
  /// large block is mapped in ordinary pages, of which only those touched
  /// cost memory: for buffers that are used again and again, only partly.
  explicit MemoryBlock(size_t capacity, bool hugePages = true);
  MemoryBlock(MemoryBlock&& other) noexcept;
  MemoryBlock& operator=(MemoryBlock&& other) noexcept;
  MemoryBlock(const MemoryBlock&) = delete;
  MemoryBlock& operator=(const MemoryBlock&) = delete;
  ~MemoryBlock();

  /// Changes the capacity, keeping the contents that fit; on failure the
  /// block stays as it was.
  bool Resize(size_t capacity);

  char* data() const { return data_; }
  size_t capacity() const { return capacity_; }

 private:
  char* data_ = nullptr;
  size_t capacity_ = 0;
};

#endif  // KESTRANE_SCAN_MEMORY_BLOCK_H_
