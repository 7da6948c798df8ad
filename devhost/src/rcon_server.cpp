#include "devhost/rcon_server.h"

#include <spdlog/logger.h>
#include <exception>
#include <string>
#include <utility>
#include <vector>

#include "devhost/host.h"
#include "devhost/rcon_dispatch.h"
#include "devhost/utf8.h"
#include "host/framework.h"
#include "rcon_server/listener.h"
#include "rcon_wire/codec.h"

namespace devhost {

namespace {

// Runs on the game thread. A failure here must still answer, or the
// connection would wait for its command until the idle timeout.
std::vector<RCONClientConnection::Reply> RunGuarded(Host& host, const RconRequest& request) {
  std::string what;
  try {
    return RunRconRequest(host, request);
  } catch (const std::exception& e) {
    what = e.what();
  } catch (...) {
    what = "unknown exception";
  }
  host.log().Host().error("RCON {}: the command failed: {}", request.peer, what);
  return {{request.id, rcon_wire::kResponseValue,
           AsaApi::Tools::Utf8Decode("The command failed: " + what)}};
}

rcon::Ports PortsOf(Host& host) {
  rcon::Ports ports;
  ports.log = &host.log().Host();
  ports.post = [&host](std::function<void()> work) { host.Post(std::move(work)); };
  ports.run = [&host](const RconRequest& request) {
    std::vector<rcon::Reply> replies;
    for (const auto& reply : RunGuarded(host, request)) {
      replies.push_back({reply.id, reply.type, Utf8Encode(reply.body)});
    }
    return replies;
  };
  return ports;
}

}  // namespace

struct RconServer::Impl {
  rcon::Listener listener;
  Impl(Host& host, RconOptions options) : listener(PortsOf(host), std::move(options)) {}
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
