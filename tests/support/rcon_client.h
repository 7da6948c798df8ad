// A raw Source RCON client over a TCP socket to 127.0.0.1, for tests that
// must send what no well-behaved client would. Never blocks on reads: tests
// poll it between frames of the game loop that answers them.
// Its encoder and reader are written apart from rcon_wire on purpose: a
// mistake in the shared codec must not be made twice and cancel out.
#pragma once

#include <asio/io_context.hpp>
#include <asio/ip/tcp.hpp>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quillmoor_test {

inline constexpr std::int32_t kResponseValue = 0;
inline constexpr std::int32_t kExecCommand = 2;
inline constexpr std::int32_t kAuthResponse = 2;
inline constexpr std::int32_t kAuth = 3;

struct RconPacket {
  std::int32_t size = 0;
  std::int32_t id = 0;
  std::int32_t type = 0;
  std::string body;         // without the terminators
  bool terminated = false;  // the body ended with the two NULs
};

// Little-endian size, id, type, body and two NULs, with the size computed.
std::string EncodeRcon(std::int32_t id, std::int32_t type, std::string_view body);
// The four bytes of a little-endian int32.
std::string Int32Bytes(std::int32_t value);

class RconSocket {
 public:
  // Connects or throws std::runtime_error. `receive_buffer` > 0 shrinks the
  // receive buffer before connecting, so that a server's writes back up.
  // `from`, when given, is the local address to connect from: another
  // loopback address (127.0.0.2, ...) plays another client machine.
  explicit RconSocket(std::uint16_t port, int receive_buffer = 0, const std::string& from = "");
  RconSocket(const RconSocket&) = delete;
  RconSocket& operator=(const RconSocket&) = delete;
  ~RconSocket();

  // Sends all of `bytes`; false if the peer is gone.
  bool Send(std::string_view bytes);
  bool SendPacket(std::int32_t id, std::int32_t type, std::string_view body) {
    return Send(EncodeRcon(id, type, body));
  }
  // Reads what has arrived, waiting at most `wait`. False once the peer has
  // closed (end of stream or reset); what came before stays readable.
  bool Poll(std::chrono::milliseconds wait);
  // The next complete packet among the bytes read so far.
  std::optional<RconPacket> TakePacket();
  std::size_t Buffered() const { return buffer_.size(); }
  bool closed() const { return closed_; }
  // Closes with a reset instead of an orderly end, as a crashed client does.
  void Abort();

 private:
  // One read of what has arrived; false when nothing had (or the peer left).
  bool ReadSome();

  asio::io_context io_;
  asio::ip::tcp::socket socket_;
  std::string buffer_;
  bool closed_ = false;
};

}  // namespace quillmoor_test
