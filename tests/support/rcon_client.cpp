#include "support/rcon_client.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace quillmoor_test {

std::string Int32Bytes(std::int32_t value) {
  const auto v = static_cast<std::uint32_t>(value);
  std::string out;
  for (int shift = 0; shift < 32; shift += 8) {
    out.push_back(static_cast<char>((v >> shift) & 0xFF));
  }
  return out;
}

std::string EncodeRcon(std::int32_t id, std::int32_t type, std::string_view body) {
  std::string out = Int32Bytes(static_cast<std::int32_t>(body.size() + 10));
  out += Int32Bytes(id);
  out += Int32Bytes(type);
  out += body;
  out.append(2, '\0');
  return out;
}

namespace {

std::int32_t ReadInt32(const std::string& bytes, std::size_t at) {
  std::uint32_t v = 0;
  for (int i = 3; i >= 0; --i) {
    v = (v << 8) | static_cast<unsigned char>(bytes[at + static_cast<std::size_t>(i)]);
  }
  return static_cast<std::int32_t>(v);
}

}  // namespace

RconSocket::RconSocket(std::uint16_t port, int receive_buffer) {
  fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
  if (fd_ < 0) {
    throw std::runtime_error(std::string("socket: ") + std::strerror(errno));
  }
  if (receive_buffer > 0) {
    ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &receive_buffer, sizeof receive_buffer);
  }
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    const int err = errno;
    ::close(fd_);
    throw std::runtime_error(std::string("connect: ") + std::strerror(err));
  }
}

RconSocket::~RconSocket() {
  if (fd_ >= 0) {
    ::close(fd_);
  }
}

bool RconSocket::Send(std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (n <= 0) {
      return false;
    }
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

bool RconSocket::Poll(std::chrono::milliseconds wait) {
  if (closed_) {
    return false;
  }
  pollfd p{fd_, POLLIN, 0};
  if (::poll(&p, 1, static_cast<int>(wait.count())) <= 0) {
    return true;
  }
  char chunk[65536];
  const ssize_t n = ::recv(fd_, chunk, sizeof chunk, MSG_DONTWAIT);
  if (n > 0) {
    buffer_.append(chunk, static_cast<std::size_t>(n));
    return true;
  }
  if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
    return true;
  }
  closed_ = true;
  return false;
}

std::optional<RconPacket> RconSocket::TakePacket() {
  if (buffer_.size() < 4) {
    return std::nullopt;
  }
  const std::int32_t size = ReadInt32(buffer_, 0);
  if (size < 10) {
    throw std::runtime_error("server sent a packet of size " + std::to_string(size));
  }
  const auto total = static_cast<std::size_t>(size) + 4;
  if (buffer_.size() < total) {
    return std::nullopt;
  }
  RconPacket p;
  p.size = size;
  p.id = ReadInt32(buffer_, 4);
  p.type = ReadInt32(buffer_, 8);
  p.body = buffer_.substr(12, static_cast<std::size_t>(size) - 10);
  p.terminated = buffer_[total - 2] == '\0' && buffer_[total - 1] == '\0';
  buffer_.erase(0, total);
  return p;
}

void RconSocket::Abort() {
  linger l{1, 0};
  ::setsockopt(fd_, SOL_SOCKET, SO_LINGER, &l, sizeof l);
  ::close(fd_);
  fd_ = -1;
  closed_ = true;
}

}  // namespace quillmoor_test
