// What one remote-console request does once it reaches the game thread: the
// framework's own commands (plugins.load, plugins.unload, status), then the
// commands that plugins registered. Game thread only; no network here.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "devhost/connection.h"
#include "devhost/export.h"

namespace devhost {

class Host;

struct RconRequest {
  std::int32_t id = 0;
  std::int32_t size = 0;  // the packet's declared size, handed on as RCONPacket::Length
  std::string body;       // UTF-8, without its terminators
  std::string peer;       // "address:port", for the host log
};

// Runs `request` and returns the replies for the connection, in order: what
// the handler sent, or one reply saying why nothing ran (empty or unknown
// command, a bad plugin name). A handler that sends nothing gets one empty
// reply on its behalf, so that no client waits for an answer that never comes.
// REQUIRES: the game thread of `host`.
DEVHOST_API std::vector<RCONClientConnection::Reply> RunRconRequest(Host& host,
                                                                    const RconRequest& request);

}  // namespace devhost
