// The two remote-console commands: the force-GC command under its configured
// name, and the statistics command. Each request gets exactly one compact
// JSON reply on its own connection (formats/replies.h). Handlers run on the
// game thread.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "host/ue_types.h"

namespace Quillmoor::Rcon {

// Requests a full collection with `trigger` as its cause, logged on the host
// log when `log_to_host`; false when there was nothing to ask. The plugin
// hands in the GC manager's ForceGC.
using ForceCollection = std::function<bool(const std::string& trigger, bool log_to_host)>;

// The command names (UTF-8) that RegisterCommands put into the framework's
// registry, in order. UnregisterCommands removes these and nothing else: a
// start-up that failed before or half-way through the registration must not
// remove another plugin's command of the same name.
using Registered = std::vector<std::string>;

// Registers both commands, appending each name to `registered` once the
// framework has taken it, then logs one line per name; `command_name` is
// UTF-8, any string, empty included, and registered as written without
// looking at what the framework did with it. The lines quote it with control
// characters and invalid UTF-8 escaped (formats/log_text.h). The force-GC command keeps a copy of
// `force`. Throws what the framework throws; the caller's guard reports it, and `registered` still
// holds what was registered.
void RegisterCommands(const std::string& command_name, ForceCollection force,
                      Registered& registered);
// Unregisters the names in `registered`, taking each out of it as it goes,
// then logs one line per name removed; nothing at all when it is empty.
// Throws what the framework throws, before any line is logged.
void UnregisterCommands(Registered& registered);

// Never throw.
void HandleForceGC(const ForceCollection& force, RCONClientConnection* connection,
                   RCONPacket* packet, UWorld* world);
void HandleGetServerStats(RCONClientConnection* connection, RCONPacket* packet, UWorld* world);

}  // namespace Quillmoor::Rcon
