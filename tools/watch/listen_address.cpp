#include "watch/listen_address.h"

#include <charconv>
#include <stdexcept>
#include <system_error>

#include <fmt/format.h>
#include <asio/ip/address_v4.hpp>

namespace watch {

ListenAddress ParseListenAddress(std::string_view text) {
  ListenAddress out;
  std::string_view port = text;
  if (const auto colon = text.rfind(':'); colon != std::string_view::npos) {
    std::error_code ec;
    const auto address = asio::ip::make_address_v4(std::string(text.substr(0, colon)), ec);
    if (ec) {
      throw std::invalid_argument(fmt::format(
          "'{}': the host must be an IPv4 address, e.g. 127.0.0.1:9764 or 0.0.0.0:9764", text));
    }
    out.host = address.to_string();
    port = text.substr(colon + 1);
  }
  unsigned value = 0;
  const auto [end, ec] = std::from_chars(port.data(), port.data() + port.size(), value);
  if (port.empty() || ec != std::errc() || end != port.data() + port.size() || value > 65535) {
    throw std::invalid_argument(fmt::format("'{}': the port must be 0 to 65535", text));
  }
  out.port = static_cast<std::uint16_t>(value);
  return out;
}

std::string FormatListenAddress(const ListenAddress& address) {
  return fmt::format("{}:{}", address.host, address.port);
}

}  // namespace watch
