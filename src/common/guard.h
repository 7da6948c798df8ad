// The one exception guard used at every boundary that the host calls or
// that must go on after a failure.
#pragma once

#include <spdlog/logger.h>
#include <exception>
#include <string_view>

#include "common/log.h"

namespace Quillmoor {

// Runs `body`; a standard exception is logged at error level as
// "[Quillmoor] <operation> exception: <what>", anything else as
// "[Quillmoor] <operation>: unknown exception.". Returns whether `body`
// completed. Never throws.
template <typename Body>
bool Guarded(std::string_view operation, Body&& body) noexcept {
  try {
    body();
    return true;
  } catch (const std::exception& e) {
    Log().error("[Quillmoor] {} exception: {}", operation, e.what());
  } catch (...) {
    Log().error("[Quillmoor] {}: unknown exception.", operation);
  }
  return false;
}

}  // namespace Quillmoor
