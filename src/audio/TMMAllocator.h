// The drivers' buffer pool: released blocks stay in the pool and are handed
// out again, so a running driver does not go back to the heap.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

namespace tv {

// Allocation flags; new blocks are zero-filled when kAllocZeroInit is given.
enum : uint32_t { kAllocMoveable = 0x0002, kAllocZeroInit = 0x0040 };

class TMMAllocator {
 public:
  TMMAllocator() = default;
  ~TMMAllocator();
  TMMAllocator(const TMMAllocator&) = delete;
  TMMAllocator& operator=(const TMMAllocator&) = delete;

  // A free block of exactly `bytes` bytes, else the first free block that is
  // large enough, else a new block; nullptr when memory runs out.
  void* Allocate(uint32_t flags, size_t bytes);
  // Returns the block to the pool and clears the caller's pointer; blocks
  // that do not belong to the pool are ignored.
  void Release(void*& block);
  void FreeAll();

  size_t BlockCount() const;
  size_t BlockSize(const void* block) const;

 private:
  struct Record {
    std::unique_ptr<std::byte[]> block;
    size_t size;
    int useCount;
  };
  mutable std::mutex lock_;
  std::vector<Record> records_;
};

}  // namespace tv
