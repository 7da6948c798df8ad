#include "support/rcon_client.h"

#include <asio/buffer.hpp>
#include <asio/write.hpp>
#include <stdexcept>
#include <thread>

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

RconSocket::RconSocket(std::uint16_t port, int receive_buffer, const std::string& from)
    : socket_(io_) {
  asio::error_code ec;
  socket_.open(asio::ip::tcp::v4(), ec);
  if (!ec && receive_buffer > 0) {
    socket_.set_option(asio::socket_base::receive_buffer_size(receive_buffer), ec);
  }
  if (!ec && !from.empty()) {
    const auto local = asio::ip::make_address(from, ec);
    if (!ec) {
      socket_.bind({local, 0}, ec);
    }
  }
  if (!ec) {
    socket_.connect({asio::ip::address_v4::loopback(), port}, ec);
  }
  if (ec) {
    throw std::runtime_error("connect: " + ec.message());
  }
  socket_.non_blocking(true);
}

RconSocket::~RconSocket() = default;

bool RconSocket::Send(std::string_view bytes) {
  // Blocking for the write: a server that reads slowly is waited for.
  asio::error_code ec;
  socket_.non_blocking(false, ec);
  asio::write(socket_, asio::buffer(bytes.data(), bytes.size()), ec);
  asio::error_code ignored;
  socket_.non_blocking(true, ignored);
  return !ec;
}

bool RconSocket::ReadSome() {
  char chunk[65536];
  asio::error_code ec;
  const std::size_t n = socket_.read_some(asio::buffer(chunk), ec);
  if (!ec) {
    buffer_.append(chunk, n);
    return true;
  }
  if (ec != asio::error::would_block && ec != asio::error::try_again &&
      ec != asio::error::interrupted) {
    closed_ = true;
  }
  return false;
}

// Waits in the system for the socket to become readable rather than trying
// again and again: under Wine every failed read is a round trip to the Wine
// server, and a test's many clients trying every millisecond starve the
// very server they are waiting for.
bool RconSocket::Poll(std::chrono::milliseconds wait) {
  if (closed_) {
    return false;
  }
  if (ReadSome() || closed_) {
    return !closed_;
  }
  socket_.async_wait(asio::socket_base::wait_read, [](const asio::error_code&) {});
  io_.restart();
  if (io_.run_for(wait) == 0) {
    socket_.cancel();
    io_.restart();
    io_.run();  // the cancelled wait's handler
  }
  ReadSome();
  return !closed_;
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
  asio::error_code ec;
  socket_.set_option(asio::socket_base::linger(true, 0), ec);
  socket_.close(ec);
  closed_ = true;
}

}  // namespace quillmoor_test
