// What one remote-console request does once it reaches the game thread: the
// framework's own commands (plugins.load, plugins.unload, status), then the
// commands that plugins registered. Game thread only; no network here.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "devhost/connection.h"
#include "devhost/export.h"
#include "rcon_server/options.h"

namespace devhost {

class Host;

// Runs `request` and returns the replies for the connection, in order: what
// the handler sent, or one reply saying why nothing ran (empty or unknown
// command, a bad plugin name). A handler that sends nothing gets one empty
// reply on its behalf, so that no client waits for an answer that never comes.
// REQUIRES: the game thread of `host`.
DEVHOST_API std::vector<RCONClientConnection::Reply> RunRconRequest(Host& host,
                                                                    const RconRequest& request);

}  // namespace devhost
