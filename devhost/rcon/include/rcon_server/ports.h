// What the RCON server needs of the host it serves: its log, a way onto the
// game thread, and the runner of a command there. The server holds copies.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "rcon_server/options.h"

namespace spdlog {
class logger;
}

namespace devhost::rcon {

// One reply to a command, as it goes on the wire (before it is cut to the
// packet size).
struct Reply {
  std::int32_t id = 0;
  std::int32_t type = 0;
  std::string body;  // UTF-8
};

struct Ports {
  // The host log. REQUIRES: not null, outlives the server.
  spdlog::logger* log = nullptr;
  // Queues work for the game thread. Called on the network thread.
  std::function<void(std::function<void()>)> post;
  // Runs one command on the game thread and returns its replies in order.
  // Should answer a failure with a reply of its own; one that throws gets a
  // reply saying so.
  std::function<std::vector<Reply>(const RconRequest&)> run;
};

}  // namespace devhost::rcon
