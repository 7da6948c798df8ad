// Where the metrics exporter listens, from --metrics [HOST:]PORT. Pure
// parsing; throws std::invalid_argument with the reason.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace watch {

struct ListenAddress {
  std::string host = "127.0.0.1";  // an IPv4 address
  std::uint16_t port = 0;          // 0: any free port
};

// "PORT" (loopback) or "ADDRESS:PORT". The HTTP server binds to the address,
// so it must be an IPv4 address of this machine (0.0.0.0: every interface);
// Debian builds the server without IPv6.
ListenAddress ParseListenAddress(std::string_view text);

// "127.0.0.1:9764".
std::string FormatListenAddress(const ListenAddress& address);

}  // namespace watch
