#include "fake_rcon_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <map>
#include <stdexcept>
#include <vector>

#include "rcon_wire/codec.h"

namespace watch::testing {

FakeRconServer::FakeRconServer(Script script, std::string password)
    : script_(std::move(script)), password_(std::move(password)) {
  listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  if (listener_ < 0 || ::bind(listener_, reinterpret_cast<sockaddr*>(&addr), len) != 0 ||
      ::listen(listener_, 16) != 0 ||
      ::getsockname(listener_, reinterpret_cast<sockaddr*>(&addr), &len) != 0 ||
      ::pipe(wake_) != 0) {
    throw std::runtime_error("fake RCON server: cannot listen");
  }
  port_ = ntohs(addr.sin_port);
  thread_ = std::thread([this] { Serve(); });
}

FakeRconServer::~FakeRconServer() {
  [[maybe_unused]] const auto n = ::write(wake_[1], "x", 1);
  thread_.join();
  ::close(listener_);
  ::close(wake_[0]);
  ::close(wake_[1]);
}

void FakeRconServer::Serve() {
  std::map<int, rcon_wire::Decoder> clients;
  for (;;) {
    std::vector<pollfd> fds{{wake_[0], POLLIN, 0}, {listener_, POLLIN, 0}};
    for (const auto& [fd, decoder] : clients) {
      fds.push_back({fd, POLLIN, 0});
    }
    if (::poll(fds.data(), fds.size(), -1) < 0 || fds[0].revents != 0) {
      break;
    }
    if (fds[1].revents != 0) {
      const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd >= 0) {
        clients.emplace(fd, rcon_wire::Decoder(rcon_wire::kMaxRequestSize));
      }
    }
    for (std::size_t i = 2; i < fds.size(); ++i) {
      if (fds[i].revents == 0) {
        continue;
      }
      const int fd = fds[i].fd;
      auto& decoder = clients.at(fd);
      char buf[4096];
      const ssize_t n = ::read(fd, buf, sizeof buf);
      bool open = n > 0;
      if (open) {
        decoder.Feed(buf, static_cast<std::size_t>(n));
      }
      rcon_wire::Packet p;
      while (open && decoder.Next(p) == rcon_wire::Decoder::Result::kPacket) {
        std::string out;
        if (p.type == rcon_wire::kAuth) {
          const bool in = password_.empty() || p.body == password_;
          out = rcon_wire::Encode(in ? p.id : -1, rcon_wire::kAuthResponse, "");
        } else if (const auto reply = script_(p.body)) {
          if (*reply != kNoReply) {
            out = rcon_wire::Encode(p.id, rcon_wire::kResponseValue, *reply);
          }
        } else {
          open = false;
        }
        open = open && ::write(fd, out.data(), out.size()) == static_cast<ssize_t>(out.size());
      }
      if (!open) {
        ::close(fd);
        clients.erase(fd);
      }
    }
  }
  for (const auto& [fd, decoder] : clients) {
    ::close(fd);
  }
}

}  // namespace watch::testing
