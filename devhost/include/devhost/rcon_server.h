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

namespace devhost {

class Host;

struct RconOptions {
  std::string bind_address = "127.0.0.1";  // an IPv4 or IPv6 address
  std::uint16_t port = 27020;              // 0: any free port, see RconServer::port()
  std::string password;                    // REQUIRES: not empty
  // A connection that completes no packet and takes no reply for this long
  // is closed.
  std::chrono::milliseconds idle_timeout{std::chrono::seconds(300)};
  std::size_t max_connections = 64;  // more are refused at accept
  // This many wrong passwords in a row from one address close the connection
  // and refuse the address for `block_duration`.
  int max_auth_failures = 3;
  std::chrono::milliseconds block_duration{std::chrono::seconds(30)};
};

class DEVHOST_API RconServer {
 public:
  // Binds, listens and starts the network thread. Throws std::system_error
  // if the address is not an address or cannot be bound, and
  // std::invalid_argument for an empty password.
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
