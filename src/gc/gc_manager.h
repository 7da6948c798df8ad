// The garbage-collection manager: the start-up console-variable callback,
// the Auto-GC timer, and forced collections. Init and Shutdown run where the
// plugin is loaded and unloaded; ForceGC on the game thread.
#pragma once

#include <string>

#include "config/config.h"

namespace Quillmoor {

// Requests a full collection from the engine and records it in the
// statistics log (and on the host log when `log_to_host`). Returns false,
// after one error line, when there is no engine object to ask.
bool ForceGC(const std::string& trigger, bool log_to_host);

namespace GCManager {

// Registers "Quillmoor_ApplyCVarsOnce" when a console-variable group is
// enabled and starts the Auto-GC timer when Auto-GC is enabled. Copies what
// the callbacks need. Never throws.
void Init(const Config& config);

// Unregisters the start-up callback; the Auto-GC timer is left to the
// framework.
void Shutdown();

}  // namespace GCManager
}  // namespace Quillmoor
