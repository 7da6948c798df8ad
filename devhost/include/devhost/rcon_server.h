// A Source RCON listener over TCP. Sockets live on one network thread of the
// server's own; every command runs on the game thread through Host::Post, and
// its replies travel back to the network thread to be written. Bad input
// closes or refuses only the connection that sent it, with a host log line.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "devhost/export.h"
#include "rcon_server/options.h"

namespace devhost {

class Host;

class DEVHOST_API RconServer {
 public:
  // Binds, listens and starts the network thread. Throws std::system_error
  // if the address is not an address or cannot be bound, and
  // std::invalid_argument for an empty password or one no packet can carry,
  // a per-address cap of 0 or an authentication deadline that is not
  // positive.
  // REQUIRES: `host` outlives the server.
  RconServer(Host& host, RconOptions options);
  RconServer(const RconServer&) = delete;
  RconServer& operator=(const RconServer&) = delete;
  // Stop().
  ~RconServer();

  // The bound port: the chosen one when the options asked for port 0.
  std::uint16_t port() const;
  // Closes the listener and every connection and joins the network thread.
  // Replies still on their way from the game thread are dropped. Idempotent.
  void Stop();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace devhost
