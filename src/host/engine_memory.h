// Release of buffers that the engine allocated, through "FMemory.Free(void*)".
// Safe on any thread that may call the engine.
#pragma once

#include "host/symbols.h"

// Hands `data` back to the engine's allocator; a null pointer is ignored.
// Never throws: it runs in destructors, and a failed lookup (which only a
// broken host can cause) leaks the block rather than ending the process.
inline void ReleaseEngineBuffer(void* data) noexcept {
  if (data == nullptr) {
    return;
  }
  try {
    reinterpret_cast<Symbols::FreeFn>(GetAddress(Symbols::kFree))(data);
  } catch (...) {
  }
}
