#include "watch/rcon_client.h"

#include <cstring>
#include <string_view>
#include <system_error>

#include <fmt/format.h>
#include <asio/connect.hpp>
#include <asio/error.hpp>
#include <asio/use_awaitable.hpp>
#include <asio/write.hpp>

namespace watch {

namespace {

// Source RCON framing: int32 size (of what follows), int32 id, int32 type,
// body, two NULs; little-endian.
namespace wire {

constexpr std::int32_t kResponseValue = 0, kExecCommand = 2, kAuthResponse = 2, kAuth = 3;
constexpr std::int32_t kMinPacketSize = 10;

struct Packet {
  std::int32_t id = 0;
  std::int32_t type = 0;
  std::string body;
};

void PutInt(std::string& out, std::int32_t v) {
  const auto u = static_cast<std::uint32_t>(v);
  for (int shift = 0; shift < 32; shift += 8) {
    out.push_back(static_cast<char>((u >> shift) & 0xFF));
  }
}

std::int32_t GetInt(const char* p) {
  std::uint32_t u = 0;
  for (int i = 3; i >= 0; --i) {
    u = (u << 8) | static_cast<unsigned char>(p[i]);
  }
  return static_cast<std::int32_t>(u);
}

std::string Encode(std::int32_t id, std::int32_t type, std::string_view body) {
  std::string out;
  PutInt(out, static_cast<std::int32_t>(body.size()) + kMinPacketSize);
  PutInt(out, id);
  PutInt(out, type);
  out.append(body);
  out.append(2, '\0');
  return out;
}

class Decoder {
 public:
  explicit Decoder(std::int32_t max_size) : max_size_(max_size) {}
  void Feed(const void* data, std::size_t size) {
    buf_.append(static_cast<const char*>(data), size);
  }
  enum class Result { kPacket, kNeedMore, kError };
  Result Next(Packet& out) {
    if (!error_.empty()) {
      return Result::kError;
    }
    if (buf_.size() < 4) {
      return Result::kNeedMore;
    }
    const std::int32_t size = GetInt(buf_.data());
    if (size < kMinPacketSize || size > max_size_) {
      error_ = fmt::format("packet size {} outside [{}, {}]", size, kMinPacketSize, max_size_);
      return Result::kError;
    }
    const auto total = static_cast<std::size_t>(size) + 4;
    if (buf_.size() < total) {
      return Result::kNeedMore;
    }
    out.id = GetInt(buf_.data() + 4);
    out.type = GetInt(buf_.data() + 8);
    // The body ends at its first NUL; some servers pad the tail differently.
    const std::string_view body(buf_.data() + 12, total - 14);
    out.body = std::string(body.substr(0, body.find('\0')));
    buf_.erase(0, total);
    return Result::kPacket;
  }
  const std::string& error() const { return error_; }

 private:
  std::int32_t max_size_;
  std::string buf_;
  std::string error_;
};

}  // namespace wire

// A client has no reason to refuse a long reply; the bound only keeps a
// babbling peer from filling memory.
constexpr std::int32_t kMaxPacketSize = 1 << 20;
constexpr std::int32_t kAuthId = 0x51;

}  // namespace

struct RconClient::Reader {
  wire::Decoder decoder{kMaxPacketSize};
  std::array<char, 4096> buf{};

  asio::awaitable<wire::Packet> Next(asio::ip::tcp::socket& socket) {
    for (;;) {
      wire::Packet p;
      switch (decoder.Next(p)) {
        case wire::Decoder::Result::kPacket:
          co_return p;
        case wire::Decoder::Result::kError:
          throw std::runtime_error("malformed packet from the server: " + decoder.error());
        case wire::Decoder::Result::kNeedMore:
          break;
      }
      const std::size_t n = co_await socket.async_read_some(asio::buffer(buf), asio::use_awaitable);
      decoder.Feed(buf.data(), n);
    }
  }
};

RconClient::RconClient(const asio::any_io_executor& executor)
    : resolver_(executor), socket_(executor), deadline_(executor) {}

RconClient::~RconClient() = default;

void RconClient::Arm(std::chrono::milliseconds timeout) {
  timed_out_ = false;
  timeout_ = timeout;
  deadline_.expires_after(timeout);
  deadline_.async_wait([this](std::error_code ec) {
    if (!ec) {
      timed_out_ = true;
      resolver_.cancel();
      std::error_code ignored;
      socket_.close(ignored);
    }
  });
}

void RconClient::Disarm() {
  deadline_.cancel();
}

void RconClient::Rethrow(const std::exception& e, std::string_view step) {
  Close();
  if (timed_out_) {
    throw std::runtime_error(fmt::format("{}: no answer within {} ms", step, timeout_.count()));
  }
  if (const auto* se = dynamic_cast<const std::system_error*>(&e)) {
    if (se->code() == asio::error::eof) {
      throw std::runtime_error(fmt::format("{}: connection closed by the server", step));
    }
    throw std::runtime_error(fmt::format("{}: {}", step, se->code().message()));
  }
  throw std::runtime_error(fmt::format("{}: {}", step, e.what()));
}

asio::awaitable<void> RconClient::Open(std::string host, std::uint16_t port, std::string password,
                                       std::chrono::milliseconds timeout) {
  Close();
  reader_ = std::make_unique<Reader>();
  Arm(timeout);
  std::string_view step = "connect";
  try {
    const auto endpoints =
        co_await resolver_.async_resolve(host, std::to_string(port), asio::use_awaitable);
    co_await asio::async_connect(socket_, endpoints, asio::use_awaitable);
    step = "login";
    const std::string auth = wire::Encode(kAuthId, wire::kAuth, password);
    co_await asio::async_write(socket_, asio::buffer(auth), asio::use_awaitable);
    for (;;) {
      const wire::Packet p = co_await reader_->Next(socket_);
      // Some servers send an empty RESPONSE_VALUE before the verdict.
      if (p.type == wire::kResponseValue) {
        continue;
      }
      if (p.type != wire::kAuthResponse) {
        throw std::runtime_error(fmt::format("unexpected packet type {}", p.type));
      }
      if (p.id == -1) {
        Disarm();
        Close();
        throw AuthRejected("password refused");
      }
      if (p.id != kAuthId) {
        throw std::runtime_error(fmt::format("login answered with id {}", p.id));
      }
      break;
    }
  } catch (const AuthRejected&) {
    throw;
  } catch (const std::exception& e) {
    Disarm();
    Rethrow(e, step);
  }
  Disarm();
}

asio::awaitable<std::string> RconClient::Exec(std::string command,
                                              std::chrono::milliseconds timeout) {
  const std::int32_t id = next_id_;
  next_id_ = next_id_ == 0x7FFFFFFF ? 1 : next_id_ + 1;
  Arm(timeout);
  std::string body;
  try {
    const std::string packet = wire::Encode(id, wire::kExecCommand, command);
    co_await asio::async_write(socket_, asio::buffer(packet), asio::use_awaitable);
    // GetServerStats and ForceGC replies are short, so one packet is the whole
    // reply; packets with other ids are leftovers and skipped.
    for (;;) {
      wire::Packet p = co_await reader_->Next(socket_);
      if (p.id == id && p.type == wire::kResponseValue) {
        body = std::move(p.body);
        break;
      }
    }
  } catch (const std::exception& e) {
    Disarm();
    Rethrow(e, command);
  }
  Disarm();
  co_return body;
}

void RconClient::Close() {
  resolver_.cancel();
  std::error_code ignored;
  socket_.close(ignored);
}

}  // namespace watch
