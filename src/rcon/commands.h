// The two remote-console commands: the force-GC command under its configured
// name, and "GetServerStats". Each request gets exactly one compact JSON
// reply on its own connection. Handlers run on the game thread.
#pragma once

#include <string>

#include "host/ue_types.h"

namespace Quillmoor::Rcon {

// Registers both commands; `command_name` is UTF-8. Throws what the
// framework throws; the caller's guard reports it.
void RegisterCommands(const std::string& command_name);
void UnregisterCommands(const std::string& command_name);

// Never throw.
void HandleForceGC(RCONClientConnection* connection, RCONPacket* packet, UWorld* world);
void HandleGetServerStats(RCONClientConnection* connection, RCONPacket* packet, UWorld* world);

}  // namespace Quillmoor::Rcon
