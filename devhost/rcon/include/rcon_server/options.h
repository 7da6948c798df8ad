// What the RCON server is told at its start, and what one request carries to
// the game thread. Plain records: the devhost's public headers name them.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

namespace devhost {

struct RconOptions {
  std::string bind_address = "127.0.0.1";  // an IPv4 or IPv6 address
  std::uint16_t port = 27020;              // 0: any free port, see RconServer::port()
  // Not empty, at most rcon_wire::kMaxRequestBody (4086) bytes and no NUL,
  // so that a login packet can carry it; RconServer refuses any other.
  std::string password;
  // A connection that completes no packet and takes no reply for this long
  // is closed. The clock rests while its command waits for the game thread.
  std::chrono::milliseconds idle_timeout{std::chrono::seconds(300)};
  // Open connections in all. When every slot is taken, a newcomer takes the
  // slot of a connection that has not logged in within `login_grace`: the
  // oldest one of the address that holds the most of them, so that
  // connections which never log in, however fast they are re-opened, cannot
  // keep an operator out. While every such connection is still within its
  // grace, the newcomer waits (one per address, max_connections in all)
  // until one is not; when every open connection has logged in, or too many
  // wait, it is refused.
  std::size_t max_connections = 64;
  // How long a new connection keeps its slot to log in, however many
  // newcomers want one.
  std::chrono::milliseconds login_grace{std::chrono::seconds(1)};
  // More open connections than this from one address are refused at accept,
  // so that one client cannot take every slot. REQUIRES: at least 1.
  std::size_t max_per_address = 8;
  // A connection that has not authenticated this long after it was accepted
  // is closed: connections that never log in must not hold the slots for the
  // whole idle timeout. REQUIRES: positive.
  std::chrono::milliseconds auth_timeout{std::chrono::seconds(10)};
  // This many wrong passwords in a row from one address close the connection
  // and refuse the address for `block_duration`.
  int max_auth_failures = 3;
  std::chrono::milliseconds block_duration{std::chrono::seconds(30)};
  // Connect, close and refusal lines: each address gets this many of each
  // kind in the host log per period; the rest are counted and summed up in
  // one line at the period's end, so that a flood of connections cannot
  // push everything else out of the log. Lines about logging in are always
  // written.
  std::size_t log_lines_per_address = 5;
  std::chrono::milliseconds log_summary_period{std::chrono::seconds(60)};
};

struct RconRequest {
  std::int32_t id = 0;
  std::int32_t size = 0;  // the packet's declared size, handed on as RCONPacket::Length
  std::string body;       // UTF-8, without its terminators
  std::string peer;       // "address:port", for the host log
};

}  // namespace devhost
