// The engine's allocator behind "FMemory.Free(void*)", with accounting of the
// blocks outstanding, so that tests can prove that nothing leaks and nothing
// is freed twice. Thread-safe.
#pragma once

#include <cstddef>
#include <mutex>
#include <unordered_set>

#include "devhost/export.h"

namespace devhost {

class DEVHOST_API EngineAllocator {
 public:
  EngineAllocator() = default;
  EngineAllocator(const EngineAllocator&) = delete;
  EngineAllocator& operator=(const EngineAllocator&) = delete;
  ~EngineAllocator();

  // Never returns null; throws std::bad_alloc.
  void* Allocate(std::size_t bytes);
  // Returns false, and frees nothing, for a pointer this allocator does not
  // own (a double free or a foreign pointer). Null is accepted and ignored.
  bool Free(void* block);

  std::size_t OutstandingBlocks() const;
  std::size_t BadFrees() const;

 private:
  mutable std::mutex mutex_;
  std::unordered_set<void*> blocks_;
  std::size_t bad_frees_ = 0;
};

}  // namespace devhost
