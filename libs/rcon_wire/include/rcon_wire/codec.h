// The Source RCON packet format, for servers and clients alike: encoding one
// packet, and decoding a byte stream into packets. No I/O, no threads, no
// dependency beyond the standard library; a Decoder serves one stream and is
// used from one thread at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace rcon_wire {

inline constexpr std::int32_t kResponseValue = 0;      // SERVERDATA_RESPONSE_VALUE
inline constexpr std::int32_t kExecCommand = 2;        // SERVERDATA_EXECCOMMAND
inline constexpr std::int32_t kAuthResponse = 2;       // SERVERDATA_AUTH_RESPONSE
inline constexpr std::int32_t kAuth = 3;               // SERVERDATA_AUTH
inline constexpr std::int32_t kMinPacketSize = 10;     // id, type and the body's two NULs
inline constexpr std::int32_t kMaxRequestSize = 4096;  // the largest declared size a server accepts
// The longest body a request can carry: a password or command longer than
// this never reaches a server.
inline constexpr std::size_t kMaxRequestBody = kMaxRequestSize - kMinPacketSize;
inline constexpr std::size_t kMaxReplyBody =
    4096;  // longer replies go out as several packets with one id
// The size field that precedes every packet; the declared size counts the
// bytes after it.
inline constexpr std::size_t kSizeFieldBytes = 4;

// One packet as decoded. The body is the bytes before its first NUL.
struct Packet {
  std::int32_t id = 0;
  std::int32_t type = 0;
  std::string body;  // without its NULs
  // The size field as received (Decoder only): more than body.size() + 10
  // when the body held a NUL. Encode does not read it.
  std::int32_t size = 0;
};

// Size, id and type as little-endian int32, the body, two NULs.
// A body that holds a NUL is written as given; a decoder reads it only up to
// that NUL. Throws std::length_error for a body whose size does not fit the
// size field (above INT32_MAX - kMinPacketSize bytes).
std::string Encode(std::int32_t id, std::int32_t type, std::string_view body);

// Incremental decoding of a byte stream into packets: feed bytes as they
// arrive and take packets until Next() asks for more.
//
// Memory: the decoder holds exactly the bytes fed and not yet decoded
// (buffered()), and allocates nothing on the word of a declared size: the
// size is checked against max_size before the packet is awaited. A caller
// that feeds only after Next() returned kNeedMore therefore holds at most
// kSizeFieldBytes + max_size - 1 bytes plus what it feeds at once. After an
// error the buffer is released and further input is dropped.
class Decoder {
 public:
  // `max_size`: the largest declared size accepted. Throws
  // std::invalid_argument when it is below kMinPacketSize.
  explicit Decoder(std::int32_t max_size);

  // Appends `size` bytes of the stream. Ignored once Next() reported an error.
  void Feed(const void* data, std::size_t size);

  enum class Result { kPacket, kNeedMore, kError };
  // The next packet into `out` (kPacket), or kNeedMore until the stream holds
  // a whole one. kError is final: the stream cannot be resynchronised, and
  // error() says why in words a log line can use.
  Result Next(Packet& out);
  // Empty until Next() returned kError.
  const std::string& error() const { return error_; }
  // Bytes fed but not yet decoded.
  std::size_t buffered() const { return buffer_.size() - start_; }

 private:
  Result Fail(std::string why);

  std::int32_t max_size_;
  std::string buffer_;
  std::size_t start_ = 0;  // where the next undecoded byte of buffer_ is
  std::string error_;
};

}  // namespace rcon_wire
