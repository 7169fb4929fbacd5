#include "TMMAllocator.h"

#include <new>

namespace tv {

TMMAllocator::~TMMAllocator() { FreeAll(); }

void* TMMAllocator::Allocate(uint32_t flags, size_t bytes) {
  std::lock_guard lock(lock_);
  Record* chosen = nullptr;
  for (Record& r : records_) {
    if (r.useCount == 0 && r.size == bytes) {
      chosen = &r;
      break;
    }
  }
  if (chosen == nullptr) {
    for (Record& r : records_) {
      if (r.useCount == 0 && r.size >= bytes) {
        chosen = &r;
        break;
      }
    }
  }
  if (chosen == nullptr) {
    std::unique_ptr<std::byte[]> block(new (std::nothrow) std::byte[bytes == 0 ? 1 : bytes]);
    if (!block) return nullptr;
    if (flags & kAllocZeroInit) std::fill_n(block.get(), bytes, std::byte{0});
    records_.push_back(Record{std::move(block), bytes, 0});
    chosen = &records_.back();
  }
  ++chosen->useCount;
  return chosen->block.get();
}

void TMMAllocator::Release(void*& block) {
  if (block == nullptr) return;
  std::lock_guard lock(lock_);
  for (Record& r : records_) {
    if (r.block.get() == block) {
      if (r.useCount > 0) --r.useCount;
      block = nullptr;
      return;
    }
  }
}

void TMMAllocator::FreeAll() {
  std::lock_guard lock(lock_);
  while (!records_.empty()) records_.pop_back();
}

size_t TMMAllocator::BlockCount() const {
  std::lock_guard lock(lock_);
  return records_.size();
}

size_t TMMAllocator::BlockSize(const void* block) const {
  std::lock_guard lock(lock_);
  for (const Record& r : records_) {
    if (r.block.get() == block) return r.size;
  }
  return 0;
}

}  // namespace tv
