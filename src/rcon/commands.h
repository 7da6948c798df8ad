// The two remote-console commands: the force-GC command under its configured
// name, and the statistics command. Each request gets exactly one compact
// JSON reply on its own connection (formats/replies.h). Handlers run on the
// game thread.
#pragma once

#include <functional>
#include <string>

#include "host/ue_types.h"

namespace Quillmoor::Rcon {

// Requests a full collection with `trigger` as its cause, logged on the host
// log when `log_to_host`; false when there was nothing to ask. The plugin
// hands in the GC manager's ForceGC.
using ForceCollection = std::function<bool(const std::string& trigger, bool log_to_host)>;

// Registers both commands; `command_name` is UTF-8. The force-GC command
// keeps a copy of `force`. Throws what the framework throws; the caller's
// guard reports it.
void RegisterCommands(const std::string& command_name, ForceCollection force);
void UnregisterCommands(const std::string& command_name);

// Never throw.
void HandleForceGC(const ForceCollection& force, RCONClientConnection* connection,
                   RCONPacket* packet, UWorld* world);
void HandleGetServerStats(RCONClientConnection* connection, RCONPacket* packet, UWorld* world);

}  // namespace Quillmoor::Rcon
