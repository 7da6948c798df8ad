#include "devhost/allocator.h"

#include <cstdlib>
#include <new>

namespace devhost {

EngineAllocator::~EngineAllocator() {
  for (void* block : blocks_) {
    std::free(block);
  }
}

void* EngineAllocator::Allocate(std::size_t bytes) {
  void* block = std::malloc(bytes == 0 ? 1 : bytes);
  if (block == nullptr) {
    throw std::bad_alloc();
  }
  std::lock_guard lock(mutex_);
  blocks_.insert(block);
  return block;
}

bool EngineAllocator::Free(void* block) {
  if (block == nullptr) {
    return true;
  }
  {
    std::lock_guard lock(mutex_);
    auto it = blocks_.find(block);
    if (it == blocks_.end()) {
      ++bad_frees_;
      return false;
    }
    blocks_.erase(it);
  }
  std::free(block);
  return true;
}

std::size_t EngineAllocator::OutstandingBlocks() const {
  std::lock_guard lock(mutex_);
  return blocks_.size();
}

std::size_t EngineAllocator::BadFrees() const {
  std::lock_guard lock(mutex_);
  return bad_frees_;
}

}  // namespace devhost
