#include "devhost/plugin_guard.h"

#include <spdlog/logger.h>

#include "devhost/log.h"

namespace devhost {

void PluginGuard::NoteEscape(const char* what, const char* message) noexcept {
  ++escaped_;
  try {
    log_.Host().error("An exception escaped a plugin's {} into the host: {}", what, message);
  } catch (...) {
  }
}

}  // namespace devhost
