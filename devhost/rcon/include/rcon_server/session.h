// One RCON connection as a state machine on the network thread: its login,
// the packets it sends and the replies it is owed. The listener creates it
// and may stop it; everything else it does on its own.
#pragma once

#include <asio.hpp>
#include <cstdint>
#include <memory>
#include <string>

namespace devhost::rcon {

class Listener;

class Session {
 public:
  virtual ~Session() = default;
  // Arms the timers and starts reading. REQUIRES: network thread, once.
  virtual void Start() = 0;
  // Ends the connection without a host log line: the server is stopping.
  // REQUIRES: network thread. Idempotent.
  virtual void Stop() = 0;
  // Ends the connection with `reason` on a warning line: its slot goes to a
  // newcomer. REQUIRES: network thread.
  virtual void Evict(const std::string& reason) = 0;
};

// A session over an accepted `socket`; `peer` is "address:port" for the host
// log, `id` the listener's key for it. A `quiet` session writes no close line
// unless it tried to log in (the listener counted it instead).
// REQUIRES: `listener` outlives the session's last handler, which its
// io_context guarantees by running them all before it goes.
std::shared_ptr<Session> MakeSession(Listener& listener, asio::ip::tcp::socket socket,
                                     std::uint64_t id, std::string peer, asio::ip::address address,
                                     bool quiet);

}  // namespace devhost::rcon
