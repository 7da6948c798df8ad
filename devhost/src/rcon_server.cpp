#include "devhost/rcon_server.h"

#include <spdlog/logger.h>

#include "devhost/host.h"
#include "rcon_listener.h"

namespace devhost {

struct RconServer::Impl {
  rcon::Listener listener;
  Impl(Host& host, RconOptions options) : listener(host, std::move(options)) {}
};

RconServer::RconServer(Host& host, RconOptions options)
    : impl_(std::make_unique<Impl>(host, std::move(options))) {
  impl_->listener.Start();
  host.log().Host().info("RCON listening on {}:{}", impl_->listener.options().bind_address,
                         impl_->listener.port());
}

RconServer::~RconServer() {
  Stop();
}

std::uint16_t RconServer::port() const {
  return impl_->listener.port();
}

void RconServer::Stop() {
  impl_->listener.Stop();
}

}  // namespace devhost
