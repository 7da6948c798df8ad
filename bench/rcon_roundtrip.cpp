// Sequential RCON round trips against a running dev server: logs in, then
// sends GetServerStats COUNT times, each after the previous reply arrived,
// and prints the median and the 99th percentile of the round-trip times.
// Usage: rcon_roundtrip PORT PASSWORD [COUNT]   (127.0.0.1 only)
// Output: one line, "count=N p50_ms=X p99_ms=Y".
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "rcon_wire/codec.h"

namespace {

using Clock = std::chrono::steady_clock;

// The server may still be starting: retry the connection for a while.
int Connect(std::uint16_t port) {
  const auto give_up = Clock::now() + std::chrono::seconds(20);
  for (;;) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) {
      throw std::runtime_error(std::string("socket: ") + std::strerror(errno));
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
      const int one = 1;
      ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
      return fd;
    }
    const int err = errno;
    ::close(fd);
    if (Clock::now() > give_up) {
      throw std::runtime_error(std::string("connect: ") + std::strerror(err));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
}

class Session {
 public:
  explicit Session(std::uint16_t port) : fd_(Connect(port)), decoder_(1 << 20) {}
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;
  ~Session() { ::close(fd_); }

  void Send(std::int32_t id, std::int32_t type, const std::string& body) {
    const std::string bytes = rcon_wire::Encode(id, type, body);
    std::size_t sent = 0;
    while (sent < bytes.size()) {
      const ssize_t n = ::send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
      if (n < 0 && errno == EINTR) {
        continue;
      }
      if (n <= 0) {
        throw std::runtime_error("the server closed the connection");
      }
      sent += static_cast<std::size_t>(n);
    }
  }
  // Blocks until the next whole packet arrived.
  rcon_wire::Packet Receive() {
    rcon_wire::Packet packet;
    for (;;) {
      switch (decoder_.Next(packet)) {
        case rcon_wire::Decoder::Result::kPacket:
          return packet;
        case rcon_wire::Decoder::Result::kError:
          throw std::runtime_error("bad packet from the server: " + decoder_.error());
        case rcon_wire::Decoder::Result::kNeedMore:
          break;
      }
      char chunk[8192];
      const ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
      if (n < 0 && errno == EINTR) {
        continue;
      }
      if (n <= 0) {
        throw std::runtime_error("the server closed the connection");
      }
      decoder_.Feed(chunk, static_cast<std::size_t>(n));
    }
  }

 private:
  int fd_;
  rcon_wire::Decoder decoder_;
};

double Percentile(std::vector<double> sorted, double p) {
  const auto at = static_cast<std::size_t>(p * static_cast<double>(sorted.size() - 1) + 0.5);
  return sorted[std::min(at, sorted.size() - 1)];
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3 || argc > 4) {
    std::fprintf(stderr, "usage: rcon_roundtrip PORT PASSWORD [COUNT]\n");
    return 2;
  }
  const long port = std::strtol(argv[1], nullptr, 10);
  const long count = argc == 4 ? std::strtol(argv[3], nullptr, 10) : 2000;
  if (port <= 0 || port > 65535 || count <= 0) {
    std::fprintf(stderr, "rcon_roundtrip: bad port or count\n");
    return 2;
  }
  try {
    Session session(static_cast<std::uint16_t>(port));
    session.Send(1, rcon_wire::kAuth, argv[2]);
    const auto login = session.Receive();
    if (login.type != rcon_wire::kAuthResponse || login.id != 1) {
      std::fprintf(stderr, "rcon_roundtrip: login refused\n");
      return 1;
    }
    std::vector<double> ms;
    ms.reserve(static_cast<std::size_t>(count));
    for (std::int32_t id = 2; id < count + 2; ++id) {
      const auto start = Clock::now();
      session.Send(id, rcon_wire::kExecCommand, "GetServerStats");
      const auto reply = session.Receive();
      ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
      if (reply.id != id || reply.body.rfind("{\"cmd\":\"GetServerStats\"", 0) != 0) {
        std::fprintf(stderr, "rcon_roundtrip: unexpected reply %d: %s\n", reply.id,
                     reply.body.c_str());
        return 1;
      }
    }
    std::sort(ms.begin(), ms.end());
    std::printf("count=%ld p50_ms=%.3f p99_ms=%.3f\n", count, Percentile(ms, 0.50),
                Percentile(ms, 0.99));
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "rcon_roundtrip: %s\n", e.what());
    return 1;
  }
}
